// updkit log on what power losses and damaged disks leave of a wizard's log.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "TestPaths.h"
#include "tools/Shell.h"

#ifndef _WIN32
namespace {

const std::string kT = "2026-12-08 14:03:11.042 ";

std::string LogSummary(const std::string& log)
{
    upd::test::TTempDir dir;
    std::ofstream(dir.File("wizard.log"), std::ios::binary) << log;
    return upd::test::RunShell("updkit log wizard.log", dir.Path()).out;
}

} // namespace
#endif

TEST(UpdkitLogTest, DamageIsSkippedWithANoteAndTheSummaryHoldsTogether)
{
#ifdef _WIN32
    GTEST_SKIP() << "runs updkit through a POSIX shell";
#else
    const std::string begun = kT + "start C:\\Kit\\setup.exe\n" + kT + "step validation\n" + kT + "step update\n";
    const struct {
        const char* name;
        std::string log;
        std::vector<std::string> lines;
        bool ended = true; ///< the log has an end line: the summary may not say it has none
    } rows[] = {
        {"NUL bytes where a power loss cut the log", begun + std::string(3000, '\0') + kT + "replaced C:\\a.dll\n",
         {"ended:    unfinished in step update", "detail:   1 file replaced",
          "note:     3000 NUL bytes and 0 other control bytes skipped (a power loss leaves NUL bytes where a log's "
          "last lines were)"},
         false},
        {"NUL bytes inside a line", kT + "start C:\\Kit\\setup.exe\n" + kT + "step up" + std::string(40, '\0') +
                                        "date\n" + kT + "end error update (status 2)\n",
         {"ended:    error in step update", "summary:  An error ended the update during the update of the files.",
          "note:     40 NUL bytes and 0 other control bytes skipped (a power loss leaves NUL bytes where a log's last "
          "lines were)"}},
        {"an end word this reader does not know", begun + kT + "end exploded update (status 3)\n",
         {"ended:    unknown (exploded) in step update",
          "summary:  The run's end line names an ending this updkit does not know (exploded): read the log itself "
          "from the step named above."}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string out = LogSummary(row.log);
        EXPECT_EQ(out.find('\0'), std::string::npos);
        for (const std::string& line : row.lines)
            EXPECT_NE(out.find(line + "\n"), std::string::npos) << line << "\n" << out;
        if (row.ended)
            EXPECT_EQ(out.find("has no end"), std::string::npos) << out;
    }
#endif
}
