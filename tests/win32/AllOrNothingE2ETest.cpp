// The update all or nothing, with the real wizard under Wine and real
// packages: a step of the replacement failing at every place, a file held
// by another program, kills at random moments followed by a run to the end,
// and closing during every stage.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "E2EFiles_win32.h"
#include "UiDriver_win32.h"
#include "app/ControlIds.h"
#include "base/File.h"
#include "package/UpdateBuilder.h"
#include "wizard/UpdateJournal.h"
#include "wizard/UpdateStage.h"
#include "wizard/WorkFolder_win32.h"

namespace upd::uitest {
namespace {

using namespace upd::app;
namespace fs = std::filesystem;

constexpr DWORD kStartTimeout = 30000;
constexpr DWORD kStepTimeout = 20000;

const std::string kFolder = "C:\\Pravion";
const std::string kKits = "C:\\upd-atomic";
const std::string kTagName = "kp3tag-atomic.txt";
const std::string kTag = std::string(wizard::kTagFolder) + "\\" + kTagName;

std::string TempFolder()
{
    wchar_t path[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, path);
    return fs::path(path).string();
}

// An environment variable for the wizards started while it lives.
class TEnvironment {
public:
    TEnvironment(const char* name, int value) : m_name(name)
    {
        ::SetEnvironmentVariableA(name, std::to_string(value).c_str());
    }
    ~TEnvironment() { ::SetEnvironmentVariableA(m_name, nullptr); }

private:
    const char* m_name;
};

struct TInstalledFile {
    std::string Target;
    std::string Old;  ///< kit file of the installed old version
    std::string New;  ///< kit file of the new version
    bool Twin;        ///< a read-only twin is installed beside it
};

class TAllOrNothingE2ETest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(kKits);
        fs::create_directories(kFolder);
        Put(kKits + "\\date1", Lines("rand", 400));
        Put(kKits + "\\date2", Lines("rand", 380) + Lines("nou", 30));
        Put(kKits + "\\date3", Lines("alt", 10) + Lines("rand", 420));
        Put(kKits + "\\tabel1", Lines("tabel", 200));
        Put(kKits + "\\tabel2", Lines("tabel", 150) + Lines("coloana", 80));
        m_files = {{kFolder + "\\kp3.exe", Fake("v1"), Fake("v3"), true},
                   {kFolder + "\\salarii.dat", kKits + "\\date2", kKits + "\\date3", true},
                   {kFolder + "\\tabele.dat", kKits + "\\tabel1", kKits + "\\tabel2", false}};
        m_manifest.Stub = BuildPath("app/setup.exe");
        m_manifest.Title = "Actualizare de proba";
        m_manifest.Description = "Totul sau nimic.";
        m_manifest.Release = "14";
        m_manifest.ReleaseDate = "8 decembrie 2026";
        m_manifest.TagFileName = kTagName;
        m_manifest.Patches.push_back({m_files[0].Target, {Fake("v1"), Fake("v2")}, Fake("v3"), true});
        m_manifest.Patches.push_back({m_files[1].Target, {kKits + "\\date1", kKits + "\\date2"}, kKits + "\\date3",
                                      false});
        m_manifest.Patches.push_back({m_files[2].Target, {kKits + "\\tabel1"}, kKits + "\\tabel2", false});
        Clean();
    }

    void TearDown() override
    {
        m_process.reset();
        Clean();
    }

    static std::string Fake(const std::string& name) { return BuildPath("tests/win32/fake_" + name + ".exe"); }

    // Nothing of ours in the installation folder, the tag folder, the work
    // folder or the temporary folder, and no journal.
    void Clean()
    {
        WaitUntilWritable(m_files[0].Target, kStepTimeout);
        for (const auto& entry : fs::directory_iterator(kFolder))
            for (const TInstalledFile& f : m_files)
                if (entry.path().string().rfind(f.Target, 0) == 0)
                    Remove(entry.path().string());
        Remove(kTag);
        Remove(kTag + ".tmp");
        Remove(wizard::kJournalFile);
        Remove(std::string(wizard::kJournalFile) + ".tmp");
        for (const std::string& name : TempLeftovers())
            Remove(name);
    }

    // Work files of a run in the work folder, or (as older wizards left
    // them) in the temporary folder.
    std::vector<std::string> TempLeftovers() const
    {
        std::vector<std::string> names;
        for (const std::string folder : {TempFolder(), std::string(wizard::kWorkFolder)}) {
            if (!fs::is_directory(folder))
                continue;
            for (const auto& entry : fs::directory_iterator(folder)) {
                std::string name = entry.path().filename().string();
                for (const char* prefix : {"PatchTotal_", "Patched_", "Patch_"})
                    if (name.rfind(prefix, 0) == 0)
                        names.push_back(entry.path().string());
            }
        }
        return names;
    }

    void Install()
    {
        Clean();
        for (const TInstalledFile& f : m_files) {
            Put(f.Target, Text(f.Old));
            if (f.Twin) {
                Put(f.Target + "vf", Text(f.Old));
                ::SetFileAttributesA((f.Target + "vf").c_str(), FILE_ATTRIBUTE_READONLY);
            }
        }
    }

