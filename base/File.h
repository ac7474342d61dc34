// Files, through one small interface for both platforms.
//
// Names are TPath: the system's own form, so that any letter of a folder the
// user chose survives. Errors are EOSError with the system's code; messages
// name the file in UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/Exception.h"
#include "base/Path.h"

namespace upd {

enum class TFileMode {
    /// Read; other readers allowed, writers denied (a file open for writing
    /// elsewhere cannot be opened).
    ReadDenyWrite,
    /// Read; other readers and writers allowed.
    ReadShared,
    /// Create or truncate, then read and write; nobody else may write.
    Create,
    /// Open an existing file for reading and writing.
    ReadWrite,
    /// Create a file that must not exist yet, then read and write; nobody else may write.
    CreateNew,
    /// Read and write a file as itself, for appending by this process
    /// alone (others may read): an existing one only when it is a regular
    /// file with one link, else a new one. A link under the name, or higher
    /// up its path, is refused, never followed, and nothing is created
    /// through it (a file that such a link made new is removed again).
    AppendAsItself,
};

/// An open file. Move-only; closed on destruction.
class TFile {
public:
    TFile() = default;
    /// Opens or raises EOSError ("Nu pot deschide fisierul <name>" plus the system text).
    /// The reading modes open regular files only: a pipe or a device would
    /// block a reader or never end.
    TFile(const TPath& name, TFileMode mode);
    ~TFile();
    TFile(TFile&& other) noexcept;
    TFile& operator=(TFile&& other) noexcept;
    TFile(const TFile&) = delete;
    TFile& operator=(const TFile&) = delete;

    /// Opens without raising; false when the file cannot be opened.
    bool TryOpen(const TPath& name, TFileMode mode);
    bool IsOpen() const noexcept;
    void Close() noexcept;

    /// Reads up to `count` bytes; returns how many were read (0 at the end).
    std::size_t Read(void* buffer, std::size_t count);
    /// Reads exactly `count` bytes or raises.
    void ReadExact(void* buffer, std::size_t count);
    /// Reads exactly `count` bytes from `position` in one call where the system
    /// allows, or raises; the file position afterwards is unspecified.
    void ReadExactAt(std::int64_t position, void* buffer, std::size_t count);
    void Write(const void* buffer, std::size_t count);
    /// Writes `count` bytes at `position`, or raises; the file position
    /// afterwards is unspecified. Threads may write apart parts of one file
    /// at once.
    void WriteAt(std::int64_t position, const void* buffer, std::size_t count);
    /// Makes what was written durable (on the disk, not only in the system's cache).
    void Flush();
    /// Gives the open file the read-only attribute (on POSIX: takes its write
    /// bits) through this handle, not by its name, which may since lead elsewhere.
    void MarkReadOnly();
    void Seek(std::int64_t position);
    /// Ends the file at the current position.
    void Truncate();
    std::int64_t Position() const;
    std::int64_t Size() const;

    const TPath& Name() const noexcept { return m_name; }
    /// The system's handle (descriptor on POSIX) of the open file, so that a
    /// mapping is made through this very handle and not by the name again.
#ifdef _WIN32
    std::intptr_t NativeHandle() const noexcept { return reinterpret_cast<std::intptr_t>(m_handle); }
#else
    std::intptr_t NativeHandle() const noexcept { return m_fd; }
#endif

private:
    friend class TFileView;
    bool OpenAsItself(const TPath& name);
    TPath m_name;
#ifdef _WIN32
    void* m_handle = reinterpret_cast<void*>(static_cast<std::intptr_t>(-1));
#else
    int m_fd = -1;
#endif
};

/// The first `size` bytes of an open file, read-only, mapped with their pages
/// brought in at once (POSIX): far cheaper for a small file than reading it
/// into fresh memory, whose every page faults. Data() is null where the file
/// cannot be mapped so (and on Windows): the caller reads it instead. The
/// view holds what the file held when it was mapped; a file cut short by
/// someone else meanwhile is beyond what it answers for.
class TFileView {
public:
    TFileView(const TFile& file, std::size_t size) noexcept;
    ~TFileView();
    TFileView(const TFileView&) = delete;
    TFileView& operator=(const TFileView&) = delete;
    const std::uint8_t* Data() const noexcept { return static_cast<const std::uint8_t*>(m_data); }

private:
    void* m_data = nullptr;
    std::size_t m_size = 0;
};

/// True when a file or a folder of that name exists.
bool FileOrFolderExists(const TPath& name);
bool FileExists(const TPath& name);

/// Whole-file helpers (raise EOSError).
std::vector<std::uint8_t> ReadWholeFile(const TPath& name);
void WriteWholeFile(const TPath& name, const void* data, std::size_t size);

/// Deletes a file; false when it could not be deleted. Never raises.
bool DeleteFileNamed(const TPath& name) noexcept;

/// True when the name is an existing regular file (not a folder, pipe or device).
bool IsRegularFile(const TPath& name);
/// True when both names lead to one file, also through a hard link or another
/// spelling of its path; false when either does not exist.
bool SameFile(const TPath& a, const TPath& b);
/// Renames `from` to `to`, replacing a file of that name; raises EOSError.
void RenameFileOver(const TPath& from, const TPath& to);

/// A file written under a free temporary name beside its target and put in the
/// target's place by Commit only, so that a failure half-way leaves the target
/// as it was. The temporary file is deleted unless committed.
class TPendingFile {
public:
    explicit TPendingFile(TPath target);
    ~TPendingFile();
    TPendingFile(const TPendingFile&) = delete;
    TPendingFile& operator=(const TPendingFile&) = delete;

    /// The name to write to.
    const TPath& Name() const noexcept { return m_name; }
    const TPath& Target() const noexcept { return m_target; }
    /// Replaces the target with the written file.
    void Commit();

private:
    TPath m_target;
    TPath m_name;
    bool m_committed = false;
};

} // namespace upd
