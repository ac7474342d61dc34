// The release wizard and its own file under Wine: packages made by the real
// `updkit build` on the release program; the program's file renamed and
// replaced by another package while the wizard is held suspended (the race a
// user's program can win after the elevation prompt); a file of the user
// that stands where a volume is looked for first.
#include <gtest/gtest.h>

#include <filesystem>

#include "E2EFiles_win32.h"
#include "UiDriver_win32.h"
#include "base/Cp1250.h"
#include "base/File.h"
#include "base/Win32_win32.h"
#include "wizard/RunOutcome.h"
#include "wizard/UpdateJournal.h"
#include "wizard/UpdateStage.h"

namespace upd::uitest {
namespace {

namespace fs = std::filesystem;

constexpr DWORD kRunTimeout = 90000;

const std::string kKp3 = "C:\\Pravion\\kp3.exe";
const std::string kKits = "C:\\upd-ownfile";
const std::string kLog = "C:\\upd-ownfile-log\\actualizare.log";
const std::string kTagName = "kp3tag-ownfile.txt";
const std::string kTag = std::string(wizard::kTagFolder) + "\\" + kTagName;

class TOwnFileE2ETest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Clean();
        fs::create_directories(kKits);
        fs::create_directories("C:\\Pravion");
        for (const char* name : {"v1", "v2", "v3"})
            Put(kKits + "\\" + name + ".exe", Text(Fake(name)));
        Put(kKp3, Text(Fake("v1")));
    }

    void TearDown() override { Clean(); }

    static std::string Fake(const std::string& name) { return BuildPath("tests/win32/fake_" + name + ".exe"); }

    static void Clean()
    {
        // The hand-off of an earlier run may still be running from kp3.exe.
        WaitUntilWritable(kKp3, 20000);
        for (const std::string& name : {kKp3, kKp3 + "vf", kTag, kLog})
            Remove(name);
        Remove(wizard::kJournalFile);
        std::error_code ignored;
        fs::remove_all(kKits, ignored);
    }

    // A package made by the release kit's updkit from the release program:
    // kp3.exe from v1 to `fresh`.
    static void Build(const std::string& title, const std::string& fresh, const std::string& output,
                      const std::string& more = {})
    {
        Put(kKits + "\\" + title + ".json",
            R"({"title": ")" + title + R"(", "description": "D", "release": 20, "release_date": "azi",
                "tag_file_name": ")" + kTagName + R"(",
                "patches": [{"target": "C:\\Pravion\\kp3.exe", "old": ["v1.exe"], "new": ")" + fresh + R"("}]})");
        const std::string updkit = BuildPath("release/updkit.exe");
        ASSERT_EQ(RunAndWait("\"" + updkit + "\" build " + title + ".json -o \"" + output + "\" " + more, kKits), 0);
    }

    static DWORD RunQuiet(const std::string& exe)
    {
        TWizardProcess process(exe, "/quiet /log \"" + kLog + "\"");
        DWORD code = 255;
        EXPECT_TRUE(process.WaitForExit(kRunTimeout, &code)) << "the wizard did not end by itself";
        return code;
    }
};

// The genuine package carries its identity in the program, as `updkit info`
// says, and updates the installation.
TEST_F(TOwnFileE2ETest, GenuinePackageUpdates)
{
    const std::string exe = kKits + "\\dl\\setup.exe";
    fs::create_directories(kKits + "\\dl");
    ASSERT_NO_FATAL_FAILURE(Build("genuine", "v2.exe", exe));
    const std::string updkit = BuildPath("release/updkit.exe");
    ASSERT_EQ(RunAndWait("cmd /c \"\"" + updkit + "\" info \"" + exe + "\" > info.json\"", kKits), 0);
    const std::string info = Text(kKits + "\\info.json");
    EXPECT_TRUE(info.find("\"image_slot\": \"matches\"") != std::string::npos ||
                info.find("\"image_slot\":\"matches\"") != std::string::npos)
        << info;
    EXPECT_EQ(RunQuiet(exe), 0u) << Text(kLog);
    EXPECT_TRUE(Text(kKp3) == Text(Fake("v2"))) << "not updated";
}

