// The elevated wizard against the programs of its own user, under Wine with
// the real wizard and real packages: a program that rewrites every file of
// the run it can open, links planted in the temporary folder beforehand, and
// the release program, which reads no test hook from its environment.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "E2EFiles_win32.h"
#include "UiDriver_win32.h"
#include "ui/ControlIds.h"
#include "base/File.h"
#include "package/UpdateBuilder.h"
#include "wizard/UpdateJournal.h"
#include "wizard/UpdateLog.h"
#include "wizard/UpdateStage.h"
#include "wizard/WorkFolder_win32.h"

namespace upd::uitest {
namespace {

using namespace upd::ui;
namespace fs = std::filesystem;

constexpr DWORD kStartTimeout = 30000;
constexpr DWORD kStepTimeout = 20000;

const std::string kFolder = "C:\\Pravion";
const std::string kKits = "C:\\upd-elevated";
const std::string kTagName = "kp3tag-elevated.txt";
const std::string kTag = std::string(wizard::kTagFolder) + "\\" + kTagName;

std::string UserTempFolder()
{
    wchar_t path[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, path);
    std::string folder = fs::path(path).string();
    while (!folder.empty() && folder.back() == '\\')
        folder.pop_back();
    return folder;
}

struct TInstalledFile {
    std::string Target;
    std::string Old;
    std::string New;
};

// The attacker program, stopped (and its counts read) when it goes away.
class TAttacker {
public:
    TAttacker(int pauseMs, const std::vector<std::string>& patterns)
    {
        Remove(m_stop);
        Remove(m_counts);
        std::string command = "\"" + BuildPath("tests/win32/file_attacker.exe") + "\" " + std::to_string(pauseMs) +
                              " \"" + m_stop + "\" \"" + m_counts + "\"";
        for (const std::string& pattern : patterns)
            command += " \"" + pattern + "\"";
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        EXPECT_TRUE(::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                     &m_info));
    }
    ~TAttacker() { Stop(); }
    /// Files rewritten per pattern.
    std::vector<long> Stop()
    {
        if (m_info.hProcess) {
            Put(m_stop, "stop");
            if (::WaitForSingleObject(m_info.hProcess, kStepTimeout) != WAIT_OBJECT_0)
                ::TerminateProcess(m_info.hProcess, 1);
            ::CloseHandle(m_info.hProcess);
            ::CloseHandle(m_info.hThread);
            m_info = {};
            Remove(m_stop);
            if (FileExists(m_counts)) {
                std::string text = Text(m_counts);
                for (std::size_t at = 0; at < text.size();) {
                    std::size_t end = text.find('\n', at);
                    m_result.push_back(std::atol(text.substr(at, end - at).c_str()));
                    at = end == std::string::npos ? text.size() : end + 1;
                }
                Remove(m_counts);
            }
        }
        return m_result;
    }

private:
    const std::string m_stop = kKits + "\\attacker.stop";
    const std::string m_counts = kKits + "\\attacker.counts";
    PROCESS_INFORMATION m_info{};
    std::vector<long> m_result;
};

class TElevatedRunE2ETest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(kKits);
        fs::create_directories(kFolder);
        Put(kKits + "\\date1", Lines("rand", 400));
        Put(kKits + "\\date2", Lines("rand", 380) + Lines("nou", 30));
        Put(kKits + "\\date3", Lines("alt", 10) + Lines("rand", 420));
        m_files = {{kFolder + "\\kp3.exe", Fake("v1"), Fake("v3")},
                   {kFolder + "\\salarii.dat", kKits + "\\date2", kKits + "\\date3"}};
        m_manifest.Stub = BuildPath("app/setup.exe");
        m_manifest.Title = "Actualizare de proba";
        m_manifest.Description = "Sub administrator.";
        m_manifest.Release = "15";
        m_manifest.ReleaseDate = "9 decembrie 2026";
        m_manifest.TagFileName = kTagName;
        m_manifest.Patches.push_back({m_files[0].Target, {Fake("v1"), Fake("v2")}, Fake("v3"), true});
        m_manifest.Patches.push_back({m_files[1].Target, {kKits + "\\date1", kKits + "\\date2"}, kKits + "\\date3",
                                      false});
    }

    void TearDown() override
    {
        m_process.reset();
        Clean();
    }

    static std::string Fake(const std::string& name) { return BuildPath("tests/win32/fake_" + name + ".exe"); }

    void Clean()
    {
        WaitUntilWritable(m_files[0].Target, kStepTimeout);
        for (const auto& entry : fs::directory_iterator(kFolder))
            for (const TInstalledFile& f : m_files)
                if (entry.path().string().rfind(f.Target, 0) == 0)
                    Remove(entry.path().string());
        Remove(kTag);
        Remove(wizard::kJournalFile);
    }

    // Every installed file has its twin, read-only.
    void Install()
    {
        Clean();
        for (const TInstalledFile& f : m_files) {
            Put(f.Target, Text(f.Old));
            Put(f.Target + "vf", Text(f.Old));
            ::SetFileAttributesA((f.Target + "vf").c_str(), FILE_ATTRIBUTE_READONLY);
        }
    }

    void Build()
    {
        m_exe = kKits + "\\elevated.exe";
        package::BuildPackage(m_manifest, m_exe, 0, 0, nullptr);
    }

    void Launch()
    {
        m_process = std::make_unique<TWizardProcess>(m_exe);
        m_main = WaitForMainWindow(m_process->Id(), kStartTimeout);
        ASSERT_NE(m_main, nullptr);
        ASSERT_TRUE(WaitUntilEnabled(MainControl(m_main, kIdButton1), kStepTimeout));
        Click(MainControl(m_main, kIdButton1));
    }

    // The final page (pressed) or a message box (answered); the box's text.
    std::string RunToEnd()
    {
        HWND box = nullptr;
        bool done = WaitUntil(
            [&] {
                box = FindMessageBox(m_process->Id());
                return box != nullptr || VisiblePage(m_main) == 4;
            },
            kStepTimeout);
        EXPECT_TRUE(done) << "neither the final page nor a message";
        std::string text;
        if (box) {
            text = MessageBoxText(box);
            AnswerMessageBox(box, IDOK);
        } else if (done) {
            WaitUntilEnabled(MainControl(m_main, kIdButton1), kStepTimeout);
            Click(MainControl(m_main, kIdButton1));
        }
        EXPECT_TRUE(m_process->WaitForExit(kStepTimeout)) << "the wizard did not end";
        return text;
    }

    // Wholly new (twins equal to their files) or wholly old, nothing else.
    bool WhollyNew() const
    {
        for (const TInstalledFile& f : m_files)
            if (Text(f.Target) != Text(f.New) || Text(f.Target + "vf") != Text(f.New))
                return false;
        return FileExists(kTag);
    }
    bool WhollyOld() const
    {
        for (const TInstalledFile& f : m_files)
            if (Text(f.Target) != Text(f.Old) || Text(f.Target + "vf") != Text(f.Old))
                return false;
        return !FileExists(kTag);
    }

    std::vector<TInstalledFile> m_files;
    package::TBuildManifest m_manifest;
    std::string m_exe;
    std::unique_ptr<TWizardProcess> m_process;
    HWND m_main = nullptr;
};


