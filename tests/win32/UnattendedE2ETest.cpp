// Unattended runs of the real wizard under Wine, as an administrator's script
// starts them: /quiet runs that end well and that end at each kind of
// failure, with their exit codes, the installation afterwards (wholly new or
// wholly old), the log at the path given, and never a window on the screen;
// a /passive run that shows the progress pages only; a wrong command line.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <thread>

#include "E2EFiles_win32.h"
#include "UiDriver_win32.h"
#include "ui/ControlIds.h"
#include "base/File.h"
#include "package/UpdateBuilder.h"
#include "wizard/RunOutcome.h"
#include "wizard/UpdateJournal.h"
#include "wizard/UpdateLog.h"
#include "wizard/UpdateStage.h"

namespace upd::uitest {
namespace {

using namespace upd::ui;
using namespace upd::wizard;
namespace fs = std::filesystem;

constexpr DWORD kRunTimeout = 60000;

const std::string kKp3 = "C:\\Pravion\\kp3.exe";
const std::string kData = "C:\\Pravion\\salarii.dat";
const std::string kStarted = "C:\\Pravion\\kp3-started.txt";
const std::string kKelmira = "C:\\Pravion\\kelmira.dll";
const std::string kKits = "C:\\upd-unattended";
const std::string kLog = "C:\\upd-unattended-log\\pc 7\\actualizare.log";
const std::string kTagName = "kp3tag-unattended.txt";
const std::string kTag = std::string(kTagFolder) + "\\" + kTagName;


// What a run showed on the screen, watched from its start to its end: the
// visible top-level windows of its process (class names) and the pages of
// its main window that came up.
struct TShown {
    std::set<std::string> Windows;
    std::set<int> Pages;
};

BOOL CALLBACK CollectVisible(HWND window, LPARAM parameter)
{
    auto* watch = reinterpret_cast<std::pair<DWORD, TShown*>*>(parameter);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    if (pid != watch->first || !::IsWindowVisible(window))
        return TRUE;
    char name[64] = {};
    ::GetClassNameA(window, name, sizeof name);
    watch->second->Windows.insert(name);
    if (std::string(name) == "TInstallerMain" && VisiblePage(window) >= 0)
        watch->second->Pages.insert(VisiblePage(window));
    return TRUE;
}

class TUnattendedE2ETest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Clean();
        m_manifest = package::TBuildManifest{};
        fs::create_directories(kKits);
        Put(kKits + "\\date2", Lines("rand", 380) + Lines("nou", 30));
        Put(kKits + "\\date3", Lines("alt", 10) + Lines("rand", 420));
        m_manifest.Stub = BuildPath("app/setup.exe");
        m_manifest.Title = "Actualizare fara intrebari";
        m_manifest.Description = "Pentru mai multe calculatoare.";
        m_manifest.Release = "15";
        m_manifest.ReleaseDate = "9 decembrie 2026";
        m_manifest.TagFileName = kTagName;
        // The new payroll program is the recorder, so that the hand-off shows.
        m_manifest.Patches.push_back({kKp3, {Fake("v1")}, Fake("recorder"), true});
        m_manifest.Patches.push_back({kData, {kKits + "\\date2"}, kKits + "\\date3", false});
        Put(kKp3, Text(Fake("v1")));
        Put(kData, Text(kKits + "\\date2"));
    }

    void TearDown() override { Clean(); }

    static std::string Fake(const std::string& name) { return BuildPath("tests/win32/fake_" + name + ".exe"); }

    static void Clean()
    {
        // The hand-off of an earlier run may still be running from kp3.exe.
        WaitUntilWritable(kKp3, 20000);
        for (const std::string& name : {kKp3, kKp3 + "vf", kData, kData + "vf", kKelmira, kTag, kStarted, kLog})
            Remove(name);
        Remove(kJournalFile);
        std::error_code ignored;
        fs::remove_all(kKits, ignored);
    }

