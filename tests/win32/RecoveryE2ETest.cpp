// What the real wizard says when the world does not hold still: another
// program re-creates a file the moment it is renamed away, the journal of an
// interrupted run is damaged, the package names one file twice. Each time
// the installation ends wholly old (its data intact) or wholly new, and the
// message says which.
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "AllOrNothingFixture_win32.h"
#include "package/DuplicateNames.h"
#include "package/PackageWriter.h"
#include "wizard/UpdateTransaction.h"

namespace upd::uitest {
namespace {

// Another program that re-creates `path` whenever it disappears, until it is
// stopped; it reports how many times it did.
class TRecreator {
public:
    explicit TRecreator(const std::string& path)
    {
        Remove(kStop);
        Remove(kCount);
        std::string commandLine = "\"" + BuildPath("tests/win32/fake_recreator.exe") + "\" \"" + path + "\" \"" +
                                  kStop + "\" \"" + kCount + "\"";
        STARTUPINFOA startup{};
        startup.cb = sizeof(startup);
        EXPECT_TRUE(::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                     &startup, &m_info));
    }
    ~TRecreator() { Stop(); }

    int Stop()
    {
        if (!m_info.hProcess)
            return m_created;
        Put(kStop, "");
        if (::WaitForSingleObject(m_info.hProcess, kStepTimeout) != WAIT_OBJECT_0)
            ::TerminateProcess(m_info.hProcess, 1);
        ::CloseHandle(m_info.hProcess);
        ::CloseHandle(m_info.hThread);
        m_info = {};
        m_created = FileExists(kCount) ? std::atoi(Text(kCount).c_str()) : -1;
        Remove(kStop);
        Remove(kCount);
        return m_created;
    }

private:
    const std::string kStop = kKits + "\\recreator.stop";
    const std::string kCount = kKits + "\\recreator.count";
    PROCESS_INFORMATION m_info{};
    int m_created = 0;
};

class TRecoveryE2ETest : public TAllOrNothingE2ETest {
protected:
    // Every file of the installation folder with its bytes.
    static std::map<std::string, std::string> Folder()
    {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::directory_iterator(kFolder))
            if (entry.is_regular_file())
                files[entry.path().string()] = Text(entry.path().string());
        return files;
    }
};

TEST_F(TRecoveryE2ETest, AProgramThatReCreatesATargetLeavesTheInstallationOldWithItsData)
{
    Build();
    Install();
    const std::string target = m_files[1].Target;
    std::string message;
    int created = 0;
    {
        TRecreator recreator(target);
        // Each step waits a little, so that the other program gets in
        // between the target's rename to its backup and the new file's.
        TEnvironment slow("UPD_TEST_FILE_OP_DELAY_MS", 40);
        ASSERT_NO_FATAL_FAILURE(Launch());
        message = RunToEnd();
        created = recreator.Stop();
    }
    std::printf("[ recreate ] the other program created the file %d times\n", created);
    if (created == 0) {
        // It never got in: the update went through.
        EXPECT_EQ(message, "");
        ExpectNew();
    } else {
        EXPECT_EQ(message.find("Nu am putut inlocui fisierul " + target + "."), message.find("Nu am putut"))
            << message;
        EXPECT_NE(message.find("instalarea a ramas asa cum era"), std::string::npos) << message;
        ExpectOld();
    }
    ExpectNoLeftovers();
}

TEST_F(TRecoveryE2ETest, ADamagedJournalIsNamedKeptAndNothingChanges)
{
    Build();
    const std::string target = m_files[1].Target;
    const std::string good = "Jurnal de actualizare 1\r\nstare inlocuire\r\nfisier 1|" + target + "|" + target +
                             ".nou1|" + target + ".vechi1\r\n";
    const std::pair<std::string, std::string> rows[] = {
        {"\xEF\xBB\xBF" + good, "linia 1: prima linie nu este \"Jurnal de actualizare 1\""},
        {good.substr(0, good.size() - 12), "ultima linie este incompleta"},
        {"Jurnal de actualizare 1\r\nstare terminat\r\n", "linia 2: starea \"terminat\" nu este cunoscuta"},
        {good + "fisier 1|C:\\Windows\\win.ini|C:\\Windows\\win.ini.nou1|C:\\Windows\\win.ini.vechi1\r\n",
         "linia 4: fisierul C:\\Windows\\win.ini nu face parte din instalare"},
    };
    for (const auto& [text, problem] : rows) {
        SCOPED_TRACE(problem);
        Install();
        // The backup the journal names holds the old file, renamed away.
        ASSERT_TRUE(::MoveFileA(target.c_str(), (target + ".vechi1").c_str()));
        Put(wizard::kJournalFile, text);
        const auto before = Folder();
        m_process = std::make_unique<TWizardProcess>(m_exe);
        HWND box = WaitForMessageBox(m_process->Id(), kStartTimeout);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(MessageBoxText(box), wizard::DamagedJournalMessage(wizard::kJournalFile, problem));
        AnswerMessageBox(box, IDOK);
        EXPECT_TRUE(m_process->WaitForExit(kStepTimeout));
        EXPECT_EQ(Text(wizard::kJournalFile), text);
        EXPECT_EQ(Folder(), before);
        EXPECT_FALSE(FileExists(kTag));
        m_process.reset();
        Remove(wizard::kJournalFile);
    }
}

