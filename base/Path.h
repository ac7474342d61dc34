// File names as the system gives them.
//
// A TPath holds the system's own form of a name: UTF-16 on Windows (so a
// folder named with letters outside code page 1250 stays openable), the
// native bytes on POSIX systems. Texts (UTF-8) become paths by the implicit
// constructor, the one place where they meet the system's names; a path
// becomes a text only explicitly, through Text().
#pragma once

#include <string>
#include <string_view>

namespace upd {

class TPath {
public:
#ifdef _WIN32
    using TNative = std::wstring;
#else
    using TNative = std::string;
#endif

    TPath() = default;
    /// A UTF-8 text (a name read from a package, a fixed name, or a name that
    /// Text() gave).
    TPath(std::string_view utf8);
    TPath(const std::string& utf8) : TPath(std::string_view(utf8)) {}
    TPath(const char* utf8) : TPath(std::string_view(utf8)) {}

    /// A name in the system's own form, as a wide function returned it.
    static TPath FromNative(TNative native);

    const TNative& Native() const noexcept { return m_native; }
    bool Empty() const noexcept { return m_native.empty(); }
    std::size_t Size() const noexcept { return m_native.size(); }

    /// The name as UTF-8, so that TPath(Text()) is the same name again (on
    /// POSIX: the bytes as they are).
    std::string Text() const;

    /// Whether the name ends in a path separator ('\\' or '/').
    bool EndsWithSeparator() const noexcept;
    /// Everything up to and including the last separator or drive colon ("" when none).
    TPath Folder() const;
    /// Everything after the last separator or drive colon.
    TPath Name() const;

    TPath& operator+=(const TPath& tail)
    {
        m_native += tail.m_native;
        return *this;
    }
    friend TPath operator+(TPath head, const TPath& tail)
    {
        head += tail;
        return head;
    }
    friend bool operator==(const TPath& a, const TPath& b) noexcept { return a.m_native == b.m_native; }
    friend bool operator<(const TPath& a, const TPath& b) noexcept { return a.m_native < b.m_native; }

private:
    TNative m_native;
};

} // namespace upd
