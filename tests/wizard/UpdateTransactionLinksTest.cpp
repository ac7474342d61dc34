// The installation's folders and files as the replacement finds them: a
// target or twin that is a link or has a second name is refused before
// anything changes; a folder swapped for a link stops the run and the next
// start, with nothing done through the link; a backup's name taken by another
// program at the moment of the rename never puts that program's file in place.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "TransactionFixture.h"
#include "base/Exception.h"

namespace upd::wizard {
namespace {

namespace fs = std::filesystem;

// The system's operations, with `before` run ahead of step `at` and `after`
// behind it (counted from 1).
class TMomentOps : public TFileOps {
public:
    TMomentOps(TFileOps& inner, int at) : m_inner(inner), m_at(at) {}
    std::function<void(const std::string& from, const std::string& to)> Before, After;
    void CopyDurable(const TPath& from, const std::string& to, bool readOnly) override
    {
        Run(from.Text(), to, [&] { m_inner.CopyDurable(from, to, readOnly); });
    }
    void Rename(const std::string& from, const std::string& to) override
    {
        Run(from, to, [&] { m_inner.Rename(from, to); });
    }
    void RenameVerified(const std::string& from, const std::string& to, const std::string& digest) override
    {
        Run(from, to, [&] { m_inner.RenameVerified(from, to, digest); });
    }
    void RenameOver(const std::string& from, const std::string& to) override
    {
        Run(from, to, [&] { m_inner.RenameOver(from, to); });
    }
    void WriteDurable(const std::string& name, const std::string& bytes) override
    {
        Run(name, name, [&] { m_inner.WriteDurable(name, bytes); });
    }
    void Remove(const std::string& name) override
    {
        Run(name, name, [&] { m_inner.Remove(name); });
    }
    int RetryPauseMs() const override { return 0; }

private:
    template <class TStep>
    void Run(const std::string& from, const std::string& to, TStep step)
    {
        const bool now = ++m_steps == m_at;
        if (now && Before)
            Before(from, to);
        step();
        if (now && After)
            After(from, to);
    }
    TFileOps& m_inner;
    int m_at;
    int m_steps = 0;
};

class TInstallFoldersTest : public TUpdateTransactionTest {
protected:
    // The installation folder renamed away and a link to `m_elsewhere` put
    // in its place, as a standard user may do to C:\\Pravion. False when this
    // system refuses: on Windows the folder is held, or links need rights.
    bool SwapForLink()
    {
        std::error_code error;
        fs::rename(m_install.Path(), m_install.Path() + ".mutat", error);
        if (error)
            return false;
        fs::create_directory_symlink(m_elsewhere.Path(), m_install.Path(), error);
        if (!error)
            return true;
        fs::rename(m_install.Path() + ".mutat", m_install.Path(), error);
        return false;
    }
    void SwapBack()
    {
        fs::remove(m_install.Path());
        fs::rename(m_install.Path() + ".mutat", m_install.Path());
    }
    bool JournalPending() const
    {
        TUpdateJournal saved;
        return TUpdateJournal::Load(m_journalFile, saved) && saved.Pending();
    }
    TTempDir m_elsewhere;
};

TEST_F(TInstallFoldersTest, ALinkedTargetOrTwinIsRefusedWithNothingChanged)
{
    const std::string outside = m_elsewhere.Write("system.dll", "un fisier al sistemului");
    struct TRow {
        const char* Name;
        bool Symbolic;
    };
    const TRow rows[] = {
        {"kp3.exe", false},     {"kp3.exevf", false}, {"salarii.dat", false},
        {"kp3.exe", true},      {"date.dllvf", true},
        {"salarii.datvf", true}, // a twin that did not exist: the link would be followed by the rename
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(std::string(row.Name) + (row.Symbolic ? " as a symbolic link" : " with a second name"));
        Install({"kp3.exe", "date.dll", "salarii.dat"});
        const std::string name = m_install.File(row.Name);
        std::error_code error;
        ClearAttributes(name);
        fs::remove(name, error);
        if (row.Symbolic)
            fs::create_symlink(outside, name, error);
        else
            fs::create_hard_link(outside, name, error);
        if (error) {
            std::cout << "skipped: this system made no link (" << error.message() << ")\n";
            continue;
        }
        fs::permissions(outside, fs::perms::owner_read, fs::perm_options::replace);
        const TSnapshot before = Snapshot();
        try {
            Replace(SystemFileOps());
            ADD_FAILURE() << "replaced a link";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), LinkedFileMessage(name));
        }
        EXPECT_EQ(Snapshot(), before);
        EXPECT_FALSE(JournalPending());
        // Not even the attributes of what the link leads to.
        EXPECT_EQ(fs::status(outside).permissions() & fs::perms::owner_write, fs::perms::none);
        fs::permissions(outside, fs::perms::owner_all, fs::perm_options::add);
        fs::remove(name, error);
    }
}

