// Opening an installed file or folder as itself: the Win32 side of the
// replacement's checks (UpdateFiles_win32.cpp, UpdateFilesHeld_win32.cpp).
#pragma once

#include "base/Win32_win32.h"

#include <string>

#include "base/Handles_win32.h"

namespace upd::wizard {

/// The name a handle leads to now, as "C:\\..." (or "\\\\server\\..."); ""
/// when the system cannot tell.
std::string FinalName(HANDLE handle);

/// True when two names of this system are one path (case and slashes aside).
bool SameFileName(const std::string& a, const std::string& b);

/// The MD5 digest text of everything an open file holds, read through that
/// handle from its start (its position is left alone). False, with the
/// system's error, when it cannot be read.
bool DigestThrough(HANDLE file, std::string& digest);

/// Opens `path` with `access` and `share` without following a reparse point,
/// and says what it is: `info` from the handle, `linked` when it is a reparse
/// point or the system resolved the name to another path (a link that the
/// system follows anyway, as Wine follows a Unix one). An invalid handle
/// (with the system's error) when it cannot be opened.
TFileHandle OpenAsItself(const std::string& path, DWORD access, DWORD share, BY_HANDLE_FILE_INFORMATION& info,
                         bool& linked);

} // namespace upd::wizard
