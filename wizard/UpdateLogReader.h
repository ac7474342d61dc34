// Reading a run's log back (see UpdateLog.h) into what support needs on the
// phone: which step ended the run, and why. Kept apart from the writer so that
// the wizard itself never carries the reader.
#pragma once

#include <string>
#include <vector>

namespace upd::wizard {

struct TRunSummary {
    int Runs = 0;            ///< runs in the log; the summary is of the last one
    std::string Started;     ///< time of its start line
    std::string Program;
    std::string Package;     ///< title, digest and volumes as logged
    /// success, finding, error, closed, or unfinished (no end line: killed or
    /// the machine stopped).
    std::string Ending;
    std::string Step;        ///< start, validation, archive or update
    std::string Reason;      ///< the finding's or the error's line, without its time
    std::string Headline;    ///< one sentence for support
    std::vector<std::string> Details; ///< volumes refused, rollback, files replaced...
};

/// Summarises the last run of a log's text (UTF-8). A text without any start
/// line gives Runs == 0.
TRunSummary SummarizeLastRun(const std::string& text);

/// The summary as updkit prints it (UTF-8 lines).
std::string SummaryText(const TRunSummary& summary);

} // namespace upd::wizard
