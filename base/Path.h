// File names as the system gives them.
//
// A TPath holds the system's own form of a name: UTF-16 on Windows (so a
// folder named with letters outside code page 1250 stays openable), the
// native bytes on POSIX systems. Texts of the package (code page 1250) become
// paths by the implicit constructor, the one place where they meet the
// system's names; a path becomes a text only explicitly, through Text() for
// messages or Utf8() for the console tool.
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
    /// A code page 1250 text (a name stored in a package, a fixed name, or a
    /// name that Text() gave, letters outside the page included).
    TPath(std::string_view cp1250);
    TPath(const std::string& cp1250) : TPath(std::string_view(cp1250)) {}
    TPath(const char* cp1250) : TPath(std::string_view(cp1250)) {}

    /// A name in the system's own form, as a wide function returned it.
    static TPath FromNative(TNative native);
    /// A UTF-8 name (the console tool's JSON, a Unix path handed over).
    static TPath FromUtf8(std::string_view utf8);

    const TNative& Native() const noexcept { return m_native; }
    bool Empty() const noexcept { return m_native.empty(); }
    std::size_t Size() const noexcept { return m_native.size(); }

    /// The name for a message: code page 1250, letters the page lacks kept as
    /// kForeignLetter sequences, so TPath(Text()) is the same name again.
    std::string Text() const;
    /// The name as UTF-8 (on POSIX: the bytes as they are).
    std::string Utf8() const;

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
