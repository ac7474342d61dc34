#include "package/Update.h"

#include "base/Exception.h"
#include "package/TaggedValues.h"

#include <gtest/gtest.h>

namespace upd::package {

namespace {

std::unique_ptr<TFileSignature> Signature(const std::string& name, std::int32_t size, const std::string& version)
{
    auto signature = std::make_unique<TFileSignature>();
    signature->FileName = name;
    signature->Hash = "0123456789ABCDEF0123456789ABCDEF";
    signature->Size = size;
    signature->Version = version;
    return signature;
}

/// A description with something in every list, texts of both short and long form.
TUpdate SampleUpdate()
{
    TUpdate update;
    update.Title = "Bun g@asit @in expertul";
    update.Description = "Se va actualiza programul *b*Pravion*/b*" + std::string(300, 'x');
    update.TagFileName = "sig-174.txt";
    auto& set = update.MustHaveSets.Add(std::make_unique<TMustHaveSet>());
    set.Add(Signature("C:\\Pravion\\borlndmm.dll", 21504, "6.0.6.240"));
    set.Add(Signature("C:\\Pravion\\kp3.exe", 4123456, ""));
    update.MustHaveSets.Add(std::make_unique<TMustHaveSet>());
    auto& patch = update.PatchSets.Add(std::make_unique<TPatchSet>());
    patch.OldFiles.Add(Signature("C:\\Pravion\\kp3.exe", 400000, "3.1.0.172"));
    patch.OldFiles.Add(Signature("C:\\Pravion\\kp3.exe", 401000, "3.1.0.173"));
    patch.Segment = {7, "FEDCBA9876543210FEDCBA9876543210", 452608, 0};
    patch.NewVersion = "3.1.0.174";
    patch.NewSize = 402000;
    patch.NewHash = "AAAABBBBCCCCDDDDEEEEFFFF00001111";
    patch.TargetFileName = "C:\\Pravion\\kp3.exe";
    auto& copy = update.CopySets.Add(std::make_unique<TCopySet>());
    copy.Version = "1.0";
    copy.Size = -5;
    copy.Hash = "22223333444455556666777788889999";
    copy.FileName = "C:\\Pravion\\x.dll";
    copy.Segment = {0, "H", 10, 452608};
    update.TagText = MakeTagText("174", "7 decembrie 2026", update.MustHaveSets);
    return update;
}

std::vector<std::uint8_t> Stored(const TUpdate& update)
{
    TTaggedValueWriter writer;
    update.WriteTo(writer);
    return writer.Data();
}

void ExpectSameSignature(const TFileSignature& a, const TFileSignature& b)
{
    EXPECT_EQ(a.FileName, b.FileName);
    EXPECT_EQ(a.Hash, b.Hash);
    EXPECT_EQ(a.Size, b.Size);
    EXPECT_EQ(a.Version, b.Version);
    EXPECT_EQ(a.Flag, b.Flag);
}

} // namespace

TEST(TUpdateTest, ReadsBackFieldForField)
{
    const TUpdate original = SampleUpdate();
    const auto bytes = Stored(original);
    TTaggedValueReader reader(bytes.data(), bytes.size());
    TUpdate read;
    read.ReadFrom(reader);
    EXPECT_EQ(reader.Remaining(), 0u);

    EXPECT_EQ(read.Title, original.Title);
    EXPECT_EQ(read.Description, original.Description);
    EXPECT_EQ(read.TagText, original.TagText);
    EXPECT_EQ(read.TagFileName, original.TagFileName);
    ASSERT_EQ(read.MustHaveSets.Count(), 2);
    ASSERT_EQ(read.MustHaveSets.Items(0).Count(), 2);
    EXPECT_EQ(read.MustHaveSets.Items(1).Count(), 0);
    for (int i = 0; i < 2; ++i)
        ExpectSameSignature(read.MustHaveSets.Items(0).Items(i), original.MustHaveSets.Items(0).Items(i));
    ASSERT_EQ(read.PatchSets.Count(), 1);
    const TPatchSet& patch = read.PatchSets.Items(0);
    ASSERT_EQ(patch.OldFiles.Count(), 2);
    ExpectSameSignature(patch.OldFiles.Items(1), original.PatchSets.Items(0).OldFiles.Items(1));
    EXPECT_EQ(patch.Segment.Reserved, 7);
    EXPECT_EQ(patch.Segment.Hash, "FEDCBA9876543210FEDCBA9876543210");
    EXPECT_EQ(patch.Segment.Size, 452608);
    EXPECT_EQ(patch.NewVersion, "3.1.0.174");
    EXPECT_EQ(patch.NewSize, 402000);
    EXPECT_EQ(patch.NewHash, "AAAABBBBCCCCDDDDEEEEFFFF00001111");
    EXPECT_EQ(patch.TargetFileName, "C:\\Pravion\\kp3.exe");
    ASSERT_EQ(read.CopySets.Count(), 1);
    const TCopySet& copy = read.CopySets.Items(0);
    EXPECT_EQ(copy.Version, "1.0");
    EXPECT_EQ(copy.Size, -5);
    EXPECT_EQ(copy.FileName, "C:\\Pravion\\x.dll");
    EXPECT_EQ(copy.Segment.Offset, 452608);
    EXPECT_EQ(copy.Segment.Hash, "H");
    EXPECT_THROW(read.CopySets.Items(1), Exception);
    EXPECT_THROW(read.MustHaveSets.Items(-1), Exception);
}

TEST(TUpdateTest, EmptyListsEndTheStream)
{
    TUpdate update;
    update.MustHaveSets.Add(std::make_unique<TMustHaveSet>()).Add(Signature("C:\\a", 1, ""));
    const auto bytes = Stored(update);
    // The last signature's false flag, then two empty lists.
    const std::vector<std::uint8_t> tail = {0x08, 0x02, 0x00, 0x02, 0x00};
    ASSERT_GE(bytes.size(), tail.size());
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), bytes.end() - 5));
}

