// The replacement of the installed files, all or nothing: a failure at every
// step puts every file back; a kill after every step is finished or undone by
// the next start from the journal.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "TransactionFixture.h"
#include "base/Exception.h"
#include "base/File.h"
#include "package/DuplicateNames.h"
#include "package/Md5Hash.h"
#include "wizard/UpdateFiles.h"
#include "wizard/UpdateTransaction.h"

namespace upd::wizard {
namespace {

TEST_F(TUpdateTransactionTest, AFailureAtAnyStepPutsEveryFileBack)
{
    int k = 1;
    for (;; ++k) {
        SCOPED_TRACE("step " + std::to_string(k));
        TFaultyFileOps ops(SystemFileOps(), k);
        try {
            Replace(ops);
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message().rfind("Nu am putut inlocui fisierul ", 0), 0u) << e.Message();
            EXPECT_NE(e.Message().find("Eroare simulata de test (pasul " + std::to_string(k) + ")"),
                      std::string::npos);
            EXPECT_NE(e.Message().find("instalarea a ramas asa cum era"), std::string::npos);
            // Every file as it was, read-only twins included; no staged copy,
            // backup or tag file left; the journal no longer names any file.
            EXPECT_EQ(Snapshot(), m_old);
            EXPECT_TRUE(IsReadOnly(m_install.File("kp3.exevf")));
            TUpdateJournal saved;
            ASSERT_TRUE(TUpdateJournal::Load(m_journalFile, saved));
            EXPECT_FALSE(saved.Pending());
            EXPECT_TRUE(saved.Entries.empty());
            continue;
        }
        break;
    }
    // The journal, six staged copies, the journal, five backups, six renames
    // into place, the tag file and the commit: the last step is 21.
    EXPECT_EQ(k, 22);
    EXPECT_EQ(Snapshot(), NewSnapshot());
    EXPECT_TRUE(IsReadOnly(m_install.File("kp3.exe")));
    EXPECT_TRUE(IsReadOnly(m_install.File("salarii.datvf")));
}

TEST_F(TUpdateTransactionTest, AKillAfterAnyStepIsUndoneOrFinishedAtTheNextStart)
{
    m_journal.AddTempFile(m_state.Write("PatchTotal_1.bin", "date"));
    const TUpdateJournal gathering = m_journal;
    for (int k = 1; k <= 21; ++k) {
        SCOPED_TRACE("killed after step " + std::to_string(k));
        m_journal = gathering;
        TKillingOps ops(k);
        EXPECT_THROW(Replace(ops), TKilled);
        TRecovery done = RecoverInterruptedUpdate(m_journalFile);
        // Up to the commit the run is undone; after it, finished.
        if (k < 21) {
            EXPECT_EQ(done, TRecovery::RolledBack);
            EXPECT_EQ(Snapshot(), m_old);
        } else {
            EXPECT_EQ(done, TRecovery::Finished);
            EXPECT_EQ(Snapshot(), NewSnapshot());
            break;
        }
        EXPECT_FALSE(FileExists(m_journalFile));
        EXPECT_FALSE(FileExists(m_state.File("PatchTotal_1.bin"))) << "temporary files go too";
        m_state.Write("PatchTotal_1.bin", "date");
    }
    EXPECT_FALSE(FileExists(m_journalFile));
    EXPECT_FALSE(FileExists(m_journalFile + ".tmp"));
}

TEST_F(TUpdateTransactionTest, ABackupThatCannotGoBackKeepsTheJournalForTheNextStart)
{
    TKillingOps killed(12); // targets half replaced
    EXPECT_THROW(Replace(killed), TKilled);
    // A program holds the place of the first target: a folder of its name
    // stands where the backup must go back.
    std::string first = m_install.File("kp3.exe");
    ASSERT_TRUE(FileExists(first + ".vechi1"));
    RemoveFile(first);
    std::filesystem::create_directory(first);
    try {
        RecoverInterruptedUpdate(m_journalFile);
        FAIL() << "recovered through a folder";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message().rfind(InterruptedRestoreMessage(first, "").substr(0, 60), 0), 0u) << e.Message();
    }
    EXPECT_TRUE(FileExists(m_journalFile));
    std::filesystem::remove(first);
    EXPECT_EQ(RecoverInterruptedUpdate(m_journalFile), TRecovery::RolledBack);
    EXPECT_EQ(Snapshot(), m_old);
}

