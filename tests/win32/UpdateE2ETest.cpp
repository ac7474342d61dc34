// Whole updates under Wine: real patches built from the fake programs, a
// real installation under C:\Pravion, the wizard driven from the intro page
// to the final page, single-file and split over volumes.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "E2EFiles_win32.h"
#include "UiDriver_win32.h"
#include "ui/ControlIds.h"
#include "base/Cp1250.h"
#include "base/File.h"
#include "ui/CautaFisier_win32.h"
#include "package/PatchDataEngine.h"
#include "package/UpdateBuilder.h"
#include "wizard/UpdateLog.h"
#include "wizard/UpdateStage.h"

namespace upd::uitest {
namespace {

using namespace upd::ui;

constexpr DWORD kStartTimeout = 30000;
constexpr DWORD kStepTimeout = 20000;

const std::string kKp3 = "C:\\Pravion\\kp3.exe";
const std::string kData = "C:\\Pravion\\salarii.dat";
const std::string kKits = "C:\\upd-stages";
// A folder named with s with the comma below, a Cyrillic and a CJK letter.
const std::wstring kScriptHome = L"C:\\upd-names \u0218tefan \u0416 \u4E2D";
const std::string kTag = std::string(wizard::kTagFolder) + "\\kp3tag-e2e.txt";

struct TCautaFisierSearch {
    DWORD Pid;
    HWND Found;
};

// A callback of the system's calling convention (a lambda has the compiler's,
// which differs in a 32-bit program).
BOOL CALLBACK FindCautaFisier(HWND window, LPARAM parameter)
{
    auto* s = reinterpret_cast<TCautaFisierSearch*>(parameter);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    if (owner == s->Pid && ::IsWindowVisible(window) && lstrcmpW(name, L"TCautaFisier") == 0) {
        s->Found = window;
        return FALSE;
    }
    return TRUE;
}

// The "Cauta fisier" dialog of the wizard, once it is on show.
HWND WaitForCautaFisier(DWORD pid, DWORD milliseconds)
{
    TCautaFisierSearch search{pid, nullptr};
    WaitUntil(
        [&] {
            ::EnumWindows(&FindCautaFisier, reinterpret_cast<LPARAM>(&search));
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
        WaitUntilWritable(kKp3, kStepTimeout);
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
        ASSERT_NO_FATAL_FAILURE(Launch(exe));
    }

    // Starts a package made already and goes past the intro page.
    void Launch(const TPath& exe)
    {
        m_process = std::make_unique<TWizardProcess>(exe);
        m_main = WaitForMainWindow(m_process->Id(), kStartTimeout);
        ASSERT_NE(m_main, nullptr);
        ASSERT_TRUE(WaitUntilEnabled(MainControl(m_main, kIdButton1), kStepTimeout));
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
        // A 32-bit wizard on 64-bit Windows writes to the very folder named,
        // not to the one for 32-bit programs.
        EXPECT_FALSE(std::filesystem::exists("C:\\Program Files (x86)\\Tarvix"));
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
        ASSERT_TRUE(WaitUntilEnabled(MainControl(m_main, kIdButton1), kStepTimeout));
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
    ASSERT_TRUE(WaitUntilEnabled(MainControl(m_main, kIdButton1), kStepTimeout));
    Click(MainControl(m_main, kIdButton1));
    ASSERT_NO_FATAL_FAILURE(FinishOnTheFinalPage());
    ExpectUpdated();
}

// A user whose folders are named in any script: the program started from such
// a folder, its volumes in sibling folders of such names, and a temporary
// folder of such a name (s and t with the comma below are not in code page
// 1250; a Cyrillic and a CJK letter neither).
TEST_F(TUpdateE2ETest, FoldersNamedInAnyScriptWork)
{
    namespace fs = std::filesystem;
    // Beside the kits folder, which every SetUp empties.
    const fs::path home = kScriptHome;
    const fs::path temp = home / L"Temp \u0219\u021B\u0436\u4E2D";
    std::error_code ignored;
    fs::remove_all(home, ignored);
    wchar_t savedTemp[1024] = {}, savedTmp[1024] = {};
    ::GetEnvironmentVariableW(L"TEMP", savedTemp, 1024);
    ::GetEnvironmentVariableW(L"TMP", savedTmp, 1024);
    // The wizard inherits the variables that its temporary folder comes from.
    ::SetEnvironmentVariableW(L"TEMP", temp.wstring().c_str());
    ::SetEnvironmentVariableW(L"TMP", temp.wstring().c_str());
    for (int volumes : {0, 2}) {
        SCOPED_TRACE(volumes);
        SetUp();
        fs::create_directories(temp);
        const std::string built = kKits + "\\upd-script.exe";
        package::BuildPackage(m_manifest, built, volumes, 0, &m_files);
        // Each run has folders of its own: the payroll program that the last one
        // started may still hold its folder for a moment.
        const std::wstring downloads = L"Desc\u0103rc\u0103ri \u0219\u021B " + std::to_wstring(volumes) + L" ";
        const fs::path folder = home / (downloads + L"1");
        fs::create_directories(folder);
        const fs::path exe = folder / "upd-script.exe";
        fs::rename(built, exe);
        for (std::size_t i = 0; i < m_files.VolumeFileNames.size(); ++i) {
            const fs::path sibling = home / (downloads + std::to_wstring(i + 2));
            fs::create_directories(sibling);
            fs::rename(m_files.VolumeFileNames[i], sibling / ("upd-script." + std::to_string(i + 1)));
        }
        ASSERT_NO_FATAL_FAILURE(Launch(TPath::FromNative(exe.wstring())));
        ASSERT_NO_FATAL_FAILURE(FinishOnTheFinalPage());
        ExpectUpdated();
        // Nothing of the run in the user's temporary folder: its work files
        // go to the wizard's own work folder.
        EXPECT_TRUE(fs::is_empty(temp));
        m_process.reset();
        TearDown();
    }
    ::SetEnvironmentVariableW(L"TEMP", savedTemp);
    ::SetEnvironmentVariableW(L"TMP", savedTmp);
    fs::remove_all(home, ignored);
}

// Messages name such files with every letter: a damaged volume of a program
// named "upd-ș中" is refused by that name, a copy typed into the dialog from a
// folder "Copie Ж" is taken, and the log has the names as they are.
TEST_F(TUpdateE2ETest, MessagesNameFilesInAnyScript)
{
    namespace fs = std::filesystem;
    const fs::path home = kScriptHome;
    std::error_code ignored;
    fs::remove_all(home, ignored);
    const std::string built = kKits + "\\upd-script.exe";
    package::BuildPackage(m_manifest, built, 2, 0, &m_files);
    const std::wstring stem = L"upd-\u0219\u4E2D";
    const fs::path folder = home / L"Desc\u0103rc\u0103ri \u0219\u021B";
    const fs::path copies = home / L"Copie \u0416";
    fs::create_directories(folder);
    fs::create_directories(copies);
    fs::rename(built, folder / (stem + L".exe"));
    fs::copy_file(m_files.VolumeFileNames[0], copies / (stem + L".1"));
    std::string damaged = Text(m_files.VolumeFileNames[0]);
    damaged[damaged.size() / 2] ^= 0x55;
    Put(m_files.VolumeFileNames[0], damaged);
    fs::rename(m_files.VolumeFileNames[0], folder / (stem + L".1"));
    fs::rename(m_files.VolumeFileNames[1], folder / (stem + L".2"));
    ASSERT_NO_FATAL_FAILURE(Launch(TPath::FromNative((folder / (stem + L".exe")).wstring())));

    HWND dialog = WaitForCautaFisier(m_process->Id(), kStepTimeout);
    ASSERT_NE(dialog, nullptr);
    // Built apart from TPath, which is what is under test.
    const std::string volume = Utf16ToUtf8(fs::path(stem + L".1").u16string());
    EXPECT_EQ(WindowText(::GetDlgItem(dialog, ui::kIdCautaLabel1)),
              "Fisierul " + volume + " nu este cel cautat. Este posibil sa fi aparut o eroare in timpul "
              "copierii de pe internet sau este posibil sa fi indicat un fisier care nu este parte din "
              "aceasta actualizare. Programul de actualizare are nevoie de fisierul " + volume +
              " Va rugam indicati calea catre fisierul solicitat.");
    HWND edit = ::GetDlgItem(dialog, ui::kIdCautaEdit1);
    EXPECT_EQ(WindowText(edit), Utf16ToUtf8((folder / (stem + L".1")).u16string()));
    const std::wstring copy = (copies / (stem + L".1")).wstring();
    ::SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(copy.c_str()));
    Click(::GetDlgItem(dialog, IDOK));
    ASSERT_NO_FATAL_FAILURE(FinishOnTheFinalPage());
    ExpectUpdated();
    const std::string log = Text(wizard::kLogFile);
    for (const fs::path& named : {folder / (stem + L".1"), copies / (stem + L".1")}) {
        EXPECT_NE(log.find(Utf16ToUtf8(named.u16string())), std::string::npos) << Utf16ToUtf8(named.u16string());
    }
    m_process.reset();
    fs::remove_all(home, ignored);
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
        ASSERT_TRUE(WaitUntilEnabled(MainControl(m_main, kIdButton1), kStepTimeout));
        Click(MainControl(m_main, kIdButton1));

        HWND dialog = WaitForCautaFisier(m_process->Id(), kStepTimeout);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(WindowText(dialog), "Cauta fisier");
        EXPECT_EQ(WindowText(::GetDlgItem(dialog, ui::kIdCautaLabel1)),
                  "Fisierul upd-damaged.1 nu este cel cautat. Este posibil sa fi aparut o eroare in timpul copierii "
                  "de pe internet sau este posibil sa fi indicat un fisier care nu este parte din aceasta "
                  "actualizare. Programul de actualizare are nevoie de fisierul upd-damaged.1 Va rugam indicati "
                  "calea catre fisierul solicitat.");
        HWND edit = ::GetDlgItem(dialog, ui::kIdCautaEdit1);
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
        // The box gives its owner back as it closes; the dialog takes the
        // wizard again right after.
        EXPECT_TRUE(WaitUntil([&] { return !::IsWindowEnabled(m_main); }, kStepTimeout));
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

// Runs a shell command line of the Unix side and waits until `result` exists.
// Wine starts Unix programs but cannot wait for them: the command writes to a
// temporary name and renames it to `result` once it has succeeded.
bool RunUnix(const std::string& line, const std::string& result)
{
    Remove(result);
    RunAndWait("/bin/sh -c \"" + line + "\"");
    return WaitUntil([&] { return FileExists(result); }, 60000);
}

// Every maker signs his setup.exe after the package was appended, with a
// signer of his own: the certificate table then follows the package.
std::string Signed(const std::string& exe)
{
    const std::string key = UnixPath(kKits + "\\key.pem"), certificate = kKits + "\\cert.pem";
    const std::string signedExe = exe.substr(0, exe.size() - 4) + "-signed.exe";
    if (!FileExists(certificate)) {
        const std::string cert = UnixPath(certificate);
        EXPECT_TRUE(RunUnix("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=Test -keyout " + key +
                                " -out " + cert + ".tmp 2>/dev/null && mv " + cert + ".tmp " + cert,
                            certificate));
    }
    const std::string out = UnixPath(signedExe);
    EXPECT_TRUE(RunUnix("osslsigncode sign -certs " + UnixPath(certificate) + " -key " + key + " -in " + UnixPath(exe) +
                            " -out " + out + ".tmp >/dev/null && mv " + out + ".tmp " + out,
                        signedExe));
    return signedExe;
}

TEST_F(TUpdateE2ETest, SignedSingleFilePackageUpdatesTheInstallation)
{
    const std::string exe = kKits + "\\upd-unsigned.exe";
    package::BuildPackage(m_manifest, exe, 0, 0, &m_files);
    const std::string signedExe = Signed(exe);
    {
        const package::TPatchDataEngine engine(signedExe);
        ASSERT_TRUE(engine.CertificateTable.has_value()) << "the signer left no certificate table";
        EXPECT_EQ(engine.DataEnd, static_cast<std::int64_t>(ReadWholeFile(exe).size()));
    }
    ASSERT_NO_FATAL_FAILURE(Launch(signedExe));
    ASSERT_NO_FATAL_FAILURE(FinishOnTheFinalPage());
    ExpectUpdated();
}

TEST_F(TUpdateE2ETest, PackageDamagedAfterSigningIsRefused)
{
    const std::string exe = kKits + "\\upd-damaged-unsigned.exe";
    package::BuildPackage(m_manifest, exe, 0, 0, &m_files);
    const std::string signedExe = Signed(exe);
    std::string bytes = Text(signedExe);
    const std::size_t unsignedSize = ReadWholeFile(exe).size();
    bytes[unsignedSize - 10] ^= 0x55; // in the last segment, before the table
    Put(signedExe, bytes);

    ASSERT_NO_FATAL_FAILURE(Launch(signedExe));
    HWND box = WaitForMessageBox(m_process->Id(), kStepTimeout);
    ASSERT_NE(box, nullptr);
    EXPECT_NE(MessageBoxText(box).find("Fisierul EXE este corupt - nu corespunde semnatura. Nu pot continua."),
              std::string::npos)
        << MessageBoxText(box);
    ASSERT_TRUE(AnswerMessageBox(box, IDOK));
    EXPECT_TRUE(m_process->WaitForExit(kStepTimeout));
    ExpectUnchanged();
}

// Packages from another builder, which does not pad them: whatever their
// length modulo 8, the zeros the signer puts before its table never reach the
// patch data, and the update is whole.
TEST_F(TUpdateE2ETest, SignedPackagesOfEveryLengthUpdateTheInstallation)
{
    const std::string built = kKits + "\\upd-padded.exe";
    const std::string stub = Text(m_manifest.Stub);
    std::set<std::size_t> residues;
    for (int extra = 0; residues.size() < 8 && extra < 32; ++extra) {
        SetUp(); // the installation as it was, and the description one letter longer
        m_manifest.Description += std::string(static_cast<std::size_t>(extra), '.');
        package::BuildPackage(m_manifest, built, 0, 0, &m_files);
        const std::string padded = Text(built);
        const auto headerOffset = static_cast<std::size_t>(package::TPatchDataEngine(built).HeaderOffset);
        const std::string exe = stub + padded.substr(headerOffset);
        const std::size_t residue = exe.size() % 8;
        if (!residues.insert(residue).second)
            continue;
        SCOPED_TRACE(testing::Message() << "length " << exe.size() << ", " << residue << " modulo 8");
        const std::string unsignedExe = kKits + "\\upd-mod" + std::to_string(residue) + ".exe";
        Put(unsignedExe, exe);
        const std::string signedExe = Signed(unsignedExe);
        EXPECT_EQ(ReadWholeFile(signedExe).size() % 8, 0u) << "the signer did not pad";
        ASSERT_NO_FATAL_FAILURE(Launch(signedExe));
        ASSERT_NO_FATAL_FAILURE(FinishOnTheFinalPage());
        ExpectUpdated();
        m_process.reset();
    }
    EXPECT_EQ(residues.size(), 8u);
}

// A version.dll beside the program, with Wine told to prefer such a DLL to
// its own as Windows does for a DLL that is not a known one. The control
// program, which imports VERSION.dll statically, shows that the plant works;
// the release wizard runs a whole update without loading it.
TEST_F(TUpdateE2ETest, PlantedVersionDllIsNeverLoaded)
{
    const std::string folder = kKits + "\\downloads";
    std::filesystem::create_directories(folder);
    const std::string planted = folder + "\\version.dll", marker = planted + ".loaded";
    ::CopyFileA(BuildPath("tests/win32/planted/version.dll").c_str(), planted.c_str(), FALSE);
    ::CopyFileA(BuildPath("tests/win32/planted/version_importer.exe").c_str(),
                (folder + "\\version_importer.exe").c_str(), FALSE);

    // WINEDLLOVERRIDES="version=n,b" for the two programs; Wine takes that
    // variable from the Unix environment only, so the test sets the same load
    // order in the registry, per program.
    const wchar_t* programs[] = {L"version_importer.exe", L"upd-planted.exe"};
    for (const wchar_t* program : programs) {
        const std::wstring key = std::wstring(L"Software\\Wine\\AppDefaults\\") + program + L"\\DllOverrides";
        HKEY handle = nullptr;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle,
                                    nullptr),
                  ERROR_SUCCESS);
        const wchar_t order[] = L"native,builtin";
        ::RegSetValueExW(handle, L"version", 0, REG_SZ, reinterpret_cast<const BYTE*>(order), sizeof(order));
        ::RegCloseKey(handle);
    }
    struct TRestore {
        const wchar_t* const* programs;
        ~TRestore()
        {
            for (int i = 0; i < 2; ++i)
                ::RegDeleteTreeW(HKEY_CURRENT_USER,
                                 (std::wstring(L"Software\\Wine\\AppDefaults\\") + programs[i]).c_str());
        }
    } restore{programs};

    RunAndWait("\"" + folder + "\\version_importer.exe\"", folder);
    ASSERT_TRUE(FileExists(marker)) << "the planted DLL is not loaded even by a program that imports it";
    Remove(marker);

    m_manifest.Stub = BuildPath("release/setup.exe");
    const std::string exe = folder + "\\upd-planted.exe";
    package::BuildPackage(m_manifest, exe, 0, 0, &m_files);
    ASSERT_NO_FATAL_FAILURE(Launch(exe));
    ASSERT_NO_FATAL_FAILURE(FinishOnTheFinalPage());
    ExpectUpdated();
    EXPECT_FALSE(FileExists(marker)) << "the wizard loaded the version.dll beside it";
}

} // namespace
} // namespace upd::uitest
