#include "package/PatchDataEngine.h"

#include "base/Win32_win32.h"

namespace upd::package {

TPath RunningExeFileName()
{
    // Long paths exceed MAX_PATH; grow until the whole name fits.
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0)
            RaiseLastOSError();
        if (length < name.size()) {
            name.resize(length);
            return TPath::FromNative(std::move(name));
        }
        name.resize(name.size() * 2);
    }
}

} // namespace upd::package
