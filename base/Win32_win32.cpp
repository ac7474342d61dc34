#include "base/Win32_win32.h"

#include "base/Cp1250.h"

#include <vector>

namespace upd {

std::wstring Wide(const std::string& utf8)
{
    std::u16string u = Utf8ToUtf16(utf8);
    return std::wstring(u.begin(), u.end());
}

std::string SystemText(const std::wstring& wide)
{
    return Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

std::string Narrow(const std::wstring& wide)
{
    return Cp1250ToUtf8(Utf16ToCp1250(std::u16string(wide.begin(), wide.end())));
}

std::string SystemErrorText(DWORD code)
{
    wchar_t* buffer = nullptr;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                      | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = length ? std::wstring(buffer, length) : std::wstring();
    if (buffer)
        LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    return SystemText(text);
}

void RaiseOSError(DWORD code, const std::string& prefix, TErrorKind kind)
{
    const std::string reason = SystemErrorText(code);
    std::string message = "System Error.  Code: " + std::to_string(code) + ".\r\n" + reason;
    if (!prefix.empty())
        message = prefix + "\r\n" + message;
    throw EOSError(code, message, kind, reason);
}

void RaiseLastOSError()
{
    RaiseOSError(GetLastError());
}

} // namespace upd

namespace upd {

namespace {

std::wstring WithoutLongPrefix(std::wstring path)
{
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0)
        return L"\\\\" + path.substr(8);
    if (path.rfind(L"\\\\?\\", 0) == 0)
        return path.substr(4);
    return path;
}

} // namespace

bool HandleIsAt(HANDLE handle, const std::wstring& name, std::wstring* actual)
{
    std::vector<wchar_t> full(32768), final(32768);
    DWORD fullLength = ::GetFullPathNameW(name.c_str(), 32768, full.data(), nullptr);
    DWORD finalLength =
        ::GetFinalPathNameByHandleW(handle, final.data(), 32768, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (fullLength == 0 || fullLength >= 32768 || finalLength == 0 || finalLength >= 32768)
        return false;
    std::wstring expected(full.data(), fullLength);
    while (expected.size() > 3 && expected.back() == L'\\')
        expected.pop_back();
    const std::wstring found = WithoutLongPrefix(std::wstring(final.data(), finalLength));
    if (actual)
        *actual = found;
    return ::CompareStringOrdinal(found.c_str(), static_cast<int>(found.size()), expected.c_str(),
                                  static_cast<int>(expected.size()), TRUE) == CSTR_EQUAL;
}

} // namespace upd
