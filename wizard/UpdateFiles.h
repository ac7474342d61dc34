// The file operations of the update stage that the portable file class does
// not cover: attributes, copies, renames, folder chains, and the probe for a
// file that another program holds.
//
// The replacement of the installed files goes through TFileOps, one seam that
// the tests (and the wizard's own test hook) can make fail at any step.
// Paths are UTF-8; raising functions raise EOSError.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/Exception.h"
#include "base/Path.h"

namespace upd::wizard {

/// Removes every attribute (read-only above all); false when it could not.
bool ClearAttributes(const std::string& path) noexcept;
/// Gives a file the read-only attribute (on POSIX: takes its write bits).
void SetReadOnly(const std::string& path);
bool IsReadOnly(const std::string& path);
/// Copies a file over any existing one; the copy keeps the read-only attribute.
void CopyFileOver(const TPath& from, const std::string& to);
/// Puts `staged` in the place of `target` in one rename, whatever the
/// target's attributes; the target is left as it was when this fails.
void ReplaceWithStaged(const std::string& staged, const std::string& target);
/// Renames `from` to `to`, which must not exist; durable when it returns.
void RenameFile(const std::string& from, const std::string& to);
/// Creates a folder and every missing parent.
void ForceFolders(const std::string& folder);
/// Creates the folder that the file `name` is to be in, with every missing
/// parent, unless it exists; nothing for a name without a folder.
void ForceFolderOf(const std::string& name);
/// Puts the staged copy `staged` in the place of `target` (which must not
/// exist) only when it holds exactly what was verified: it is opened as
/// itself (a link is not followed) so that nobody may write, rename or
/// delete it meanwhile (one who holds it for writing refuses the open),
/// refused when it is a link or has a second name, hashed through that
/// handle, and renamed through the same handle when its MD5 digest text is
/// `digest`. Raises Exception with StagedCopyChangedMessage when the copy is
/// not what was written, EOSError when it cannot be opened or renamed; the
/// copy stays where it was then.
void RenameVerified(const std::string& staged, const std::string& target, const std::string& digest);
/// The reason given when a staged copy is not the file that was written.
std::string StagedCopyChangedMessage(const std::string& staged);
/// Clears the attributes of a file and deletes it; false when a file of that
/// name is still there afterwards. Never raises.
bool RemoveFile(const TPath& path) noexcept;

/// The name of an existing file or folder as the file system keeps it: on
/// Windows every short (8.3) step of the path turned into its long name, so
/// that "C:\\PRAVION\\SALARI~1.DAT" becomes "C:\\PRAVION\\salarii.dat". A path
/// that names nothing, or a system without short names, gives the path back.
std::string LongFileName(const std::string& path);
/// True when the name is an existing folder.
bool IsFolder(const std::string& path) noexcept;

/// An installed file as the replacement must know it before it moves it,
/// opened as itself: a link is not followed where the system can tell, and a
/// name that the system resolves elsewhere counts as a link.
struct TFileFacts {
    bool Exists = false;
    bool Linked = false;     ///< a link, a reparse point, or a name that leads elsewhere
    std::uint32_t Names = 0; ///< its hard links (1 for a file with one name)
    std::string Identity;    ///< its volume and index ("<volume>:<index>", hex): one per file, whatever its name
};
/// Nothing known (Exists false) when the name names nothing; raises EOSError
/// when it names something that cannot be opened.
TFileFacts FileFacts(const std::string& path);
/// The identity of the file `path` names as itself, "" when there is none or
/// it cannot be opened. Never raises.
std::string FileIdentity(const std::string& path) noexcept;

/// The folders that the replacement writes into, each opened as itself and
/// held until the object goes: not a link, its name leading to itself, and,
/// on Windows, held without sharing deletion so that nobody can rename it or
/// put a link in its place meanwhile. The names inside are then safe to use
/// as long as Verify passes before each step (on POSIX, which has no share
/// modes, Verify is what finds a folder that was swapped).
class THeldFolders {
public:
    THeldFolders();
    ~THeldFolders();
    THeldFolders(const THeldFolders&) = delete;
    THeldFolders& operator=(const THeldFolders&) = delete;
    /// Holds the folder of the file `file` (once per folder). Raises
    /// EFolderMoved when it is a link or leads elsewhere, EOSError when it
    /// cannot be opened.
    void HoldFolderOf(const std::string& file);
    /// Raises EFolderMoved when a held folder is no longer the one its name
    /// leads to (renamed, or replaced by a link).
    void Verify() const;

