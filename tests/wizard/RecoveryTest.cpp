// Putting things back, whatever a failure or a kill left: a failure at step k
// of the rollback after a failure at step j of the replacement, a kill at
// every step of the recovery followed by another recovery, every state of a
// target, its staged copy and its backup, and journals that cannot be trusted.
#include <gtest/gtest.h>

#include <filesystem>

#include "TransactionFixture.h"
#include "base/Exception.h"

namespace upd::wizard {
namespace {

const std::vector<std::string> kTwoFiles = {"kp3.exe", "salarii.dat"};
// The journal, four staged copies, the journal, seven renames, the tag file
// and the commit.
constexpr int kCommitStep = 15;

// Fails step `failAt` once, and from step `stuckAt` on every step that
// touches the same file (a file that another program holds from then on);
// tries again without a pause.
class TStuckFileOps : public TFileOps {
public:
    TStuckFileOps(int failAt, int stuckAt) : m_failAt(failAt), m_stuckAt(stuckAt) {}
    void CopyDurable(const TPath& from, const std::string& to, bool readOnly) override
    {
        Step(to, to);
        SystemFileOps().CopyDurable(from, to, readOnly);
    }
    void Rename(const std::string& from, const std::string& to) override
    {
        Step(from, to);
        SystemFileOps().Rename(from, to);
    }
    void RenameVerified(const std::string& from, const std::string& to, const std::string& digest) override
    {
        Step(from, to);
        SystemFileOps().RenameVerified(from, to, digest);
    }
    void RenameOver(const std::string& from, const std::string& to) override
    {
        Step(from, to);
        SystemFileOps().RenameOver(from, to);
    }
    void WriteDurable(const std::string& name, const std::string& bytes) override
    {
        Step(name, name);
        SystemFileOps().WriteDurable(name, bytes);
    }
    void Remove(const std::string& name) override
    {
        Step(name, name);
        SystemFileOps().Remove(name);
    }
    int RetryPauseMs() const override { return 0; }
    int Steps() const noexcept { return m_steps; }

private:
    void Step(const std::string& file, const std::string& other)
    {
        if (++m_steps == m_stuckAt)
            m_stuck = file;
        if (m_steps == m_failAt || (!m_stuck.empty() && (file == m_stuck || other == m_stuck)))
            throw EOSError(32, "Fisierul " + file + " este folosit de alt program (pasul " +
                                   std::to_string(m_steps) + ")");
    }
    int m_failAt;
    int m_stuckAt;
    int m_steps = 0;
    std::string m_stuck;
};

class TRecoveryTest : public TUpdateTransactionTest {
protected:
    void SetUp() override { Install(kTwoFiles); }

    // The next start: true when it ended with the installation as `expected`
    // and the journal gone.
    void RecoverTo(const TSnapshot& expected)
    {
        if (FileExists(m_journalFile)) {
            EXPECT_NO_THROW(RecoverInterruptedUpdate(m_journalFile, SystemFileOps(), Places()));
        }
        EXPECT_EQ(Snapshot(), expected);
        EXPECT_FALSE(FileExists(m_journalFile));
        EXPECT_FALSE(FileExists(m_journalFile + ".tmp"));
    }

