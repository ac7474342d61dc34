// The update description of a package as JSON (updkit info).
#pragma once

#include "package/Update.h"
#include "tools/updkit/Json.h"

namespace updkit {

void WriteUpdate(TJsonWriter& json, const upd::package::TUpdate& update);

} // namespace updkit