    void Build(int volumes = 0)
    {
        m_exe = kKits + "\\atomic.exe";
        package::BuildPackage(m_manifest, m_exe, volumes, 0, nullptr);
    }

    void Launch()
    {
        m_process = std::make_unique<TWizardProcess>(m_exe);
        m_main = WaitForMainWindow(m_process->Id(), kStartTimeout);
        ASSERT_NE(m_main, nullptr);
        ASSERT_TRUE(WaitUntilEnabled(MainControl(m_main, kIdButton1), kStepTimeout));
        Click(MainControl(m_main, kIdButton1));
    }

    // Waits for the final page (pressed, so the wizard ends) or a message box
    // (answered OK); returns the box's text, or "" for the final page.
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
        } else {
            EXPECT_EQ(ProgressPosition(PageControl(m_main, 3, kIdProgressBar1)), 30000) << "the bar ends at its end";
            WaitUntilEnabled(MainControl(m_main, kIdButton1), kStepTimeout);
            Click(MainControl(m_main, kIdButton1));
        }
        EXPECT_TRUE(m_process->WaitForExit(kStepTimeout)) << "the wizard did not end";
        return text;
    }

    void ExpectOld()
    {
        for (const TInstalledFile& f : m_files) {
            SCOPED_TRACE(f.Target);
            EXPECT_EQ(Text(f.Target), Text(f.Old));
            if (f.Twin) {
                EXPECT_EQ(Text(f.Target + "vf"), Text(f.Old));
                EXPECT_TRUE(ReadOnly(f.Target + "vf"));
            } else {
                EXPECT_FALSE(FileExists(f.Target + "vf"));
            }
        }
        EXPECT_FALSE(FileExists(kTag));
    }

    void ExpectNew()
    {
        for (const TInstalledFile& f : m_files) {
            SCOPED_TRACE(f.Target);
            EXPECT_EQ(Text(f.Target), Text(f.New));
            EXPECT_EQ(Text(f.Target + "vf"), Text(f.New));
        }
        EXPECT_TRUE(FileExists(kTag));
    }

    // Only the installed files and their twins beside each other; nothing of
    // the run in the work folder or the temporary folder; no journal.
    void ExpectNoLeftovers()
    {
        for (const auto& entry : fs::directory_iterator(kFolder)) {
            std::string name = entry.path().string();
            for (const TInstalledFile& f : m_files) {
                if (name.rfind(f.Target, 0) == 0) {
                    EXPECT_TRUE(name == f.Target || name == f.Target + "vf") << "left behind: " << name;
                }
            }
        }
        EXPECT_EQ(TempLeftovers(), std::vector<std::string>{});
        EXPECT_FALSE(FileExists(wizard::kJournalFile));
        EXPECT_FALSE(FileExists(kTag + ".tmp"));
    }

    std::vector<TInstalledFile> m_files;
    package::TBuildManifest m_manifest;
    std::string m_exe;
    std::unique_ptr<TWizardProcess> m_process;
    HWND m_main = nullptr;
};

TEST_F(TAllOrNothingE2ETest, AFailedStepOfTheReplacementPutsEveryFileBack)
{
    Build();
    int k = 1;
    for (; k < 40; ++k) {
        SCOPED_TRACE("step " + std::to_string(k) + " fails");
        Install();
        std::string message;
        {
            TEnvironment fail("UPD_TEST_FAIL_FILE_OP", k);
            ASSERT_NO_FATAL_FAILURE(Launch());
            message = RunToEnd();
        }
        if (message.empty()) {
            ExpectNew();
            ExpectNoLeftovers();
            break;
        }
        EXPECT_NE(message.find("Nu am putut inlocui fisierul "), std::string::npos) << message;
        EXPECT_NE(message.find("Eroare simulata de test (pasul " + std::to_string(k) + ")"), std::string::npos);
        EXPECT_NE(message.find("instalarea a ramas asa cum era"), std::string::npos) << message;
        ExpectOld();
        ExpectNoLeftovers();
    }
    // Three files with twins: 21 steps, each of which failed once.
    EXPECT_EQ(k, 22);
}

