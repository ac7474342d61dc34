// The wizard run as a user runs it: a real package appended to the real
// setup.exe, a real installation under C:\Pravion of the test prefix, and a
// driver that presses the buttons and reads the boxes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "UiDriver_win32.h"
#include "ui/ControlIds.h"
#include "base/File.h"
#include "package/Md5Hash.h"
#include "package/PackageWriter.h"
#include "version/CEVersionInfo.h"
#include "version/FileOps.h"
#include "wizard/ValidationStage.h"

namespace upd::uitest {
namespace {

using namespace upd::ui;
using package::TFileSignature;
using wizard::TVerdict;

constexpr DWORD kStartTimeout = 30000;
constexpr DWORD kStepTimeout = 15000;

const std::string kFolder = "C:\\Pravion";
const std::string kKp3 = "C:\\Pravion\\kp3.exe";
const std::string kText = "C:\\Pravion\\date.txt";
const std::string kKits = "C:\\upd-e2e";

std::string Fake(const std::string& name) { return BuildPath("tests/win32/fake_" + name + ".exe"); }

void CopyFileTo(const std::string& from, const std::string& to)
{
    auto bytes = ReadWholeFile(from);
    WriteWholeFile(to, bytes.data(), bytes.size());
}

// The state a file is known in: taken from a real file, recorded under the
// name it has on the installation.
std::unique_ptr<TFileSignature> SignatureOf(const std::string& installedName, const std::string& source)
{
    auto s = std::make_unique<TFileSignature>();
    s->FileName = installedName;
    s->Hash = package::FileMD5Text(source);
    s->Size = version::GetFileSizeOf(source);
    s->Version = version::GetFileVersionText(source);
    return s;
}

class TWizardE2ETest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::remove_all(kFolder);
        std::filesystem::create_directories(kFolder);
        std::filesystem::create_directories(kKits);
        m_update.Title = "Bun g@asit @in expertul pentru actualizat Pravion";
        m_update.Description = "Se va actualiza programul *b*Pravion*/b* la versiunea de test.";
        m_update.TagFileName = "sig-e2e.txt";
        m_update.TagText = {"e2e"};
    }

    void Install(const std::string& name, const std::string& source) { CopyFileTo(source, name); }
    void InstallText(const std::string& name, const std::string& text)
    {
        WriteWholeFile(name, text.data(), text.size());
    }

    // A must-have set for `installedName` whose known states are the files `known`.
    void MustHave(const std::string& installedName, const std::vector<std::string>& known)
    {
        auto set = std::make_unique<package::TMustHaveSet>();
        for (const auto& source : known)
            set->Add(SignatureOf(installedName, source));
        m_update.MustHaveSets.Add(std::move(set));
    }

    void Patch(const std::string& target, const std::vector<std::string>& oldFiles, const std::string& newVersion)
    {
        auto set = std::make_unique<package::TPatchSet>();
        for (const auto& source : oldFiles)
            set->OldFiles.Add(SignatureOf(target, source));
        set->TargetFileName = target;
        set->NewVersion = newVersion;
        m_update.PatchSets.Add(std::move(set));
    }

    // Writes the package into a copy of the wizard and starts it.
    void Start()
    {
        static int serial = 0;
        std::string exe = kKits + "\\setup" + std::to_string(++serial) + ".exe";
        // Segment bytes stand behind the description, as in every real package.
        std::vector<std::uint8_t> segments(2048, 0x5A);
        // Their volume is nowhere to be found: the archive stage waits for the
        // user to point at it, so the wizard stays on the archive page.
        package::TPackageFiles files;
        package::WritePackage(BuildPath("app/setup.exe"), exe, m_update, segments, {2048}, &files);
        for (const auto& volume : files.VolumeFileNames)
            DeleteFileNamed(volume);
        m_process = std::make_unique<TWizardProcess>(exe);
        m_main = WaitForMainWindow(m_process->Id(), kStartTimeout);
        ASSERT_NE(m_main, nullptr) << "the wizard's window did not come up";
    }

    HWND Next() const { return MainControl(m_main, kIdButton1); }

    void PressNextOnIntro()
    {
        ASSERT_EQ(VisiblePage(m_main), 0);
        ASSERT_TRUE(WaitUntilEnabled(Next(), kStepTimeout));
        Click(Next());
    }

