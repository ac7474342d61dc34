// Worker threads of the stage pages and the notifications they send.
//
// A worker never touches a window. It reports to its page with
// WM_WORKER_NOTIFY, whose first parameter carries one TComunicareFir; the page
// owns the notification from the moment its handler runs. Every notification
// is posted except a validation warning, which is sent: the worker waits until
// the user has closed the warning box.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "wizard/RunRecords.h"

namespace upd::wizard {

inline constexpr UINT WM_WORKER_NOTIFY = WM_USER + 1;
/// A worker's question to its page (sent: the worker waits for the answer).
/// The first parameter carries a TIntrebareFir that stays the worker's.
inline constexpr UINT WM_WORKER_ASK = WM_USER + 7;

/// A question that the user answers with Retry or Cancel.
struct TIntrebareFir {
    std::string Text;
    bool Retry = false; ///< out
};

/// Notification codes.
enum : std::int32_t {
    NOTIFY_PROGRESS = 1,   ///< "done|total"
    NOTIFY_DONE = 3,       ///< the stage has succeeded ("Ok" from validation)
    NOTIFY_STATUS = 4,     ///< a status line
    NOTIFY_WARNING = 97,   ///< a warning; the stage goes on
    NOTIFY_FATAL = 98,     ///< a finding that ends the program
    NOTIFY_EXCEPTION = 99, ///< "<class>\n\r<message>"; ends the program
};

/// One report of a worker.
struct TComunicareFir {
    std::int32_t Code = 0;
    std::string Text;
};

/// Takes the notification out of a WM_WORKER_NOTIFY message (once).
std::unique_ptr<TComunicareFir> TakeNotification(WPARAM wParam);

/// What the three stages' workers share: a thread of their own, one guard
/// that turns every error into the error notification (and the log's error
/// line), the page they report to and the run's records they write to. Each
/// stage replaces only Execute.
class TFirEtapa {
public:
    TFirEtapa(HWND pageWindow, const TRunRecords& records) : PageWindow(pageWindow), Records(records) {}
    virtual ~TFirEtapa() = default;
    TFirEtapa(const TFirEtapa&) = delete;
    TFirEtapa& operator=(const TFirEtapa&) = delete;

    /// Runs the worker on a thread of its own, which frees it when the body
    /// returns. Nobody waits for it or stops it. Raises EOSError when the
    /// thread cannot be created.
    static void Start(std::unique_ptr<TFirEtapa> worker);

    /// Number of workers whose body has not returned yet.
    static int RunningCount() noexcept;
    /// Waits up to `milliseconds` for every worker to return; false on timeout.
    static bool WaitForAll(DWORD milliseconds) noexcept;

    /// How a worker's thread is created: CreateThread's arguments and result.
    /// Tests put a start that refuses in its place; returns the one before.
    using TThreadCreate = HANDLE (*)(LPTHREAD_START_ROUTINE body, void* parameter, DWORD flags, DWORD* id);
    static TThreadCreate ReplaceThreadCreate(TThreadCreate create) noexcept;

protected:
    /// The thread body: the stage. Errors escaping it become NOTIFY_EXCEPTION.
    virtual void Execute() = 0;

    /// Hands a notification to the page: sent when `wait`, else posted.
    void Notify(std::int32_t code, const std::string& text, bool wait = false);
    /// Asks the user through the page (Retry / Cancel); false when the user
    /// chose Cancel or the page is gone.
    bool Ask(const std::string& text);

    HWND PageWindow;
    /// Owned by the program's entry, which outlives every worker.
    TRunRecords Records;

private:
    static DWORD WINAPI ThreadProc(void* parameter);
    void Run() noexcept;
};

/// The validation stage's worker.
class TFirValidareVersiune : public TFirEtapa {
public:
    using TFirEtapa::TFirEtapa;

protected:
    void Execute() override;
};

/// The last final report of a worker (NOTIFY_DONE, NOTIFY_FATAL or
/// NOTIFY_EXCEPTION) that the user has not seen yet, taken once: an error by
/// the page that shows it, a success by the final page's hand-off, else by
/// the end of the program (the window was closed first), so that the user
/// still learns how an update ended.
bool TakeFinalReport(TComunicareFir& report) noexcept;

/// The text of an error notification: class name, LF, CR, message.
std::string ExceptionNotificationText(const std::string& className, const std::string& message);

} // namespace upd::wizard
