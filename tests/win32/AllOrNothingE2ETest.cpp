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

#include "AllOrNothingFixture_win32.h"
#include "E2EFiles_win32.h"
#include "UiDriver_win32.h"
#include "ui/ControlIds.h"
#include "base/File.h"
#include "package/UpdateBuilder.h"
#include "wizard/UpdateJournal.h"
#include "wizard/UpdateStage.h"
#include "wizard/WorkFolder_win32.h"

namespace upd::uitest {
namespace {

using namespace upd::ui;

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