    std::string NextBoxText(HWND* box = nullptr)
    {
        HWND found = WaitForMessageBox(m_process->Id(), kStepTimeout);
        if (box)
            *box = found;
        return found ? MessageBoxText(found) : "<no box>";
    }

    void ExpectEndsAfterOk(HWND box)
    {
        ASSERT_TRUE(AnswerMessageBox(box, IDOK));
        DWORD code = 1;
        EXPECT_TRUE(m_process->WaitForExit(kStepTimeout, &code)) << "the wizard did not end";
        EXPECT_EQ(code, 0u);
    }

    // From the archive page on, where the stage waits for its own worker.
    void CancelWithYes()
    {
        Click(MainControl(m_main, kIdButton2));
        HWND box = nullptr;
        std::string question = NextBoxText(&box);
        EXPECT_EQ(question.substr(0, 45), "In acest moment programul efectueaza actualiz");
        ASSERT_TRUE(AnswerMessageBox(box, IDYES));
        // A small update may have reached its replacement while the question
        // was open: the end of the program then shows how it ended.
        HWND outcome = nullptr;
        EXPECT_TRUE(WaitUntil(
            [&] {
                outcome = FindMessageBox(m_process->Id());
                return !m_process->Running() || (outcome != nullptr && outcome != box);
            },
            kStepTimeout));
        if (m_process->Running() && outcome)
            AnswerMessageBox(outcome, IDOK);
        EXPECT_TRUE(m_process->WaitForExit(kStepTimeout));
    }

    package::TUpdate m_update;
    std::unique_ptr<TWizardProcess> m_process;
    HWND m_main = nullptr;
};

TEST_F(TWizardE2ETest, MatchingInstallationWalksToTheArchivePage)
{
    Install(kKp3, Fake("v2"));
    InstallText(kText, "date");
    MustHave(kKp3, {Fake("v1"), Fake("v2")});
    MustHave(kText, {kText});
    Patch(kKp3, {Fake("v1"), Fake("v2")}, "3.0.0.0");
    ASSERT_NO_FATAL_FAILURE(Start());

    EXPECT_EQ(WindowText(PageControl(m_main, 0, kIdLabel1)),
              "Bun g\xC4\x83sit \xC3\xAEn expertul pentru actualizat Pravion");
    EXPECT_EQ(WindowText(Next()), "Inainte >>");
    ASSERT_NO_FATAL_FAILURE(PressNextOnIntro());
    ASSERT_TRUE(WaitForPage(m_main, 2, kStepTimeout)) << "no automatic advance to the archive page";
    EXPECT_EQ(FindMessageBox(m_process->Id()), nullptr);
    // The validation bar filled its third.
    EXPECT_EQ(ProgressPosition(PageControl(m_main, 1, kIdProgressBar1)), 10000);
    // The archive stage has copied the description and waits for the volume.
    int archive = ProgressPosition(PageControl(m_main, 2, kIdProgressBar1));
    EXPECT_GE(archive, 10000);
    EXPECT_LT(archive, 20000);

    // The archive stage is running: Next is off and a click does nothing.
    ::Sleep(200);
    EXPECT_FALSE(::IsWindowEnabled(Next()));
    Click(Next());
    ::Sleep(200);
    EXPECT_EQ(VisiblePage(m_main), 2);

    // Cancel asks; No keeps the wizard on its page.
    Click(MainControl(m_main, kIdButton2));
    HWND box = nullptr;
    EXPECT_EQ(NextBoxText(&box),
              "In acest moment programul efectueaza actualizarea. Daca inchideti programul acum, programele in curs "
              "de actualizare pot ramane intr-o stare intermediara de actualizare care nu va mai permite "
              "actualizarea utilizand programe de actualizare descarcate de pe internet.\r\nSigur doriti sa opriti "
              "programula cum?");
    ASSERT_TRUE(AnswerMessageBox(box, IDNO));
    ASSERT_TRUE(WaitUntil([&] { return FindMessageBox(m_process->Id()) == nullptr; }, kStepTimeout));
    EXPECT_TRUE(m_process->Running());
    EXPECT_EQ(VisiblePage(m_main), 2);

    CancelWithYes();
}

