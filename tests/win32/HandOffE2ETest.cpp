// The hand-off of the release wizard under Wine: the payroll program that
// the update put in place is the one started, whatever a program of the user
// does to C:\Pravion while the final page waits or a passive run ends.
#include <gtest/gtest.h>

#include <filesystem>

#include "E2EFiles_win32.h"
#include "UiDriver_win32.h"
#include "ui/ControlIds.h"
#include "base/File.h"
#include "package/Md5Hash.h"
#include "package/UpdateBuilder.h"
#include "wizard/RunOutcome.h"
#include "wizard/UpdateLog.h"

namespace upd::uitest {
namespace {

using namespace upd::ui;

constexpr DWORD kTimeout = 30000;

const std::string kFolder = "C:\\Pravion";
const std::string kKp3 = kFolder + "\\kp3.exe";
const std::string kStarted = kFolder + "\\kp3-started.txt";
const std::string kImpostorStarted = kFolder + "\\impostor-started.txt";
const std::string kKits = "C:\\upd-handoff-e2e";

std::string Fake(const std::string& name) { return BuildPath("tests/win32/fake_" + name + ".exe"); }

class THandOffE2ETest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Clean();
        std::filesystem::create_directories(kKits);
        std::filesystem::create_directories(kFolder);
        m_manifest.Stub = BuildPath("release/setup.exe");
        m_manifest.Title = "Predare";
        m_manifest.Description = "Programul nou.";
        m_manifest.Release = "16";
        m_manifest.ReleaseDate = "10 decembrie 2026";
        m_manifest.TagFileName = "kp3tag-predare.txt";
        // The new payroll program records its start.
        m_manifest.Patches.push_back({kKp3, {Fake("v1")}, Fake("recorder"), true});
        Put(kKp3, Text(Fake("v1")));
        m_exe = kKits + "\\setup.exe";
        package::BuildPackage(m_manifest, m_exe, 0, 0, &m_files);
        m_logStart = FileExists(wizard::kLogFile) ? Text(wizard::kLogFile).size() : 0;
    }
    void TearDown() override { Clean(); }

    static void Clean()
    {
        WaitUntilWritable(kKp3, 20000);
        for (const std::string& name : {kKp3, kKp3 + "vf", kKp3 + ".vechi", kStarted, kImpostorStarted})
            Remove(name);
        std::error_code ignored;
        std::filesystem::remove_all(kKits, ignored);
        Remove(std::string("C:\\Program Files\\Tarvix\\Kp3Tag\\Tag\\kp3tag-predare.txt"));
    }

    // This run's lines of the wizard's own log.
    std::string RunLog() const
    {
        const std::string all = FileExists(wizard::kLogFile) ? Text(wizard::kLogFile) : std::string();
        return all.size() > m_logStart ? all.substr(m_logStart) : std::string();
    }

    void ToTheFinalPage()
    {
        m_process = std::make_unique<TWizardProcess>(m_exe);
        m_main = WaitForMainWindow(m_process->Id(), kTimeout);
        ASSERT_NE(m_main, nullptr);
        ASSERT_TRUE(WaitUntilEnabled(MainControl(m_main, kIdButton1), kTimeout));
        Click(MainControl(m_main, kIdButton1));
        ASSERT_TRUE(WaitForPage(m_main, 4, kTimeout)) << "the wizard did not reach the final page";
        ASSERT_TRUE(WaitUntilEnabled(MainControl(m_main, kIdButton1), kTimeout));
        EXPECT_EQ(Text(kKp3), Text(Fake("recorder")));
    }

    package::TBuildManifest m_manifest;
    package::TPackageFiles m_files;
    std::string m_exe;
    std::size_t m_logStart = 0;
    std::unique_ptr<TWizardProcess> m_process;
    HWND m_main = nullptr;
};

