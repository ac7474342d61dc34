// Display scaling. The wizard's windows are laid out in pixels of a 96-dpi
// screen; the manifest declares the program aware of the system's DPI, so
// every length and every font is scaled here, together, and the proportions
// stay those of 96 dpi at any setting.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace upd {

/// The system's DPI, read from the screen on first use and kept for the run:
/// every window of the program is made at the same scale.
int SystemDpi();

/// A length of the 96-dpi layout at the system's DPI, rounded to the nearest pixel.
int Scaled(int pixels);

/// A rectangle of the 96-dpi layout at the system's DPI: its corners are
/// scaled, so that neighbours that touch at 96 dpi still touch.
RECT Scaled(const RECT& r);

/// A bitmap resource drawn for 96 dpi, stretched to the system's DPI with
/// smoothing (nothing to stretch at 96 dpi). Null when it cannot be loaded.
HBITMAP LoadScaledBitmap(HINSTANCE instance, int resourceId);

} // namespace upd