    std::string Build(int volumes = 0)
    {
        std::string exe = kKits + "\\setup.exe";
        package::BuildPackage(m_manifest, exe, volumes, 0, &m_files);
        return exe;
    }

    // Runs the wizard to its end and returns its exit code, watching the
    // screen all the while.
    DWORD Run(const std::string& exe, const std::string& arguments)
    {
        TWizardProcess process(exe, arguments);
        std::atomic<bool> done{false};
        std::pair<DWORD, TShown*> watch{process.Id(), &m_shown};
        std::thread watcher([&] {
            while (!done) {
                ::EnumWindows(&CollectVisible, reinterpret_cast<LPARAM>(&watch));
                ::Sleep(5);
            }
        });
        DWORD code = 255;
        bool ended = process.WaitForExit(kRunTimeout, &code);
        done = true;
        watcher.join();
        EXPECT_TRUE(ended) << "the wizard did not end by itself";
        return code;
    }

    DWORD RunQuiet(const std::string& exe, const std::string& more = {})
    {
        DWORD code = Run(exe, "/quiet " + more + "/log \"" + kLog + "\"");
        EXPECT_EQ(m_shown.Windows, std::set<std::string>{}) << "a quiet run showed a window";
        return code;
    }

    void ExpectNew()
    {
        EXPECT_EQ(Text(kKp3), Text(Fake("recorder")));
        EXPECT_EQ(Text(kKp3 + "vf"), Text(Fake("recorder")));
        EXPECT_EQ(Text(kData), Text(kKits + "\\date3"));
        EXPECT_EQ(Text(kData + "vf"), Text(kKits + "\\date3"));
        EXPECT_TRUE(FileExists(kTag));
    }

    void ExpectOld()
    {
        EXPECT_EQ(Text(kKp3), Text(Fake("v1")));
        EXPECT_EQ(Text(kData), Text(kKits + "\\date2"));
        for (const std::string& name : {kKp3 + "vf", kData + "vf", kTag, kStarted})
            EXPECT_FALSE(FileExists(name)) << name;
        EXPECT_FALSE(FileExists(kJournalFile));
    }

    // The log at the given path: UTF-8 with its byte order mark, this run's
    // start and end, and each of `events` (a prefix of a line's event and text).
    void ExpectLog(int status, const std::vector<std::string>& events)
    {
        ASSERT_TRUE(FileExists(kLog)) << "no log at " << kLog;
        std::string log = Text(kLog);
        EXPECT_EQ(log.substr(0, 3), "\xEF\xBB\xBF");
        EXPECT_NE(log.find(" start " + kKits + "\\setup.exe\r\n"), std::string::npos) << log;
        EXPECT_NE(log.find(" mode quiet, log " + kLog + "\r\n"), std::string::npos) << log;
        EXPECT_NE(log.find("(status " + std::to_string(status) + ")\r\n"), std::string::npos) << log;
        for (const std::string& event : events)
            EXPECT_NE(log.find(" " + event), std::string::npos) << event << "\n" << log;
    }

    package::TBuildManifest m_manifest;
    package::TPackageFiles m_files;
    TShown m_shown;
};

TEST_F(TUnattendedE2ETest, QuietRunUpdatesAndHandsOver)
{
    // A companion library of the known version with other content: the
    // warning goes to the log and the run goes on, as after its OK.
    m_manifest.MustHaveSets.push_back({{kKelmira, Fake("v2"), true}});
    Put(kKelmira, Text(Fake("v2b")));
    std::string exe = Build();
    EXPECT_EQ(RunQuiet(exe), static_cast<DWORD>(kExitUpdated));
    ExpectNew();
    // As the final page does: the new payroll program, told to refresh.
    ASSERT_TRUE(WaitUntil([] { return FileExists(kStarted); }, 20000)) << "the payroll program was not started";
    ::Sleep(100); // the recorder's one line
    EXPECT_EQ(Text(kStarted), "\"" + kKp3 + "\" pregateste_kelmira\n");
    ExpectLog(kExitUpdated, {"finding warning must-have 1/1 verdict 1 (modified)", "committed every file is in place",
                             "end success update"});
}

