#include "version/CEVersionInfo.h"
#include "version/PeVersionResource.h"
#include "version/VersionText.h"

#include "TestPaths.h"
#include "base/File.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace upd::version {

namespace {

std::string Fixture(const std::string& name)
{
    return test::BinaryDir() + "/tests/version/fixtures/" + name;
}

std::vector<std::string> Properties(const TCEVersionInfo& v)
{
    return {v.CompanyName, v.FileDescription, v.FileVersion, v.Internalname, v.LegalCopyright,
            v.LegalTradeMarks, v.OriginalFilename, v.ProductName, v.ProductVersion, v.Comments,
            v.MajorVersion, v.MinorVersion, v.Release, v.Build};
}

TCEVersionInfo Portable(const std::string& file)
{
    TCEVersionInfo info{TCEVersionInfo::TNoFile{}};
    info.GetInfoPortable(file);
    return info;
}

const std::string kNa = kInfoNotAvailable;

using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes& out, std::uint32_t value)
{
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Pad4(Bytes& out)
{
    while (out.size() % 4)
        out.push_back(0);
}

/// One node of a version block, its lengths given as a builder may write them.
Bytes Node(const std::string& key, std::uint16_t type, std::uint16_t valueLength, const Bytes& value,
           const std::vector<Bytes>& children = {})
{
    Bytes out(6);
    for (char c : key)
        Put16(out, static_cast<unsigned char>(c));
    Put16(out, 0);
    Pad4(out);
    out.insert(out.end(), value.begin(), value.end());
    for (const Bytes& child : children) {
        Pad4(out);
        out.insert(out.end(), child.begin(), child.end());
    }
    out[0] = static_cast<std::uint8_t>(out.size());
    out[1] = static_cast<std::uint8_t>(out.size() >> 8);
    out[2] = static_cast<std::uint8_t>(valueLength);
    out[3] = static_cast<std::uint8_t>(valueLength >> 8);
    out[4] = static_cast<std::uint8_t>(type);
    return out;
}

Bytes Utf16(const std::string& text, bool terminated = true)
{
    Bytes out;
    for (char c : text)
        Put16(out, static_cast<unsigned char>(c));
    if (terminated)
        Put16(out, 0);
    return out;
}

/// A whole VS_VERSIONINFO with one string table 041804e2 holding `strings`
/// and a translation entry of the given type and length.
Bytes VersionBlock(const std::vector<Bytes>& strings, std::uint16_t translationType = 0,
                   std::uint16_t translationLength = 4)
{
    Bytes fixed(52);
    const std::uint8_t signature[] = {0xBD, 0x04, 0xEF, 0xFE, 0x00, 0x00, 0x01, 0x00};
    std::copy(std::begin(signature), std::end(signature), fixed.begin());
    Bytes translation;
    Put16(translation, 0x0418);
    Put16(translation, 1250);
    return Node("VS_VERSION_INFO", 0, 52, fixed,
                {Node("StringFileInfo", 1, 0, {}, {Node("041804E2", 1, 0, {}, strings)}),
                 Node("VarFileInfo", 1, 0, {},
                      {Node("Translation", translationType, translationLength, translation)})});
}

/// dots.exe with its version block replaced by `block` (padded to the old size).
std::string ImageWithBlock(const test::TTempDir& dir, const std::string& name, Bytes block)
{
    Bytes image = ReadWholeFile(Fixture("dots.exe"));
    const Bytes old = *FindVersionResource(image.data(), image.size());
    auto at = std::search(image.begin(), image.end(), old.begin(), old.end());
    EXPECT_TRUE(at != image.end() && block.size() <= old.size());
    block.resize(old.size());
    std::copy(block.begin(), block.end(), at);
    WriteWholeFile(dir.File(name), image.data(), image.size());
    return dir.File(name);
}

/// Resources the system's version API accepts although no resource compiler
/// of ours writes them: string values of type 0 counted in units or in bytes,
/// lengths that cut the text or pass its end, keys in other cases.
struct TCraftedRow {
    const char* name;
    Bytes block;
    const char* fileVersion;
    const char* comments;
};

std::vector<TCraftedRow> CraftedRows()
{
    const Bytes version = Utf16("2.0.16.389");
    const Bytes comments = Node("Comments", 1, 4, Utf16("abc"));
    return {
        {"text.exe", VersionBlock({Node("FileVersion", 1, 11, version), comments}), "2.0.16.389", "abc"},
        {"binary-units.exe", VersionBlock({Node("FileVersion", 0, 11, version), comments}), "2.0.16.389", "abc"},
        {"binary-bytes.exe", VersionBlock({Node("FileVersion", 0, 22, version), comments}), "2.0.16.389", "abc"},
        {"unterminated.exe", VersionBlock({Node("FileVersion", 1, 10, Utf16("2.0.16.389", false)), comments}),
         "2.0.16.389", "abc"},
        {"short-length.exe", VersionBlock({Node("FileVersion", 1, 4, version), comments}), "2.0.", "abc"},
        {"zero-length.exe", VersionBlock({Node("FileVersion", 0, 0, version), comments}), "", "abc"},
        {"other-type.exe", VersionBlock({Node("fileversion", 2, 11, version), Node("COMMENTS", 0, 8, Utf16("abc"))}),
         "2.0.16.389", "abc"},
        // A translation stored as text of two units: the system reports a
        // length of 2, too short for a language and a code page.
        {"text-translation.exe", VersionBlock({Node("FileVersion", 1, 11, version)}, 1, 2), "", ""},
    };
}

} // namespace

#ifdef UPD_HAVE_PE_FIXTURES

