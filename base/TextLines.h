// Texts cut into lines, the one way every stored text and every shown text is.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace upd {

/// Splits a text into lines at CR LF, a lone CR or a lone LF; a final line
/// break adds no empty entry (an empty text gives no lines). LF CR is two
/// breaks, with an empty line between them.
std::vector<std::string> SplitLines(std::string_view text);

} // namespace upd
