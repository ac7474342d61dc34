// Stored texts are plain ASCII: "@" codes stand for the Romanian letters and
// stars stand for the angle brackets of the markup. These two conversions
// turn them into displayable text (UTF-8). Prepare a text for the
// display control with DecodeDiacritics, then StarsToTags, in that order:
// an "@" right before a "*" swallows that star.
#pragma once

#include <string>
#include <string_view>

namespace upd::text {

/// Replaces "@x" letter codes with the letters (UTF-8): @a ă, @h â, @i î,
/// @s ş, @t ţ, the upper-case codes give the upper-case letters, @@ gives @.
/// An unknown code vanishes with its "@"; so does a final "@". Never fails.
std::string DecodeDiacritics(std::string_view source);

/// Odd-numbered stars (1st, 3rd, ...) become "<", even-numbered ones ">".
/// Never fails.
std::string StarsToTags(std::string_view source);

} // namespace upd::text