// What another program finds while the wizard runs: its file can be read,
// but neither renamed nor written nor deleted, so nothing else can come under
// its name. The run is held at a file in use (kp3.exe, kept open here) long
// enough to try; then the file is let go and the run completes.
TEST_F(TOwnFileE2ETest, RunningWizardHoldsItsFileAgainstRenames)
{
    const std::string exe = kKits + "\\dl\\setup.exe";
    fs::create_directories(kKits + "\\dl");
    ASSERT_NO_FATAL_FAILURE(Build("genuine", "v2.exe", exe));
    HANDLE inUse = ::CreateFileA(kKp3.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(inUse, INVALID_HANDLE_VALUE);
    TWizardProcess process(exe, "/quiet /log \"" + kLog + "\"");
    // The log as another reader sees it while the wizard writes it.
    auto logSays = [](const std::string& word) {
        HANDLE h = ::CreateFileA(kLog.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return false;
        char text[8192] = {};
        DWORD got = 0;
        ::ReadFile(h, text, sizeof text - 1, &got, nullptr);
        ::CloseHandle(h);
        return std::string(text, got).find(word) != std::string::npos;
    };
    const bool busy = WaitUntil([&] { return logSays("busy"); }, 30000);
    const BOOL renamed = ::MoveFileW(Wide(exe).c_str(), Wide(kKits + "\\dl\\setup-moved.exe").c_str());
    const DWORD renameError = ::GetLastError();
    HANDLE writer = ::CreateFileA(exe.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
    const bool writable = writer != INVALID_HANDLE_VALUE;
    if (writable)
        ::CloseHandle(writer);
    HANDLE reader = ::CreateFileA(exe.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    const bool readable = reader != INVALID_HANDLE_VALUE;
    if (readable)
        ::CloseHandle(reader);
    ::CloseHandle(inUse);
    DWORD code = 255;
    EXPECT_TRUE(process.WaitForExit(kRunTimeout, &code)) << "the wizard did not end by itself";

    ASSERT_TRUE(busy) << "the run never waited for kp3.exe";
    EXPECT_FALSE(renamed) << "the running wizard's file was renamed";
    EXPECT_EQ(renameError, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(writable);
    EXPECT_TRUE(readable);
    EXPECT_EQ(code, 0u) << Text(kLog);
    EXPECT_TRUE(Text(kKp3) == Text(Fake("v2"))) << "not updated";
}

// Started suspended, the program's file renamed and another package of the
// same release program put under its name, then let go: the wizard reads
// the other file by that name, finds a package whose identity its image does
// not carry, and stops before anything changed. Never the other update.
TEST_F(TOwnFileE2ETest, PackageSwappedAfterTheStartIsRefused)
{
    const std::string exe = kKits + "\\dl\\setup.exe";
    const std::string other = kKits + "\\other\\setup.exe";
    fs::create_directories(kKits + "\\dl");
    fs::create_directories(kKits + "\\other");
    ASSERT_NO_FATAL_FAILURE(Build("genuine", "v2.exe", exe));
    ASSERT_NO_FATAL_FAILURE(Build("other", "v3.exe", other));
    fs::create_directories(fs::path(kLog).parent_path());

    std::wstring line = Wide("\"" + exe + "\" /quiet /log \"" + kLog + "\"");
    const std::wstring folder = Wide(kKits + "\\dl");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                                 folder.c_str(), &startup, &info))
        << ::GetLastError();
    // A running image may be renamed; the name is then free for another file.
    const bool moved = ::MoveFileW(Wide(exe).c_str(), Wide(kKits + "\\dl\\setup-moved.exe").c_str()) &&
                       ::CopyFileW(Wide(other).c_str(), Wide(exe).c_str(), TRUE);
    const DWORD moveError = ::GetLastError();
    ::ResumeThread(info.hThread);
    DWORD code = 255;
    const bool ended = ::WaitForSingleObject(info.hProcess, kRunTimeout) == WAIT_OBJECT_0;
    if (!ended)
        ::TerminateProcess(info.hProcess, 255);
    ::GetExitCodeProcess(info.hProcess, &code);
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    ASSERT_TRUE(moved) << "the race was not set up: " << moveError;
    ASSERT_TRUE(ended) << "the wizard did not end by itself";

    EXPECT_FALSE(Text(kKp3) == Text(Fake("v3"))) << "the other package was installed";
    EXPECT_EQ(code, static_cast<DWORD>(wizard::kExitFailedRestored)) << Text(kLog);
    EXPECT_TRUE(Text(kKp3) == Text(Fake("v1"))) << "the installation changed";
    const std::string log = Text(kLog);
    EXPECT_NE(log.find("Pachetul de actualizare din " + exe + " nu este cel al acestui program"), std::string::npos)
        << log;
}

// A wrong file named like the first volume beside the program, the volume
// itself in a sibling folder (one folder per downloaded diskette image): an
// unattended run passes over the wrong one and completes.
TEST_F(TOwnFileE2ETest, DecoyVolumeBesideTheProgramDoesNotStopAQuietRun)
{
    const std::string exe = kKits + "\\dl\\kit\\setup.exe";
    fs::create_directories(kKits + "\\dl\\kit");
    fs::create_directories(kKits + "\\dl\\vol1");
    ASSERT_NO_FATAL_FAILURE(Build("split", "v2.exe", exe, "--volumes 2"));
    const std::string volume1 = kKits + "\\dl\\kit\\setup.1";
    const std::string right = Text(volume1);
    fs::rename(volume1, kKits + "\\dl\\vol1\\setup.1");
    Put(volume1, std::string(right.size(), 'x'));

    EXPECT_EQ(RunQuiet(exe), 0u) << Text(kLog);
    EXPECT_TRUE(Text(kKp3) == Text(Fake("v2"))) << "not updated";
    const std::string log = Text(kLog);
    EXPECT_NE(log.find("refused 1 " + volume1 + " (not the volume"), std::string::npos) << log;
    EXPECT_NE(log.find(kKits + "\\dl\\vol1\\setup.1"), std::string::npos) << log;
}

} // namespace
} // namespace upd::uitest
