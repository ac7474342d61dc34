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

TPath::TPath(std::string_view utf8)
{
    std::u16string wide = Utf8ToUtf16(utf8);
    m_native.assign(wide.begin(), wide.end());
}

std::string TPath::Text() const { return Utf16ToUtf8(std::u16string(m_native.begin(), m_native.end())); }

#else

// POSIX names are bytes, UTF-8 by convention: they are used as they are.
TPath::TPath(std::string_view utf8) : m_native(utf8) {}

std::string TPath::Text() const { return m_native; }

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
