// The subcommands of updkit. Each takes its own arguments (without the
// command name) and returns the process exit status: 0 success, 1 failure
// (one line on stderr), 2 usage error.
#pragma once

#include <string>
#include <vector>

namespace updkit {

using TArgs = std::vector<std::string>;

// Digests and versions.
int CmdMd5(const TArgs& args);
int CmdVersion(const TArgs& args);

// Patches.
int CmdMkpatch(const TArgs& args);
int CmdUnpatch(const TArgs& args);
int CmdDumpPatch(const TArgs& args);

// Packages.
int CmdInfo(const TArgs& args);
int CmdBuild(const TArgs& args);
/// build --from: the package derived from release folders.
int CmdBuildFrom(const TArgs& args);
int CmdCheck(const TArgs& args);

// The validation stage without a window.
int CmdVerify(const TArgs& args);

// The wizard's log, read back for support.
int CmdLog(const TArgs& args);

// Formatted text.
int CmdMarkup(const TArgs& args);
int CmdLayout(const TArgs& args);

/// Prints "updkit: <message>" on stderr and returns 1.
int Fail(const std::string& message);
/// Prints the usage line of a command on stderr and returns 2.
int Usage(const std::string& usage);
/// A whole decimal text above 0, or -1 (counts of volumes, sizes).
long long PositiveNumber(const std::string& text);

} // namespace updkit
