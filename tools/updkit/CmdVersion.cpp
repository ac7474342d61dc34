#include "tools/updkit/Commands.h"

namespace updkit {

int CmdMd5(const TArgs&) { return Fail("not yet implemented"); }

int CmdVersion(const TArgs&) { return Fail("not yet implemented"); }

} // namespace updkit
