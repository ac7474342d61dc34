#include "base/Cp1250.h"

#include <array>

namespace upd {

namespace {

// 0x80..0xFF; the lower half is ASCII. The five bytes the page leaves
// undefined stand for the control codes of their own values, both ways, as
// Windows converts them (a NUL would cut texts and names short).
constexpr std::array<char16_t, 128> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021,
    0x0088, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7,
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
};

bool IsSurrogate(char32_t c) { return c >= 0xD800 && c < 0xE000; }

bool IsTrail(unsigned char b) { return (b & 0xC0) == 0x80; }

// The code point at `i`, a surrogate pair joined; `i` moves past it. A lone
// half comes back as it is, for the caller to refuse.
char32_t NextUtf16(std::u16string_view text, std::size_t& i)
{
    char32_t c = text[i++];
    if (c >= 0xD800 && c < 0xDC00 && i < text.size() && text[i] >= 0xDC00 && text[i] < 0xE000)
        c = 0x10000 + ((c - 0xD800) << 10) + (text[i++] - 0xDC00);
    return c;
}

void AppendUtf16(std::u16string& out, char32_t c)
{
    if (c >= 0x10000) {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (c >> 10));
        out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
        out += static_cast<char16_t>(c);
    }
}

} // namespace

bool NextUtf8(std::string_view text, std::size_t& i, char32_t& code) noexcept
{
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    // The shortest form only: the smallest code point each length may carry
    // keeps two byte sequences from meaning the same letter.
    std::size_t extra = 0;
    char32_t least = 0;
    if (lead < 0x80) {
        code = lead;
        ++i;
        return true;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1, least = 0x80, code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2, least = 0x800, code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3, least = 0x10000, code = lead & 0x07;
    } else {
        ++i;
        return false;
    }
    if (text.size() - i <= extra) {
        ++i;
        return false;
    }
    for (std::size_t k = 1; k <= extra; ++k) {
        const unsigned char trail = static_cast<unsigned char>(text[i + k]);
        if (!IsTrail(trail)) {
            ++i;
            return false;
        }
        code = (code << 6) | (trail & 0x3F);
    }
    if (code < least || code > 0x10FFFF || IsSurrogate(code)) {
        ++i;
        return false;
    }
    i += extra + 1;
    return true;
}

std::size_t Utf8Letters(std::string_view text) noexcept
{
    std::size_t letters = 0;
    char32_t code = 0;
    for (std::size_t i = 0; i < text.size(); ++letters)
        NextUtf8(text, i, code);
    return letters;
}

std::size_t Utf8Offset(std::string_view text, std::size_t letters) noexcept
{
    std::size_t i = 0;
    char32_t code = 0;
    for (; letters > 0 && i < text.size(); --letters)
        NextUtf8(text, i, code);
    return i;
}

std::string KeptByCp1250(std::string_view utf8)
{
    return Cp1250ToUtf8(Utf8ToCp1250(utf8));
}

char32_t Cp1250ToUnicode(unsigned char byte) noexcept
{
    return byte < 0x80 ? byte : kHigh[byte - 0x80];
}

unsigned char UnicodeToCp1250(char32_t code) noexcept
{
    if (code < 0x80)
        return static_cast<unsigned char>(code);
    for (std::size_t i = 0; i < kHigh.size(); ++i)
        if (kHigh[i] == code)
            return static_cast<unsigned char>(0x80 + i);
    return '?';
}

std::u16string Cp1250ToUtf16(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    for (unsigned char b : text)
        out += static_cast<char16_t>(Cp1250ToUnicode(b));
    return out;
}

std::string Utf16ToCp1250(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        // A surrogate pair (or a lone half) is never in the page: one '?'.
        out += static_cast<char>(UnicodeToCp1250(NextUtf16(text, i)));
    }
    return out;
}

std::string Cp1250ToUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (unsigned char b : text) {
        AppendUtf8(out, Cp1250ToUnicode(b));
    }
    return out;
}

std::string Utf8ToCp1250(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        // One '?' per bad lead byte; the next byte is looked at afresh.
        char32_t code = 0;
        out += NextUtf8(text, i, code) ? static_cast<char>(UnicodeToCp1250(code)) : '?';
    }
    return out;
}

std::u16string Utf8ToUtf16(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        char32_t code = 0;
        if (!NextUtf8(text, i, code))
            code = 0xFFFD;
        AppendUtf16(out, code);
    }
    return out;
}

std::string ValidUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t code = 0;
        AppendUtf8(out, NextUtf8(text, i, code) ? code : 0xFFFD);
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = NextUtf16(text, i);
        AppendUtf8(out, IsSurrogate(c) ? 0xFFFD : c);
    }
    return out;
}

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

} // namespace upd
