#include "base/Exception.h"

namespace upd {

namespace {

// Replaces the first "%d" or "%s" of the pattern; the messages hold one at most.
std::string Substitute(const char* pattern, const char* placeholder, const std::string& value)
{
    std::string text(pattern);
    auto at = text.find(placeholder);
    if (at != std::string::npos)
        text.replace(at, 2, value);
    return text;
}

} // namespace

std::string Format(const char* pattern, long long value)
{
    return Substitute(pattern, "%d", std::to_string(value));
}

std::string Format(const char* pattern, const std::string& value)
{
    return Substitute(pattern, "%s", value);
}

} // namespace upd
