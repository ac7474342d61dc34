// One file named twice by one package.
//
// A package names its files by full Windows paths. Windows takes two paths
// for one file when they differ only in the case of their letters, in the
// kind or number of their slashes, in "." and ".." steps, or in dots and
// spaces at the end of a name. A package whose patch sets name one file twice
// (counting each target's read-only twin, the target's name followed by "vf")
// can never be applied: both sets would replace the same file. The wizard's
// validation, the package builder and its checker refuse such a package with
// the same message.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace upd::package {

/// The spelling of a Windows path under which every other spelling of the
/// same file compares equal: backslashes only, no repeated ones, no "." or
/// ".." steps, no dots or spaces ending a name, the letters of code page 1250
/// in lower case.
std::string CanonicalPathName(const std::string& path);

/// Two spellings of one file, as the package wrote them (a twin with its "vf").
struct TSameFile {
    std::string First;
    std::string Second;
};

/// The first file that the targets, or their twins, name a second time, in
/// the order of the targets (a target before its own twin); nothing when
/// every name is a different file.
std::optional<TSameFile> FindSameFileTwice(const std::vector<std::string>& targets);

/// The message that refuses such a package.
std::string SameFileTwiceMessage(const TSameFile& same);

} // namespace upd::package