// Everything this Windows program tries while the final page waits is
// refused by what the wizard holds; Finalizeaza starts the update's file.
TEST_F(THandOffE2ETest, WhileTheFinalPageWaitsThePayrollProgramCannotBeExchanged)
{
    ASSERT_NO_FATAL_FAILURE(ToTheFinalPage());
    ::SetFileAttributesA(kKp3.c_str(), FILE_ATTRIBUTE_NORMAL);
    struct Attempt {
        const char* Name;
        BOOL (*Try)();
    };
    const Attempt attempts[] = {
        {"rename the program", [] { return ::MoveFileA(kKp3.c_str(), (kKp3 + ".vechi").c_str()); }},
        {"rename the folder", [] { return ::MoveFileA(kFolder.c_str(), (kFolder + "-vechi").c_str()); }},
        {"write the program",
         [] {
             HANDLE h = ::CreateFileA(kKp3.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
             if (h == INVALID_HANDLE_VALUE)
                 return FALSE;
             ::CloseHandle(h);
             return TRUE;
         }},
    };
    for (const Attempt& attempt : attempts) {
        SCOPED_TRACE(attempt.Name);
        EXPECT_FALSE(attempt.Try());
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
    // As the attacker would, had the rename worked.
    EXPECT_FALSE(::CopyFileA(Fake("impostor").c_str(), kKp3.c_str(), FALSE));

    Click(MainControl(m_main, kIdButton1));
    DWORD code = 1;
    EXPECT_TRUE(m_process->WaitForExit(kTimeout, &code));
    EXPECT_EQ(code, 0u);
    ASSERT_TRUE(WaitUntil([] { return FileExists(kStarted); }, kTimeout)) << RunLog();
    WaitUntilWritable(kKp3, kTimeout); // the recorder has ended
    EXPECT_EQ(Text(kStarted), "\"" + kKp3 + "\" pregateste_kelmira\n");
    EXPECT_FALSE(FileExists(kImpostorStarted));
    const std::string log = RunLog();
    EXPECT_NE(log.find(" handoff held " + kKp3 + " digest " + package::FileMD5Text(Fake("recorder"))), std::string::npos)
        << log;
    EXPECT_NE(log.find(" handoff started " + kKp3 + " as the desktop user\r\n"), std::string::npos) << log;
}

// A rename from Linux passes every share mode (as a kernel-mode attacker
// would on Windows): the name then leads to another file, which the
// hand-off sees and refuses to start; the update itself succeeded.
TEST_F(THandOffE2ETest, AProgramPutUnderTheNameBehindTheHoldIsNotStarted)
{
    ASSERT_NO_FATAL_FAILURE(ToTheFinalPage());
    const std::string done = kKits + "\\swapped";
    RunAndWait("/bin/sh -c \"mv '" + UnixPath(kKp3) + "' '" + UnixPath(kKp3) + ".vechi' && cp '" +
               UnixPath(Fake("impostor")) + "' '" + UnixPath(kKp3) + "' && touch '" + UnixPath(done) + "'\"");
    ASSERT_TRUE(WaitUntil([&] { return FileExists(done); }, kTimeout));
    ASSERT_EQ(Text(kKp3), Text(Fake("impostor")));

    Click(MainControl(m_main, kIdButton1));
    HWND box = WaitForMessageBox(m_process->Id(), kTimeout);
    ASSERT_NE(box, nullptr);
    EXPECT_NE(MessageBoxText(box).find("Programul C:\\Pravion\\kp3.exe nu mai este cel instalat de actualizare"),
              std::string::npos)
        << MessageBoxText(box);
    EXPECT_NE(MessageBoxText(box).find("nu il pornesc"), std::string::npos);
    ASSERT_TRUE(AnswerMessageBox(box, IDOK));
    DWORD code = 1;
    EXPECT_TRUE(m_process->WaitForExit(kTimeout, &code));
    EXPECT_EQ(code, 0u) << "the update succeeded: its exit code stays";
    EXPECT_FALSE(FileExists(kImpostorStarted));
    EXPECT_FALSE(FileExists(kStarted));
    EXPECT_NE(RunLog().find(" handoff not started, not verified: "), std::string::npos) << RunLog();
}

// A passive run hands off at once; a program of the user tries to exchange
// the new file from the moment it is in place until the run has ended.
TEST_F(THandOffE2ETest, APassiveRunNeverStartsWhatAnotherProgramPutInPlace)
{
    const std::string stop = kKits + "\\stop", count = kKits + "\\count";
    const std::string line = "\"" + Fake("swapper") + "\" \"" + kKp3 + "\" " +
                             std::to_string(Text(Fake("recorder")).size()) + " \"" + Fake("impostor") + "\" \"" +
                             stop + "\" \"" + count + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION swapper{};
    std::string buffer = line;
    ASSERT_TRUE(::CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                 &swapper));
    DWORD code = 1;
    {
        TWizardProcess process(m_exe, "/passive");
        EXPECT_TRUE(process.WaitForExit(60000, &code));
    }
    EXPECT_EQ(code, static_cast<DWORD>(wizard::kExitUpdated));
    // The wizard has ended: whatever it started is started.
    const std::string log = RunLog();
    const bool started = log.find(" handoff started ") != std::string::npos;
    EXPECT_TRUE(started || log.find(" handoff not started, not verified: ") != std::string::npos) << log;
    if (started)
        EXPECT_TRUE(WaitUntil([] { return FileExists(kStarted); }, kTimeout));
    Put(stop, "x");
    ::WaitForSingleObject(swapper.hProcess, kTimeout);
    ::CloseHandle(swapper.hProcess);
    ::CloseHandle(swapper.hThread);
    ASSERT_TRUE(FileExists(count));
    std::printf("swapper: attempts and renames that succeeded: %s", Text(count).c_str());
    EXPECT_FALSE(FileExists(kImpostorStarted)) << "the wizard started the other program";
}

} // namespace
} // namespace upd::uitest
