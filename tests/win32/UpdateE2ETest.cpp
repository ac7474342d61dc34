// Whole updates under Wine: real patches built from the fake programs, a
// real installation under C:\Pravion, the wizard driven from the intro page
// to the final page, single-file and split over volumes.
#include <gtest/gtest.h>

#include <filesystem>

#include "UiDriver_win32.h"
#include "app/ControlIds.h"
#include "base/File.h"
#include "package/CautaFisier_win32.h"
#include "package/UpdateBuilder.h"
#include "wizard/UpdateStage.h"

namespace upd::uitest {
namespace {

using namespace upd::app;

constexpr DWORD kStartTimeout = 30000;
constexpr DWORD kStepTimeout = 20000;

const std::string kKp3 = "C:\\Pravion\\kp3.exe";
const std::string kData = "C:\\Pravion\\salarii.dat";
const std::string kKits = "C:\\upd-stages";
const std::string kTag = std::string(wizard::kTagFolder) + "\\kp3tag-e2e.txt";

std::string Text(const std::string& path)
{
    auto bytes = ReadWholeFile(path);
    return std::string(bytes.begin(), bytes.end());
}

void Put(const std::string& path, const std::string& bytes) { WriteWholeFile(path, bytes.data(), bytes.size()); }

bool ReadOnly(const std::string& path)
{
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

void Remove(const std::string& path)
{
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileA(path.c_str());
}

std::string Lines(const std::string& seed, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += seed + " " + std::to_string(i * 31 % 97) + "\r\n";
    return text;
}

// The "Cauta fisier" dialog of the wizard, once it is on show.
HWND WaitForCautaFisier(DWORD pid, DWORD milliseconds)
{
    struct TSearch {
        DWORD Pid;
        HWND Found;
    } search{pid, nullptr};
    WaitUntil(
        [&] {
            ::EnumWindows(
                [](HWND window, LPARAM parameter) -> BOOL {
                    auto* s = reinterpret_cast<TSearch*>(parameter);
                    DWORD owner = 0;
                    ::GetWindowThreadProcessId(window, &owner);
                    wchar_t name[64] = {};
                    ::GetClassNameW(window, name, 64);
                    if (owner == s->Pid && ::IsWindowVisible(window) && lstrcmpW(name, L"TCautaFisier") == 0) {
                        s->Found = window;
                        return FALSE;
                    }
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(&search));
            return search.Found != nullptr;
        },
        milliseconds);
    return search.Found;
}

class TUpdateE2ETest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_manifest = package::TBuildManifest{};
        for (const auto& name : {kKp3, kKp3 + "vf", kData, kData + "vf", kTag})
            Remove(name);
        std::filesystem::remove_all(kKits);
        std::filesystem::create_directories(kKits);
        std::filesystem::create_directories("C:\\Pravion");
        // The payroll program in two known versions, a data file in two.
        Put(kKits + "\\date1", Lines("rand", 400));
        Put(kKits + "\\date2", Lines("rand", 380) + Lines("nou", 30));
        Put(kKits + "\\date3", Lines("alt", 10) + Lines("rand", 420));
        m_manifest.Stub = BuildPath("app/setup.exe");
        m_manifest.Title = "Actualizare de test";
        m_manifest.Description = "Se actualizeaz@a *b*Pravion*/b*.";
        m_manifest.Release = "12";
        m_manifest.ReleaseDate = "7 decembrie 2026";
        m_manifest.TagFileName = "kp3tag-e2e.txt";
        m_manifest.Patches.push_back({kKp3, {Fake("v1"), Fake("v2")}, Fake("v3"), true});
        m_manifest.Patches.push_back({kData, {kKits + "\\date1", kKits + "\\date2"}, kKits + "\\date3", false});
        Put(kKp3, Text(Fake("v1")));
        Put(kData, Text(kKits + "\\date2"));
        // A read-only installed file is replaced all the same.
        ::SetFileAttributesA(kData.c_str(), FILE_ATTRIBUTE_READONLY);
    }

    // Read-only files would stand in the way of the other tests' clean-up.
    void TearDown() override
    {
        m_process.reset();
        for (const auto& name : {kKp3, kKp3 + "vf", kData, kData + "vf", kTag})
            Remove(name);
    }

    static std::string Fake(const std::string& name) { return BuildPath("tests/win32/fake_" + name + ".exe"); }

    void Start(int volumes)
    {
        static int serial = 0;
        std::string exe = kKits + "\\upd" + std::to_string(++serial) + ".exe";
        package::BuildPackage(m_manifest, exe, volumes, 0, &m_files);
        m_process = std::make_unique<TWizardProcess>(exe);
        m_main = WaitForMainWindow(m_process->Id(), kStartTimeout);
        ASSERT_NE(m_main, nullptr);
        ASSERT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(MainControl(m_main, kIdButton1)) != FALSE; },
                              kStepTimeout));
        Click(MainControl(m_main, kIdButton1));
    }

    void ExpectUpdated()
    {
        const std::pair<std::string, std::string> files[] = {{kKp3, Fake("v3")}, {kData, kKits + "\\date3"}};
        for (const auto& [installed, fresh] : files) {
            SCOPED_TRACE(installed);
            EXPECT_EQ(Text(installed), Text(fresh));
            EXPECT_EQ(Text(installed + "vf"), Text(fresh));
            EXPECT_TRUE(ReadOnly(installed));
            EXPECT_TRUE(ReadOnly(installed + "vf"));
        }
        ASSERT_TRUE(FileExists(kTag));
        auto tagText = package::MakeTagText(m_manifest.Release, m_manifest.ReleaseDate, {});
        EXPECT_EQ(Text(kTag), wizard::TagFileText(tagText));
    }

    void ExpectUnchanged()
    {
        EXPECT_EQ(Text(kKp3), Text(Fake("v1")));
        EXPECT_EQ(Text(kData), Text(kKits + "\\date2"));
        EXPECT_FALSE(FileExists(kKp3 + "vf"));
        EXPECT_FALSE(FileExists(kData + "vf"));
        EXPECT_FALSE(FileExists(kTag));
    }

    // The final page comes by itself; Finalizeaza starts the payroll program
    // and ends the wizard.
    void FinishOnTheFinalPage()
    {
        ASSERT_TRUE(WaitForPage(m_main, 4, kStepTimeout)) << "the wizard did not reach the final page";
        EXPECT_EQ(FindMessageBox(m_process->Id()), nullptr);
        // Fifteen steps per file are counted; a short patch makes fewer.
        EXPECT_GT(ProgressPosition(PageControl(m_main, 3, kIdProgressBar1)), 20000);
        EXPECT_EQ(WindowText(PageControl(m_main, 3, kIdLabel4)), "Finalizez");
        ASSERT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(MainControl(m_main, kIdButton1)) != FALSE; },
                              kStepTimeout));
        Click(MainControl(m_main, kIdButton1));
        DWORD code = 1;
        EXPECT_TRUE(m_process->WaitForExit(kStepTimeout, &code));
        EXPECT_EQ(code, 0u);
    }

    package::TBuildManifest m_manifest;
    package::TPackageFiles m_files;
    std::unique_ptr<TWizardProcess> m_process;
    HWND m_main = nullptr;
};

