#include "tools/updkit/Commands.h"

namespace updkit {

int CmdVerify(const TArgs&) { return Fail("not yet implemented"); }

} // namespace updkit