TEST_F(TWizardE2ETest, CancelOnTheIntroPageClosesWithoutQuestion)
{
    Install(kKp3, Fake("v2"));
    MustHave(kKp3, {Fake("v2")});
    ASSERT_NO_FATAL_FAILURE(Start());
    Click(MainControl(m_main, kIdButton2));
    EXPECT_TRUE(m_process->WaitForExit(kStepTimeout));
}

// Every finding of the decision table in its box, with its exact text. After
// the two warnings the run goes on; after the rest the program ends.
TEST_F(TWizardE2ETest, EveryFindingShowsItsMessage)
{
    struct Row {
        const char* name;
        std::string installed; // a fake program, "text" for a text file, "" for none
        bool patchSet;
        std::vector<std::string> known;
        std::string newVersion;
        std::string expected;
        bool warning;
    };
    const std::string v1 = Fake("v1"), v2 = Fake("v2"), v2b = Fake("v2b"), v3 = Fake("v3");
    const std::string none = Fake("noversion");
    const std::string txt = "text";
    using wizard::MustHaveMessage;
    using wizard::PatchMessage;
    Row rows[] = {
        {"Test/1", v2b, false, {v2}, "", MustHaveMessage(TVerdict::Modified, kKp3, "2.0.0.0", 1, 1), true},
        {"Test/2", v2, false, {v1, v3}, "", MustHaveMessage(TVerdict::Between, kKp3, "2.0.0.0", 1, 1), false},
        {"Test/3", v1, false, {v2, v3}, "", MustHaveMessage(TVerdict::Older, kKp3, "1.0.0.0", 1, 1), false},
        {"Test/4", v3, false, {v1, v2}, "", MustHaveMessage(TVerdict::Newer, kKp3, "3.0.0.0", 1, 1), false},
        {"Test/5", none, false, {v2}, "",
         MustHaveMessage(TVerdict::NoVersion, kKp3, "<info not available>", 1, 1), false},
        {"Test/6", txt, false, {v2}, "", MustHaveMessage(TVerdict::Corrupt, kText, "<info not available>", 1, 1),
         false},
        {"Test/7", "", false, {v2}, "", MustHaveMessage(TVerdict::Missing, kKp3, "", 1, 1), false},
        {"Patch/1", v2b, true, {v1, v2}, "3.0.0.0", PatchMessage(TVerdict::Modified, kKp3, "2.0.0.0", 1, 1), true},
        {"Patch/2", v2, true, {v1, v3}, "9.0.0.0", PatchMessage(TVerdict::Between, kKp3, "2.0.0.0", 1, 1), false},
        {"Patch/3", v1, true, {v2}, "3.0.0.0", PatchMessage(TVerdict::Older, kKp3, "1.0.0.0", 1, 1), false},
        {"Patch/4", v3, true, {v1, v2}, "9.0.0.0", PatchMessage(TVerdict::Newer, kKp3, "3.0.0.0", 1, 1), false},
        {"Patch/5", none, true, {v1}, "3.0.0.0",
         PatchMessage(TVerdict::NoVersion, kKp3, "<info not available>", 1, 1), false},
        {"Patch/6", txt, true, {v1}, "3.0.0.0",
         PatchMessage(TVerdict::Corrupt, kText, "<info not available>", 1, 1), false},
        {"Patch/7", "", true, {v1}, "3.0.0.0", PatchMessage(TVerdict::Missing, kKp3, "", 1, 1), false},
        {"already updated", v3, true, {v1, v2}, "3.0.0.0", wizard::AlreadyUpdatedMessage(kKp3, "3.0.0.0"), false},
        {"no verdict", v2, true, {none}, "3.0.0.0", wizard::kNoVerdictMessage, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        m_process.reset();
        m_update = package::TUpdate{};
        SetUp();
        std::string target = row.installed == txt ? kText : kKp3;
        if (row.installed == txt)
            InstallText(kText, "modificat");
        else if (!row.installed.empty())
            Install(kKp3, row.installed);
        std::vector<std::string> known = row.known;
        if (row.installed == txt) {
            // A text file known in another content.
            WriteWholeFile(kKits + "\\date-known.txt", "original", 8);
            known = {kKits + "\\date-known.txt"};
        }
        if (row.patchSet)
            Patch(target, known, row.newVersion);
        else
            MustHave(target, known);
        ASSERT_NO_FATAL_FAILURE(Start());
        ASSERT_NO_FATAL_FAILURE(PressNextOnIntro());
        HWND box = nullptr;
        EXPECT_EQ(NextBoxText(&box), row.expected);
        ASSERT_NE(box, nullptr);
        // The stage is still running while its box is open.
        EXPECT_FALSE(::IsWindowEnabled(Next()));
        if (!row.warning) {
            ExpectEndsAfterOk(box);
            continue;
        }
        ASSERT_TRUE(AnswerMessageBox(box, IDOK));
        EXPECT_TRUE(WaitForPage(m_main, 2, kStepTimeout)) << "the run did not go on after the warning";
        CancelWithYes();
    }
}

TEST_F(TWizardE2ETest, WarningHoldsTheStageUntilClosed)
{
    Install(kKp3, Fake("v2b"));
    Install("C:\\Pravion\\kp3b.dll", Fake("v1"));
    MustHave(kKp3, {Fake("v2")});
    MustHave("C:\\Pravion\\kp3b.dll", {Fake("v1")});
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_NO_FATAL_FAILURE(PressNextOnIntro());
    HWND box = WaitForMessageBox(m_process->Id(), kStepTimeout);
    ASSERT_NE(box, nullptr);
    HWND bar = PageControl(m_main, 1, kIdProgressBar1);
    // The first set's step arrived; the second waits behind the box.
    ::Sleep(400);
    EXPECT_EQ(ProgressPosition(bar), 5000);
    EXPECT_EQ(VisiblePage(m_main), 1);
    ASSERT_TRUE(AnswerMessageBox(box, IDOK));
    ASSERT_TRUE(WaitForPage(m_main, 2, kStepTimeout));
    EXPECT_EQ(ProgressPosition(bar), 10000);
    CancelWithYes();
}

TEST_F(TWizardE2ETest, ClosingDuringValidationEndsCleanly)
{
    // Many sets over one large file keep the worker hashing for seconds.
    const std::string big = "C:\\Pravion\\mare.dat";
    std::vector<std::uint8_t> bytes(32 << 20, 0x11);
    WriteWholeFile(big, bytes.data(), bytes.size());
    auto known = SignatureOf(big, big);
    for (int i = 0; i < 100; ++i) {
        auto set = std::make_unique<package::TMustHaveSet>();
        set->Add(std::make_unique<TFileSignature>(*known));
        m_update.MustHaveSets.Add(std::move(set));
    }
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_NO_FATAL_FAILURE(PressNextOnIntro());
    ASSERT_TRUE(WaitForPage(m_main, 1, kStepTimeout));
    ::Sleep(200);
    EXPECT_FALSE(::IsWindowEnabled(Next()));

    Click(MainControl(m_main, kIdButton2));
    HWND box = WaitForMessageBox(m_process->Id(), kStepTimeout);
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(AnswerMessageBox(box, IDYES));
    // The window goes at once; the process follows without a crash.
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(m_main); }, 2000));
    DWORD code = 1;
    ASSERT_TRUE(m_process->WaitForExit(kStepTimeout, &code));
    EXPECT_EQ(code, 0u);
}

