#include <gtest/gtest.h>

#include <filesystem>
#include <new>
#include <system_error>

#include "base/File.h"
#include "patch/CraftedPatches.h"
#include "patch/HalvesWriter.h"
#include "patch/UnPatchEngine.h"

using namespace upd::patch;

namespace {

// 4.5 MB of new bytes, 1100 runs of a 4 KB old file: large enough to be
// written in halves.
class THalvesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (std::size_t i = 0; i < m_old.size(); ++i)
            m_old[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
        const auto file = crafted::RepeatedCopies(kRuns, 4096);
        upd::WriteWholeFile(m_patch, file.data(), file.size());
    }
    void TearDown() override { upd::DeleteFileNamed(m_patch); }

    bool IsNewFile(const std::vector<std::uint8_t>& bytes) const
    {
        if (bytes.size() != kRuns * m_old.size())
            return false;
        for (std::size_t at = 0; at < bytes.size(); at += m_old.size())
            if (!std::equal(m_old.begin(), m_old.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at)))
                return false;
        return true;
    }

    static constexpr std::size_t kRuns = 1100;
    std::vector<std::uint8_t> m_old = std::vector<std::uint8_t>(4096);
    std::string m_patch = (std::filesystem::temp_directory_path() /
                           ("upd_halves_" + std::to_string(::getpid()) + ".patch")).string();
};

// Puts a way of starting threads in place for one test.
class TThreadStartGuard {
public:
    explicit TThreadStartGuard(TQvtThreadStart start) : m_before(ReplaceThreadStart(start)) {}
    ~TThreadStartGuard() { ReplaceThreadStart(m_before); }

private:
    TQvtThreadStart m_before;
};

int g_refused = 0;

std::thread RefuseThread(std::function<void()>)
{
    ++g_refused;
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}

// A new file in memory whose outputs beside it write their own parts (the
// room is made first: the halves write at once); the write numbered `failAt`
// of the first (0) or second (1) half raises.
struct TShared {
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(1100 * 4096);
    int half = -1;
    int failAt = 0;
    std::function<void()> raise;
    int writes[2] = {0, 0};
    int raised = 0;
    int restarts = 0;
};

class TPartOutput : public TQvtPatchOutput {
public:
    TPartOutput(TShared& shared, std::size_t at, int half) : m_shared(shared), m_at(at), m_half(half) {}
    void Write(const std::uint8_t* data, std::size_t count) override
    {
        if (m_half == m_shared.half && m_shared.writes[m_half]++ == m_shared.failAt) {
            ++m_shared.raised;
            m_shared.raise();
        }
        ASSERT_LE(m_at + count, m_shared.bytes.size());
        std::copy(data, data + count, m_shared.bytes.begin() + static_cast<std::ptrdiff_t>(m_at));
        m_at += count;
    }
    bool Restart() override
    {
        ++m_shared.restarts;
        m_at = 0;
        return true;
    }
    std::unique_ptr<TQvtPatchOutput> Beside(std::int64_t offset) override
    {
        return std::make_unique<TPartOutput>(m_shared, static_cast<std::size_t>(offset), 1);
    }

private:
    TShared& m_shared;
    std::size_t m_at;
    int m_half;
};

struct TCancel {};

} // namespace

TEST_F(THalvesTest, WithoutASecondThreadTheCallingThreadWritesTheWholeFile)
{
    TThreadStartGuard guard(&RefuseThread);
    g_refused = 0;
    TShared shared;
    TPartOutput output(shared, 0, 0);
    TQvtMemorySource source(m_old);
    TQvtUnPatchEngine::ApplyFile(m_patch, source, 0, output);
    EXPECT_EQ(g_refused, 1);
    EXPECT_TRUE(IsNewFile(shared.bytes));
    EXPECT_EQ(shared.writes[1], 0);

    // The same through a file: its output beside was made and dropped unused.
    const std::string written = m_patch + ".new";
    {
        upd::TFile out(written, upd::TFileMode::Create);
        TQvtFileOutput sink(out);
        TQvtUnPatchEngine::ApplyFile(m_patch, source, 0, sink);
    }
    EXPECT_EQ(g_refused, 2);
    EXPECT_TRUE(IsNewFile(upd::ReadWholeFile(written)));
    upd::DeleteFileNamed(written);
}

TEST_F(THalvesTest, CancelAndOutOfMemoryPassThroughFromEitherHalf)
{
    // Raised once, by one half; nothing may catch it and try again.
    struct TRow {
        const char* name;
        int half;
        int failAt;
        std::function<void()> raise;
        bool badAlloc;
    } rows[] = {
        {"out of memory, first half", 0, 3, [] { throw std::bad_alloc(); }, true},
        {"out of memory, second half", 1, 0, [] { throw std::bad_alloc(); }, true},
        {"out of memory, second half, late", 1, 500, [] { throw std::bad_alloc(); }, true},
        {"cancel, first half", 0, 0, [] { throw TCancel{}; }, false},
        {"cancel, second half", 1, 7, [] { throw TCancel{}; }, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TShared shared;
        shared.half = row.half;
        shared.failAt = row.failAt;
        shared.raise = row.raise;
        TPartOutput output(shared, 0, 0);
        TQvtMemorySource source(m_old);
        if (row.badAlloc)
            EXPECT_THROW(TQvtUnPatchEngine::ApplyFile(m_patch, source, 0, output), std::bad_alloc);
        else
            EXPECT_THROW(TQvtUnPatchEngine::ApplyFile(m_patch, source, 0, output), TCancel);
        EXPECT_EQ(shared.raised, 1);
        EXPECT_EQ(shared.restarts, 0);
    }
    // A cancel from the progress, told on the calling thread.
    struct TStopping : TQvtUnPatchProgress {
        void Applied(std::int32_t, std::int32_t) override { throw TCancel{}; }
    } stopping;
    TShared shared;
    TPartOutput output(shared, 0, 0);
    TQvtMemorySource source(m_old);
    EXPECT_THROW(TQvtUnPatchEngine::ApplyFile(m_patch, source, 0, output, {}, &stopping), TCancel);
    EXPECT_EQ(shared.restarts, 0);
}
