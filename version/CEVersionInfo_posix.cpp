#include "version/CEVersionInfo.h"

#include <climits>
#include <unistd.h>

namespace upd::version {

TCEVersionInfo::TCEVersionInfo()
{
    char path[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    GetInfo(TPath::FromNative(n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string()));
}

void TCEVersionInfo::GetInfo(const TPath& fileName)
{
    GetInfoPortable(fileName);
}

} // namespace upd::version
