// Finding the runs of a new file that every old version holds, for the Copy
// instructions of a multi-version patch. A Copy has one length for all versions
// and its own source position in each, so a run counts only where all old
// versions have it; the rest of the new file becomes literal bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace upd::patch {

struct TQvtMatch {
    std::size_t newStart = 0;
    std::size_t length = 0;
    /// The run's position in each old version.
    std::vector<std::size_t> sources;
};

/// The runs to copy, ascending and non-overlapping in the new file.
std::vector<TQvtMatch> FindMatches(const std::vector<std::span<const std::uint8_t>>& oldFiles,
                                   std::span<const std::uint8_t> newFile);

} // namespace upd::patch
