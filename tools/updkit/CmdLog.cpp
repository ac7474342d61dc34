// updkit log: a wizard's log read back for support.
#include "tools/updkit/Commands.h"
#include "tools/updkit/Files.h"

#include <cstdio>

#include "base/File.h"
#include "wizard/UpdateLogReader.h"

namespace updkit {

int CmdLog(const TArgs& args)
{
    if (args.size() != 1 || args[0].empty() || args[0][0] == '-')
        return Usage("log FILE");
    CheckInput(args[0]);
    const auto bytes = upd::ReadWholeFile(args[0]);
    const upd::wizard::TRunSummary summary =
        upd::wizard::SummarizeLastRun(std::string(bytes.begin(), bytes.end()));
    const std::string text = upd::wizard::SummaryText(summary);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return summary.Runs > 0 ? 0 : 1;
}

} // namespace updkit