TEST(PeVersionResourceTest, FileVersionAndItsFields)
{
    struct Row {
        const char* file;
        const char* version;
        const char* major;
        const char* minor;
        const char* release;
        const char* build;
    } rows[] = {
        {"dots.exe", "2.0.16.389", "2", "0", "16", "389"},
        {"commas.exe", "3, 1, 7, 2", "3", " 1", " 7", " 2"},
        // Neither "." nor ",": the fields are not available.
        {"spaces.exe", "5.1 build 7 ", "5", "1 build 7 ", "", ""},
        {"twofields.exe", "4.2", "4", "2", "", ""},
        {"nokey.exe", "", "<info not available>", "<info not available>", "<info not available>",
         "<info not available>"},
        // The first translation names the table.
        {"several.exe", "7.7.7.7", "7", "7", "7", "7"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        TCEVersionInfo info = Portable(Fixture(row.file));
        EXPECT_EQ(info.FileVersion, row.version);
        EXPECT_EQ(info.MajorVersion, row.major);
        EXPECT_EQ(info.MinorVersion, row.minor);
        EXPECT_EQ(info.Release, row.release);
        EXPECT_EQ(info.Build, row.build);
    }
}

TEST(PeVersionResourceTest, StringKeysOfTheFirstTranslation)
{
    TCEVersionInfo info = Portable(Fixture("dots.exe"));
    EXPECT_EQ(info.CompanyName, "Tarvix SRL");
    EXPECT_EQ(info.FileDescription, "Fixture dots");
    EXPECT_EQ(info.Internalname, "dots");
    EXPECT_EQ(info.OriginalFilename, "dots.exe");
    EXPECT_EQ(info.ProductVersion, "2.0");
    // Keys the table lacks read empty.
    EXPECT_EQ(info.LegalTradeMarks, "");
    EXPECT_EQ(info.Comments, "");

    TCEVersionInfo several = Portable(Fixture("several.exe"));
    EXPECT_EQ(several.Comments, "english table");
    EXPECT_EQ(several.LegalTradeMarks, "TM");
}

TEST(PeVersionResourceTest, FilesWithoutVersionInformation)
{
    test::TTempDir dir;
    std::string text = dir.Write("readme.txt", "MZ but not a program\r\n");
    for (const std::string& file : {Fixture("nores.exe"), text, dir.File("missing.dll")}) {
        SCOPED_TRACE(file);
        for (const auto& p : Properties(Portable(file)))
            EXPECT_EQ(p, kNa);
        EXPECT_EQ(GetFileVersionText(file), kNa);
    }
}

TEST(PeVersionResourceTest, DamagedImagesNeverReadOutOfBounds)
{
    std::vector<std::uint8_t> image = ReadWholeFile(Fixture("dots.exe"));
    ASSERT_TRUE(FindVersionResource(image.data(), image.size()).has_value());

    // Every truncation: a copy of exactly that many bytes, so that ASan sees
    // any read past the end.
    for (std::size_t n = 0; n < image.size(); n += (n < 1024 ? 1 : 97)) {
        std::vector<std::uint8_t> cut(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(n));
        auto block = FindVersionResource(cut.data(), cut.size());
        if (block)
            TVersionBlock(*block).StringValue("041804e2", "FileVersion");
    }

    // Random damage anywhere: any answer is fine, a crash is not.
    std::mt19937 random(1234);
    for (int round = 0; round < 3000; ++round) {
        std::vector<std::uint8_t> bad = image;
        int changes = 1 + static_cast<int>(random() % 8);
        for (int k = 0; k < changes; ++k)
            bad[random() % bad.size()] = static_cast<std::uint8_t>(random());
        auto block = FindVersionResource(bad.data(), bad.size());
        if (block) {
            TVersionBlock query(*block);
            std::uint16_t language, codePage;
            query.Translation(language, codePage);
            query.StringValue("041804e2", "FileVersion");
        }
    }
}

TEST(PeVersionResourceTest, CraftedResourcesReadAsTheSystemReadsThem)
{
    test::TTempDir dir;
    for (auto& row : CraftedRows()) {
        SCOPED_TRACE(row.name);
        TCEVersionInfo info = Portable(ImageWithBlock(dir, row.name, row.block));
        EXPECT_EQ(info.FileVersion, row.fileVersion);
        EXPECT_EQ(info.Comments, row.comments);
    }
}

#ifdef _WIN32
// The portable reader and the system's version API agree on every fixture.
TEST(PeVersionResourceTest, PortableReaderAgreesWithTheSystem)
{
    test::TTempDir dir;
    std::vector<std::uint8_t> image = ReadWholeFile(Fixture("dots.exe"));
    WriteWholeFile(dir.File("truncated.exe"), image.data(), image.size() / 2);
    std::string files[] = {Fixture("dots.exe"),      Fixture("commas.exe"),  Fixture("spaces.exe"),
                           Fixture("twofields.exe"), Fixture("nokey.exe"),   Fixture("several.exe"),
                           Fixture("nores.exe"),     dir.Write("a.txt", "text"), dir.File("truncated.exe"),
                           dir.File("missing.exe")};
    std::vector<std::string> all(std::begin(files), std::end(files));
    for (auto& row : CraftedRows())
        all.push_back(ImageWithBlock(dir, row.name, row.block));
    for (const auto& file : all) {
        SCOPED_TRACE(file);
        TCEVersionInfo system{TCEVersionInfo::TNoFile{}};
        system.GetInfo(file);
        EXPECT_EQ(Properties(system), Properties(Portable(file)));
    }
}
#endif

#endif // UPD_HAVE_PE_FIXTURES

} // namespace upd::version