// After each kind of step, the folder is swapped for a link to another one:
// the next step finds it, nothing is created, changed or deleted in the
// other folder, and the journal stays; with the folder back, the next start
// puts every file back. Where the system holds the folder (Windows), the
// swap itself is refused and the update ends whole.
TEST_F(TInstallFoldersTest, AFolderSwappedForALinkStopsTheRunAndKeepsTheJournal)
{
    // The journal, six staged copies, the journal, then backups and renames
    // into place in turn: after a staged copy, after a backup, after a
    // rename into place.
    for (int at : {2, 9, 10, 14}) {
        SCOPED_TRACE("swapped after step " + std::to_string(at));
        Install({"kp3.exe", "date.dll", "salarii.dat"});
        m_elsewhere.Write("kp3.exe", "al altui director");
        const TSnapshot elsewhere = [&] { TSnapshot s; s["kp3.exe"] = "al altui director"; return s; }();
        TMomentOps ops(SystemFileOps(), at);
        bool swapped = false;
        ops.After = [&](const std::string&, const std::string&) { swapped = SwapForLink(); };
        try {
            Replace(ops);
            EXPECT_FALSE(swapped) << "went on through a link";
            EXPECT_EQ(Snapshot(), NewSnapshot());
            continue;
        } catch (const Exception& e) {
            ASSERT_TRUE(swapped) << e.Message();
            EXPECT_EQ(e.Message(), FolderMovedMessage(m_install.Path()));
        }
        EXPECT_EQ(fs::read_symlink(m_install.Path()).string(), m_elsewhere.Path());
        EXPECT_TRUE(fs::exists(m_elsewhere.File("kp3.exe")));
        EXPECT_EQ(std::distance(fs::directory_iterator(m_elsewhere.Path()), fs::directory_iterator()), 1);
        EXPECT_TRUE(JournalPending());
        // The next start refuses too, with the same words, and keeps the journal.
        try {
            RecoverInterruptedUpdate(m_journalFile, SystemFileOps(), Places());
            ADD_FAILURE() << "recovered through a link";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), FolderMovedMessage(m_install.Path()));
        }
        EXPECT_TRUE(JournalPending());
        EXPECT_EQ(std::distance(fs::directory_iterator(m_elsewhere.Path()), fs::directory_iterator()), 1);
        SwapBack();
        EXPECT_EQ(RecoverInterruptedUpdate(m_journalFile, SystemFileOps(), Places()), TRecovery::RolledBack);
        EXPECT_EQ(Snapshot(), m_old);
        fs::remove(m_elsewhere.File("kp3.exe"));
    }
}

// A run killed half-way, then the folder swapped before the next start.
TEST_F(TInstallFoldersTest, AFolderSwappedBetweenAKillAndTheNextStartIsNotRecoveredThrough)
{
    TKillingOps killed(12);
    EXPECT_THROW(Replace(killed), TKilled);
    m_elsewhere.Write("kp3.exe.vechi1", "al altui director");
    const std::string planted = m_elsewhere.File("kp3.exe.vechi1");
    if (!SwapForLink())
        GTEST_SKIP() << "this system made no link to a folder";
    try {
        RecoverInterruptedUpdate(m_journalFile, SystemFileOps(), Places());
        ADD_FAILURE() << "recovered through a link";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), FolderMovedMessage(m_install.Path()));
    }
    EXPECT_TRUE(JournalPending());
    EXPECT_EQ(std::distance(fs::directory_iterator(m_elsewhere.Path()), fs::directory_iterator()), 1);
    auto bytes = ReadWholeFile(planted);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "al altui director");
    SwapBack();
    EXPECT_EQ(RecoverInterruptedUpdate(m_journalFile, SystemFileOps(), Places()), TRecovery::RolledBack);
    EXPECT_EQ(Snapshot(), m_old);
}

// Another program creates the backup's name between its choice and the
// rename (step 9: the first target's backup; 13: the third's).
TEST_F(TInstallFoldersTest, ABackupNameTakenAtTheRenameNeverGoesOverTheTarget)
{
    for (int at : {9, 11, 13}) {
        SCOPED_TRACE("planted before step " + std::to_string(at));
        Install({"kp3.exe", "date.dll", "salarii.dat"});
        TMomentOps ops(SystemFileOps(), at);
        std::string plantedAt;
        ops.Before = [&](const std::string&, const std::string& to) {
            plantedAt = to;
            TFile(to, TFileMode::CreateNew).Write("al altui program", 16);
        };
        std::string message;
        try {
            Replace(ops);
        } catch (const Exception& e) {
            message = e.Message();
        }
        ASSERT_NE(plantedAt.find(".vechi"), std::string::npos) << plantedAt;
        // Every target its own bytes again, the planted file left where it was.
        TSnapshot expected = m_old;
        expected[fs::path(plantedAt).filename().string()] = "al altui program";
        if (message.find("instalarea a ramas asa cum era") != std::string::npos) {
            EXPECT_EQ(Snapshot(), expected);
            EXPECT_FALSE(JournalPending());
        } else {
            EXPECT_NE(message.find("Nu am putut readuce la starea de dinainte"), std::string::npos) << message;
        }
    }
}

} // namespace
} // namespace upd::wizard
