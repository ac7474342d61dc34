#include "version/FileOps.h"

#include <mutex>

#include "base/File.h"

namespace upd::version {

// Implemented per platform.
std::string SystemTempFolder();
extern const char kPathSeparator;

namespace {

std::mutex g_tempLock;

std::string& StoredTempFolder()
{
    // Read once, on first use (the wizard's entry calls TempFolder() at start).
    static std::string folder = SystemTempFolder();
    return folder;
}

} // namespace

std::int32_t GetFileSizeOf(const std::string& fileName)
{
    auto size = FindFileSize(fileName);
    return size ? static_cast<std::int32_t>(*size) : -1;
}

std::string TempFolder()
{
    std::lock_guard<std::mutex> lock(g_tempLock);
    return StoredTempFolder();
}

void SetTempFolder(const std::string& folder)
{
    std::lock_guard<std::mutex> lock(g_tempLock);
    StoredTempFolder() = folder;
}

std::string MakeTempFileName(const std::string& prefix, const std::string& extension)
{
    std::string folder;
    {
        std::lock_guard<std::mutex> lock(g_tempLock);
        std::string& stored = StoredTempFolder();
        if (!stored.empty() && (stored.back() == '/' || stored.back() == '\\'))
            stored.pop_back();
        folder = stored;
    }
    for (unsigned long long n = 1;; ++n) {
        std::string name = folder + kPathSeparator + prefix + "_" + std::to_string(n) + "." + extension;
        if (!FileOrFolderExists(name))
            return name;
    }
}

} // namespace upd::version
