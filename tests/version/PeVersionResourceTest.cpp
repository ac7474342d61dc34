#include "version/CEVersionInfo.h"
#include "version/PeVersionResource.h"
#include "version/VersionText.h"

#include "TestPaths.h"
#include "base/File.h"

#include <gtest/gtest.h>

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
    for (const auto& file : files) {
        SCOPED_TRACE(file);
        TCEVersionInfo system{TCEVersionInfo::TNoFile{}};
        system.GetInfo(file);
        EXPECT_EQ(Properties(system), Properties(Portable(file)));
    }
}
#endif

#endif // UPD_HAVE_PE_FIXTURES

} // namespace upd::version
