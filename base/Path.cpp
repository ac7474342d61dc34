#include "base/Path.h"

#include "base/Cp1250.h"

namespace upd {

namespace {

bool IsSeparator(TPath::TNative::value_type c) { return c == '\\' || c == '/'; }

std::size_t AfterLastSeparator(const TPath::TNative& name)
{
    for (std::size_t i = name.size(); i > 0; --i)
        if (IsSeparator(name[i - 1]) || name[i - 1] == ':')
            return i;
    return 0;
}

} // namespace

#ifdef _WIN32

TPath::TPath(std::string_view cp1250)
{
    std::u16string wide = TextToUtf16(cp1250);
    m_native.assign(wide.begin(), wide.end());
}

TPath TPath::FromUtf8(std::string_view utf8)
{
    TPath path;
    std::u16string wide = Utf8ToUtf16(utf8);
    path.m_native.assign(wide.begin(), wide.end());
    return path;
}

std::string TPath::Text() const { return Utf16ToText(std::u16string(m_native.begin(), m_native.end())); }

std::string TPath::Utf8() const { return Utf16ToUtf8(std::u16string(m_native.begin(), m_native.end())); }

#else

// POSIX names are bytes; the package's names are used as they are, as before.
TPath::TPath(std::string_view cp1250) : m_native(cp1250) {}

TPath TPath::FromUtf8(std::string_view utf8) { return FromNative(std::string(utf8)); }

std::string TPath::Text() const { return m_native; }

std::string TPath::Utf8() const { return m_native; }

#endif

TPath TPath::FromNative(TNative native)
{
    TPath path;
    path.m_native = std::move(native);
    return path;
}

bool TPath::EndsWithSeparator() const noexcept { return !m_native.empty() && IsSeparator(m_native.back()); }

TPath TPath::Folder() const { return FromNative(m_native.substr(0, AfterLastSeparator(m_native))); }

TPath TPath::Name() const { return FromNative(m_native.substr(AfterLastSeparator(m_native))); }

} // namespace upd
