#include "tools/updkit/Commands.h"

namespace updkit {

int CmdMarkup(const TArgs&) { return Fail("not yet implemented"); }

int CmdLayout(const TArgs&) { return Fail("not yet implemented"); }

} // namespace updkit
