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

// Texts that carry names from the system.
//
// Messages are code page 1250 texts, but a name the system hands over (a
// folder "Ștefan", a Cyrillic or CJK user name) may hold letters the page
// lacks. Such a letter travels inside the text as kForeignLetter followed by
// its UTF-8 sequence; the conversions to the system's forms (the window texts,
// the log) give it back. File names can never hold that control code, so no
// package text or name is read differently.
inline constexpr char kForeignLetter = '\x1A';

/// UTF-16 from the system to a message text: code page 1250 where the page has
/// the letter, kForeignLetter + UTF-8 where it has not.
std::string Utf16ToText(std::u16string_view text);
/// A message text to UTF-16 / UTF-8: code page 1250, with the letters kept by
/// Utf16ToText given back.
std::u16string TextToUtf16(std::string_view text);
std::string TextToUtf8(std::string_view text);

} // namespace upd
