#include "tools/updkit/Commands.h"

namespace updkit {

int CmdInfo(const TArgs&) { return Fail("not yet implemented"); }

int CmdBuild(const TArgs&) { return Fail("not yet implemented"); }

int CmdCheck(const TArgs&) { return Fail("not yet implemented"); }

} // namespace updkit