TEST_F(TRecoveryE2ETest, APackageNamingOneFileTwiceIsRefusedBeforeAnythingChanges)
{
    const std::string twice = "C:\\PRAVION\\SALARII.DAT";
    m_manifest.Patches.push_back({twice, {kKits + "\\date1", kKits + "\\date2"}, kKits + "\\date3", false});
    std::vector<std::uint8_t> segments;
    const package::TUpdate update = package::MakeUpdate(m_manifest, segments);
    m_exe = kKits + "\\twice.exe";
    package::WritePackage(m_manifest.Stub, m_exe, update, segments, {});
    Install();
    const auto before = Folder();
    ASSERT_NO_FATAL_FAILURE(Launch());
    EXPECT_EQ(RunToEnd(), package::SameFileTwiceMessage({m_files[1].Target, twice}));
    EXPECT_EQ(Folder(), before);
    ExpectOld();
    ExpectNoLeftovers();
}

// "Yes" to the close question while the replacement runs: the cancel is
// refused, the window goes, and the end of the program waits for the
// replacement and says how it ended (no hand-off on success).
TEST_F(TRecoveryE2ETest, ClosingDuringTheReplacementStillShowsHowItEnded)
{
    Build();
    for (int failAt : {0, 15}) {
        SCOPED_TRACE(failAt ? "a step fails" : "it succeeds");
        Install();
        TEnvironment slowStages("UPD_TEST_PROGRESS_DELAY_MS", 100);
        TEnvironment slowSteps("UPD_TEST_FILE_OP_DELAY_MS", 100);
        std::unique_ptr<TEnvironment> fail;
        if (failAt)
            fail = std::make_unique<TEnvironment>("UPD_TEST_FAIL_FILE_OP", failAt);
        ASSERT_NO_FATAL_FAILURE(Launch());
        ASSERT_TRUE(WaitForPage(m_main, 3, kStepTimeout));
        ::PostMessageW(m_main, WM_CLOSE, 0, 0);
        HWND question = WaitForMessageBox(m_process->Id(), kStepTimeout);
        ASSERT_NE(question, nullptr);
        EXPECT_EQ(MessageBoxText(question).rfind("In acest moment programul efectueaza actualizarea.", 0), 0u);
        ASSERT_TRUE(WaitUntil(
            [] {
                try {
                    wizard::TUpdateJournal journal;
                    return wizard::TUpdateJournal::Load(wizard::kJournalFile, journal) &&
                           journal.State == wizard::TJournalState::Replacing;
                } catch (const Exception&) {
                    return false;
                }
            },
            kStepTimeout));
        ASSERT_TRUE(AnswerMessageBox(question, IDYES));
        HWND outcome = nullptr;
        ASSERT_TRUE(WaitUntil(
            [&] {
                outcome = FindMessageBox(m_process->Id());
                return outcome != nullptr && outcome != question;
            },
            kStepTimeout));
        const std::string text = MessageBoxText(outcome);
        AnswerMessageBox(outcome, IDOK);
        EXPECT_TRUE(m_process->WaitForExit(kStepTimeout));
        if (failAt) {
            EXPECT_NE(text.find("Eroare simulata de test (pasul 15)"), std::string::npos) << text;
            EXPECT_NE(text.find("instalarea a ramas asa cum era"), std::string::npos) << text;
            ExpectOld();
        } else {
            EXPECT_EQ(text.rfind("Actualizarea s-a incheiat cu succes", 0), 0u) << text;
            ExpectNew();
        }
        ExpectNoLeftovers();
    }
}

} // namespace
} // namespace upd::uitest
