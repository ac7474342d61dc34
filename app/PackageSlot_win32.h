// The identity of the package appended to this program, as the program's own
// image carries it (package/ImageSlot.h).
#pragma once

#include <optional>

#include "package/ImageSlot.h"

namespace upd::app {

/// Read from the image in memory, never from the program's file (which a
/// user may have replaced by now). Nothing when the slot is empty: the
/// package was appended by a builder that does not write it.
std::optional<package::TSlotDigest> OwnPackageIdentity();

} // namespace upd::app
