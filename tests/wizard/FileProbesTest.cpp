#include "wizard/FileProbes.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/File.h"

namespace upd::wizard {
namespace {

namespace fs = std::filesystem;

class TRootedFileProbeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_root = fs::temp_directory_path() /
                 ("upd-rooted-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(m_root);
        fs::create_directories(m_root / "drive_c" / "Pravion" / "Sub Dir");
        WriteWholeFile((m_root / "drive_c" / "Pravion" / "KP3.exe").string(), "abc", 3);
        WriteWholeFile((m_root / "drive_c" / "Pravion" / "Sub Dir" / "date.txt").string(), "", 0);
    }
    void TearDown() override { fs::remove_all(m_root); }

    fs::path m_root;
};

TEST_F(TRootedFileProbeTest, WindowsPathsFindTheirFilesUnderTheRoot)
{
    TRootedFileProbe probe(m_root.string());
    struct Row {
        const char* path;
        bool exists;
    } rows[] = {
        {"C:\\Pravion\\KP3.exe", true},
        {"c:\\pravion\\kp3.EXE", true},
        {"C:\\PRAVION\\sub dir\\DATE.TXT", true},
        {"C:\\Pravion\\kp3.dll", false},
        {"D:\\Pravion\\KP3.exe", false},
        {"C:\\Pravion", false}, // a folder is no file
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(probe.FileExists(row.path), row.exists);
    }
#ifndef _WIN32
    // Where names differ in case only (not on Windows, whose names ignore case anyway).
    EXPECT_EQ(probe.MapPath("c:\\pravion\\kp3.EXE"), (m_root / "drive_c" / "Pravion" / "KP3.exe").string());
#endif
}

TEST_F(TRootedFileProbeTest, SignaturesAreCheckedOnTheMappedFile)
{
    TRootedFileProbe probe(m_root.string());
    TFileSignature s;
    s.FileName = "C:\\pravion\\kp3.exe";
    s.Size = 3;
    s.Hash = "900150983CD24FB0D6963F7D28E17F72"; // "abc"
    EXPECT_TRUE(probe.SignatureMatches(s));
    s.Hash[0] = '8';
    EXPECT_FALSE(probe.SignatureMatches(s));
    // A file without a version resource reads as such through the mapping.
    EXPECT_EQ(probe.FileVersionText("C:\\Pravion\\kp3.exe"), "<info not available>");
}

} // namespace
} // namespace upd::wizard
