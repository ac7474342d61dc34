// Commands run through the POSIX shell in a folder, as a release engineer
// types them, with this build's updkit first on the PATH.
#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace upd::test {

struct TShellRun {
    int status = -1;
    std::string out; ///< stdout and stderr together
};

/// Runs `line` in `folder` (POSIX only).
TShellRun RunShell(const std::string& line, const std::filesystem::path& folder);

/// Every entry under `folder` with what it holds: a file's bytes, a link's
/// target, a folder's mark; for seeing that a command changed nothing.
std::map<std::string, std::string> Snapshot(const std::filesystem::path& folder);

} // namespace upd::test
