#include "package/PatchDataEngine.h"

#include "base/Exception.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <unistd.h>

namespace upd::package {

TPath RunningExeFileName()
{
    std::string name(PATH_MAX, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", name.data(), name.size());
    if (length < 0)
        throw EOSError(static_cast<std::uint32_t>(errno), std::string("/proc/self/exe: ") + std::strerror(errno));
    name.resize(static_cast<std::size_t>(length));
    return TPath::FromNative(std::move(name));
}

} // namespace upd::package