TEST_F(TAllOrNothingE2ETest, AFileHeldByAnotherProgramIsNamedBeforeAnythingChanges)
{
    Build();
    for (bool release : {false, true}) {
        SCOPED_TRACE(release ? "freed, then retried" : "stopped");
        Install();
        // As a running program holds its image: others may read it (so the
        // validation passes), nobody may replace or delete it.
        HANDLE lock = ::CreateFileA(m_files[1].Target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(lock, INVALID_HANDLE_VALUE);
        ASSERT_NO_FATAL_FAILURE(Launch());
        HWND box = WaitForMessageBox(m_process->Id(), kStepTimeout);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(MessageBoxText(box).rfind("Fisierul C:\\Pravion\\salarii.dat nu poate fi inlocuit acum", 0), 0u)
            << MessageBoxText(box);
        // Retry while it is still held: asked again.
        ASSERT_TRUE(AnswerMessageBox(box, IDRETRY));
        ASSERT_TRUE(WaitUntil([&] { return FindMessageBox(m_process->Id()) != box; }, kStepTimeout));
        box = WaitForMessageBox(m_process->Id(), kStepTimeout);
        ASSERT_NE(box, nullptr);
        ExpectOld();
        if (release) {
            ::CloseHandle(lock);
            ASSERT_TRUE(AnswerMessageBox(box, IDRETRY));
            ASSERT_TRUE(WaitUntil([&] { return FindMessageBox(m_process->Id()) != box; }, kStepTimeout));
            EXPECT_EQ(RunToEnd(), "");
            ExpectNew();
        } else {
            ASSERT_TRUE(AnswerMessageBox(box, IDCANCEL));
            EXPECT_TRUE(m_process->WaitForExit(kStepTimeout)) << "stopping ends the wizard";
            ::CloseHandle(lock);
            ExpectOld();
        }
        ExpectNoLeftovers();
    }
}

// Each run is killed at a random moment of the archive or the update stage
// (mostly inside the replacement, which the test hook slows down), then the
// same package runs to its end: the installation is then wholly new.
TEST_F(TAllOrNothingE2ETest, AfterAKillAnywhereTheNextRunLeavesEveryFileNew)
{
    const char* configured = std::getenv("UPD_KILL_RUNS");
    const int runs = configured ? std::max(1, std::atoi(configured)) : 50;
    Build();
    std::mt19937 random(20261208);
    int inReplacement = 0;
    int committed = 0;
    for (int run = 0; run < runs; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        Install();
        {
            TEnvironment slow("UPD_TEST_FILE_OP_DELAY_MS", 25);
            ASSERT_NO_FATAL_FAILURE(Launch());
            bool archive = std::uniform_int_distribution<int>(0, 3)(random) == 0;
            int page = archive ? 2 : 3;
            int delay = std::uniform_int_distribution<int>(0, archive ? 60 : 700)(random);
            WaitUntil([&] { return VisiblePage(m_main) >= page || FindMessageBox(m_process->Id()); }, kStepTimeout);
            ::Sleep(static_cast<DWORD>(delay));
            m_process->Kill();
        }
        wizard::TUpdateJournal journal;
        if (FileExists(wizard::kJournalFile) && wizard::TUpdateJournal::Load(wizard::kJournalFile, journal) &&
            journal.Pending()) {
            ++inReplacement;
            committed += journal.State == wizard::TJournalState::Committed;
        }
        ASSERT_NO_FATAL_FAILURE(Launch());
        std::string message = RunToEnd();
        EXPECT_TRUE(message.empty() || message.find("a fost deja actualizat") != std::string::npos) << message;
        ExpectNew();
        ExpectNoLeftovers();
        if (HasFailure())
            break;
    }
    std::printf("[ kills    ] %d runs killed, %d inside the replacement (%d after its commit point)\n", runs,
                inReplacement, committed);
    EXPECT_GE(inReplacement, runs / 3);
}

TEST_F(TAllOrNothingE2ETest, ClosingDuringAStageEndsWithinASecondAndLeavesNothing)
{
    Build(2);
    for (int page : {1, 2, 3}) {
        SCOPED_TRACE("page " + std::to_string(page));
        Install();
        TEnvironment slow("UPD_TEST_PROGRESS_DELAY_MS", 150);
        ASSERT_NO_FATAL_FAILURE(Launch());
        ASSERT_TRUE(WaitForPage(m_main, page, kStepTimeout));
        ::PostMessageW(m_main, WM_CLOSE, 0, 0);
        HWND box = WaitForMessageBox(m_process->Id(), kStepTimeout);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(MessageBoxText(box).rfind("In acest moment programul efectueaza actualizarea.", 0), 0u);
        auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(AnswerMessageBox(box, IDYES));
        ASSERT_TRUE(m_process->WaitForExit(kStepTimeout));
        auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        std::printf("[ closing  ] page %d: the wizard ended %lld ms after Yes\n", page,
                    static_cast<long long>(took.count()));
        // Well under the 3 s that the end of the program would wait for a worker.
        EXPECT_LT(took.count(), 2000);
        ExpectOld();
        ExpectNoLeftovers();
    }
    // During the replacement no question is asked: it completes.
    Install();
    TEnvironment slow("UPD_TEST_FILE_OP_DELAY_MS", 100);
    ASSERT_NO_FATAL_FAILURE(Launch());
    ASSERT_TRUE(WaitUntil(
        [] {
            // The wizard replaces the journal while it is read: try again.
            try {
                wizard::TUpdateJournal journal;
                return wizard::TUpdateJournal::Load(wizard::kJournalFile, journal) && journal.Pending();
            } catch (const Exception&) {
                return false;
            }
        },
        kStepTimeout));
    ::PostMessageW(m_main, WM_CLOSE, 0, 0);
    ::Sleep(300);
    EXPECT_EQ(FindMessageBox(m_process->Id()), nullptr) << "no close question during the replacement";
    EXPECT_EQ(RunToEnd(), "");
    ExpectNew();
    ExpectNoLeftovers();
}

} // namespace
} // namespace upd::uitest
