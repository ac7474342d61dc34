// Reading and writing the update description (stored form in Update.h).
#include "package/Update.h"

#include "base/Exception.h"
#include "base/TextLines.h"
#include "package/TaggedValues.h"

namespace upd::package {

namespace {

/// A list count. A negative count cannot come from a builder: it is refused
/// like any other damage rather than read as an empty list.
int ReadCount(TTaggedValueReader& reader)
{
    const std::size_t position = reader.Position();
    const std::int32_t count = reader.ReadInteger();
    if (count < 0)
        throw Exception(Format(kTaggedReadError, static_cast<long long>(position)));
    return count;
}

// Items are added before they are read, so that a failure leaves everything
// read so far owned by its list. The count is not trusted for a reservation:
// every item consumes data, so a huge count fails at the end of the data.
template <class Item, class List>
void ReadItems(List& list, TTaggedValueReader& reader)
{
    const int count = ReadCount(reader);
    for (int i = 0; i < count; ++i)
        list.Add(std::make_unique<Item>()).ReadFrom(reader);
}

template <class List>
void WriteItems(const List& list, TTaggedValueWriter& writer)
{
    writer.WriteInteger(list.Count());
    for (const auto& item : list)
        item->WriteTo(writer);
}

} // namespace

void TFileSignature::ReadFrom(TTaggedValueReader& reader)
{
    FileName = reader.ReadText();
    Hash = reader.ReadText();
    Size = reader.ReadInteger();
    Version = reader.ReadText();
    Flag = reader.ReadBoolean();
}

void TFileSignature::WriteTo(TTaggedValueWriter& writer) const
{
    writer.WriteText(FileName);
    writer.WriteText(Hash);
    writer.WriteInteger(Size);
    writer.WriteText(Version);
    writer.WriteBoolean(Flag);
}

void TUpdateData::ReadFrom(TTaggedValueReader& reader)
{
    Reserved = reader.ReadInteger();
    Hash = reader.ReadText();
    Size = reader.ReadInteger();
    Offset = reader.ReadInteger();
}

void TUpdateData::WriteTo(TTaggedValueWriter& writer) const
{
    writer.WriteInteger(Reserved);
    writer.WriteText(Hash);
    writer.WriteInteger(Size);
    writer.WriteInteger(Offset);
}

void TMustHaveSet::ReadFrom(TTaggedValueReader& reader)
{
    ReadItems<TFileSignature>(*this, reader);
}

void TMustHaveSet::WriteTo(TTaggedValueWriter& writer) const
{
    WriteItems(*this, writer);
}

void TPatchSet::ReadFrom(TTaggedValueReader& reader)
{
    OldFiles.ReadFrom(reader);
    Segment.ReadFrom(reader);
    NewVersion = reader.ReadText();
    NewSize = reader.ReadInteger();
    NewHash = reader.ReadText();
    TargetFileName = reader.ReadText();
}

void TPatchSet::WriteTo(TTaggedValueWriter& writer) const
{
    OldFiles.WriteTo(writer);
    Segment.WriteTo(writer);
    writer.WriteText(NewVersion);
    writer.WriteInteger(NewSize);
    writer.WriteText(NewHash);
    writer.WriteText(TargetFileName);
}

void TCopySet::ReadFrom(TTaggedValueReader& reader)
{
    Version = reader.ReadText();
    Size = reader.ReadInteger();
    Hash = reader.ReadText();
    FileName = reader.ReadText();
    Segment.ReadFrom(reader);
}

void TCopySet::WriteTo(TTaggedValueWriter& writer) const
{
    writer.WriteText(Version);
    writer.WriteInteger(Size);
    writer.WriteText(Hash);
    writer.WriteText(FileName);
    Segment.WriteTo(writer);
}

void TMustHaveSetList::ReadFrom(TTaggedValueReader& reader)
{
    ReadItems<TMustHaveSet>(*this, reader);
}

void TMustHaveSetList::WriteTo(TTaggedValueWriter& writer) const
{
    WriteItems(*this, writer);
}

void TPatchSetList::ReadFrom(TTaggedValueReader& reader)
{
    ReadItems<TPatchSet>(*this, reader);
}

void TPatchSetList::WriteTo(TTaggedValueWriter& writer) const
{
    WriteItems(*this, writer);
}

void TCopySetList::ReadFrom(TTaggedValueReader& reader)
{
    ReadItems<TCopySet>(*this, reader);
}

void TCopySetList::WriteTo(TTaggedValueWriter& writer) const
{
    WriteItems(*this, writer);
}

void TUpdate::ReadFrom(TTaggedValueReader& reader)
{
    Title = reader.ReadText();
    Description = reader.ReadText();
    TagText = SplitLines(reader.ReadText());
    TagFileName = reader.ReadText();
    MustHaveSets.ReadFrom(reader);
    PatchSets.ReadFrom(reader);
    CopySets.ReadFrom(reader);
}

void TUpdate::WriteTo(TTaggedValueWriter& writer) const
{
    writer.WriteText(Title);
    writer.WriteText(Description);
    writer.WriteText(JoinLines(TagText));
    writer.WriteText(TagFileName);
    MustHaveSets.WriteTo(writer);
    PatchSets.WriteTo(writer);
    CopySets.WriteTo(writer);
}

std::string JoinLines(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

std::vector<std::string> MakeTagText(const std::string& release, const std::string& releaseDate,
                                     const TMustHaveSetList& mustHaveSets)
{
    std::vector<std::string> lines = {"//Tag:" + release + " ", "//Tag:" + releaseDate + " ", " "};
    for (const auto& set : mustHaveSets) {
        for (const auto& signature : *set) {
            lines.push_back("exista \"" + signature->FileName + "\"");
            lines.push_back("  hash=\"" + signature->Hash + "\";");
            lines.push_back("  dimensiune=" + std::to_string(signature->Size) + ";");
            if (!signature->Version.empty())
                lines.push_back("  versiune=\"" + signature->Version + "\";");
            lines.push_back("end;");
            lines.push_back(" ");
            lines.push_back(" ");
        }
    }
    lines.push_back("\x1A");
    return lines;
}

} // namespace upd::package
