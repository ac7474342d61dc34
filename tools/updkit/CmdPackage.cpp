// updkit info, build and check: packages seen from outside the wizard.
#include "tools/updkit/Commands.h"
#include "tools/updkit/Files.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>

#include "base/Cp1250.h"
#include "base/Exception.h"
#include "base/File.h"
#include "package/FileSignature.h"
#include "package/PatchDataEngine.h"
#include "package/UpdateBuilder.h"
#include "tools/updkit/Json.h"
#include "tools/updkit/JsonRead.h"

namespace updkit {

using namespace upd::package;

namespace {

void WriteSignature(TJsonWriter& json, const TFileSignature& signature)
{
    json.BeginObject();
    json.Key("file_name").String(signature.FileName);
    json.Key("hash").String(signature.Hash);
    json.Key("size").Int(signature.Size);
    json.Key("version").String(signature.Version);
    json.Key("flag").Bool(signature.Flag);
    json.EndObject();
}

void WriteSignatures(TJsonWriter& json, const TMustHaveSet& set)
{
    json.BeginArray();
    for (const auto& signature : set)
        WriteSignature(json, *signature);
    json.EndArray();
}

void WriteSegment(TJsonWriter& json, const TUpdateData& segment)
{
    json.BeginObject();
    json.Key("reserved").Int(segment.Reserved);
    json.Key("hash").String(segment.Hash);
    json.Key("size").Int(segment.Size);
    json.Key("offset").Int(segment.Offset);
    json.EndObject();
}

void WriteUpdate(TJsonWriter& json, const TUpdate& update)
{
    json.BeginObject();
    json.Key("title").String(update.Title);
    json.Key("description").String(update.Description);
    json.Key("tag_text").BeginArray();
    for (const std::string& line : update.TagText)
        json.String(line);
    json.EndArray();
    json.Key("tag_file_name").String(update.TagFileName);
    json.Key("must_have_sets").BeginArray();
    for (const auto& set : update.MustHaveSets)
        WriteSignatures(json, *set);
    json.EndArray();
    json.Key("patch_sets").BeginArray();
    for (const auto& patch : update.PatchSets) {
        json.BeginObject();
        json.Key("old_files");
        WriteSignatures(json, patch->OldFiles);
        json.Key("segment");
        WriteSegment(json, patch->Segment);
        json.Key("new_version").String(patch->NewVersion);
        json.Key("new_size").Int(patch->NewSize);
        json.Key("new_hash").String(patch->NewHash);
        json.Key("target_file_name").String(patch->TargetFileName);
        json.EndObject();
    }
    json.EndArray();
    json.Key("copy_sets").BeginArray();
    for (const auto& copy : update.CopySets) {
        json.BeginObject();
        json.Key("version").String(copy->Version);
        json.Key("size").Int(copy->Size);
        json.Key("hash").String(copy->Hash);
        json.Key("file_name").String(copy->FileName);
        json.Key("segment");
        WriteSegment(json, copy->Segment);
        json.EndObject();
    }
    json.EndArray();
    json.EndObject();
}

/// Reads the manifest's keys, refusing any it does not know (a misspelt key
/// would otherwise silently drop a file from the update).
class TManifestReader {
public:
    TManifestReader(const std::string& manifestFile) : m_folder(FolderOf(manifestFile))
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
                                                                      : upd::Utf8ToCp1250(release.AsString("release"));
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
                patch.TargetPath = upd::Utf8ToCp1250(Required(entry, "target", where).AsString(where + ".target"));
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
    /// The release wizard, when the manifest names no program: the setup.exe
    /// beside updkit itself.
    static std::string DefaultStub() { return FolderOf(RunningExeFileName().Text()) + "setup.exe"; }

    static std::string FolderOf(const std::string& file)
    {
        const std::size_t slash = file.find_last_of("/\\");
        return slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
    }

    /// A real file named in the manifest: relative names count from the manifest's folder.
    std::string FilePath(const std::string& utf8) const
    {
#ifdef _WIN32
        const std::string name = upd::Utf8ToCp1250(utf8);
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
        return upd::Utf8ToCp1250(value->AsString(key));
    }

