#include "version/CEVersionInfo.h"

#include <vector>

#include "base/SystemLibrary_win32.h"
#include "base/Win32_win32.h"

namespace upd::version {

namespace {

// The version API lives in a DLL that the loader would look for beside the
// program first: it is loaded from the system folder when first needed.
struct TVersionApi {
    using TSize = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
    using TInfo = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
    using TQuery = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
    TSize GetFileVersionInfoSizeW = SystemProcedure<TSize>(L"version.dll", "GetFileVersionInfoSizeW");
    TInfo GetFileVersionInfoW = SystemProcedure<TInfo>(L"version.dll", "GetFileVersionInfoW");
    TQuery VerQueryValueW = SystemProcedure<TQuery>(L"version.dll", "VerQueryValueW");

    bool Loaded() const { return GetFileVersionInfoSizeW && GetFileVersionInfoW && VerQueryValueW; }
};

const TVersionApi& VersionApi()
{
    static const TVersionApi api;
    return api;
}

// The system's version API over the buffer that GetFileVersionInfoW filled.
class TSystemSource final : public TVersionSource {
public:
    explicit TSystemSource(std::vector<std::uint8_t> buffer) : m_buffer(std::move(buffer)) {}

    bool Translation(std::uint16_t& language, std::uint16_t& codePage) const override
    {
        void* value = nullptr;
        UINT length = 0;
        if (!VersionApi().VerQueryValueW(m_buffer.data(), L"\\VarFileInfo\\Translation", &value, &length) || length < 4)
            return false;
        const auto* words = static_cast<const WORD*>(value);
        language = words[0];
        codePage = words[1];
        return true;
    }

    std::optional<std::string> StringValue(const std::string& table, const char* key) const override
    {
        std::wstring path = L"\\StringFileInfo\\" + Wide(table) + L"\\" + Wide(key);
        void* value = nullptr;
        UINT length = 0;
        if (!VersionApi().VerQueryValueW(m_buffer.data(), path.c_str(), &value, &length))
            return std::nullopt;
        const auto* text = static_cast<const wchar_t*>(value);
        std::wstring wide;
        for (UINT i = 0; text && i < length && text[i] != 0; ++i)
            wide += text[i];
        return Narrow(wide);
    }

private:
    // VerQueryValueW wants a non-const buffer pointer but does not write to it.
    mutable std::vector<std::uint8_t> m_buffer;
};

} // namespace

TCEVersionInfo::TCEVersionInfo()
{
    wchar_t path[32768];
    DWORD n = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
    GetInfo(TPath::FromNative(std::wstring(path, n)));
}

void TCEVersionInfo::GetInfo(const TPath& fileName)
{
    const std::wstring& name = fileName.Native();
    const TVersionApi& api = VersionApi();
    if (!api.Loaded())
        RaiseOSError(ERROR_MOD_NOT_FOUND, "version.dll");
    DWORD ignored = 0;
    DWORD size = api.GetFileVersionInfoSizeW(name.c_str(), &ignored);
    if (size == 0) {
        FillFrom(nullptr);
        return;
    }
    std::vector<std::uint8_t> buffer(size);
    if (!api.GetFileVersionInfoW(name.c_str(), 0, size, buffer.data())) {
        FillFrom(nullptr);
        return;
    }
    TSystemSource source(std::move(buffer));
    FillFrom(&source);
}

} // namespace upd::version
