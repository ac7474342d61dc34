// The exit code of a run from what its stages told, in the order a run tells
// it.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "wizard/RunOutcome.h"

namespace upd::wizard {
namespace {

using TEvent = std::function<void(TRunOutcome&)>;

TEvent Stage(TRunStage stage)
{
    return [stage](TRunOutcome& o) { o.Stage(stage); };
}
const TEvent kValidation = Stage(TRunStage::Validation);
const TEvent kArchive = Stage(TRunStage::Archive);
const TEvent kUpdate = Stage(TRunStage::Update);
const TEvent kOwnError = [](TRunOutcome& o) { o.Failed(true); };
const TEvent kSystemError = [](TRunOutcome& o) { o.Failed(false); };
const TEvent kCancelled = [](TRunOutcome& o) { o.Cancelled(); };

TEST(TRunOutcomeTest, ExitCodeOfEachWayARunEnds)
{
    struct Row {
        const char* Name;
        std::vector<TEvent> Events;
        int Code;
    };
    const Row rows[] = {
        {"closed on the intro page", {}, kExitCancelled},
        {"updated", {kValidation, kArchive, kUpdate, [](TRunOutcome& o) { o.Updated(); }}, kExitUpdated},
        {"updated, then closed on the final page", {kUpdate, [](TRunOutcome& o) { o.Updated(); }, kCancelled},
         kExitUpdated},
        {"already updated", {kValidation, [](TRunOutcome& o) { o.Finding(true); }}, kExitUpToDate},
        {"validation finding", {kValidation, [](TRunOutcome& o) { o.Finding(false); }}, kExitRefused},
        {"a file unreadable in the validation", {kValidation, kSystemError}, kExitFailedRestored},
        {"no package", {[](TRunOutcome& o) { o.PackageUnreadable(); }}, kExitDataDamaged},
        {"volume not found", {kValidation, kArchive, kOwnError}, kExitDataDamaged},
        {"archive unreadable", {kArchive, kSystemError}, kExitDataDamaged},
        {"segment damaged", {kArchive, kUpdate, kOwnError}, kExitDataDamaged},
        {"temporary folder full", {kUpdate, kSystemError}, kExitFailedRestored},
        // The stop at a file in use raises through the stage as a cancel.
        {"file in use", {kUpdate, [](TRunOutcome& o) { o.FileInUse(); }, kCancelled}, kExitFileInUse},
        {"replacement rolled back",
         {kUpdate, [](TRunOutcome& o) { o.RolledBack(true); }, kOwnError}, kExitFailedRestored},
        {"cancelled in the archive stage", {kArchive, kCancelled, kSystemError}, kExitCancelled},
        // An installation that is not whole overrides whatever came first.
        {"rollback incomplete", {kUpdate, kCancelled, [](TRunOutcome& o) { o.RolledBack(false); }},
         kExitFailedUnrestored},
        {"recovery failed", {kCancelled, [](TRunOutcome& o) { o.RecoveryFailed(); }}, kExitFailedUnrestored},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        TRunOutcome outcome;
        for (const TEvent& event : row.Events)
            event(outcome);
        EXPECT_EQ(outcome.ExitCode(), row.Code);
        outcome.Reset();
        EXPECT_EQ(outcome.ExitCode(), kExitCancelled);
    }
}

TEST(TRunOutcomeTest, EveryCodeIsDistinctAndNamed)
{
    const int codes[] = {kExitUpdated,    kExitUpToDate,        kExitRefused,   kExitDataDamaged,
                         kExitFileInUse,  kExitFailedRestored,  kExitFailedUnrestored,
                         kExitCancelled,  kExitAlreadyRunning,  kExitBadCommandLine};
    std::set<int> seen;
    std::set<std::string> names;
    for (int code : codes) {
        seen.insert(code);
        names.insert(ExitCodeName(code));
        // Not a code that Windows gives an aborted or crashed program here.
        EXPECT_TRUE(code == 0 || code >= 10) << code;
    }
    EXPECT_EQ(seen.size(), std::size(codes));
    EXPECT_EQ(names.size(), std::size(codes));
    EXPECT_EQ(names.count("unknown"), 0u);
}

} // namespace
} // namespace upd::wizard