    TBuildFile File(const TJsonValue& entry, const std::string& where) const
    {
        Known(entry, where, {"path", "file", "check_version"});
        TBuildFile file;
        file.InstalledPath = upd::Utf8ToCp1250(Required(entry, "path", where).AsString(where + ".path"));
        file.SourceFile = FilePath(Required(entry, "file", where).AsString(where + ".file"));
        if (const TJsonValue* check = entry.Find("check_version"))
            file.CheckVersion = check->AsBool(where + ".check_version");
        return file;
    }

    std::string m_folder;
    TJsonValue m_root;
};

/// Opens a package for the console: an error becomes one line (system errors
/// carry their code and text on two lines).
std::unique_ptr<TPatchDataEngine> OpenPackage(const std::string& exe)
{
    CheckInput(exe);
    try {
        return std::make_unique<TPatchDataEngine>(exe);
    } catch (const upd::Exception& e) {
        std::string line = e.what();
        std::string flat;
        for (char c : line) {
            if (c == '\r' || c == '\n') {
                if (!flat.empty() && flat.back() != ' ')
                    flat += ' ';
            } else {
                flat += c;
            }
        }
        throw upd::Exception(flat);
    }
}

} // namespace

int CmdInfo(const TArgs& args)
{
    if (args.size() != 1 || args[0].empty() || args[0][0] == '-')
        return Usage("info EXE");
    const auto opened = OpenPackage(args[0]);
    const TPatchDataEngine& engine = *opened;
    const TPatchHeader& header = engine.Header;
    // Only the volumes the package has; the entries after them are never read.
    const int volumes = std::clamp(header.VolumeCount, 0, kMaxVolumes);

    TJsonWriter json;
    json.BeginObject();
    json.Key("header_offset").Int(engine.HeaderOffset);
    json.Key("title").String(header.Title);
    json.Key("description").String(header.Description);
    json.Key("package_size").Int(header.PackageSize);
    json.Key("volume_count").Int(header.VolumeCount);
    json.Key("package_digest").String(header.PackageDigest);
    json.Key("volume_digests").BeginArray();
    for (int i = 0; i < volumes; ++i)
        json.String(header.VolumeDigests[i]);
    json.EndArray();
    json.Key("volume_sizes").BeginArray();
    for (int i = 0; i < volumes; ++i)
        json.Int(header.VolumeSizes[i]);
    json.EndArray();
    // A program signed after its package was appended ends with its certificate table.
    json.Key("certificate_table");
    if (engine.CertificateTable) {
        json.BeginObject();
        json.Key("offset").Int(engine.CertificateTable->Offset);
        json.Key("size").Int(engine.CertificateTable->Size);
        json.EndObject();
    } else {
        json.Null();
    }
    json.Key("update");
    WriteUpdate(json, *engine.Update);
    json.EndObject();
    const std::string text = json.Text();
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}

int CmdBuild(const TArgs& args)
{
    const char* usage = "build MANIFEST.json -o SETUP.EXE [--volumes N | --volume-size BYTES]";
    if (std::find(args.begin(), args.end(), "--from") != args.end())
        return CmdBuildFrom(args);
    std::string manifestFile, output;
    std::int64_t volumes = 0, volumeSize = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "-o" && hasValue && output.empty()) {
            output = args[++i];
        } else if (arg == "--volumes" && hasValue && volumes == 0 && volumeSize == 0) {
            volumes = PositiveNumber(args[++i]);
            if (volumes < 1 || volumes > kMaxVolumes)
                return Usage(usage);
        } else if (arg == "--volume-size" && hasValue && volumes == 0 && volumeSize == 0) {
            volumeSize = PositiveNumber(args[++i]);
            if (volumeSize < 1)
                return Usage(usage);
        } else if (!arg.empty() && arg[0] != '-' && manifestFile.empty()) {
            manifestFile = arg;
        } else {
            return Usage(usage);
        }
    }
    if (manifestFile.empty() || output.empty())
        return Usage(usage);
    CheckInput(manifestFile);
    CheckOutput(output, {manifestFile});
    const TBuildManifest manifest = TManifestReader(manifestFile).Read();
    TPackageFiles files;
    const TPatchHeader header =
        BuildPackage(manifest, output, static_cast<int>(volumes), volumeSize, &files, {manifestFile});
    std::printf("%s: %d bytes of package, patch data digest %s\n", files.ExeFileName.c_str(), header.PackageSize,
                header.PackageDigest.c_str());
    for (std::size_t i = 0; i < files.VolumeFileNames.size(); ++i)
        std::printf("%s: %d bytes\n", files.VolumeFileNames[i].c_str(), header.VolumeSizes[i]);
    return 0;
}

