// The one crossing between the core's UTF-8 texts and the wide Windows
// functions, plus the system's error texts.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

#include "base/Exception.h"

namespace upd {

/// A text to UTF-16 for a W function (never the system's ANSI page).
std::wstring Wide(const std::string& utf8);
/// UTF-16 from a W function as a text of what code page 1250 keeps of it ('?'
/// for letters outside the page), for texts compared with the package's own
/// (version values), which can hold no other letters.
std::string Narrow(const std::wstring& wide);
/// UTF-16 from the system (a name, an error text, what the user typed) as a
/// text that keeps every letter.
std::string SystemText(const std::wstring& wide);

/// The system's text for an error code, without the trailing line break.
std::string SystemErrorText(DWORD code);

/// Raises EOSError for GetLastError(), as the framework's RaiseLastOSError did:
/// "System Error.  Code: N.\r\n<text>".
[[noreturn]] void RaiseLastOSError();
/// With a `prefix`, the message is "<prefix>\r\n" and then the above; the
/// error's Reason is the system's text alone.
[[noreturn]] void RaiseOSError(DWORD code, const std::string& prefix = {}, TErrorKind kind = TErrorKind::General);

} // namespace upd

namespace upd {

/// True when the open `handle` is the file or folder `name` names itself:
/// its final path, with every link resolved, is the full path of `name`
/// (letter case aside). `actual` gets the final path when it can be read.
bool HandleIsAt(HANDLE handle, const std::wstring& name, std::wstring* actual = nullptr);

} // namespace upd
