// Code page 1250 conversions.
//
// The core keeps every text as code page 1250 bytes (the Windows code page of
// the Romanian letters). Conversions happen only at the edges: UTF-16 for the
// wide Windows functions and for UTF-16 texts read from packages, UTF-8 for
// the console tool's JSON output and for UTF-8 texts read from packages.
#pragma once

#include <string>
#include <string_view>

namespace upd {

/// The Unicode code point of a code page 1250 byte; the five unassigned bytes
/// give the control codes of their own values (U+0081 ...), as Windows does.
char32_t Cp1250ToUnicode(unsigned char byte) noexcept;

/// The code page 1250 byte of a code point, or '?' when the page lacks it
/// (as Windows' best-fit-free conversion does). The control codes U+0081,
/// U+0083, U+0088, U+0090 and U+0098 give the undefined bytes of their values.
unsigned char UnicodeToCp1250(char32_t code) noexcept;

std::u16string Cp1250ToUtf16(std::string_view text);
std::string Utf16ToCp1250(std::u16string_view text);
std::string Cp1250ToUtf8(std::string_view text);
/// Appends the UTF-8 form of a code point.
void AppendUtf8(std::string& out, char32_t code);

/// UTF-8 and UTF-16 of any letter (system names); malformed input becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

/// Malformed UTF-8 sequences become '?'.
std::string Utf8ToCp1250(std::string_view text);

} // namespace upd
