// The manifest of updkit build, read strictly (see docs/manifest.md).
#include "tools/updkit/Manifest.h"

#include <algorithm>

#include "base/Cp1250.h"
#include "base/Exception.h"
#include "base/File.h"
#include "package/PatchDataEngine.h"
#include "tools/updkit/JsonRead.h"

namespace updkit {

using namespace upd::package;

namespace {

/// Reads the manifest's keys, refusing any it does not know (a misspelt key
/// would otherwise silently drop a file from the update).
class TManifestReader {
public:
    TManifestReader(const std::string& manifestFile) : m_folder(upd::TPath(manifestFile).Folder().Text())
    {
        const auto bytes = upd::ReadWholeFile(manifestFile);
        m_root = ParseJson(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        if (m_root.Kind() != TJsonValue::TKind::Object)
            throw upd::Exception("manifest: the document must be an object");
    }

    TBuildManifest Read()
    {
        Known(m_root, "manifest", {"stub", "title", "description", "release", "release_date", "tag_file_name",
                                   "patch_note", "must_have", "patches"});
        TBuildManifest manifest;
        if (const TJsonValue* stub = m_root.Find("stub")) {
            manifest.Stub = FilePath(stub->AsString("stub"));
        } else {
            manifest.Stub = DefaultStub();
            if (!upd::FileExists(manifest.Stub))
                throw upd::Exception("manifest: \"stub\" is missing and there is no " + manifest.Stub);
        }
        manifest.Title = Text(m_root, "title", true);
        manifest.Description = Text(m_root, "description", true);
        const TJsonValue& release = Required(m_root, "release");
        manifest.Release = release.Kind() == TJsonValue::TKind::Number ? std::to_string(release.AsInteger("release"))
                                                                      : upd::KeptByCp1250(release.AsString("release"));
        manifest.ReleaseDate = Text(m_root, "release_date", true);
        manifest.TagFileName = Text(m_root, "tag_file_name", true);
        manifest.PatchNote = Text(m_root, "patch_note", false);
        if (const TJsonValue* sets = m_root.Find("must_have")) {
            int index = 0;
            for (const TJsonValue& set : sets->AsArray("must_have")) {
                const std::string where = "must_have[" + std::to_string(index++) + "]";
                std::vector<TBuildFile> alternatives;
                if (set.Kind() == TJsonValue::TKind::Array) {
                    int k = 0;
                    for (const TJsonValue& entry : set.AsArray(where))
                        alternatives.push_back(File(entry, where + "[" + std::to_string(k++) + "]"));
                } else {
                    alternatives.push_back(File(set, where));
                }
                manifest.MustHaveSets.push_back(std::move(alternatives));
            }
        }
        if (const TJsonValue* patches = m_root.Find("patches")) {
            int index = 0;
            for (const TJsonValue& entry : patches->AsArray("patches")) {
                const std::string where = "patches[" + std::to_string(index++) + "]";
                Known(entry, where, {"target", "old", "new", "check_version"});
                TBuildPatch patch;
                patch.TargetPath = upd::KeptByCp1250(Required(entry, "target", where).AsString(where + ".target"));
                for (const TJsonValue& old : Required(entry, "old", where).AsArray(where + ".old"))
                    patch.OldFiles.push_back(FilePath(old.AsString(where + ".old[]")));
                patch.NewFile = FilePath(Required(entry, "new", where).AsString(where + ".new"));
                if (const TJsonValue* check = entry.Find("check_version"))
                    patch.CheckVersion = check->AsBool(where + ".check_version");
                manifest.Patches.push_back(std::move(patch));
            }
        }
        return manifest;
    }

private:
    /// A real file named in the manifest: relative names count from the manifest's folder.
    std::string FilePath(const std::string& utf8) const
    {
#ifdef _WIN32
        const std::string& name = utf8;
        const bool absolute = name.size() > 1 && (name[1] == ':' || (name[0] == '\\' && name[1] == '\\'));
#else
        const std::string& name = utf8;
        const bool absolute = !name.empty() && name[0] == '/';
#endif
        return absolute ? name : m_folder + name;
    }

    static void Known(const TJsonValue& object, const std::string& where, std::initializer_list<std::string_view> keys)
    {
        if (object.Kind() != TJsonValue::TKind::Object)
            throw upd::Exception(where + " must be an object");
        for (const auto& [name, value] : object.Members()) {
            if (std::find(keys.begin(), keys.end(), name) == keys.end())
                throw upd::Exception(where + ": unknown key \"" + name + "\"");
        }
    }

    static const TJsonValue& Required(const TJsonValue& object, const char* key, const std::string& where = "manifest")
    {
        const TJsonValue* value = object.Find(key);
        if (!value)
            throw upd::Exception(where + ": \"" + key + "\" is missing");
        return *value;
    }

    static std::string Text(const TJsonValue& object, const char* key, bool required)
    {
        const TJsonValue* value = object.Find(key);
        if (!value) {
            if (required)
                throw upd::Exception(std::string("manifest: \"") + key + "\" is missing");
            return std::string();
        }
        return upd::KeptByCp1250(value->AsString(key));
    }

    TBuildFile File(const TJsonValue& entry, const std::string& where) const
    {
        Known(entry, where, {"path", "file", "check_version"});
        TBuildFile file;
        file.InstalledPath = upd::KeptByCp1250(Required(entry, "path", where).AsString(where + ".path"));
        file.SourceFile = FilePath(Required(entry, "file", where).AsString(where + ".file"));
        if (const TJsonValue* check = entry.Find("check_version"))
            file.CheckVersion = check->AsBool(where + ".check_version");
        return file;
    }

    std::string m_folder;
    TJsonValue m_root;
};

} // namespace

std::string DefaultStub() { return RunningExeFileName().Folder().Text() + "setup.exe"; }

TBuildManifest ReadManifest(const std::string& file)
{
    TBuildManifest manifest = TManifestReader(file).Read();
    std::vector<TNamedSet> sets;
    for (std::size_t i = 0; i < manifest.MustHaveSets.size(); ++i) {
        TNamedSet set{"must_have[" + std::to_string(i) + "]", {}};
        for (const TBuildFile& alternative : manifest.MustHaveSets[i])
            set.Paths.push_back(alternative.InstalledPath);
        sets.push_back(std::move(set));
    }
    for (std::size_t i = 0; i < manifest.Patches.size(); ++i)
        sets.push_back({"patches[" + std::to_string(i) + "]", {manifest.Patches[i].TargetPath}});
    CheckEachFileOnce(sets, "manifest");
    return manifest;
}

} // namespace updkit
