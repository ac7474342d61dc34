#include "text/LetterCodes.h"

namespace upd::text {

namespace {

// Empty for a character that is not a code: the pair is dropped. The s and t
// are the cedilla forms, the ones code page 1250 has.
std::string_view LetterFor(char code)
{
    switch (code) {
    case 'a': return "\xC4\x83";
    case 'h': return "\xC3\xA2";
    case 'i': return "\xC3\xAE";
    case 's': return "\xC5\x9F";
    case 't': return "\xC5\xA3";
    case 'A': return "\xC4\x82";
    case 'H': return "\xC3\x82";
    case 'I': return "\xC3\x8E";
    case 'S': return "\xC5\x9E";
    case 'T': return "\xC5\xA2";
    case '@': return "@";
    default: return {};
    }
}

} // namespace

std::string DecodeDiacritics(std::string_view source)
{
    std::string out;
    out.reserve(source.size());
    for (std::size_t i = 0; i < source.size(); ++i) {
        if (source[i] != '@') {
            out += source[i];
            continue;
        }
        if (++i == source.size())
            break;
        out += LetterFor(source[i]);
    }
    return out;
}

std::string StarsToTags(std::string_view source)
{
    std::string out(source);
    bool opening = true;
    for (char& c : out) {
        if (c == '*') {
            c = opening ? '<' : '>';
            opening = !opening;
        }
    }
    return out;
}

} // namespace upd::text