    struct THeld;

private:
    std::vector<std::unique_ptr<THeld>> m_held;
};

/// An installation folder that moved or became a link during the update.
class EFolderMoved : public Exception {
public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EFolderMoved"; }
};

/// The message of EFolderMoved.
std::string FolderMovedMessage(const std::string& folder);
/// A target or twin that is a link or has a second name, refused before anything changes.
std::string LinkedFileMessage(const std::string& path);

/// Whether a file could be renamed away and replaced now. False, with the
/// system's reason, when another program holds it (a running program's
/// image, an open data file, a scanner's lock). A missing file can be
/// "replaced" (it is created). Never raises.
bool CanReplace(const std::string& path, std::string& reason) noexcept;
/// The programs that hold a file, as far as the system can tell ("" when it
/// cannot), e.g. "kp3.exe, scanner.exe".
std::string ProgramsUsing(const std::string& path) noexcept;

/// The steps that change files during the replacement. Every call is one
/// step; each either completes, durably, or raises and leaves the files as
/// they were.
class TFileOps {
public:
    virtual ~TFileOps() = default;
    /// Copies `from` to the new file `to` (which must not exist) and flushes
    /// it to the disk; the copy gets the read-only attribute when `readOnly`.
    virtual void CopyDurable(const TPath& from, const std::string& to, bool readOnly) = 0;
    /// Renames `from` to `to`, which must not exist.
    virtual void Rename(const std::string& from, const std::string& to) = 0;
    /// Renames the staged copy `from` to `to` only when it holds what has the
    /// digest `digest` (see the free RenameVerified).
    virtual void RenameVerified(const std::string& from, const std::string& to, const std::string& digest)
    {
        wizard::RenameVerified(from, to, digest);
    }
    /// Puts `from` in the place of `to`, whatever to's attributes.
    virtual void RenameOver(const std::string& from, const std::string& to) = 0;
    /// Writes `bytes` to `name` through a temporary name beside it that is
    /// flushed, then renamed over `name`: a reader sees the old or the whole
    /// new content, never a part.
    virtual void WriteDurable(const std::string& name, const std::string& bytes) = 0;
    /// Deletes the file `name`, whatever its attributes (nothing when there
    /// is none); raises when a file of that name is still there afterwards.
    /// (The system's removal unless a test's operations count it as a step.)
    virtual void Remove(const std::string& name);
    /// How long to wait before a step that failed is tried again (a scanner
    /// may hold a file for a moment right after it changed).
    virtual int RetryPauseMs() const { return 200; }
    /// See the free CanReplace (not a step: it changes nothing).
    virtual bool CanReplace(const std::string& path, std::string& reason) { return wizard::CanReplace(path, reason); }
};

/// The system's own operations.
TFileOps& SystemFileOps();

/// Test hook: runs the system's operations but fails step `failAt` (counted
/// from 1; 0 never) with a system error, and waits `delayMs` before each
/// step so that a kill from outside can land between them.
class TFaultyFileOps : public TFileOps {
public:
    TFaultyFileOps(TFileOps& inner, int failAt, int delayMs = 0) : m_inner(inner), m_failAt(failAt), m_delayMs(delayMs)
    {
    }
    void CopyDurable(const TPath& from, const std::string& to, bool readOnly) override;
    void Rename(const std::string& from, const std::string& to) override;
    void RenameVerified(const std::string& from, const std::string& to, const std::string& digest) override;
    void RenameOver(const std::string& from, const std::string& to) override;
    void WriteDurable(const std::string& name, const std::string& bytes) override;
    void Remove(const std::string& name) override;
    int RetryPauseMs() const override { return m_inner.RetryPauseMs(); }
    bool CanReplace(const std::string& path, std::string& reason) override { return m_inner.CanReplace(path, reason); }

    /// Steps taken so far (the failed one included).
    int Steps() const noexcept { return m_steps; }

private:
    void Step(const std::string& name);

    TFileOps& m_inner;
    int m_failAt;
    int m_delayMs;
    int m_steps = 0;
};

/// The test hook of the environment, or nullptr (use SystemFileOps()): in
/// the test build (UPD_TEST_HOOKS), when UPD_TEST_FAIL_FILE_OP or
/// UPD_TEST_FILE_OP_DELAY_MS is set, the system's operations behind a
/// TFaultyFileOps. The release build always answers nullptr.
std::unique_ptr<TFileOps> FileOpsFromEnvironment();

} // namespace upd::wizard
