// The subcommands of updkit. Each takes its own arguments (without the
// command name) and returns the process exit status: 0 success, 1 failure
// (one line on stderr), 2 usage error.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace upd::package {
class TPatchDataEngine;
}

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
/// extract: one file's patch data out of a package.
int CmdExtract(const TArgs& args);

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
/// Prints why the arguments are wrong ("updkit: <why>") and the usage line; returns 2.
int UsageError(const std::string& why, const std::string& usage);
/// A whole decimal text above 0, or -1 (counts of volumes, sizes).
long long PositiveNumber(const std::string& text);
/// Takes --volumes N or --volume-size BYTES (at most one of them, once);
/// returns why the value is refused, or an empty text.
std::string VolumeOption(const std::string& option, const std::string& value, std::int64_t& volumes,
                         std::int64_t& volumeSize);

/// The package inside an executable, for the console: an error becomes one line.
std::unique_ptr<upd::package::TPatchDataEngine> OpenPackage(const std::string& exe);

} // namespace updkit
