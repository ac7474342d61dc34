#include "wizard/UpdateLogReader.h"

#include "base/TextLines.h"

namespace upd::wizard {

namespace {

constexpr std::size_t kTimeWidth = 23; // "2026-12-08 14:03:11.042"

struct TLine {
    std::string Time;
    std::string Event;
    std::string Text;
};

std::vector<TLine> Lines(const std::string& text)
{
    std::vector<TLine> lines;
    const std::size_t mark = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    for (const std::string& line : SplitLines(text.substr(mark))) {
        if (line.size() <= kTimeWidth + 1 || line[kTimeWidth] != ' ')
            continue; // not a line of the log: skipped, the rest is still read
        std::string rest = line.substr(kTimeWidth + 1);
        std::size_t space = rest.find(' ');
        lines.push_back({line.substr(0, kTimeWidth), rest.substr(0, space),
                         space == std::string::npos ? std::string() : rest.substr(space + 1)});
    }
    return lines;
}

std::string Word(const std::string& text, std::size_t n)
{
    std::size_t start = 0;
    for (std::size_t i = 0; i < n; ++i) {
        start = text.find(' ', start);
        if (start == std::string::npos)
            return {};
        ++start;
    }
    return text.substr(start, text.find(' ', start) - start);
}

std::string StepName(const std::string& step)
{
    if (step == "validation")
        return "the check of the installed files (validation)";
    if (step == "archive")
        return "the reading of the package's data (volumes)";
    if (step == "update")
        return "the update of the files";
    return "the start of the wizard";
}

} // namespace

TRunSummary SummarizeLastRun(const std::string& text)
{
    TRunSummary s;
    std::vector<TLine> lines = Lines(text);
    std::size_t first = lines.size();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].Event == "start") {
            ++s.Runs;
            first = i;
        }
    }
    if (s.Runs == 0)
        return s;
    s.Started = lines[first].Time;
    s.Program = lines[first].Text;
    s.Step = "start";
    s.Ending = "unfinished";
    int replaced = 0;
    std::string rollback, tag;
    for (std::size_t i = first; i < lines.size(); ++i) {
        const TLine& l = lines[i];
        if (l.Event == "package") {
            s.Package = l.Text;
        } else if (l.Event == "step") {
            s.Step = l.Text;
        } else if (l.Event == "recovery") {
            s.Details.push_back("at the start: " + l.Text);
        } else if (l.Event == "finding") {
            if (s.Reason.empty() && l.Text.rfind("fatal ", 0) == 0)
                s.Reason = l.Event + " " + l.Text;
            else if (l.Text.rfind("warning ", 0) == 0)
                s.Details.push_back("warning shown: " + l.Text.substr(8));
        } else if (l.Event == "error") {
            if (s.Reason.empty())
                s.Reason = l.Event + " " + l.Text;
        } else if (l.Event == "refused") {
            s.Details.push_back("volume " + l.Text.substr(0, l.Text.find(' ')) + " refused: " +
                                l.Text.substr(l.Text.find(' ') + 1));
        } else if (l.Event == "archive" && l.Text.size() > 8 && l.Text.compare(l.Text.size() - 8, 8, " damaged") == 0) {
            s.Details.push_back("the gathered data is damaged (digest " + Word(l.Text, 0) + ")");
        } else if (l.Event == "replaced") {
            ++replaced;
        } else if (l.Event == "tag") {
            tag = l.Text;
        } else if (l.Event == "rollback") {
            rollback = l.Text;
        } else if (l.Event == "end") {
            s.Ending = Word(l.Text, 0);
            s.Step = Word(l.Text, 1);
        }
    }
    if (replaced > 0 && rollback.empty())
        s.Details.push_back(std::to_string(replaced) + " files replaced" + (tag.empty() ? "" : ", tag file " + tag));
    if (rollback == "whole")
        s.Details.push_back("every replaced file was put back: the installation is as it was");
    else if (rollback == "incomplete")
        s.Details.push_back("a file could not be put back: the next start of the wizard restores it");

    const std::string step = StepName(s.Step);
    if (s.Ending == "success")
        s.Headline = "The update ended well.";
    else if (s.Ending == "finding")
        s.Headline = "The update was stopped by " + step + ", before any file was changed.";
    else if (s.Ending == "error")
        s.Headline = "An error ended the update during " + step + ".";
    else if (s.Ending == "closed")
        s.Headline = "The user closed the wizard during " + step + "; no file was changed.";
    else
        s.Headline = "The run has no end: the wizard was killed or the computer stopped during " + step +
                     ". The next start of the wizard finishes or undoes what was begun.";
    return s;
}

std::string SummaryText(const TRunSummary& s)
{
    if (s.Runs == 0)
        return "no run in this log\n";
    std::string text = "run:      " + std::to_string(s.Runs) + " of " + std::to_string(s.Runs) + ", started " +
                       s.Started + "\n";
    text += "program:  " + s.Program + "\n";
    if (!s.Package.empty())
        text += "package:  " + s.Package + "\n";
    text += "ended:    " + s.Ending + " in step " + s.Step + "\n";
    text += "summary:  " + s.Headline + "\n";
    if (!s.Reason.empty())
        text += "why:      " + s.Reason + "\n";
    for (const std::string& detail : s.Details)
        text += "detail:   " + detail + "\n";
    return text;
}

} // namespace upd::wizard
