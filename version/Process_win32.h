// Starting another program.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

#include "base/Handles_win32.h"
#include "base/Path.h"

namespace upd::version {

/// Starts `program` with the command line "<program>" <arguments> (the path
/// quoted, so paths with spaces work), without waiting for it. Returns the
/// process handle, which the caller may close. Raises EOSError when the
/// program cannot be started.
HANDLE StartProgram(const TPath& program, const std::string& arguments);

/// The desktop user's side of a start, as the system gives it; a test puts
/// its own in place, since Wine gives every process one administrator token.
class TUserSession {
public:
    virtual ~TUserSession() = default;
    /// A primary token of the user whose shell runs on this desktop; invalid
    /// when there is no shell (a service's run, a session without one).
    virtual TKernelHandle DesktopUserToken() = 0;
    /// The environment that user's programs get (double-NUL ended); empty
    /// when it cannot be made.
    virtual std::wstring Environment(HANDLE token) = 0;
    /// Starts `commandLine` of `application` with `token`, `environment`
    /// and the current folder `folder`; the process handle, or invalid with
    /// the system's error set.
    virtual TKernelHandle CreateWithToken(HANDLE token, const std::wstring& application, std::wstring commandLine,
                                          const std::wstring& environment, const std::wstring& folder) = 0;
};

/// The system's: the token of the shell's process (the shell window's, else
/// the task bar's), its user's environment block, CreateProcessWithTokenW.
/// userenv.dll and the calls are taken from the system folder at first use.
TUserSession& SystemUserSession();

enum class TUserStart {
    Started,
    /// Nobody uses this desktop: nothing was started.
    NoDesktopUser,
};

/// Starts `program` as StartProgram does, but as the desktop's user: with
/// that user's token and environment, in `folder`. Never with the caller's
/// own rights. Raises EOSError when the user's program cannot be started.
TUserStart StartProgramAsDesktopUser(const TPath& program, const std::string& arguments, const TPath& folder,
                                     TUserSession& session);

} // namespace upd::version
