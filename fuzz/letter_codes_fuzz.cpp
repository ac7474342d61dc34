// A stored text as the intro page prepares it: letter codes, star brackets,
// then the markup parser on the result wrapped in a paragraph. Each step must
// end cleanly, and a parse error only with the parser's own exception.
#include <cstdint>
#include <string>

#include "base/Exception.h"
#include "text/LetterCodes.h"
#include "text/QvtPageParagrafParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view stored(reinterpret_cast<const char*>(data), size);
    const std::string text = upd::text::StarsToTags(upd::text::DecodeDiacritics(stored));
    try {
        upd::text::ParseParagrafe("<p>" + text + "</p>");
    } catch (const upd::Exception&) {
    }
    return 0;
}