// Under Wine every program may write wherever the wizard may (no access
// lists), so what keeps the attacker out here is what the wizard holds open
// and what it checks before a file goes into place. Every third run also
// attacks the work files in the work folder, which on Windows only
// administrators can open. Not the instance lock beside them: a file held
// between two runs keeps the next one out, and only the folder's access
// list, which Wine does not enforce, protects it.
TEST_F(TElevatedRunE2ETest, AProgramRewritingTheRunsFilesNeverGetsThemInstalled)
{
    Build();
    int updated = 0, refused = 0;
    long stagedHits = 0, workHits = 0;
    for (int run = 0; run < 20; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        Install();
        std::vector<std::string> patterns = {UserTempFolder() + "\\*", kFolder + "\\*.nou*"};
        if (run % 3 == 2)
            patterns.push_back(std::string(wizard::kWorkFolder) + "\\Patch*");
        std::string message;
        std::vector<long> hits;
        {
            // Different timings: the attacker's pause and the wizard's pause
            // before each step of the replacement.
            const int pauses[] = {0, 2, 25, 80};
            TEnvironment slow("UPD_TEST_FILE_OP_DELAY_MS", run * 7 % 31);
            TAttacker attacker(pauses[run % 4], patterns);
            ASSERT_NO_FATAL_FAILURE(Launch());
            message = RunToEnd();
            hits = attacker.Stop();
        }
        ASSERT_EQ(hits.size(), patterns.size());
        stagedHits += hits[1];
        workHits += hits.size() > 2 ? hits[2] : 0;
        if (message.empty()) {
            ++updated;
            EXPECT_TRUE(WhollyNew()) << "success with a file that is not the package's";
        } else {
            ++refused;
            if (refused == 1)
                std::printf("[ attacker ] run %d stopped: %s\n", run, message.c_str());
            EXPECT_TRUE(WhollyOld()) << message;
        }
        for (const TInstalledFile& f : m_files)
            EXPECT_EQ(Text(f.Target).find("rescris de un alt program"), std::string::npos) << f.Target;
        if (HasFailure())
            break;
    }
    std::printf("[ attacker ] 20 runs: %d updated, %d stopped with everything old; staged copies rewritten %ld "
                "times, work files %ld times\n",
                updated, refused, stagedHits, workHits);
    EXPECT_GT(stagedHits, 0) << "the attacker never reached a staged copy: the test shows nothing";
}

// Run by planted-links.sh, which plants the links from Linux before and
// checks what they lead to after (a Wine program cannot make a link).
TEST_F(TElevatedRunE2ETest, LinksPlantedInTheTemporaryFolderAreNotFollowed)
{
    if (!std::getenv("UPD_PLANTED_LINKS"))
        GTEST_SKIP() << "run by tests/win32/planted-links.sh";
    Build();
    Install();
    // A log that cannot be written in its own place must not move to the
    // temporary folder, where a link waits under its name.
    HANDLE log = ::CreateFileA(wizard::kLogFile, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(log, INVALID_HANDLE_VALUE);
    ASSERT_NO_FATAL_FAILURE(Launch());
    EXPECT_EQ(RunToEnd(), "");
    ::CloseHandle(log);
    EXPECT_TRUE(WhollyNew());
}

// The release program has no hooks: the variables that fail and slow the
// test build's steps change nothing in an update.
TEST_F(TElevatedRunE2ETest, TheReleaseProgramRunsTheSameWithTheTestHooksSet)
{
    m_manifest.Stub = BuildPath("release/setup.exe");
    Build();
    Install();
    TEnvironment fail("UPD_TEST_FAIL_FILE_OP", 1);
    TEnvironment slow("UPD_TEST_FILE_OP_DELAY_MS", 600000);
    TEnvironment crawl("UPD_TEST_PROGRESS_DELAY_MS", 600000);
    ASSERT_NO_FATAL_FAILURE(Launch());
    EXPECT_EQ(RunToEnd(), "");
    EXPECT_TRUE(WhollyNew());
}

} // namespace
} // namespace upd::uitest
