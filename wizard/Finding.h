// What the validation stage found about one set, as data: the text the user
// reads and, for a classified set, the facts its support tag shows, so that
// whoever records a finding never reads them back out of the text.
#pragma once

#include <cstdint>
#include <string>

namespace upd::wizard {

/// The verdict codes of an unmatched set; the number is the code's digit.
enum class TVerdict {
    Modified = 1,     ///< same version as a known one, other content (warning)
    Between = 2,      ///< between the oldest and the newest known version
    Older = 3,        ///< older than every known version
    Newer = 4,        ///< newer than every known version
    NoVersion = 5,    ///< versioned file without a readable version
    Corrupt = 6,      ///< file without version whose content is unknown
    Missing = 7,      ///< no such file
};

/// The two kinds of set a tag names.
enum class TSetKind {
    None,     ///< an untagged finding (no set was classified)
    MustHave, ///< "/Test/" in the tag
    Patch,    ///< "/Patch/" in the tag
};

struct TFinding {
    std::string Text;                 ///< shown to the user, tag included
    TSetKind Kind = TSetKind::None;
    std::int32_t N = 0;               ///< the set's number (1-based) among
    std::int32_t Count = 0;           ///< the sets of its kind
    TVerdict Verdict = TVerdict::Modified;
};

/// A finding that carries no tag: its text only.
inline TFinding UntaggedFinding(std::string text)
{
    TFinding finding;
    finding.Text = std::move(text);
    return finding;
}

} // namespace upd::wizard
