#include "base/File.h"

#include "base/Win32_win32.h"

namespace upd {

namespace {

HANDLE AsHandle(void* h) { return static_cast<HANDLE>(h); }

// A synchronous handle reads and writes at the offset an overlapped block names.
OVERLAPPED At(std::int64_t position)
{
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(position));
    at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(position) >> 32);
    return at;
}

// Writes every byte, at `position` or, without one, at the file position.
void WriteAll(HANDLE handle, const TPath& name, const void* buffer, std::size_t count, const std::int64_t* position)
{
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    std::int64_t next = position ? *position : 0;
    while (count > 0) {
        OVERLAPPED at = At(next);
        DWORD chunk = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count);
        DWORD put = 0;
        if (!WriteFile(handle, bytes, chunk, &put, position ? &at : nullptr) || put == 0)
            RaiseOSError(GetLastError(), "Nu pot scrie in fisierul " + name.Text());
        bytes += put;
        count -= put;
        next += put;
    }
}

} // namespace

TFile::TFile(const TPath& name, TFileMode mode)
{
    if (!TryOpen(name, mode))
        RaiseOSError(GetLastError(), "Nu pot deschide fisierul " + name.Text(), TErrorKind::OpenFailed);
}

TFile::~TFile() { Close(); }

TFile::TFile(TFile&& other) noexcept : m_name(std::move(other.m_name)), m_handle(other.m_handle)
{
    other.m_handle = INVALID_HANDLE_VALUE;
}

TFile& TFile::operator=(TFile&& other) noexcept
{
    if (this != &other) {
        Close();
        m_name = std::move(other.m_name);
        m_handle = other.m_handle;
        other.m_handle = INVALID_HANDLE_VALUE;
    }
    return *this;
}

// Why an open file is not the regular file of one link that `name` names
// itself; ERROR_SUCCESS when it is.
static DWORD NotItself(HANDLE h, const TPath& name)
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return ERROR_BAD_FILE_TYPE;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || info.nNumberOfLinks != 1 ||
        !HandleIsAt(h, name.Native()))
        return ERROR_CANT_RESOLVE_FILENAME;
    return ERROR_SUCCESS;
}

bool TFile::OpenAsItself(const TPath& name)
{
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    auto openExisting = [&] {
        return CreateFileW(name.Native().c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, flags, nullptr);
    };
    HANDLE h = openExisting();
    // CREATE_NEW: a name that exists, a link that leads nowhere included, is
    // never followed into a file elsewhere. The right to delete is for a
    // refusal only (readers would have to share it): the file made is then
    // opened again as any existing one.
    if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
        h = CreateFileW(name.Native().c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                        CREATE_NEW, flags, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return false;
        const DWORD refusal = NotItself(h, name);
        if (refusal != ERROR_SUCCESS) {
            FILE_DISPOSITION_INFO gone{TRUE};
            SetFileInformationByHandle(h, FileDispositionInfo, &gone, sizeof gone);
        }
        CloseHandle(h);
        if (refusal != ERROR_SUCCESS) {
            SetLastError(refusal);
            return false;
        }
        h = openExisting();
    }
    if (h == INVALID_HANDLE_VALUE)
        return false;
    const DWORD refusal = NotItself(h, name);
    if (refusal != ERROR_SUCCESS) {
        CloseHandle(h);
        SetLastError(refusal);
        return false;
    }
    m_handle = h;
    m_name = name;
    return true;
}

bool TFile::TryOpen(const TPath& name, TFileMode mode)
{
    Close();
    DWORD access = GENERIC_READ;
    DWORD share = FILE_SHARE_READ;
    DWORD disposition = OPEN_EXISTING;
    switch (mode) {
    case TFileMode::ReadDenyWrite: break;
    case TFileMode::ReadShared: share = FILE_SHARE_READ | FILE_SHARE_WRITE; break;
    case TFileMode::Create:
        access = GENERIC_READ | GENERIC_WRITE;
        disposition = CREATE_ALWAYS;
        break;
    case TFileMode::ReadWrite: access = GENERIC_READ | GENERIC_WRITE; break;
    case TFileMode::CreateNew:
        access = GENERIC_READ | GENERIC_WRITE;
        disposition = CREATE_NEW;
        break;
    case TFileMode::AppendAsItself: return OpenAsItself(name);
    }
    HANDLE h = CreateFileW(name.Native().c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    // A pipe or a device would block a reader or never end.
    if (disposition == OPEN_EXISTING && GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        SetLastError(ERROR_BAD_FILE_TYPE);
        return false;
    }
    m_handle = h;
    m_name = name;
    return true;
}

bool TFile::IsOpen() const noexcept { return AsHandle(m_handle) != INVALID_HANDLE_VALUE; }

void TFile::Close() noexcept
{
    if (IsOpen())
        CloseHandle(AsHandle(m_handle));
    m_handle = INVALID_HANDLE_VALUE;
}

std::size_t TFile::Read(void* buffer, std::size_t count)
{
    DWORD chunk = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count);
    DWORD got = 0;
    if (!ReadFile(AsHandle(m_handle), buffer, chunk, &got, nullptr))
        RaiseOSError(GetLastError(), "Nu pot citi din fisierul " + m_name.Text());
    return got;
}

