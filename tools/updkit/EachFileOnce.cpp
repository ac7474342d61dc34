// The rule that every package, manifest and release names each installed
// file once: the update replaces a file in one place only, and two sets that
// name one file under different spellings would both claim it on Windows.
#include "tools/updkit/Manifest.h"

#include <algorithm>
#include <map>

#include "base/Cp1250.h"
#include "base/Exception.h"
#include "package/InstalledNames.h"
#include "package/Update.h"

namespace updkit {

using namespace upd::package;

void CheckEachFileOnce(const std::vector<TNamedSet>& sets, const std::string& what)
{
    std::map<std::string, std::pair<std::string, std::string>> owner; // key -> set, path as written there
    for (const TNamedSet& set : sets) {
        std::vector<std::string> keys;
        for (const std::string& path : set.Paths) {
            const std::string key = InstalledPathKey(path);
            if (std::find(keys.begin(), keys.end(), key) != keys.end())
                continue; // alternatives of one set name one file
            keys.push_back(key);
            const auto [it, added] = owner.emplace(key, std::make_pair(set.Name, path));
            if (!added)
                throw upd::Exception(what + ": " + set.Name + " and " + it->second.first + " name the same file (" +
                                     path + ", " + it->second.second +
                                     "; case and slashes do not tell files apart on Windows)");
        }
    }
}

std::vector<TNamedSet> PackageSets(const TUpdate& update)
{
    std::vector<TNamedSet> sets;
    for (int i = 0; i < update.MustHaveSets.Count(); ++i) {
        TNamedSet set{"must-have set " + std::to_string(i + 1), {}};
        for (const auto& signature : update.MustHaveSets.Items(i))
            set.Paths.push_back(signature->FileName);
        sets.push_back(std::move(set));
    }
    for (int i = 0; i < update.PatchSets.Count(); ++i)
        sets.push_back({"patch set " + std::to_string(i + 1), {update.PatchSets.Items(i).TargetFileName}});
    return sets;
}

} // namespace updkit
