// What the transaction tests share: an installation of three files (two with
// read-only twins), their new versions, a journal, operations that die after
// step k, and snapshots of every byte of the installation.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "TestPaths.h"
#include "base/File.h"
#include "package/Md5Hash.h"
#include "wizard/UpdateFiles.h"
#include "wizard/UpdateLog.h"
#include "wizard/UpdateTransaction.h"

namespace upd::wizard {

/// An absolute path of this system for a journal's text: "C:\\a\\b" on
/// Windows, "/a/b" elsewhere.
inline std::string Abs(std::string relative)
{
#ifdef _WIN32
    for (char& c : relative)
        if (c == '/')
            c = '\\';
    return "C:\\" + relative;
#else
    return "/" + relative;
#endif
}

using test::TTempDir;
using TSnapshot = std::map<std::string, std::string>;

// Stands for a kill: not an error the replacement could catch.
struct TKilled {};

// Dies right after step `killAfter` has completed.
class TKillingOps : public TFileOps {
public:
    explicit TKillingOps(int killAfter) : m_killAfter(killAfter) {}
    void CopyDurable(const TPath& from, const std::string& to, bool readOnly) override
    {
        SystemFileOps().CopyDurable(from, to, readOnly);
        Step();
    }
    void Rename(const std::string& from, const std::string& to) override
    {
        SystemFileOps().Rename(from, to);
        Step();
    }
    void RenameVerified(const std::string& from, const std::string& to, const std::string& digest) override
    {
        SystemFileOps().RenameVerified(from, to, digest);
        Step();
    }
    void RenameOver(const std::string& from, const std::string& to) override
    {
        SystemFileOps().RenameOver(from, to);
        Step();
    }
    void WriteDurable(const std::string& name, const std::string& bytes) override
    {
        SystemFileOps().WriteDurable(name, bytes);
        Step();
    }
    void Remove(const std::string& name) override
    {
        SystemFileOps().Remove(name);
        Step();
    }

private:
    void Step()
    {
        if (++m_steps == m_killAfter)
            throw TKilled{};
    }
    int m_killAfter;
    int m_steps = 0;
};

class TUpdateTransactionTest : public ::testing::Test {
protected:
    // Three installed files: two with read-only twins, one without a twin.
    void SetUp() override { Install({"kp3.exe", "date.dll", "salarii.dat"}); }

    // The installed files of `names` (the last without a twin) at their old
    // version, every other file of the installation gone; a fresh journal.
    void Install(const std::vector<std::string>& names)
    {
        for (const auto& entry : std::filesystem::directory_iterator(m_install.Path())) {
            std::error_code ignored;
            std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
            std::filesystem::remove_all(entry.path(), ignored);
        }
        RemoveFile(m_journalFile);
        m_files.clear();
        m_journal = TUpdateJournal();
        std::filesystem::create_directories(m_install.File("Tag"));
        for (const std::string& name : names) {
            std::string target = m_install.Write(name, std::string("vechi ") + name);
            std::string fresh = m_new.Write(name, std::string("nou, mai lung ") + name);
            m_files.push_back({fresh, target, package::FileMD5Text(fresh)});
            m_files.push_back({fresh, target + "vf", package::FileMD5Text(fresh)});
            if (name != names.back()) {
                m_install.Write(std::string(name) + "vf", std::string("vechi ") + name);
                SetReadOnly(target + "vf");
            }
        }
        m_old = Snapshot();
        m_journal.Open(m_journalFile);
    }

    TSnapshot Snapshot() const
    {
        TSnapshot files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(m_install.Path())) {
            if (!entry.is_regular_file())
                continue;
            auto bytes = ReadWholeFile(entry.path().string());
            files[entry.path().lexically_relative(m_install.Path()).generic_string()] =
                std::string(bytes.begin(), bytes.end());
        }
        return files;
    }

    TSnapshot NewSnapshot() const
    {
        TSnapshot files;
        for (const TReplacement& f : m_files) {
            auto bytes = ReadWholeFile(f.NewFile);
            files[std::filesystem::path(f.Target).filename().string()] = std::string(bytes.begin(), bytes.end());
        }
        files["Tag/kp3tag.txt"] = "eticheta\r\n";
        return files;
    }

    void Replace(TFileOps& ops)
    {
        ReplaceAll(m_files, m_install.File("Tag") + test::kSeparator + "kp3tag.txt", "eticheta\r\n", m_journal, m_log,
                   ops, [] {});
    }

    /// Where the journal may name files.
    TJournalPlaces Places() const { return {{m_install.Path(), m_state.Path()}, m_state.Path()}; }

    TTempDir m_install, m_new, m_state;
    std::string m_journalFile = m_state.File("Actualizare.jurnal");
    TUpdateJournal m_journal;
    TUpdateLog m_log; ///< without a file
    std::vector<TReplacement> m_files;
    TSnapshot m_old;
};

} // namespace upd::wizard