void TFile::ReadExactAt(std::int64_t position, void* buffer, std::size_t count)
{
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    while (count > 0) {
        OVERLAPPED at = At(position);
        DWORD chunk = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count);
        DWORD got = 0;
        if (!ReadFile(AsHandle(m_handle), bytes, chunk, &got, &at)) {
            DWORD error = GetLastError();
            if (error != ERROR_HANDLE_EOF)
                RaiseOSError(error, "Nu pot citi din fisierul " + m_name.Text());
        }
        if (got == 0)
            throw Exception("Nu pot citi din fisierul " + m_name.Text());
        bytes += got;
        count -= got;
        position += got;
    }
}

void TFile::Write(const void* buffer, std::size_t count)
{
    WriteAll(AsHandle(m_handle), m_name, buffer, count, nullptr);
}

void TFile::WriteAt(std::int64_t position, const void* buffer, std::size_t count)
{
    WriteAll(AsHandle(m_handle), m_name, buffer, count, &position);
}

// Read instead: the wizard's old files are read through its block cache.
TFileView::TFileView(const TFile&, std::size_t size) noexcept : m_size(size) {}

TFileView::~TFileView() = default;

void TFile::Flush()
{
    if (!FlushFileBuffers(AsHandle(m_handle)))
        RaiseOSError(GetLastError(), "Nu pot scrie in fisierul " + m_name.Text());
}

void TFile::MarkReadOnly()
{
    FILE_BASIC_INFO info{};
    if (!GetFileInformationByHandleEx(AsHandle(m_handle), FileBasicInfo, &info, sizeof info))
        RaiseOSError(GetLastError(), "Nu pot marca fisierul " + m_name.Text() + " ca fisier doar pentru citire");
    info.FileAttributes = (info.FileAttributes & ~FILE_ATTRIBUTE_NORMAL) | FILE_ATTRIBUTE_READONLY;
    // Zero times are left as they are.
    info.CreationTime.QuadPart = info.LastAccessTime.QuadPart = info.LastWriteTime.QuadPart = 0;
    info.ChangeTime.QuadPart = 0;
    if (!SetFileInformationByHandle(AsHandle(m_handle), FileBasicInfo, &info, sizeof info))
        RaiseOSError(GetLastError(), "Nu pot marca fisierul " + m_name.Text() + " ca fisier doar pentru citire");
}

void TFile::Seek(std::int64_t position)
{
    LARGE_INTEGER to;
    to.QuadPart = position;
    if (!SetFilePointerEx(AsHandle(m_handle), to, nullptr, FILE_BEGIN))
        RaiseOSError(GetLastError(), "Nu pot pozitiona in fisierul " + m_name.Text());
}

void TFile::Truncate()
{
    if (!SetEndOfFile(AsHandle(m_handle)))
        RaiseOSError(GetLastError(), "Nu pot scrie in fisierul " + m_name.Text());
}

std::int64_t TFile::Position() const
{
    LARGE_INTEGER zero{}, at{};
    SetFilePointerEx(AsHandle(m_handle), zero, &at, FILE_CURRENT);
    return at.QuadPart;
}

std::int64_t TFile::Size() const
{
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(AsHandle(m_handle), &size))
        RaiseOSError(GetLastError(), "Nu pot citi marimea fisierului " + m_name.Text());
    return size.QuadPart;
}

bool FileOrFolderExists(const TPath& name)
{
    return GetFileAttributesW(name.Native().c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool FileExists(const TPath& name)
{
    DWORD attributes = GetFileAttributesW(name.Native().c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsRegularFile(const TPath& name)
{
    DWORD attributes = GetFileAttributesW(name.Native().c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)))
        return false;
    HANDLE h = CreateFileW(name.Native().c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    bool disk = GetFileType(h) == FILE_TYPE_DISK;
    CloseHandle(h);
    return disk;
}

namespace {

bool FileIdentity(const TPath& name, BY_HANDLE_FILE_INFORMATION& info)
{
    HANDLE h = CreateFileW(name.Native().c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    bool ok = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    return ok;
}

} // namespace

bool SameFile(const TPath& a, const TPath& b)
{
    BY_HANDLE_FILE_INFORMATION ia{}, ib{};
    return FileIdentity(a, ia) && FileIdentity(b, ib) && ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

void RenameFileOver(const TPath& from, const TPath& to)
{
    if (!MoveFileExW(from.Native().c_str(), to.Native().c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        RaiseOSError(GetLastError(), "Nu pot redenumi fisierul " + from.Text() + " in " + to.Text());
}

bool DeleteFileNamed(const TPath& name) noexcept
{
    try {
        return DeleteFileW(name.Native().c_str()) != 0;
    } catch (...) {
        return false;
    }
}

} // namespace upd
