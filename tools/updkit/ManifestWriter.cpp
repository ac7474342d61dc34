// The manifest that updkit build --from writes, for a later build to read
// back (and for a release engineer to edit): the same keys ManifestReader.cpp
// accepts, real file names absolute.
#include "tools/updkit/Manifest.h"

#include <filesystem>

#include "base/Cp1250.h"
#include "base/File.h"
#include "tools/updkit/Json.h"

namespace updkit {

using namespace upd::package;

namespace {

// A real file name (UTF-8) as JSON.
void RealName(TJsonWriter& json, const std::string& name)
{
    const auto u8 = std::filesystem::absolute(std::filesystem::u8path(name)).lexically_normal().u8string();
    json.Utf8String(std::string(u8.begin(), u8.end()));
}

} // namespace

void WriteManifest(const std::string& fileName, const TBuildManifest& m, bool stubGiven)
{
    TJsonWriter json;
    json.BeginObject();
    if (stubGiven) {
        json.Key("stub");
        RealName(json, m.Stub);
    }
    json.Key("title").String(m.Title);
    json.Key("description").String(m.Description);
    json.Key("release").String(m.Release);
    json.Key("release_date").String(m.ReleaseDate);
    json.Key("tag_file_name").String(m.TagFileName);
    if (!m.PatchNote.empty())
        json.Key("patch_note").String(m.PatchNote);
    json.Key("must_have").BeginArray();
    for (const auto& set : m.MustHaveSets) {
        json.BeginObject();
        json.Key("path").String(set.front().InstalledPath);
        json.Key("file");
        RealName(json, set.front().SourceFile);
        json.EndObject();
    }
    json.EndArray();
    json.Key("patches").BeginArray();
    for (const TBuildPatch& patch : m.Patches) {
        json.BeginObject();
        json.Key("target").String(patch.TargetPath);
        json.Key("old").BeginArray();
        for (const std::string& old : patch.OldFiles)
            RealName(json, old);
        json.EndArray();
        json.Key("new");
        RealName(json, patch.NewFile);
        json.EndObject();
    }
    json.EndArray();
    json.EndObject();
    const std::string text = json.Text();
    upd::TPendingFile pending(fileName);
    upd::WriteWholeFile(pending.Name(), text.data(), text.size());
    pending.Commit();
}

} // namespace updkit
