#include "version/FileOps.h"

#include <mutex>

#include "base/File.h"

namespace upd::version {

// Implemented per platform.
TPath SystemTempFolder();
// Whether the last failed creation failed because the name is taken.
bool LastCreationFoundName(const TPath& name);
extern const char kPathSeparator;

namespace {

std::mutex g_tempLock;

TPath& StoredTempFolder()
{
    // Read once, on first use (the wizard's entry calls TempFolder() at start).
    static TPath folder = SystemTempFolder();
    return folder;
}

} // namespace

std::int32_t GetFileSizeOf(const TPath& fileName)
{
    auto size = FindFileSize(fileName);
    return size ? static_cast<std::int32_t>(*size) : -1;
}

TPath TempFolder()
{
    std::lock_guard<std::mutex> lock(g_tempLock);
    return StoredTempFolder();
}

void SetTempFolder(const TPath& folder)
{
    std::lock_guard<std::mutex> lock(g_tempLock);
    StoredTempFolder() = folder;
}

namespace {

TPath TempFolderWithoutSeparator()
{
    std::lock_guard<std::mutex> lock(g_tempLock);
    TPath& stored = StoredTempFolder();
    if (stored.EndsWithSeparator())
        stored = TPath::FromNative(stored.Native().substr(0, stored.Size() - 1));
    return stored;
}

} // namespace

TFile CreateTempFile(const std::string& prefix, const std::string& extension)
{
    const TPath folder = TempFolderWithoutSeparator();
    for (unsigned long long n = 1;; ++n) {
        TPath name = folder + std::string(1, kPathSeparator) + prefix + "_" + std::to_string(n) + "." + extension;
        TFile file;
        if (file.TryOpen(name, TFileMode::CreateNew))
            return file;
        // Someone may have taken every name so far; a folder that refuses
        // everything ends the search with its own error.
        if (!LastCreationFoundName(name) || n >= 100000)
            return TFile(name, TFileMode::CreateNew);
    }
}

TPath MakeTempFileName(const std::string& prefix, const std::string& extension)
{
    const TPath folder = TempFolderWithoutSeparator();
    for (unsigned long long n = 1;; ++n) {
        TPath name = folder + std::string(1, kPathSeparator) + prefix + "_" + std::to_string(n) + "." + extension;
        if (!FileOrFolderExists(name))
            return name;
    }
}

} // namespace upd::version
