// The administrators' folders of a run (Tarvix, Kp3Tag, Lucru) as Wine can
// show them: its security calls answer, but it keeps no descriptor of its
// own; it reads one back from the Unix mode bits (owner: its one user, who
// is also every program's default owner). So what shows here is the check
// of a folder others may write (a folder made writable for all from Linux)
// and what the wizard does with it; owners and lists only a real Windows
// keeps.
#include <gtest/gtest.h>

#include <filesystem>

#include "E2EFiles_win32.h"
#include "UiDriver_win32.h"
#include "base/Win32_win32.h"
#include "wizard/WorkFolder_win32.h"

namespace upd::wizard {
namespace {

// A folder of its own per test: ctest runs them side by side.
std::string TestRoot()
{
    return std::string("C:\\upd-workfolder-") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

std::string Why(const std::string& folder, bool* ownAccountOnly = nullptr)
{
    TFileHandle held(::CreateFileW(Wide(folder).c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    EXPECT_TRUE(held) << folder;
    return WhyNotAdministratorsOnly(held.Get(), ownAccountOnly);
}

// chmod from Linux, where Wine takes its answers from.
void WritableByAll(const std::string& folder, bool all)
{
    const std::string done = TestRoot() + "\\chmod-done";
    uitest::Remove(done);
    uitest::RunAndWait("/bin/sh -c \"chmod " + std::string(all ? "777" : "755") + " '" + uitest::UnixPath(folder) +
                       "' && touch '" + uitest::UnixPath(done) + "'\"");
    ASSERT_TRUE(uitest::WaitUntil([&] { return std::filesystem::exists(done); }, 20000));
}

class TWorkFolderTest : public ::testing::Test {
protected:
    const std::string kRoot = TestRoot();
    const std::string kTarvix = kRoot + "\\Tarvix", kKp3Tag = kTarvix + "\\Kp3Tag", kLucru = kKp3Tag + "\\Lucru";

    void SetUp() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(kRoot, ignored);
        std::filesystem::create_directories(kRoot);
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(kRoot, ignored);
    }
    static bool FileExists(const std::string& name) { return std::filesystem::exists(name); }
};

TEST_F(TWorkFolderTest, FoldersItMakesAreTheAdministratorsAlone)
{
    std::string reason;
    TFileHandle held = HoldWorkFolder(kLucru, reason);
    ASSERT_TRUE(held) << reason;
    // Wine answers with its one user as owner and writer: the account the
    // wizard runs as, which nobody else has.
    for (const std::string& folder : {kTarvix, kKp3Tag, kLucru}) {
        SCOPED_TRACE(folder);
        bool ownAccountOnly = false;
        const std::string why = Why(folder, &ownAccountOnly);
        EXPECT_TRUE(why.empty() || ownAccountOnly) << why;
    }
    // Held for the run: neither renamed nor removed.
    EXPECT_FALSE(::MoveFileW(Wide(kLucru).c_str(), Wide(kLucru + "-alt").c_str()));
}

// Each folder of the chain made writable for all: Tarvix and Lucru are
// repaired, Kp3Tag refused with its reason.
TEST_F(TWorkFolderTest, AFolderOthersCanWriteIsRepairedOrRefused)
{
    struct Case {
        const std::string* Folder;
        bool Refused;
    };
    const Case cases[] = {{&kTarvix, false}, {&kKp3Tag, true}, {&kLucru, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(*c.Folder);
        std::string reason;
        { ASSERT_TRUE(HoldWorkFolder(kLucru, reason)) << reason; }
        ASSERT_NO_FATAL_FAILURE(WritableByAll(*c.Folder, true));
        ASSERT_NE(Why(*c.Folder).find("drept de modificare pentru S-1-1-0"), std::string::npos) << Why(*c.Folder);
        reason.clear();
        TFileHandle held = HoldWorkFolder(kLucru, reason);
        EXPECT_EQ(!held, c.Refused) << reason;
        if (c.Refused) {
            EXPECT_EQ(reason, UnsafeFolderMessage(kKp3Tag, "drept de modificare pentru S-1-1-0"));
            EXPECT_NE(Why(kKp3Tag), "") << "a refused folder is left as it was found";
            ASSERT_NO_FATAL_FAILURE(WritableByAll(*c.Folder, false));
        } else {
            bool ownAccountOnly = false;
            const std::string why = Why(*c.Folder, &ownAccountOnly);
            EXPECT_TRUE(why.empty() || ownAccountOnly) << "not repaired: " << why;
        }
    }
}

} // namespace
} // namespace upd::wizard