namespace {

/// An installed path as seen under a Wine prefix: C:\\A\\b becomes ROOT/drive_c/A/b.
std::string UnderRoot(const std::string& path, const std::string& root)
{
    if (root.empty())
        return path;
    std::string mapped = path;
    std::string prefix = root;
    if (mapped.size() >= 2 && mapped[1] == ':') {
        prefix += "/drive_";
        prefix += static_cast<char>(std::tolower(static_cast<unsigned char>(mapped[0])));
        mapped.erase(0, 2);
    }
    std::replace(mapped.begin(), mapped.end(), '\\', '/');
    if (mapped.empty() || mapped[0] != '/')
        mapped.insert(mapped.begin(), '/');
    return prefix + mapped;
}

/// The 0-based index of the first signature that the installed file matches, or -1.
int FirstMatch(const TMustHaveSet& set, const std::string& root)
{
    for (int i = 0; i < set.Count(); ++i) {
        TFileSignature signature = set.Items(i);
        signature.FileName = UnderRoot(signature.FileName, root);
        if (SignatureMatches(signature))
            return i;
    }
    return -1;
}

std::string Names(const TMustHaveSet& set)
{
    std::string names;
    for (const auto& signature : set) {
        if (names.find(signature->FileName) == std::string::npos)
            names += (names.empty() ? "" : ", ") + signature->FileName;
    }
    return upd::Cp1250ToUtf8(names);
}

} // namespace

int CmdCheck(const TArgs& args)
{
    const char* usage = "check EXE [--root DIR]";
    std::string exe, root;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--root" && i + 1 < args.size() && root.empty())
            root = args[++i];
        else if (!args[i].empty() && args[i][0] != '-' && exe.empty())
            exe = args[i];
        else
            return Usage(usage);
    }
    if (exe.empty() || (root.empty() && std::find(args.begin(), args.end(), "--root") != args.end()))
        return Usage(usage);
    while (root.size() > 1 && (root.back() == '/' || root.back() == '\\'))
        root.pop_back();

    const auto opened = OpenPackage(exe);
    const TUpdate& update = *opened->Update;
    int unsatisfied = 0;
    const int sets = update.MustHaveSets.Count();
    for (int i = 0; i < sets; ++i) {
        const TMustHaveSet& set = update.MustHaveSets.Items(i);
        const int match = FirstMatch(set, root);
        if (match < 0)
            ++unsatisfied;
        std::printf("must-have set %d/%d: %s (%s)\n", i + 1, sets,
                    match < 0 ? "NOT satisfied" : ("satisfied by alternative " + std::to_string(match + 1)).c_str(),
                    Names(set).c_str());
    }
    const int patches = update.PatchSets.Count();
    for (int i = 0; i < patches; ++i) {
        const TPatchSet& patch = update.PatchSets.Items(i);
        const int match = FirstMatch(patch.OldFiles, root);
        std::printf("patch set %d/%d: %s (%s)\n", i + 1, patches,
                    match < 0 ? "no known old version installed"
                              : ("old version " + std::to_string(match) + " installed").c_str(),
                    upd::Cp1250ToUtf8(patch.TargetFileName).c_str());
    }
    if (unsatisfied > 0)
        return Fail(std::to_string(unsatisfied) + " of " + std::to_string(sets) + " must-have sets are not satisfied");
    return 0;
}

} // namespace updkit