TEST_F(TWizardE2ETest, RejectedDescriptionFallsBackToTheShortOne)
{
    Install(kKp3, Fake("v2"));
    MustHave(kKp3, {Fake("v2")});
    // "x" is no tag of the markup.
    m_update.Description = "Text *x*";
    static int serial = 0;
    std::string exe = kKits + "\\setup-markup" + std::to_string(++serial) + ".exe";
    package::WritePackage(BuildPath("app/setup.exe"), exe, m_update, std::vector<std::uint8_t>(2048, 1), {});
    m_process = std::make_unique<TWizardProcess>(exe);
    HWND box = WaitForMessageBox(m_process->Id(), kStartTimeout);
    ASSERT_NE(box, nullptr);
    EXPECT_NE(MessageBoxText(box), "");
    ASSERT_TRUE(AnswerMessageBox(box, IDOK));
    ASSERT_TRUE(WaitUntil([&] { return FindMessageBox(m_process->Id()) != box; }, kStepTimeout));
    box = WaitForMessageBox(m_process->Id(), kStepTimeout);
    ASSERT_NE(box, nullptr);
    // The header's copy of the description, prepared the same way, tags showing.
    EXPECT_EQ(MessageBoxText(box), "<p>Text <x></p>");
    ASSERT_TRUE(AnswerMessageBox(box, IDOK));
    m_main = WaitForMainWindow(m_process->Id(), kStepTimeout);
    ASSERT_NE(m_main, nullptr);
    EXPECT_TRUE(WaitUntilEnabled(Next(), kStepTimeout));
    Click(MainControl(m_main, kIdButton2));
    EXPECT_TRUE(m_process->WaitForExit(kStepTimeout));
}

