// Window placement shared by the wizard's forms and dialogs.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace upd::ui {

/// Places a top-level window in the middle of the primary work area;
/// coordinates that would be negative become 0.
void CenterOnWorkArea(HWND form);

} // namespace upd::ui
