// Cutting a text into lines, the same way for the tag text of an update, the
// version names of a patch, the support log and the text control.
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
