// What the all-or-nothing runs of the real wizard share: a package of three
// files (two with read-only twins) built from real kits, the installation
// under C:\\Pravion, and the checks that it is wholly old or wholly new with
// nothing of a run left behind.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "E2EFiles_win32.h"
#include "UiDriver_win32.h"
#include "ui/ControlIds.h"
#include "base/File.h"
#include "package/UpdateBuilder.h"
#include "wizard/UpdateJournal.h"
#include "wizard/UpdateStage.h"
#include "wizard/WorkFolder_win32.h"

namespace upd::uitest {

namespace fs = std::filesystem;
using namespace upd::ui;

inline constexpr DWORD kStartTimeout = 30000;
inline constexpr DWORD kStepTimeout = 20000;

inline const std::string kFolder = "C:\\Pravion";
inline const std::string kKits = "C:\\upd-atomic";
inline const std::string kTagName = "kp3tag-atomic.txt";
inline const std::string kTag = std::string(wizard::kTagFolder) + "\\" + kTagName;

inline std::string TempFolder()
{
    wchar_t path[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, path);
    return fs::path(path).string();
}


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

} // namespace upd::uitest