TEST_F(TUpdateE2ETest, SingleFilePackageUpdatesTheInstallation)
{
    ASSERT_NO_FATAL_FAILURE(Start(0));
    ASSERT_NO_FATAL_FAILURE(FinishOnTheFinalPage());
    ExpectUpdated();
}

TEST_F(TUpdateE2ETest, VolumesBesideTheProgramAreTakenWithoutAsking)
{
    ASSERT_NO_FATAL_FAILURE(Start(3));
    ASSERT_EQ(m_files.VolumeFileNames.size(), 3u);
    ASSERT_NO_FATAL_FAILURE(FinishOnTheFinalPage());
    ExpectUpdated();
}

// One folder per downloaded diskette image: the volumes are found in the
// sibling folders of the program's folder.
TEST_F(TUpdateE2ETest, VolumesInSiblingFoldersAreFound)
{
    std::string exe = kKits + "\\disc1\\upd-sibling.exe";
    std::filesystem::create_directories(kKits + "\\disc1");
    package::BuildPackage(m_manifest, exe, 2, 0, &m_files);
    for (std::size_t i = 0; i < m_files.VolumeFileNames.size(); ++i) {
        std::string folder = kKits + "\\disc" + std::to_string(i + 2);
        std::filesystem::create_directories(folder);
        std::filesystem::rename(m_files.VolumeFileNames[i], folder + "\\upd-sibling." + std::to_string(i + 1));
    }
    m_process = std::make_unique<TWizardProcess>(exe);
    m_main = WaitForMainWindow(m_process->Id(), kStartTimeout);
    ASSERT_NE(m_main, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(MainControl(m_main, kIdButton1)) != FALSE; },
                          kStepTimeout));
    Click(MainControl(m_main, kIdButton1));
    ASSERT_NO_FATAL_FAILURE(FinishOnTheFinalPage());
    ExpectUpdated();
}

