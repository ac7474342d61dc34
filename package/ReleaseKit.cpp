#include "package/ReleaseKit.h"

#include <algorithm>
#include <filesystem>
#include <map>

#include "base/Cp1250.h"
#include "base/Exception.h"
#include "base/File.h"
#include "package/Md5Hash.h"

namespace upd::package {

namespace fs = std::filesystem;

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

std::string LowerText(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), Lower);
    return text;
}

// A file name as the rest of the system opens it: code page 1250 on Windows.
std::string SystemName(const fs::path& path)
{
    const auto u8 = path.u8string();
    std::string utf8(u8.begin(), u8.end());
#ifdef _WIN32
    return Utf8ToCp1250(utf8);
#else
    return utf8;
#endif
}

struct TFolderFile {
    std::string Relative; ///< UTF-8, '/' between folders
    std::string Real;     ///< as the system opens it
};

// The regular files of a release folder, keyed by their lower-case relative
// path: the installation's file system does not tell case apart.
std::map<std::string, TFolderFile> ReadFolder(const std::string& folder)
{
    const fs::path root(folder);
    std::error_code error;
    if (!fs::is_directory(root, error))
        throw Exception("not a release folder: " + folder);
    std::map<std::string, TFolderFile> files;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        if (!it->is_regular_file())
            continue;
        const auto u8 = it->path().lexically_relative(root).generic_u8string();
        std::string relative(u8.begin(), u8.end());
        files[LowerText(relative)] = {relative, SystemName(it->path())};
    }
    return files;
}

std::string InstalledPath(const std::string& root, const std::string& relative)
{
    std::string path = root;
    if (!path.empty() && path.back() != '\\')
        path += '\\';
    std::string tail = Utf8ToCp1250(relative);
    std::replace(tail.begin(), tail.end(), '/', '\\');
    return path + tail;
}

} // namespace

bool WildcardMatch(const std::string& pattern, const std::string& name)
{
    // Iterative match with one back-track point: the last '*' seen.
    std::size_t p = 0, n = 0, star = std::string::npos, mark = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || Lower(pattern[p]) == Lower(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = n;
        } else if (star != std::string::npos) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

TReleaseKit DeriveReleaseKit(const TReleaseKitInput& input)
{
    if (input.OldReleases.empty())
        throw Exception("at least one old release folder is needed");
    TReleaseKit kit;
    std::vector<std::map<std::string, TFolderFile>> olds;
    for (const std::string& folder : input.OldReleases) {
        olds.push_back(ReadFolder(folder));
        const auto u8 = fs::path(folder).lexically_normal().filename().u8string();
        std::string name(u8.begin(), u8.end());
        if (name.empty()) {
            const auto parent = fs::path(folder).lexically_normal().parent_path().filename().u8string();
            name.assign(parent.begin(), parent.end());
        }
        kit.Names.push_back(name);
    }
    const auto news = ReadFolder(input.NewRelease);

    std::map<std::string, std::string> all; // lower-case key -> relative path as first seen
    for (const auto& [key, file] : news)
        all.emplace(key, file.Relative);
    for (const auto& old : olds)
        for (const auto& [key, file] : old)
            all.emplace(key, file.Relative);

    std::vector<bool> patternUsed(input.MustHave.size(), false);
    for (const auto& [key, relative] : all) {
        TKitFile file;
        file.Relative = relative;
        auto inNew = news.find(key);
        std::vector<std::string> digests;
        for (const auto& old : olds) {
            auto it = old.find(key);
            if (it == old.end()) {
                file.VersionOf.push_back(-1);
                continue;
            }
            const std::string digest = FileMD5Text(it->second.Real);
            auto seen = std::find(digests.begin(), digests.end(), digest);
            if (seen == digests.end()) {
                digests.push_back(digest);
                file.Old.push_back(it->second.Real);
                file.VersionOf.push_back(static_cast<int>(digests.size()) - 1);
            } else {
                file.VersionOf.push_back(static_cast<int>(seen - digests.begin()));
            }
        }
        if (inNew == news.end()) {
            file.Decision = TKitDecision::Removed;
        } else {
            file.New = inNew->second.Real;
            const bool inEvery = std::find(file.VersionOf.begin(), file.VersionOf.end(), -1) == file.VersionOf.end();
            if (digests.empty()) {
                file.Decision = TKitDecision::Added;
            } else if (inEvery && digests.size() == 1 && digests[0] == FileMD5Text(file.New)) {
                file.Decision = TKitDecision::Unchanged;
                for (std::size_t i = 0; i < input.MustHave.size(); ++i) {
                    if (WildcardMatch(input.MustHave[i], relative)) {
                        patternUsed[i] = true;
                        file.Decision = TKitDecision::MustHave;
                    }
                }
            } else {
                file.Decision = TKitDecision::Patch;
            }
        }
        const std::string installed = InstalledPath(input.InstalledRoot, relative);
        if (file.Decision == TKitDecision::Patch) {
            TBuildPatch patch;
            patch.TargetPath = installed;
            patch.OldFiles = file.Old;
            patch.NewFile = file.New;
            kit.Manifest.Patches.push_back(std::move(patch));
        } else if (file.Decision == TKitDecision::MustHave) {
            kit.Manifest.MustHaveSets.push_back({TBuildFile{installed, file.New, true}});
        }
        kit.Files.push_back(std::move(file));
    }
    for (std::size_t i = 0; i < input.MustHave.size(); ++i) {
        if (!patternUsed[i])
            throw Exception("must-have \"" + input.MustHave[i] + "\" names no file that is the same in every release");
    }
    return kit;
}

} // namespace upd::package
