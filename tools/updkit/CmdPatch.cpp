#include "tools/updkit/Commands.h"

namespace updkit {

int CmdMkpatch(const TArgs&) { return Fail("not yet implemented"); }

int CmdUnpatch(const TArgs&) { return Fail("not yet implemented"); }

int CmdDumpPatch(const TArgs&) { return Fail("not yet implemented"); }

} // namespace updkit