    bool JournalPending() const
    {
        TUpdateJournal saved;
        return TUpdateJournal::Load(m_journalFile, saved) && saved.Pending();
    }
};

TEST_F(TRecoveryTest, AFailedRollbackStepKeepsTheJournalUntilTheNextStartPutsEveryFileBack)
{
    for (int j = 1; j <= kCommitStep; ++j) {
        for (int k = 1;; ++k) {
            SCOPED_TRACE("replacement step " + std::to_string(j) + ", rollback step " + std::to_string(k));
            Install(kTwoFiles);
            TStuckFileOps ops(j, j + k);
            std::string message;
            try {
                Replace(ops);
            } catch (const Exception& e) {
                message = e.Message();
            }
            ASSERT_EQ(message.rfind("Nu am putut inlocui fisierul ", 0), 0u) << message;
            if (message.find("instalarea a ramas asa cum era") != std::string::npos) {
                // Counted whole only when it is.
                EXPECT_EQ(Snapshot(), m_old);
            } else {
                EXPECT_NE(message.find("Nu am putut readuce la starea de dinainte fisierul "), std::string::npos);
                EXPECT_TRUE(JournalPending()) << "the next start must find what to put back";
            }
            RecoverTo(m_old);
            if (ops.Steps() < j + k)
                break; // the rollback had fewer steps than k
        }
    }
}

TEST_F(TRecoveryTest, AKillAtAnyRecoveryStepIsFinishedByTheNextRecovery)
{
    const auto prepare = [&](int j) {
        Install(kTwoFiles);
        m_journal.AddTempFile(m_state.Write("PatchTotal_1.bin", "date"));
        TKillingOps killed(j);
        try {
            Replace(killed);
        } catch (const TKilled&) {
            return true;
        }
        return false;
    };
    for (int j = 1; prepare(j); ++j) {
        const TSnapshot expected = j < kCommitStep ? m_old : NewSnapshot();
        for (int k = 1;; ++k) {
            SCOPED_TRACE("replacement killed after step " + std::to_string(j) + ", recovery after step " +
                         std::to_string(k));
            if (k > 1)
                prepare(j);
            TKillingOps recovery(k);
            bool killed = false;
            try {
                RecoverInterruptedUpdate(m_journalFile, recovery, Places());
            } catch (const TKilled&) {
                killed = true;
            }
            // The journal goes only once everything it names is done.
            if (!FileExists(m_journalFile)) {
                EXPECT_EQ(Snapshot(), expected);
            }
            RecoverTo(expected);
            EXPECT_FALSE(FileExists(m_state.File("PatchTotal_1.bin")));
            if (!killed)
                break;
        }
    }
}

enum class TState { Absent, Old, New, Foreign, LinkOfBackup, Folder };
// Whose identity the journal keeps for the target: the file moved to the
// backup, the target itself (the backup's name taken by another program
// before the rename), a file that is neither, or none (an older journal).
enum class TKept { Backup, Target, Other, None };

TEST_F(TRecoveryTest, EveryStateOfTargetStagedCopyAndBackupIsPutBack)
{
    struct TRow {
        const char* What;
        bool Existed;
        TState Target;
        bool Staged;
        bool Backup;
        bool TagIsFolder;
        TKept Kept;
        bool Whole;
    };
    const TRow rows[] = {
        {"nothing renamed yet", true, TState::Old, true, false, false, TKept::Target, true},
        {"target renamed to its backup", true, TState::Absent, true, true, false, TKept::Backup, true},
        {"rename cut between link and unlink", true, TState::LinkOfBackup, true, true, false, TKept::Backup, true},
        {"new file in place", true, TState::New, false, true, false, TKept::Backup, true},
        {"a program re-created the target", true, TState::Foreign, true, true, false, TKept::Backup, true},
        {"a program replaced the new file", true, TState::Foreign, false, true, false, TKept::Backup, true},
        {"the new file was deleted", true, TState::Absent, false, true, false, TKept::Backup, true},
        {"a folder in the target's place", true, TState::Folder, true, true, false, TKept::Backup, false},
        {"target and backup both gone", true, TState::Absent, false, false, false, TKept::Other, false},
        {"a tag file that cannot go", true, TState::New, false, true, true, TKept::Backup, false},
        {"twin not placed yet", false, TState::Absent, true, false, false, TKept::None, true},
        {"twin placed", false, TState::New, false, false, false, TKept::None, true},
        {"a program created the twin", false, TState::Foreign, true, false, false, TKept::None, true},
        // A file under the backup's name that the wizard did not put there is
        // never put over the target: the target keeps its own bytes, or the
        // outcome says it could not be restored.
        {"backup's name taken before the rename", true, TState::Old, true, true, false, TKept::Target, true},
        {"not the wizard's backup, new file in place", true, TState::New, false, true, false, TKept::Other, false},
        {"not the wizard's backup, target gone", true, TState::Absent, false, true, false, TKept::Other, false},
        {"older journal, backup of unknown origin", true, TState::Absent, true, true, false, TKept::None, false},
        {"older journal, nothing renamed yet", true, TState::Old, true, false, false, TKept::None, true},
    };
    const std::string target = m_install.File("kp3.exe");
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.What);
#ifdef _WIN32
        if (row.Target == TState::LinkOfBackup)
            continue;
#endif
        Install({"kp3.exe"});
        RemoveFile(target);
        const std::string tag = m_install.File("Tag") + test::kSeparator + "kp3tag.txt";
        TUpdateJournal journal;
        journal.Open(m_journalFile);
        journal.State = TJournalState::Replacing;
        journal.Entries = {{row.Existed, target, target + ".nou1", target + ".vechi1", ""}};
        journal.TagFile = tag;
        if (row.Backup)
            m_install.Write("kp3.exe.vechi1", "vechi kp3.exe");
        if (row.Staged)
            m_install.Write("kp3.exe.nou1", "nou");
        switch (row.Target) {
        case TState::Old: m_install.Write("kp3.exe", "vechi kp3.exe"); break;
        case TState::New: m_install.Write("kp3.exe", "nou"); break;
        case TState::Foreign: m_install.Write("kp3.exe", "al altui program"); break;
        case TState::LinkOfBackup: std::filesystem::create_hard_link(target + ".vechi1", target); break;
        case TState::Folder: std::filesystem::create_directory(target); break;
        case TState::Absent: break;
        }
        if (row.TagIsFolder)
            std::filesystem::create_directory(tag);
        else
            m_install.Write("Tag/kp3tag.txt", "eticheta\r\n");
        switch (row.Kept) {
        case TKept::Backup: journal.Entries[0].Identity = FileIdentity(target + ".vechi1"); break;
        case TKept::Target: journal.Entries[0].Identity = FileIdentity(target); break;
        case TKept::Other: journal.Entries[0].Identity = "1:2"; break;
        case TKept::None: break;
        }
        journal.Save(SystemFileOps());
        const TSnapshot before = Snapshot();
        try {
            EXPECT_EQ(RecoverInterruptedUpdate(m_journalFile, SystemFileOps(), Places()), TRecovery::RolledBack);
            EXPECT_TRUE(row.Whole);
        } catch (const Exception& e) {
            EXPECT_FALSE(row.Whole) << e.Message();
            EXPECT_EQ(e.Message().rfind("O actualizare anterioara a fost intrerupta si nu am putut readuce", 0), 0u);
            EXPECT_TRUE(FileExists(m_journalFile));
            // What is not the wizard's own stays as it was.
            if (row.Kept == TKept::Other || row.Kept == TKept::None)
                EXPECT_EQ(Snapshot().count("kp3.exe.vechi1"), before.count("kp3.exe.vechi1"));
            continue;
        }
        TSnapshot expected;
        if (row.Existed)
            expected["kp3.exe"] = "vechi kp3.exe";
        if (row.Kept == TKept::Target && row.Backup)
            expected["kp3.exe.vechi1"] = before.at("kp3.exe.vechi1");
        EXPECT_EQ(Snapshot(), expected);
        EXPECT_FALSE(FileExists(m_journalFile));
    }
}

