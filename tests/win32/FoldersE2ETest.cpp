// The installation folder under the real wizard, while other programs move
// it: C:\Pravion renamed away and a link to another folder put in its place
// while the "file in use" question waits, or between a run that kept its
// journal and the next start; and a backup's name taken by another program
// at the moment of the rename. Nothing outside the installation may be
// created, changed or deleted, and the message says what happened.
//
// The links are Unix links made from Linux by swapped-folder.sh (Wine follows
// them as Windows follows a junction); the renames are done here, by a
// Windows program, so that they meet the wizard's share modes. Without the
// script (UPD_LINK_HELPER unset) the tests that need a link are skipped.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>

#include "AllOrNothingFixture_win32.h"
#include "wizard/UpdateFiles.h"
#include "wizard/UpdateTransaction.h"

namespace upd::uitest {
namespace {

const std::string kElsewhere = "C:\\Altul";
const std::string kMoved = "C:\\Pravion.mutat";

class TFoldersE2ETest : public TAllOrNothingE2ETest {
protected:
    void SetUp() override
    {
        TAllOrNothingE2ETest::SetUp();
        fs::remove_all(kElsewhere);
        fs::create_directories(kElsewhere);
        // What a user's program would have the wizard overwrite or put back.
        Put(kElsewhere + "\\salarii.dat", "al altui director");
        Put(kElsewhere + "\\salarii.dat.vechi1", "pus de alt program");
    }
    void TearDown() override
    {
        m_process.reset();
        if (fs::exists(kMoved)) {
            if (fs::exists(kFolder))
                Ask("remove");
            ::MoveFileW(L"C:\\Pravion.mutat", L"C:\\Pravion");
        }
        TAllOrNothingE2ETest::TearDown();
        fs::remove_all(kElsewhere);
    }

    void SwappedWhileInUse();
    void SwappedBeforeTheNextStart();

    static bool LinkHelper() { return std::getenv("UPD_LINK_HELPER") != nullptr; }

    // Asks the script on the Linux side to "make" the link C:\Pravion ->
    // C:\Altul or to "remove" it, and waits until it did.
    static bool Ask(const std::string& what)
    {
        const std::string request = kKits + "\\link.request";
        Put(request, what);
        return WaitUntil([&] { return !FileExists(request); }, kStepTimeout);
    }

    // The installation folder renamed by a Windows program, then the link.
    static void SwapForLink()
    {
        ASSERT_TRUE(::MoveFileW(L"C:\\Pravion", L"C:\\Pravion.mutat")) << ::GetLastError();
        ASSERT_TRUE(Ask("make"));
        ASSERT_TRUE(fs::is_directory(kFolder));
    }

    static std::map<std::string, std::string> Elsewhere()
    {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::directory_iterator(kElsewhere))
            files[entry.path().filename().string()] = Text(entry.path().string());
        return files;
    }
    const std::map<std::string, std::string> m_elsewhere = {{"salarii.dat", "al altui director"},
                                                            {"salarii.dat.vechi1", "pus de alt program"}};
};

// The program users get (no test hooks) and the test build, each in turn.
const char* const kStubs[] = {"release/setup.exe", "app/setup.exe"};

TEST_F(TFoldersE2ETest, AFolderSwappedForALinkWhileTheInUseQuestionWaitsIsNotWrittenThrough)
{
    if (!LinkHelper())
        GTEST_SKIP() << "needs swapped-folder.sh to make the link";
    for (const char* stub : kStubs) {
        SCOPED_TRACE(stub);
        m_manifest.Stub = BuildPath(stub);
        Build();
        SwappedWhileInUse();
        if (HasFatalFailure())
            return;
    }
}

void TFoldersE2ETest::SwappedWhileInUse()
{
    Install();
    HANDLE lock = ::CreateFileA(m_files[1].Target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    ASSERT_NO_FATAL_FAILURE(Launch());
    HWND box = WaitForMessageBox(m_process->Id(), kStepTimeout);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box).rfind("Fisierul C:\\Pravion\\salarii.dat nu poate fi inlocuit acum", 0), 0u);
    ::CloseHandle(lock);
    ASSERT_NO_FATAL_FAILURE(SwapForLink());
    ASSERT_TRUE(AnswerMessageBox(box, IDRETRY));
    ASSERT_TRUE(WaitUntil([&] { return FindMessageBox(m_process->Id()) != box; }, kStepTimeout));
    // The stage's error, after the name of its class.
    const std::string message = RunToEnd();
    EXPECT_NE(message.find(wizard::FolderMovedMessage(kFolder)), std::string::npos) << message;
    // Nothing created, changed or deleted in the other folder; the moved
    // installation as it was; nothing left to undo.
    EXPECT_EQ(Elsewhere(), m_elsewhere);
    for (const TInstalledFile& f : m_files)
        EXPECT_EQ(Text(kMoved + f.Target.substr(kFolder.size())), Text(f.Old)) << f.Target;
    EXPECT_FALSE(FileExists(wizard::kJournalFile));
    EXPECT_FALSE(FileExists(kTag));
    ASSERT_TRUE(Ask("remove"));
    ASSERT_TRUE(::MoveFileW(L"C:\\Pravion.mutat", L"C:\\Pravion"));
}

