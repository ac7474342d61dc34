#include "text/LetterCodes.h"

namespace upd::text {

namespace {

// 0 for a character that is not a code: the pair is dropped.
char LetterFor(char code)
{
    switch (code) {
    case 'a': return '\xE3';
    case 'h': return '\xE2';
    case 'i': return '\xEE';
    case 's': return '\xBA';
    case 't': return '\xFE';
    case 'A': return '\xC3';
    case 'H': return '\xC2';
    case 'I': return '\xCE';
    case 'S': return '\xAA';
    case 'T': return '\xDE';
    case '@': return '@';
    default: return 0;
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
        if (char letter = LetterFor(source[i]))
            out += letter;
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
