// Starting another program.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

#include "base/Path.h"

namespace upd::version {

/// Starts `program` with the command line "<program>" <arguments> (the path
/// quoted, so paths with spaces work), without waiting for it. Returns the
/// process handle, which the caller may close. Raises EOSError when the
/// program cannot be started.
HANDLE StartProgram(const TPath& program, const std::string& arguments);

} // namespace upd::version
