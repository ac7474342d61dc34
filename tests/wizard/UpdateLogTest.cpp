#include <gtest/gtest.h>

#include "TestPaths.h"
#include "base/File.h"
#include "wizard/UpdateLog.h"
#include "wizard/ValidationStage.h"

namespace upd::wizard {
namespace {

// Hands nothing on: only what the logger writes is looked at.
class TSilentSink : public TValidationSink {
public:
    void Progress(std::int32_t, std::int32_t) override {}
    void Warning(const TFinding&) override {}
    void Fatal(const TFinding&) override {}
    void SourceChosen(std::int32_t, std::int32_t, const std::string&) override {}
};

TFinding Tagged(TSetKind kind, std::int32_t n, std::int32_t count, TVerdict verdict, const std::string& text)
{
    TFinding finding = UntaggedFinding(text);
    finding.Kind = kind;
    finding.N = n;
    finding.Count = count;
    finding.Verdict = verdict;
    return finding;
}

// The last line of the log without its time stamp ("2026-12-08 14:03:11.042 ").
std::string LastEvent(const std::string& file)
{
    std::vector<std::uint8_t> bytes = ReadWholeFile(file);
    std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
    text.erase(0, 3);
    EXPECT_GE(text.size(), 2u);
    text.resize(text.size() - 2);
    std::string line = text.substr(text.rfind("\r\n") == std::string::npos ? 0 : text.rfind("\r\n") + 2);
    return line.size() > 24 ? line.substr(24) : line;
}

TEST(TUpdateLogTest, FindingLinesCarryTheSetAndVerdictTheStageFound)
{
    const std::string text = "Fisierul C:\\a.dll (1/2/Patch/1)";
    struct TRow {
        const char* Name;
        bool Fatal;
        TFinding Finding;
        const char* Version; ///< read before the finding, or null
        std::string Expected;
    };
    const TRow rows[] = {
        {"must-have, missing", true, Tagged(TSetKind::MustHave, 3, 25, TVerdict::Missing, text), nullptr,
         "finding fatal must-have 3/25 verdict 7 (missing) version - | " + text},
        {"patch, modified", false, Tagged(TSetKind::Patch, 1, 2, TVerdict::Modified, text), "1.0",
         "finding warning patch 1/2 verdict 1 (modified) version 1.0 | " + text},
        // A tag-like ending of an untagged text is not taken for a tag.
        {"untagged", true, UntaggedFinding("Bug - Contactati Tarvix (1/2/Patch/1)"), nullptr,
         "finding fatal - - verdict - (untagged) version - | Bug - Contactati Tarvix (1/2/Patch/1)"},
        {"line breaks", true, Tagged(TSetKind::Patch, 2, 2, TVerdict::Corrupt, "a\r\nb"), "<info not available>",
         "finding fatal patch 2/2 verdict 6 (corrupt) version <info not available> | a | b"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        test::TTempDir dir;
        const std::string file = dir.File("Actualizare.log");
        TUpdateLog log;
        log.Open(file, std::string());
        TSilentSink silent;
        TValidationLogger logger(log, silent);
        if (row.Version)
            logger.VersionFound("C:\\a.dll", row.Version);
        if (row.Fatal)
            logger.Fatal(row.Finding);
        else
            logger.Warning(row.Finding);
        EXPECT_EQ(LastEvent(file), row.Expected);
    }
}

} // namespace
} // namespace upd::wizard