// Names are settled before anything is planned: a folder in the place of a
// target or twin is an error, not a file in use; one file named twice (in
// another spelling) is refused; each target brings its twin.
TEST_F(TUpdateTransactionTest, PlanningRefusesFoldersAndOneFileNamedTwice)
{
    const TPath fresh = m_files[0].NewFile;
    const std::string exe = m_install.File("kp3.exe"), dat = m_install.File("salarii.dat");
    const std::vector<TReplacement> planned = PlanReplacements({{fresh, exe}, {fresh, dat}});
    ASSERT_EQ(planned.size(), 4u);
    EXPECT_EQ(planned[1].Target, exe + "vf");
    EXPECT_EQ(planned[3].Target, dat + "vf");

    std::filesystem::create_directory(dat + "vf");
    const std::string spelled = m_install.Path() + test::kSeparator + "." + test::kSeparator + "kp3.exe";
    const std::pair<std::vector<TReplacement>, std::string> rows[] = {
        {{{fresh, exe}, {fresh, dat}}, FolderInPlaceMessage(dat + "vf")},
        {{{fresh, m_install.File("Tag")}}, FolderInPlaceMessage(m_install.File("Tag"))},
        {{{fresh, exe}, {fresh, spelled}}, package::SameFileTwiceMessage({exe, spelled})},
    };
    for (const auto& [targets, message] : rows) {
        try {
            PlanReplacements(targets);
            ADD_FAILURE() << message;
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), message);
        }
    }
    EXPECT_EQ(Snapshot(), m_old);
}

TEST(TUpdateJournalTest, ReadsBackWhatItWrites)
{
    TUpdateJournal journal;
    journal.State = TJournalState::Replacing;
    journal.TempFiles = {Abs("T/PatchTotal_1.bin"), Abs("T/Patched_2.bin")};
    journal.Entries = {
        {true, Abs("Pravion/kp3.exe"), Abs("Pravion/kp3.exe.nou1"), Abs("Pravion/kp3.exe.vechi1"), "43000000:0051e7d0"},
        {false, Abs("Pravion/kp3.exevf"), Abs("Pravion/kp3.exevf.nou1"), Abs("Pravion/kp3.exevf.vechi2"), ""}};
    journal.TagFile = Abs("Program Files/Tarvix/Kp3Tag/Tag/kp3.txt");
    TUpdateJournal read;
    ASSERT_TRUE(TUpdateJournal::Parse(journal.Text(), read));
    EXPECT_EQ(read.Text(), journal.Text());
    EXPECT_EQ(read.Entries[1].Existed, false);
    EXPECT_EQ(read.Entries[0].Identity, "43000000:0051e7d0");
    // An older journal, without identities, is still read: they are not known.
    std::string older = journal.Text();
    older.erase(older.find("identitate "), older.find("\r\n", older.find("identitate ")) + 2 - older.find("identitate "));
    ASSERT_TRUE(TUpdateJournal::Parse(older, read));
    EXPECT_EQ(read.Entries.size(), 2u);
    EXPECT_EQ(read.Entries[0].Identity, "");
    TUpdateJournal none;
    EXPECT_FALSE(TUpdateJournal::Parse("stare inlocuire\r\n", none));
    // A damaged line makes the whole journal damaged: it is not passed over.
    EXPECT_FALSE(TUpdateJournal::Parse("Jurnal de actualizare 1\r\nstare adunare\r\nfisier 1|a|b\r\n", none));
}

// The journal keeps names as message texts: a temporary folder named in any
// script (a user "Ștefan", a CJK user name) is still found and emptied after a kill.
TEST(TUpdateJournalTest, TempFilesInFoldersNamedInAnyScriptAreRemovedAfterAKill)
{
    TTempDir state;
    const TPath folder = TPath(state.Path()) + TPath("/Temp \xC8\x99\xC8\x9B\xD0\x96\xE4\xB8\xAD");
    const TPath file = folder + TPath("/PatchTotal_1.bin");
    std::filesystem::create_directories(std::filesystem::path(folder.Native()));
    std::ofstream(std::filesystem::path(file.Native())) << "date";
    TUpdateJournal journal;
    journal.Open(state.File("Actualizare.jurnal"));
    journal.AddTempFile(file.Text());
    // The file keeps its form: code page 1250, each letter the page lacks as 0x1A and its UTF-8 bytes.
    const std::vector<std::uint8_t> bytes = ReadWholeFile(state.File("Actualizare.jurnal"));
    const std::string stored = "/Temp \x1A\xC8\x99\x1A\xC8\x9B\x1A\xD0\x96\x1A\xE4\xB8\xAD/";
    EXPECT_NE(std::string(bytes.begin(), bytes.end()).find(stored), std::string::npos);
    EXPECT_EQ(RecoverInterruptedUpdate(state.File("Actualizare.jurnal")), TRecovery::TempFilesOnly);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(file.Native())));
}

} // namespace
} // namespace upd::wizard