TEST_F(TFoldersE2ETest, AFolderSwappedBeforeTheNextStartIsNotRecoveredThrough)
{
    if (!LinkHelper())
        GTEST_SKIP() << "needs swapped-folder.sh to make the link";
    for (const char* stub : kStubs) {
        SCOPED_TRACE(stub);
        m_manifest.Stub = BuildPath(stub);
        Build();
        SwappedBeforeTheNextStart();
        if (HasFatalFailure())
            return;
    }
}

void TFoldersE2ETest::SwappedBeforeTheNextStart()
{
    Install();
    // A run that could not put salarii.dat back kept its journal.
    const std::string target = m_files[1].Target;
    ASSERT_TRUE(::MoveFileA(target.c_str(), (target + ".vechi1").c_str()));
    const std::string journal = "Jurnal de actualizare 1\r\nstare inlocuire\r\nfisier 1|" + target + "|" + target +
                                ".nou1|" + target + ".vechi1\r\nidentitate " + target + "|" +
                                wizard::FileIdentity(target + ".vechi1") + "\r\n";
    Put(wizard::kJournalFile, journal);
    ASSERT_NO_FATAL_FAILURE(SwapForLink());
    m_process = std::make_unique<TWizardProcess>(m_exe);
    HWND box = WaitForMessageBox(m_process->Id(), kStartTimeout);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), wizard::FolderMovedMessage(kFolder));
    AnswerMessageBox(box, IDOK);
    EXPECT_TRUE(m_process->WaitForExit(kStepTimeout));
    EXPECT_EQ(Elsewhere(), m_elsewhere);
    EXPECT_EQ(Text(wizard::kJournalFile), journal);
    EXPECT_EQ(Text(kMoved + "\\salarii.dat.vechi1"), Text(m_files[1].Old));
    // The folder back in its place: the next start puts the file back.
    ASSERT_TRUE(Ask("remove"));
    ASSERT_TRUE(::MoveFileW(L"C:\\Pravion.mutat", L"C:\\Pravion"));
    m_process = std::make_unique<TWizardProcess>(m_exe);
    ASSERT_NE(WaitForMainWindow(m_process->Id(), kStartTimeout), nullptr);
    m_process.reset();
    ExpectOld();
    ExpectNoLeftovers();
}

// Another program creates kp3.exe.vechi1 the moment the replacement begins
// (each step of the test build waits, so it lands before the first rename).
TEST_F(TFoldersE2ETest, ABackupNamePlantedAtTheRenameIsNeverPutOverTheTarget)
{
    Build();
    Install();
    const std::string planted = m_files[0].Target + ".vechi1";
    TEnvironment slow("UPD_TEST_FILE_OP_DELAY_MS", 300);
    ASSERT_NO_FATAL_FAILURE(Launch());
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
    HANDLE file = ::CreateFileA(planted.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "too late: the wizard made its backup first";
    DWORD written = 0;
    ::WriteFile(file, "pus de alt program", 18, &written, nullptr);
    ::CloseHandle(file);
    const std::string message = RunToEnd();
    EXPECT_EQ(Text(planted), "pus de alt program");
    if (message.find("instalarea a ramas asa cum era") != std::string::npos) {
        ExpectOld();
        EXPECT_FALSE(FileExists(wizard::kJournalFile));
    } else {
        EXPECT_NE(message.find("Nu am putut readuce la starea de dinainte"), std::string::npos) << message;
    }
    std::printf("[ planted ] %s\n", message.c_str());
    Remove(planted);
}

} // namespace
} // namespace upd::uitest
