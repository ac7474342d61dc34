// The rules for updkit's own files: it reads regular files only (a pipe or a
// device would hang it), and it never writes over one of its inputs: a target
// that is an input under any name is refused before anything is written, and
// every output is written beside its target and renamed over it on success.
#pragma once

#include <string>
#include <vector>

namespace updkit {

/// Raises unless `name` is an existing regular file.
void CheckInput(const std::string& name);
/// Raises when `target` is one of `inputs` (the same file under another name
/// or through a hard link) or exists and is not a regular file.
void CheckOutput(const std::string& target, const std::vector<std::string>& inputs);

} // namespace updkit
