#include "tools/updkit/PackageJson.h"

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

} // namespace

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

} // namespace updkit
