// For makers and support, with the real wizard under Wine: packages derived
// from release folders applied from every old release, and the wizard's log
// of each way a run ends, read back as updkit reads it.
#include <gtest/gtest.h>

#include <filesystem>

#include "E2EFiles_win32.h"
#include "UiDriver_win32.h"
#include "ui/ControlIds.h"
#include "base/File.h"
#include "package/ReleaseKit.h"
#include "wizard/UpdateJournal.h"
#include "wizard/UpdateLog.h"
#include "wizard/UpdateLogReader.h"
#include "wizard/UpdateStage.h"

namespace upd::uitest {
namespace {

using namespace upd::ui;
namespace fs = std::filesystem;

constexpr DWORD kStartTimeout = 30000;
constexpr DWORD kStepTimeout = 20000;

const std::string kFolder = "C:\\Pravion";
const std::string kKits = "C:\\upd-releases";
const std::string kTagName = "sig-175.txt";
const char* const kReleases[] = {"r172", "r173", "r174"};

std::string Fake(const std::string& name) { return Text(BuildPath("tests/win32/fake_" + name + ".exe")); }

HWND WaitForVolumeDialog(DWORD pid)
{
    HWND found = nullptr;
    WaitUntil(
        [&] {
            found = nullptr;
            for (HWND w = ::FindWindowW(L"TCautaFisier", nullptr); w; w = ::FindWindowExW(nullptr, w, L"TCautaFisier",
                                                                                         nullptr)) {
                DWORD owner = 0;
                ::GetWindowThreadProcessId(w, &owner);
                if (owner == pid && ::IsWindowVisible(w))
                    found = w;
            }
            return found != nullptr;
        },
        kStepTimeout);
    return found;
}

class TReleaseKitE2ETest : public ::testing::Test {
protected:
    // Three old releases and the new one: kp3.exe changes in r173 and again in
    // the new release (r174 ships r173's), salarii.dat only in r174 and the new
    // one, borlndmm.dll never, vechi.txt is gone and nou.txt is new.
    void SetUp() override
    {
        fs::remove_all(kKits);
        const std::string kp3[] = {Fake("v1"), Fake("v2"), Fake("v2"), Fake("v3")};
        const std::string data[] = {Lines("rand", 300), Lines("rand", 300), Lines("rand", 280) + Lines("nou", 40),
                                    Lines("alt", 9) + Lines("rand", 310)};
        for (int r = 0; r < 4; ++r) {
            std::string dir = Release(r);
            Put(dir + "\\kp3.exe", kp3[r]);
            Put(dir + "\\date\\salarii.dat", data[r]);
            Put(dir + "\\borlndmm.dll", Fake("noversion"));
            Put(dir + (r < 3 ? "\\vechi.txt" : "\\nou.txt"), "text " + std::to_string(r));
        }
        Clean();
    }

    void TearDown() override
    {
        m_process.reset();
        Clean();
    }

    static std::string Release(int r) { return kKits + "\\" + (r < 3 ? kReleases[r] : "r175"); }

    void Clean()
    {
        // The final page starts the payroll program: it may still be running.
        WaitUntil(
            [&] {
                HANDLE h = ::CreateFileA((kFolder + "\\kp3.exe").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr);
                if (h == INVALID_HANDLE_VALUE)
                    return ::GetLastError() != ERROR_SHARING_VIOLATION;
                ::CloseHandle(h);
                return true;
            },
            kStepTimeout);
        if (fs::exists(kFolder))
            for (const char* name : {"kp3.exe", "kp3.exevf", "borlndmm.dll", "vechi.txt", "date\\salarii.dat",
                                     "date\\salarii.datvf"})
                Remove(kFolder + "\\" + name);
        Remove(std::string(wizard::kTagFolder) + "\\" + kTagName);
        Remove(wizard::kJournalFile);
        Remove(wizard::kLogFile);
    }

    void Install(int r)
    {
        Clean();
        for (const char* name : {"kp3.exe", "borlndmm.dll", "vechi.txt", "date\\salarii.dat"})
            Put(kFolder + "\\" + name, Text(Release(r) + "\\" + name));
    }