// A journal that is not whole or not understood is kept, and nothing it
// names is touched: not the backup it would put back, not the temporary file
// it would delete.
TEST_F(TRecoveryTest, ADamagedJournalIsKeptAndNothingIsTouched)
{
    const std::string target = m_install.File("kp3.exe");
    const std::string temp = m_state.Write("PatchTotal_1.bin", "date");
    const std::string good = "Jurnal de actualizare 1\r\nstare inlocuire\r\ntemp " + temp + "\r\nfisier 1|" + target +
                             "|" + target + ".nou1|" + target + ".vechi1\r\n";
    const std::string outside = std::filesystem::path(m_new.Path()).append("salarii.dat").string();
    struct TRow {
        std::string Text;
        std::string Problem;
    };
    const TRow rows[] = {
        {"\xEF\xBB\xBF" + good, "linia 1: prima linie nu este \"Jurnal de actualizare 1\""},
        {good.substr(0, good.size() - 9), "ultima linie este incompleta"},
        {"", "jurnalul este gol"},
        {good + "stare gata\r\n", "linia 5: starea apare de doua ori"},
        {"Jurnal de actualizare 1\r\nstare gata\r\n", "linia 2: starea \"gata\" nu este cunoscuta"},
        {"Jurnal de actualizare 1\r\nfisier 1|" + target + "|" + target + ".nou1|" + target + ".vechi1\r\n",
         "lipseste linia \"stare\""},
        {good + "versiune 2\r\n", "linia 5: cheia \"versiune\" nu este cunoscuta"},
        {good + "fisier 1|kp3.exe|kp3.exe.nou1|kp3.exe.vechi1\r\n",
         "linia 5: calea \"kp3.exe\" nu este o cale completa"},
        {good + "fisier 1|" + outside + "|" + outside + ".nou1|" + outside + ".vechi1\r\n",
         "linia 5: fisierul " + outside + " nu face parte din instalare"},
        {good + "fisier 1|" + target + "|" + temp + "|" + target + ".vechi2\r\n",
         "linia 5: \"" + temp + "\" nu este o copie noua a fisierului " + target},
        {good + "fisier 1|" + target + "|" + target + ".nou2|" + target + ".vechi01\r\n",
         "linia 5: \"" + target + ".vechi01\" nu este o copie veche a fisierului " + target},
        {good + "temp PatchTotal_2.bin\r\n",
         "linia 5: fisierul \"PatchTotal_2.bin\" nu este un fisier temporar al programului de actualizare"},
        {good + "temp " + target + "\r\n",
         "linia 5: fisierul \"" + target + "\" nu este un fisier temporar al programului de actualizare"},
        {good + "fisier 1|" + target + "\r\n", "linia 5: linia \"fisier 1|" + target + "\" nu descrie un fisier"},
        {"Jurnal de actualizare 1\nstare adunare\r\n", "linia 1: linia se termina altfel decat cu CR LF"},
        // Temporary files lie in the work folder only, whatever their names.
        {good + "temp " + m_install.File("PatchTotal_2.bin") + "\r\n",
         "linia 5: fisierul \"" + m_install.File("PatchTotal_2.bin") +
             "\" nu este un fisier temporar al programului de actualizare"},
        {good + "identitate " + target + "|zz:1\r\n",
         "linia 5: linia \"identitate " + target + "|zz:1\" nu descrie identitatea fisierului de pe linia dinainte"},
        {good + "identitate " + target + ".nou1|1:2\r\n", "linia 5: linia \"identitate " + target +
                                                             ".nou1|1:2\" nu descrie identitatea fisierului de pe linia dinainte"},
        {"Jurnal de actualizare 1\r\nstare inlocuire\r\nidentitate " + target + "|1:2\r\n",
         "linia 3: linia \"identitate " + target + "|1:2\" nu descrie identitatea fisierului de pe linia dinainte"},
    };
    m_install.Write("kp3.exe.vechi1", "vechi kp3.exe");
    RemoveFile(target);
    const TSnapshot before = Snapshot();
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Problem);
        m_state.Write("Actualizare.jurnal", row.Text);
        try {
            RecoverInterruptedUpdate(m_journalFile, SystemFileOps(), Places());
            ADD_FAILURE() << "a damaged journal was acted on";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), DamagedJournalMessage(m_journalFile, row.Problem));
        }
        auto bytes = ReadWholeFile(m_journalFile);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), row.Text);
        EXPECT_EQ(Snapshot(), before);
        EXPECT_TRUE(FileExists(temp));
    }
    // The same journal without its damage is acted on.
    m_state.Write("Actualizare.jurnal", good + "identitate " + target + "|" + FileIdentity(target + ".vechi1") + "\r\n");
    EXPECT_EQ(RecoverInterruptedUpdate(m_journalFile, SystemFileOps(), Places()), TRecovery::RolledBack);
    EXPECT_FALSE(FileExists(temp));
}

} // namespace
} // namespace upd::wizard
