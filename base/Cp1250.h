// Conversions between the forms a text takes.
//
// Inside the program and the tool every text is UTF-8. Code page 1250 (the
// Windows code page of the Romanian letters) is the form of texts stored in a
// package and of the tag file; UTF-16 is the form of the wide Windows
// functions. Texts change form only where they cross one of those edges.
#pragma once

#include <cstddef>
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

/// Decodes the UTF-8 sequence at `i` (i < text.size()) into `code` and moves
/// `i` past it. A sequence that is cut short, longer than the letter needs,
/// a surrogate half or beyond U+10FFFF is malformed: false, and `i` moves by
/// one byte only, so that the next byte is looked at afresh.
bool NextUtf8(std::string_view text, std::size_t& i, char32_t& code) noexcept;
/// Appends the UTF-8 form of a code point.
void AppendUtf8(std::string& out, char32_t code);

/// The number of letters of a UTF-8 text; each malformed byte counts as one,
/// as the conversions below replace it.
std::size_t Utf8Letters(std::string_view text) noexcept;
/// The byte offset where letter `letters` (0-based) starts; text.size() past the end.
std::size_t Utf8Offset(std::string_view text, std::size_t letters) noexcept;

std::u16string Cp1250ToUtf16(std::string_view text);
/// A letter the page lacks (or a lone surrogate half) becomes '?'.
std::string Utf16ToCp1250(std::u16string_view text);
std::string Cp1250ToUtf8(std::string_view text);
/// Each malformed byte and each letter the page lacks becomes '?'.
std::string Utf8ToCp1250(std::string_view text);
/// What code page 1250 keeps of a UTF-8 text: the letters it lacks as '?'.
std::string KeptByCp1250(std::string_view utf8);

/// UTF-8 and UTF-16 of any letter (system names); each malformed byte or
/// lone surrogate half becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);
/// The text as well-formed UTF-8: each malformed byte becomes U+FFFD (what
/// the log and the tool's JSON write for names that are not UTF-8).
std::string ValidUtf8(std::string_view text);

} // namespace upd