TEST_F(TWizardE2ETest, WizardWithoutPackageStaysClosable)
{
    m_process = std::make_unique<TWizardProcess>(BuildPath("app/setup.exe"));
    HWND box = WaitForMessageBox(m_process->Id(), kStartTimeout);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), "Nu gasesc header!");
    ASSERT_TRUE(AnswerMessageBox(box, IDOK));
    m_main = WaitForMainWindow(m_process->Id(), kStepTimeout);
    ASSERT_NE(m_main, nullptr);
    ::Sleep(200);
    EXPECT_FALSE(::IsWindowEnabled(Next()));
    EXPECT_EQ(FindMessageBox(m_process->Id()), nullptr);
    Click(MainControl(m_main, kIdButton2));
    EXPECT_TRUE(m_process->WaitForExit(kStepTimeout));
}

} // namespace
} // namespace upd::uitest

namespace upd::uitest {
namespace {

// Pictures of the pages for the documentation (scripts/screenshot-wizard.sh
// runs this with --gtest_also_run_disabled_tests and UPD_SHOT_DIR set).
class TWizardScreens : public TWizardE2ETest {
protected:
    void Shot(const std::string& name)
    {
        const char* dir = std::getenv("UPD_SHOT_DIR");
        ASSERT_NE(dir, nullptr);
        ::Sleep(300); // let the last paint reach the screen
        EXPECT_TRUE(SaveScreenshot(std::string(dir) + "\\" + name + ".bmp"));
    }
};

TEST_F(TWizardScreens, DISABLED_EveryPage)
{
    Install(kKp3, Fake("v2b"));
    MustHave(kKp3, {Fake("v2")});
    m_update.Description = "Se va actualiza programul *b*Pravion*/b* la versiunea *b*3.0*/b*.*/p**p*Actualizarea "
                           "cuprinde calculul concediilor de odihn@a dup@a noile reglement@ari @si "
                           "declara@tiile lunare @in noul format.";
    ASSERT_NO_FATAL_FAILURE(Start());
    Shot("wizard-intro");
    ASSERT_NO_FATAL_FAILURE(PressNextOnIntro());
    HWND box = WaitForMessageBox(m_process->Id(), kStepTimeout);
    ASSERT_NE(box, nullptr);
    Shot("wizard-validation-warning");
    AnswerMessageBox(box, IDOK);
    ASSERT_TRUE(WaitForPage(m_main, 2, kStepTimeout));
    Shot("wizard-archive");
    Click(MainControl(m_main, kIdButton2));
    box = WaitForMessageBox(m_process->Id(), kStepTimeout);
    ASSERT_NE(box, nullptr);
    Shot("wizard-close-question");
    AnswerMessageBox(box, IDYES);
    EXPECT_TRUE(m_process->WaitForExit(kStepTimeout));

    m_process.reset();
    m_update = package::TUpdate{};
    SetUp();
    Install(kKp3, Fake("v3"));
    Patch(kKp3, {Fake("v1"), Fake("v2")}, "3.0.0.0");
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_NO_FATAL_FAILURE(PressNextOnIntro());
    box = WaitForMessageBox(m_process->Id(), kStepTimeout);
    ASSERT_NE(box, nullptr);
    Shot("wizard-validation-fatal");
    AnswerMessageBox(box, IDOK);
    EXPECT_TRUE(m_process->WaitForExit(kStepTimeout));

    m_process = std::make_unique<TWizardProcess>(BuildPath("app/setup.exe"));
    box = WaitForMessageBox(m_process->Id(), kStartTimeout);
    ASSERT_NE(box, nullptr);
    AnswerMessageBox(box, IDOK);
    m_main = WaitForMainWindow(m_process->Id(), kStepTimeout);
    ASSERT_NE(m_main, nullptr);
    Shot("wizard-no-package");
    Click(MainControl(m_main, kIdButton2));
    EXPECT_TRUE(m_process->WaitForExit(kStepTimeout));
}

} // namespace
} // namespace upd::uitest
