// updkit log: a wizard's log read back for support.
#include "tools/updkit/Commands.h"
#include "tools/updkit/Files.h"

#include <cstdio>

#include "base/File.h"
#include "wizard/UpdateLogReader.h"

namespace updkit {

namespace {

// The log without the bytes no line of it holds: a power loss leaves runs of
// NUL bytes where the system had not yet written the data, and a damaged
// disk other control bytes. Tabs and line breaks stay.
std::string WithoutDamage(const std::vector<std::uint8_t>& bytes, std::size_t& nul, std::size_t& other)
{
    std::string text;
    text.reserve(bytes.size());
    for (std::uint8_t b : bytes) {
        if (b == 0)
            ++nul;
        else if ((b < 0x20 && b != '\t' && b != '\r' && b != '\n') || b == 0x7F)
            ++other;
        else
            text += static_cast<char>(b);
    }
    return text;
}

bool KnownEnding(const std::string& ending)
{
    for (const char* known : {"success", "finding", "error", "closed", "unfinished"})
        if (ending == known)
            return true;
    return false;
}

} // namespace

int CmdLog(const TArgs& args)
{
    if (args.size() != 1 || args[0].empty() || args[0][0] == '-')
        return Usage("log FILE");
    CheckInput(args[0]);
    std::size_t nul = 0, other = 0;
    const std::string log = WithoutDamage(upd::ReadWholeFile(args[0]), nul, other);
    upd::wizard::TRunSummary summary = upd::wizard::SummarizeLastRun(log);
    if (summary.Runs > 0 && !KnownEnding(summary.Ending)) {
        // An end line this reader does not know (damaged, or from a newer
        // wizard): said as such, not read as a run without an end.
        summary.Headline = "The run's end line names an ending this updkit does not know (" + summary.Ending +
                           "): read the log itself from the step named above.";
        summary.Ending = "unknown (" + summary.Ending + ")";
    }
    for (std::string& detail : summary.Details)
        if (detail.starts_with("1 files replaced"))
            detail.replace(0, 16, "1 file replaced");
    std::string text = upd::wizard::SummaryText(summary);
    if (nul + other > 0)
        text += "note:     " + std::to_string(nul) + " NUL bytes and " + std::to_string(other) +
                " other control bytes skipped (a power loss leaves NUL bytes where a log's last lines were)\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
    return summary.Runs > 0 ? 0 : 1;
}

} // namespace updkit
