// DLLs of the system that are not loaded at start.
//
// The wizard runs with administrator rights from wherever the user saved it,
// usually a downloads folder that any web page can drop a DLL into. The
// loader looks in the program's own folder first for every DLL that is not
// one of the few it always takes from the system folder, so the program
// imports only those; every other DLL is loaded here, by name, from the
// system folder alone.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace upd {

/// Restricts the DLLs that the process loads later by name (the system's own
/// DLLs loading theirs included) to the system folder. Does nothing on systems
/// without the call; LoadSystemLibrary is safe there all the same.
void RestrictDllSearchToSystemFolder() noexcept;

/// The system DLL `name` (for example L"version.dll"), loaded from the system
/// folder and kept for the life of the process; null when it cannot be loaded.
/// A side-by-side assembly that the program's manifest names (the common
/// controls 6) still takes precedence, as for any DLL loaded by name.
HMODULE LoadSystemLibrary(const wchar_t* name) noexcept;

/// A procedure of a system DLL loaded by LoadSystemLibrary, or null.
template <typename TProcedure>
TProcedure SystemProcedure(const wchar_t* dll, const char* procedure) noexcept
{
    HMODULE module = LoadSystemLibrary(dll);
    return module ? reinterpret_cast<TProcedure>(reinterpret_cast<void*>(::GetProcAddress(module, procedure)))
                  : nullptr;
}

/// InitCommonControlsEx of the common controls DLL; false when it is missing.
bool InitCommonControlClasses(DWORD classes) noexcept;

} // namespace upd