TEST(TUpdateTest, DescriptionCutAnywhereFailsWithTheReadError)
{
    const auto bytes = Stored(SampleUpdate());
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        SCOPED_TRACE(cut);
        TTaggedValueReader reader(bytes.data(), cut);
        TUpdate update;
        try {
            update.ReadFrom(reader);
            ADD_FAILURE() << "no error";
        } catch (const Exception& e) {
            EXPECT_EQ(std::string(e.what()).rfind("Descrierea actualizarii este deteriorata (pozitia ", 0), 0u);
        }
    }
}

TEST(TUpdateTest, RejectsNegativeCountsAndForeignTags)
{
    struct Row {
        const char* name;
        std::vector<std::uint8_t> tail; // after four empty texts
        int position;
    };
    const Row rows[] = {
        {"negative must-have count", {0x02, 0xFF}, 8},
        {"negative patch count", {0x02, 0x00, 0x04, 0x00, 0x00, 0x00, 0x80}, 10},
        {"negative signature count", {0x02, 0x01, 0x03, 0xFE, 0xFF}, 10},
        {"boolean tag as count", {0x09}, 8},
        {"huge count, no items", {0x04, 0xFF, 0xFF, 0xFF, 0x7F}, 13},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::uint8_t> bytes = {0x06, 0x00, 0x06, 0x00, 0x06, 0x00, 0x06, 0x00};
        bytes.insert(bytes.end(), row.tail.begin(), row.tail.end());
        TTaggedValueReader reader(bytes.data(), bytes.size());
        TUpdate update;
        try {
            update.ReadFrom(reader);
            ADD_FAILURE() << "no error";
        } catch (const Exception& e) {
            EXPECT_EQ(std::string(e.what()), Format(kTaggedReadError, row.position));
        }
    }
}

TEST(TUpdateTest, JoinLinesEndsEveryEntry)
{
    EXPECT_EQ(JoinLines({"a", "", "b"}), "a\r\n\r\nb\r\n");
}

TEST(TUpdateTest, TagTextFollowsTheBuilderLineFormat)
{
    TMustHaveSetList sets;
    sets.Add(std::make_unique<TMustHaveSet>()).Add(Signature("C:\\Pravion\\a.dll", 12, "1.2.3.4"));
    auto& second = sets.Add(std::make_unique<TMustHaveSet>());
    second.Add(Signature("C:\\Pravion\\b.dat", 7, ""));
    const std::vector<std::string> expected = {
        "//Tag:173 ",
        "//Tag:12 martie 2004 ",
        " ",
        "exista \"C:\\Pravion\\a.dll\"",
        "  hash=\"0123456789ABCDEF0123456789ABCDEF\";",
        "  dimensiune=12;",
        "  versiune=\"1.2.3.4\";",
        "end;",
        " ",
        " ",
        "exista \"C:\\Pravion\\b.dat\"",
        "  hash=\"0123456789ABCDEF0123456789ABCDEF\";",
        "  dimensiune=7;",
        "end;",
        " ",
        " ",
        "\x1A",
    };
    EXPECT_EQ(MakeTagText("173", "12 martie 2004", sets), expected);
}

} // namespace upd::package