// A damaged volume beside the program: the dialog says why and waits; the
// user can point at a sound copy, or give up with the installation intact.
TEST_F(TUpdateE2ETest, DamagedVolumeIsRefusedWithItsReason)
{
    for (bool pointAtCopy : {false, true}) {
        SCOPED_TRACE(pointAtCopy ? "a sound copy chosen" : "given up");
        SetUp();
        m_process.reset();
        std::string exe = kKits + "\\upd-damaged.exe";
        package::BuildPackage(m_manifest, exe, 2, 0, &m_files);
        std::string volume = m_files.VolumeFileNames[0];
        std::string copy = kKits + "\\copie.1";
        std::string bytes = Text(volume);
        Put(copy, bytes);
        bytes[bytes.size() / 2] ^= 0x55;
        Put(volume, bytes);
        m_process = std::make_unique<TWizardProcess>(exe);
        m_main = WaitForMainWindow(m_process->Id(), kStartTimeout);
        ASSERT_NE(m_main, nullptr);
        ASSERT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(MainControl(m_main, kIdButton1)) != FALSE; },
                              kStepTimeout));
        Click(MainControl(m_main, kIdButton1));

        HWND dialog = WaitForCautaFisier(m_process->Id(), kStepTimeout);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(WindowText(dialog), "Cauta fisier");
        EXPECT_EQ(WindowText(::GetDlgItem(dialog, package::kIdCautaLabel1)),
                  "Fisierul upd-damaged.1 nu este cel cautat. Este posibil sa fi aparut o eroare in timpul copierii "
                  "de pe internet sau este posibil sa fi indicat un fisier care nu este parte din aceasta "
                  "actualizare. Programul de actualizare are nevoie de fisierul upd-damaged.1 Va rugam indicati "
                  "calea catre fisierul solicitat.");
        HWND edit = ::GetDlgItem(dialog, package::kIdCautaEdit1);
        EXPECT_EQ(WindowText(edit), kKits + "\\upd-damaged.1");

        // Ok with nothing in the box stays in the dialog.
        ::SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
        Click(::GetDlgItem(dialog, IDOK));
        HWND box = WaitForMessageBox(m_process->Id(), kStepTimeout);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(MessageBoxText(box), "Nu ati completat numele fisierului");
        ASSERT_TRUE(AnswerMessageBox(box, IDOK));
        ASSERT_TRUE(WaitUntil([&] { return FindMessageBox(m_process->Id()) == nullptr; }, kStepTimeout));
        EXPECT_TRUE(::IsWindow(dialog));
        EXPECT_EQ(VisiblePage(m_main), 2);
        ExpectUnchanged();

        if (pointAtCopy) {
            std::wstring wide(copy.begin(), copy.end());
            ::SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()));
            Click(::GetDlgItem(dialog, IDOK));
            ASSERT_NO_FATAL_FAILURE(FinishOnTheFinalPage());
            ExpectUpdated();
            continue;
        }
        // Renunt asks first; No keeps the dialog, and the wizard behind it stays disabled.
        Click(::GetDlgItem(dialog, IDCANCEL));
        box = WaitForMessageBox(m_process->Id(), kStepTimeout);
        ASSERT_NE(box, nullptr);
        ASSERT_TRUE(AnswerMessageBox(box, IDNO));
        ASSERT_TRUE(WaitUntil([&] { return FindMessageBox(m_process->Id()) == nullptr; }, kStepTimeout));
        EXPECT_TRUE(::IsWindow(dialog));
        EXPECT_FALSE(::IsWindowEnabled(m_main));
        Click(::GetDlgItem(dialog, IDCANCEL));
        box = WaitForMessageBox(m_process->Id(), kStepTimeout);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(MessageBoxText(box).substr(0, 45), "In acest moment programul efectueaza actualiz");
        ASSERT_TRUE(AnswerMessageBox(box, IDYES));
        DWORD code = 1;
        EXPECT_TRUE(m_process->WaitForExit(kStepTimeout, &code)) << "the wizard did not end";
        EXPECT_EQ(code, 0u);
        ExpectUnchanged();
    }
}

} // namespace
} // namespace upd::uitest