    package::TReleaseKit Build(int volumes)
    {
        package::TReleaseKitInput input;
        for (int r = 0; r < 3; ++r)
            input.OldReleases.push_back(Release(r));
        input.NewRelease = Release(3);
        input.MustHave = {"*.DLL"};
        package::TReleaseKit kit = package::DeriveReleaseKit(input);
        kit.Manifest.Stub = BuildPath("app/setup.exe");
        kit.Manifest.Title = "Actualizare la versiunea 175 @si date";
        kit.Manifest.Description = "Din dosarele versiunilor.";
        kit.Manifest.Release = "175";
        kit.Manifest.ReleaseDate = "9 decembrie 2026";
        kit.Manifest.TagFileName = kTagName;
        m_exe = kKits + "\\setup.exe";
        package::BuildPackage(kit.Manifest, m_exe, volumes, 0, &m_files);
        return kit;
    }

    void Launch()
    {
        m_process = std::make_unique<TWizardProcess>(m_exe);
        m_main = WaitForMainWindow(m_process->Id(), kStartTimeout);
        ASSERT_NE(m_main, nullptr);
        ASSERT_TRUE(WaitUntilEnabled(MainControl(m_main, kIdButton1), kStepTimeout));
        Click(MainControl(m_main, kIdButton1));
    }

    // The final page (pressed) or a message box (answered OK): its text, or "".
    std::string RunToEnd()
    {
        HWND box = nullptr;
        EXPECT_TRUE(WaitUntil(
            [&] {
                box = FindMessageBox(m_process->Id());
                return box != nullptr || VisiblePage(m_main) == 4;
            },
            kStepTimeout));
        std::string text;
        if (box) {
            text = MessageBoxText(box);
            AnswerMessageBox(box, IDOK);
        } else {
            WaitUntilEnabled(MainControl(m_main, kIdButton1), kStepTimeout);
            Click(MainControl(m_main, kIdButton1));
        }
        EXPECT_TRUE(m_process->WaitForExit(kStepTimeout)) << "the wizard did not end";
        return text;
    }

    wizard::TRunSummary Log()
    {
        EXPECT_TRUE(FileExists(wizard::kLogFile));
        return wizard::SummarizeLastRun(FileExists(wizard::kLogFile) ? Text(wizard::kLogFile) : std::string());
    }

