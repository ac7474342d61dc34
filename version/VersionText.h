// Version-number texts: up to four dot-separated decimal fields
// (major.minor.release.build), as the installed files' version resources
// write them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace upd::version {

/// What the version reader reports for a file without version information.
inline constexpr const char* kInfoNotAvailable = "<info not available>";

struct TVersionNumber {
    std::int32_t Major = 0;
    std::int32_t Minor = 0;
    std::int32_t Release = 0;
    std::int32_t Build = 0;
};

/// Parses a version text. Only digits and at most three dots; missing and
/// empty fields are 0 (so "" is 0.0.0.0). Fields accumulate as value*10+digit
/// with 32-bit wrap-around. On an invalid character returns false at once;
/// `out` then holds what was read so far.
bool ParseVersion(std::string_view text, TVersionNumber& out);

/// Whether ParseVersion accepts the text.
bool IsVersionText(std::string_view text);

/// Negative, zero or positive as a is lower than, equal to or higher than b
/// (field differences in 32-bit wrap-around arithmetic). Raises Exception
/// "<text> nu este un numar de versiune valid" for an invalid text, a first.
std::int32_t CompareVersions(std::string_view a, std::string_view b);

} // namespace upd::version
