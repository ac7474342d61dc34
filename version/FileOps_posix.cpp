#include "version/FileOps.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>

namespace upd::version {

extern const char kPathSeparator = '/';

TPath SystemTempFolder()
{
    const char* dir = std::getenv("TMPDIR");
    std::string folder = dir && *dir ? dir : "/tmp";
    if (folder.back() != '/')
        folder += '/';
    return TPath::FromNative(folder);
}

bool LastCreationFoundName(const TPath&)
{
    // O_EXCL refuses any name that exists, a link (even a dangling one) included.
    return errno == EEXIST;
}

std::optional<std::int64_t> FindFileSize(const TPath& fileName)
{
    struct stat st {};
    if (::stat(fileName.Native().c_str(), &st) != 0)
        return std::nullopt;
    return S_ISDIR(st.st_mode) ? 0 : static_cast<std::int64_t>(st.st_size);
}

} // namespace upd::version
