#include "package/InstalledNames.h"

#include "base/Cp1250.h"

namespace upd::package {

namespace {

// The lower-case letter of a code point, for the letters code page 1250 has.
char32_t LowerLetter(char32_t c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
        return c + 0x20;
    // Latin Extended-A pairs: capital on the even code point, except in the
    // two runs where it sits on the odd one.
    const bool oddCapitals = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149)
        return (c % 2 == 1) == oddCapitals ? c + 1 : c;
    return c;
}

bool IsDeviceName(std::string_view name)
{
    std::string base(name.substr(0, name.find('.')));
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    for (char& c : base)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL")
        return true;
    return base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) && base[3] >= '1' &&
           base[3] <= '9';
}

std::string WhyNotName(std::string_view name)
{
    if (name.empty())
        return "an empty name";
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F)
            return "a control character in its name";
        if (c == '\\')
            return "a backslash in its name, which Windows reads as a folder";
        if (std::string_view("<>:\"|?*").find(c) != std::string_view::npos)
            return std::string("the character ") + c + " in its name, which Windows does not allow";
    }
    if (name.back() == '.' || name.back() == ' ')
        return "a name ending in a dot or a space, which Windows drops";
    if (IsDeviceName(name))
        return "a device name on Windows (" + std::string(name) + ")";
    return std::string();
}

} // namespace

std::string InstalledPathKey(std::string_view utf8Path)
{
    // Built in the package's code page, where every stored name lives: a
    // letter the page lacks is '?' there, as it would be in the package.
    std::string key;
    for (char c : Utf8ToCp1250(utf8Path)) {
        if (c == '/')
            c = '\\';
        if (c == '\\' && !key.empty() && key.back() == '\\')
            continue;
        const char32_t lower = LowerLetter(Cp1250ToUnicode(static_cast<unsigned char>(c)));
        key += static_cast<char>(UnicodeToCp1250(lower));
    }
    return Cp1250ToUtf8(key);
}

std::string WhyNotInstallable(std::string_view utf8Relative, std::string_view utf8Root)
{
    const std::u16string wide = Utf8ToUtf16(utf8Relative);
    if (Utf16ToUtf8(wide) != utf8Relative)
        return "its name is not valid UTF-8";
    const std::string stored = Utf16ToCp1250(wide);
    if (Cp1250ToUtf16(stored) != wide)
        return "its name has a letter that code page 1250 lacks (it would be stored as " + Cp1250ToUtf8(stored) +
               ")";
    std::size_t start = 0;
    while (start <= utf8Relative.size()) {
        std::size_t end = utf8Relative.find('/', start);
        if (end == std::string_view::npos)
            end = utf8Relative.size();
        const std::string why = WhyNotName(utf8Relative.substr(start, end - start));
        if (!why.empty())
            return "it has " + why;
        start = end + 1;
    }
    // The installed path with its root, as Windows counts it (MAX_PATH less the NUL).
    const std::size_t length = Utf8Letters(utf8Root) + 1 + stored.size();
    if (length > 259)
        return "its installed path would have " + std::to_string(length) +
               " characters, more than the 259 Windows allows";
    return std::string();
}

} // namespace upd::package
