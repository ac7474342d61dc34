#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#ifndef _WIN32
#include <sys/stat.h>
#endif

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

std::string Bytes(const std::string& file)
{
    std::vector<std::uint8_t> bytes = ReadWholeFile(file);
    return std::string(bytes.begin(), bytes.end());
}

// A /log that names something other than a file of its own: nothing is
// written through it, the file it leads to keeps its bytes, and the run's
// own log says so. Links stand for the junctions and object-manager links
// a user plants on Windows.
TEST(TUpdateLogTest, ALogNameThatIsNotAFileOfItsOwnIsNotWrittenThrough)
{
    namespace fs = std::filesystem;
    struct TRow {
        const char* Name;
        void (*Plant)(const std::string& name, const std::string& other);
        bool OtherExists;
    };
    const TRow rows[] = {
        {"a second hard link", [](const std::string& n, const std::string& o) { fs::create_hard_link(o, n); }, true},
#ifndef _WIN32
        {"a link to a file", [](const std::string& n, const std::string& o) { fs::create_symlink(o, n); }, true},
        {"a link to nothing yet", [](const std::string& n, const std::string& o) { fs::create_symlink(o, n); }, false},
        {"a pipe", [](const std::string& n, const std::string&) { ::mkfifo(n.c_str(), 0600); }, false},
#endif
        {"a folder", [](const std::string& n, const std::string&) { fs::create_directory(n); }, false},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        test::TTempDir dir;
        const std::string own = dir.File("Actualizare.log"), named = dir.File("cerut.log"),
                          other = dir.File("alt fisier.txt");
        if (row.OtherExists)
            WriteWholeFile(other, "de neatins\n", 11);
        row.Plant(named, other);
        TUpdateLog log;
        log.Open(own, std::string());
        EXPECT_FALSE(log.AlsoWriteTo(named));
        log.Write("step", "update");
        if (row.OtherExists)
            EXPECT_EQ(Bytes(other), "de neatins\n");
        else
            EXPECT_FALSE(fs::exists(other));
        const std::string ownText = Bytes(own);
        EXPECT_NE(ownText.find(" nolog " + named + ": "), std::string::npos) << ownText;
        EXPECT_NE(ownText.find(" step update\r\n"), std::string::npos);
    }
}

TEST(TUpdateLogTest, EveryLineGoesThroughTheFileOpenedAtTheStart)
{
    test::TTempDir dir;
    const std::string own = dir.File("Actualizare.log"), named = dir.File("cerut.log"), moved = named + ".mutat";
    WriteWholeFile(named, "inainte\r\n", 9);
    auto log = std::make_unique<TUpdateLog>();
    log->Open(own, std::string());
    ASSERT_TRUE(log->AlsoWriteTo(named));
    log->Write("step", "validation");
    // Renamed away while the run goes on: Windows refuses it while the log
    // is open; elsewhere the lines follow the file, and nothing appears
    // under the old name.
    std::error_code renamed;
    std::filesystem::rename(named, moved, renamed);
#ifdef _WIN32
    EXPECT_TRUE(renamed) << "the open log was renamed";
    log->Write("step", "update");
    log.reset();
    std::filesystem::rename(named, moved);
#else
    ASSERT_FALSE(renamed);
    log->Write("step", "update");
    EXPECT_FALSE(std::filesystem::exists(named));
#endif
    const std::string text = Bytes(moved);
    EXPECT_EQ(text.substr(0, 9), "inainte\r\n") << "an existing /log is appended to";
    EXPECT_NE(text.find(" step validation\r\n"), std::string::npos);
    EXPECT_NE(text.find(" step update\r\n"), std::string::npos);
    EXPECT_EQ(LastEvent(own), "step update");
}

} // namespace
} // namespace upd::wizard
