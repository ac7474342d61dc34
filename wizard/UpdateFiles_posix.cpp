#include "wizard/UpdateFiles.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "base/Exception.h"
#include "base/File.h"

namespace upd::wizard {

namespace {

[[noreturn]] void Fail(int code, const std::string& what)
{
    throw EOSError(static_cast<std::uint32_t>(code), what + ": " + std::strerror(code));
}

constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

} // namespace

bool ClearAttributes(const std::string& path) noexcept
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    return ::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

void SetReadOnly(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || ::chmod(path.c_str(), (st.st_mode & 07777) & ~kWriteBits) != 0)
        Fail(errno, "Nu pot marca fisierul " + path + " ca fisier doar pentru citire");
}

bool IsReadOnly(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0;
}

void CopyFileOver(const std::string& from, const std::string& to)
{
    struct stat st {};
    if (::stat(from.c_str(), &st) != 0)
        Fail(errno, "Nu pot copia fisierul " + from + " in " + to);
    ClearAttributes(to);
    try {
        TFile source(from, TFileMode::ReadShared);
        TFile target(to, TFileMode::Create);
        std::vector<std::uint8_t> block(1 << 20);
        while (std::size_t got = source.Read(block.data(), block.size()))
            target.Write(block.data(), got);
    } catch (const EOSError& e) {
        throw EOSError(e.Code(), "Nu pot copia fisierul " + from + " in " + to + ": " + e.Message());
    }
    ::chmod(to.c_str(), st.st_mode & 07777);
}

void ReplaceWithStaged(const std::string& staged, const std::string& target)
{
    if (std::rename(staged.c_str(), target.c_str()) != 0)
        Fail(errno, "Nu pot inlocui fisierul " + target);
}

void ForceFolders(const std::string& folder)
{
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        Fail(error.value(), "Nu pot crea directorul " + folder);
}

} // namespace upd::wizard