TEST_F(TUnattendedE2ETest, QuietRunStopsAtEachFailureWithItsCode)
{
    struct Case {
        const char* Name;
        int Volumes;
        int Code;
        std::vector<std::string> LogEvents;
    };
    const Case cases[] = {
        {"validation refusal", 0, kExitRefused, {"finding fatal patch 2/2 verdict 6 (corrupt)"}},
        {"missing volume", 2, kExitDataDamaged,
         {"error archive Exception | Programul de actualizare are nevoie de fisierul setup.2, dar nu l-a gasit"}},
        {"file held open past the wait", 0, kExitFileInUse,
         {"busy Fisierul C:\\Pravion\\salarii.dat nu poate fi inlocuit acum", "busy still in use after 2 s"}},
        {"replacement failure", 0, kExitFailedRestored, {"rollback whole", "Eroare simulata de test (pasul 9)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        SetUp();
        m_shown = {};
        std::string exe = Build(c.Volumes);
        std::string name = c.Name;
        if (name == "validation refusal")
            Put(kData, "modificat de altcineva\r\n");
        if (name == "missing volume")
            Remove(m_files.VolumeFileNames.back());
        HANDLE lock = INVALID_HANDLE_VALUE;
        if (name == "file held open past the wait")
            lock = ::CreateFileA(kData.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        // The tests' build waits 2 s for a file in use instead of 60.
        TEnvironment wait("UPD_TEST_IN_USE_WAIT_MS", 2000);
        TEnvironment fail("UPD_TEST_FAIL_FILE_OP", name == "replacement failure" ? 9 : 0);
        EXPECT_EQ(RunQuiet(exe), static_cast<DWORD>(c.Code));
        if (lock != INVALID_HANDLE_VALUE)
            ::CloseHandle(lock);
        if (name == "validation refusal") {
            EXPECT_EQ(Text(kData), "modificat de altcineva\r\n");
            EXPECT_EQ(Text(kKp3), Text(Fake("v1")));
        } else {
            ExpectOld();
        }
        ExpectLog(c.Code, c.LogEvents);
        if (HasFailure())
            break;
    }
}

TEST_F(TUnattendedE2ETest, PassiveRunShowsOnlyTheProgressPages)
{
    std::string exe = Build(1);
    EXPECT_EQ(Run(exe, "/passive"), static_cast<DWORD>(kExitUpdated));
    ExpectNew();
    EXPECT_EQ(m_shown.Windows, std::set<std::string>{"TInstallerMain"}) << "no message box, no dialog";
    EXPECT_EQ(m_shown.Pages.count(0), 0u) << "no intro page";
    EXPECT_EQ(m_shown.Pages.count(4), 0u) << "no final page";
    EXPECT_TRUE(WaitUntil([] { return FileExists(kStarted); }, 20000)) << "the payroll program was not started";
}

TEST_F(TUnattendedE2ETest, WrongCommandLineListsTheOptions)
{
    std::string exe = Build();
    // Quiet: only the code, and the reason in the log asked for.
    EXPECT_EQ(RunQuiet(exe, "/nimic "), static_cast<DWORD>(kExitBadCommandLine));
    ExpectOld();
    EXPECT_NE(Text(kLog).find(" error start Exception | Argumentul \"/nimic\" nu este cunoscut"), std::string::npos)
        << Text(kLog);
    EXPECT_NE(Text(kLog).find("(status 18)"), std::string::npos);

    // Otherwise the message names the argument and every option.
    TWizardProcess process(exe, "/nimic");
    HWND box = WaitForMessageBox(process.Id(), 30000);
    ASSERT_NE(box, nullptr);
    std::string text = MessageBoxText(box);
    EXPECT_EQ(text.rfind("Argumentul \"/nimic\" nu este cunoscut", 0), 0u) << text;
    for (const char* option : {"/quiet", "/S", "/VERYSILENT", "/passive", "/log"})
        EXPECT_NE(text.find(option), std::string::npos) << option;
    AnswerMessageBox(box, IDOK);
    DWORD code = 0;
    EXPECT_TRUE(process.WaitForExit(20000, &code));
    EXPECT_EQ(code, static_cast<DWORD>(kExitBadCommandLine));
    ExpectOld();
}

// While one run waits for a file in use, a second one ends at once; the first
// goes on when the file is freed within its wait.
TEST_F(TUnattendedE2ETest, SecondRunEndsAtOnceAndTheFirstGoesOnWhenTheFileIsFreed)
{
    std::string exe = Build();
    HANDLE lock = ::CreateFileA(kData.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    TEnvironment wait("UPD_TEST_IN_USE_WAIT_MS", 30000);
    TWizardProcess first(exe, "/quiet /log \"" + kLog + "\"");
    EXPECT_TRUE(WaitUntil([] { return FileExists(kLog) && Text(kLog).find(" busy ") != std::string::npos; }, 20000));
    EXPECT_EQ(RunQuiet(exe, "/S "), static_cast<DWORD>(kExitAlreadyRunning));
    ::CloseHandle(lock);
    DWORD code = 255;
    EXPECT_TRUE(first.WaitForExit(kRunTimeout, &code));
    EXPECT_EQ(code, static_cast<DWORD>(kExitUpdated));
    ExpectNew();
}

// The graphical run with a command line ends with the same codes.
TEST_F(TUnattendedE2ETest, GraphicalRunWithALogEndsWithTheCodes)
{
    std::string exe = Build();
    TWizardProcess process(exe, "/log \"" + kLog + "\"");
    HWND main = WaitForMainWindow(process.Id(), 30000);
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(VisiblePage(main), 0);
    Click(MainControl(main, kIdButton2));
    DWORD code = 0;
    EXPECT_TRUE(process.WaitForExit(20000, &code));
    EXPECT_EQ(code, static_cast<DWORD>(kExitCancelled));
    EXPECT_NE(Text(kLog).find(" mode full, log " + kLog), std::string::npos);
    ExpectOld();
}

// A /log name that a user made a link to another file (a Linux link stands
// in for the junctions and object-manager links of Windows): the update runs,
// the file the link leads to keeps its bytes, and the wizard's own log says
// that the /log could not be used.
TEST_F(TUnattendedE2ETest, LogThroughALinkIsNotWrittenThrough)
{
    const std::string target = kKits + "\\de neatins.txt", link = kKits + "\\legatura.log", made = kKits + "\\made";
    Put(target, "continutul de dinainte\r\n");
    RunAndWait("/bin/sh -c \"ln -s '" + UnixPath(target) + "' '" + UnixPath(link) + "' && touch '" + UnixPath(made) +
               "'\"");
    ASSERT_TRUE(WaitUntil([&] { return FileExists(made); }, 20000));
    const std::size_t ownStart = FileExists(kLogFile) ? Text(kLogFile).size() : 0;
    std::string exe = Build();
    EXPECT_EQ(Run(exe, "/quiet /log \"" + link + "\""), static_cast<DWORD>(kExitUpdated));
    ExpectNew();
    EXPECT_EQ(Text(target), "continutul de dinainte\r\n");
    const std::string own = Text(kLogFile).substr(ownStart);
    EXPECT_NE(own.find(" nolog " + link + ": "), std::string::npos) << own;
    EXPECT_NE(own.find(" end success update (status 0)"), std::string::npos) << own;
    // Wine sees no link that leads nowhere, so it is removed from Linux.
    Remove(target);
    RunAndWait("/bin/sh -c \"rm -f '" + UnixPath(link) + "' && rm -f '" + UnixPath(made) + "'\"");
    ASSERT_TRUE(WaitUntil([&] { return !FileExists(made); }, 20000));
}

} // namespace
} // namespace upd::uitest