    std::string m_exe;
    package::TPackageFiles m_files;
    std::unique_ptr<TWizardProcess> m_process;
    HWND m_main = nullptr;
};

TEST_F(TReleaseKitE2ETest, APackageFromReleaseFoldersUpdatesEveryOldRelease)
{
    package::TReleaseKit kit = Build(2);
    struct TRow {
        const char* Relative;
        package::TKitDecision Decision;
        std::vector<int> VersionOf;
    };
    const TRow rows[] = {
        {"borlndmm.dll", package::TKitDecision::MustHave, {0, 0, 0}},
        {"date/salarii.dat", package::TKitDecision::Patch, {0, 0, 1}},
        {"kp3.exe", package::TKitDecision::Patch, {0, 1, 1}},
        {"nou.txt", package::TKitDecision::Added, {-1, -1, -1}},
        {"vechi.txt", package::TKitDecision::Removed, {0, 1, 2}},
    };
    ASSERT_EQ(kit.Files.size(), std::size(rows));
    for (std::size_t i = 0; i < kit.Files.size(); ++i) {
        SCOPED_TRACE(rows[i].Relative);
        EXPECT_EQ(kit.Files[i].Relative, rows[i].Relative);
        EXPECT_EQ(kit.Files[i].Decision, rows[i].Decision);
        EXPECT_EQ(kit.Files[i].VersionOf, rows[i].VersionOf);
    }
    ASSERT_EQ(kit.Manifest.Patches.size(), 2u);
    EXPECT_EQ(kit.Manifest.Patches[0].TargetPath, "C:\\Pravion\\date\\salarii.dat");

    for (int r = 0; r < 3; ++r) {
        SCOPED_TRACE(kReleases[r]);
        Install(r);
        ASSERT_NO_FATAL_FAILURE(Launch());
        EXPECT_EQ(RunToEnd(), "");
        EXPECT_EQ(Text(kFolder + "\\kp3.exe"), Fake("v3"));
        EXPECT_EQ(Text(kFolder + "\\date\\salarii.dat"), Text(Release(3) + "\\date\\salarii.dat"));
        EXPECT_TRUE(FileExists(kFolder + "\\vechi.txt")) << "a removed file stays installed";
        wizard::TRunSummary log = Log();
        EXPECT_EQ(log.Ending, "success");
        EXPECT_EQ(log.Step, "update");
        const std::string text = Text(wizard::kLogFile);
        EXPECT_NE(text.find(" volume 2 read from " + m_files.VolumeFileNames[1]), std::string::npos) << text;
        EXPECT_NE(text.find(" rebuilt C:\\Pravion\\kp3.exe from version " + std::to_string(r == 0 ? 0 : 1)),
                  std::string::npos)
            << text;
        EXPECT_NE(text.find(" replaced C:\\Pravion\\date\\salarii.datvf"), std::string::npos) << text;
    }
}

// Each way a run ends, as support reads it from the log.
TEST_F(TReleaseKitE2ETest, TheLogTellsSupportWhichStepEndedTheRunAndWhy)
{
    Build(2);
    {
        SCOPED_TRACE("a validation finding");
        Install(0);
        Put(kFolder + "\\kp3.exe", Fake("noversion"));
        ASSERT_NO_FATAL_FAILURE(Launch());
        std::string message = RunToEnd();
        EXPECT_NE(message.find("(2/2/Patch/5)"), std::string::npos) << message;
        wizard::TRunSummary log = Log();
        EXPECT_EQ(log.Ending, "finding");
        EXPECT_EQ(log.Step, "validation");
        EXPECT_EQ(log.Reason.rfind("finding fatal patch 2/2 verdict 5 (no version) version <info not available> | "
                                   "Fisierul C:\\Pravion\\kp3.exe a fost modificat",
                                   0),
                  0u)
            << log.Reason;
    }
    {
        SCOPED_TRACE("a damaged volume, then the user gives up");
        Install(1);
        std::string bytes = Text(m_files.VolumeFileNames[0]);
        std::string sound = bytes;
        bytes[bytes.size() / 2] ^= 0x55;
        Put(m_files.VolumeFileNames[0], bytes);
        ASSERT_NO_FATAL_FAILURE(Launch());
        HWND dialog = WaitForVolumeDialog(m_process->Id());
        ASSERT_NE(dialog, nullptr);
        Click(::GetDlgItem(dialog, IDCANCEL));
        HWND box = WaitForMessageBox(m_process->Id(), kStepTimeout);
        ASSERT_NE(box, nullptr);
        ASSERT_TRUE(AnswerMessageBox(box, IDYES));
        EXPECT_TRUE(m_process->WaitForExit(kStepTimeout));
        Put(m_files.VolumeFileNames[0], sound);
        wizard::TRunSummary log = Log();
        EXPECT_EQ(log.Ending, "closed");
        EXPECT_EQ(log.Step, "archive");
        ASSERT_FALSE(log.Details.empty());
        EXPECT_EQ(log.Details[0], "volume 1 refused: " + m_files.VolumeFileNames[0] +
                                      " (not the volume: damaged or another file)");
    }
    {
        SCOPED_TRACE("the third step of the replacement fails");
        Install(2);
        ::SetEnvironmentVariableA("UPD_TEST_FAIL_FILE_OP", "3");
        ASSERT_NO_FATAL_FAILURE(Launch());
        std::string message = RunToEnd();
        ::SetEnvironmentVariableA("UPD_TEST_FAIL_FILE_OP", nullptr);
        EXPECT_NE(message.find("instalarea a ramas asa cum era"), std::string::npos) << message;
        EXPECT_EQ(Text(kFolder + "\\kp3.exe"), Fake("v2"));
        wizard::TRunSummary log = Log();
        EXPECT_EQ(log.Ending, "error");
        EXPECT_EQ(log.Step, "update");
        EXPECT_NE(log.Reason.find("Eroare simulata de test (pasul 3)"), std::string::npos) << log.Reason;
        EXPECT_NE(std::find(log.Details.begin(), log.Details.end(),
                            "every replaced file was put back: the installation is as it was"),
                  log.Details.end());
        std::string text = Text(wizard::kLogFile);
        EXPECT_EQ(text.rfind("\xEF\xBB\xBF", 0), 0u) << "UTF-8 with its byte order mark";
        EXPECT_NE(text.find(" package title \"Actualizare la versiunea 175 \xC5\x9Fi date\" digest "), std::string::npos)
            << "Romanian letters in UTF-8";
    }
}

} // namespace
} // namespace upd::uitest
