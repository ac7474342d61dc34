// Closing the wizard while a stage works.
//
// The main thread asks a running stage to stop by cancelling; the stage's
// worker looks at the flag between blocks and instructions and leaves by
// raising TStageAbandoned, its temporary files removed on the way out. The
// replacement of the installed files is the one part that must not be left
// half-way: once a worker has entered it, cancelling is refused and the close
// waits until the replacement has completed or rolled back.
#pragma once

#include <atomic>

namespace upd::wizard {

/// Raised through a stage when the program is closing: the stage ends
/// without a report of its own.
struct TStageAbandoned {};

class TStageControl {
public:
    /// Asks the running stage to stop. False when the replacement has begun
    /// (it cannot be stopped; the caller must wait for it instead).
    bool Cancel() noexcept
    {
        int expected = kRunning;
        if (m_state.compare_exchange_strong(expected, kCancelled))
            return true;
        return expected == kCancelled;
    }
    bool Cancelled() const noexcept { return m_state.load() == kCancelled; }
    /// Raises TStageAbandoned when the program is closing.
    void CheckCancelled() const
    {
        if (Cancelled())
            throw TStageAbandoned{};
    }

    /// Marks the start of the replacement; false (and nothing marked) when
    /// the program is closing already.
    bool EnterReplacement() noexcept
    {
        int expected = kRunning;
        if (!m_state.compare_exchange_strong(expected, kReplacing))
            return false;
        m_began.store(true);
        return true;
    }
    void LeaveReplacement() noexcept
    {
        int expected = kReplacing;
        m_state.compare_exchange_strong(expected, kRunning);
    }
    bool InReplacement() const noexcept { return m_state.load() == kReplacing; }
    /// Whether a replacement has begun in this process (whatever its end):
    /// from then on the installation may have changed, and the end of the
    /// program owes the user its outcome.
    bool ReplacementBegan() const noexcept { return m_began.load(); }

    /// Whether the main thread is asking the user whether to close. A request
    /// that would open a window of its own then waits for the answer: served
    /// inside the question's loop, its window would keep the question from
    /// returning, and a Yes would not close the program.
    void SetAsking(bool asking) noexcept { m_asking.store(asking); }
    bool Asking() const noexcept { return m_asking.load(); }

    /// Back to the start (tests run several stages in one process).
    void Reset() noexcept
    {
        m_state.store(kRunning);
        m_began.store(false);
        m_asking.store(false);
    }

private:
    enum { kRunning, kCancelled, kReplacing };
    std::atomic<int> m_state{kRunning};
    std::atomic<bool> m_began{false};
    std::atomic<bool> m_asking{false};
};

/// The control of this process's stages.
TStageControl& StageControl() noexcept;

/// Leaves the replacement when it goes out of scope, however it ends.
class TReplacementScope {
public:
    explicit TReplacementScope(TStageControl& control) : m_control(control)
    {
        if (!m_control.EnterReplacement())
            throw TStageAbandoned{};
    }
    ~TReplacementScope() { m_control.LeaveReplacement(); }
    TReplacementScope(const TReplacementScope&) = delete;
    TReplacementScope& operator=(const TReplacementScope&) = delete;

private:
    TStageControl& m_control;
};

} // namespace upd::wizard
