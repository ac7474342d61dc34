#include "version/VersionText.h"

#include "base/Exception.h"

namespace upd::version {

namespace {

// The original accumulated in 32-bit integers without overflow checks; the
// wrapped values decide comparisons of absurdly long fields, so keep them.
std::int32_t Wrap(std::uint32_t value) { return static_cast<std::int32_t>(value); }

} // namespace

bool ParseVersion(std::string_view text, TVersionNumber& out)
{
    std::uint32_t fields[4] = {0, 0, 0, 0};
    int field = 0;
    bool ok = true;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            fields[field] = fields[field] * 10u + static_cast<std::uint32_t>(c - '0');
        } else if (c == '.' && field < 3) {
            ++field;
        } else {
            ok = false;
            break;
        }
    }
    out.Major = Wrap(fields[0]);
    out.Minor = Wrap(fields[1]);
    out.Release = Wrap(fields[2]);
    out.Build = Wrap(fields[3]);
    return ok;
}

bool IsVersionText(std::string_view text)
{
    TVersionNumber ignored;
    return ParseVersion(text, ignored);
}

std::int32_t CompareVersions(std::string_view a, std::string_view b)
{
    TVersionNumber va, vb;
    if (!ParseVersion(a, va))
        throw Exception(std::string(a) + " nu este un numar de versiune valid");
    if (!ParseVersion(b, vb))
        throw Exception(std::string(b) + " nu este un numar de versiune valid");
    auto sub = [](std::int32_t x, std::int32_t y) {
        return Wrap(static_cast<std::uint32_t>(x) - static_cast<std::uint32_t>(y));
    };
    std::int32_t d = sub(va.Major, vb.Major);
    if (d == 0)
        d = sub(va.Minor, vb.Minor);
    if (d == 0)
        d = sub(va.Release, vb.Release);
    if (d == 0)
        d = sub(va.Build, vb.Build);
    return d;
}

} // namespace upd::version
