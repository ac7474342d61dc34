#include "wizard/Worker_win32.h"

#include <atomic>

#include "base/Handles_win32.h"
#include "base/Exception.h"
#include "base/Win32_win32.h"
#include "wizard/RunOutcome.h"
#include "wizard/StageControl.h"
#include "wizard/UpdateLog.h"

namespace upd::wizard {

namespace {

std::atomic<int> g_running{0};

HANDLE CreateWorkerThread(LPTHREAD_START_ROUTINE body, void* parameter, DWORD flags, DWORD* id)
{
    return ::CreateThread(nullptr, 0, body, parameter, flags, id);
}

std::atomic<TFirEtapa::TThreadCreate> g_createThread{&CreateWorkerThread};

// The final report that no page has taken yet.
SRWLOCK g_reportLock = SRWLOCK_INIT;
bool g_reportPending = false;
TComunicareFir g_report;

bool IsFinal(std::int32_t code) { return code == NOTIFY_DONE || code == NOTIFY_FATAL || code == NOTIFY_EXCEPTION; }

void KeepFinalReport(std::int32_t code, const std::string& text)
{
    ::AcquireSRWLockExclusive(&g_reportLock);
    try {
        g_report.Code = code;
        g_report.Text = text;
        g_reportPending = true;
    } catch (...) {
        g_reportPending = false;
    }
    ::ReleaseSRWLockExclusive(&g_reportLock);
}

} // namespace

bool TakeFinalReport(TComunicareFir& report) noexcept
{
    ::AcquireSRWLockExclusive(&g_reportLock);
    bool pending = g_reportPending;
    g_reportPending = false;
    if (pending)
        std::swap(report, g_report);
    ::ReleaseSRWLockExclusive(&g_reportLock);
    return pending;
}

std::unique_ptr<TComunicareFir> TakeNotification(WPARAM wParam)
{
    return std::unique_ptr<TComunicareFir>(reinterpret_cast<TComunicareFir*>(wParam));
}

std::string ExceptionNotificationText(const std::string& className, const std::string& message)
{
    return className + "\n\r" + message;
}

void TFirEtapa::Start(std::unique_ptr<TFirEtapa> worker)
{
    // Counted before the thread exists, so that a close right after the start
    // already waits for it.
    ++g_running;
    DWORD id = 0;
    TKernelHandle thread(g_createThread.load()(&ThreadProc, worker.get(), CREATE_SUSPENDED, &id));
    if (!thread) {
        --g_running;
        RaiseLastOSError();
    }
    worker.release(); // the thread owns it now
    ::ResumeThread(thread.Get());
}

TFirEtapa::TThreadCreate TFirEtapa::ReplaceThreadCreate(TThreadCreate create) noexcept
{
    return g_createThread.exchange(create);
}

int TFirEtapa::RunningCount() noexcept { return g_running.load(); }

bool TFirEtapa::WaitForAll(DWORD milliseconds) noexcept
{
    DWORD start = ::GetTickCount();
    while (g_running.load() > 0) {
        if (::GetTickCount() - start >= milliseconds)
            return false;
        ::Sleep(10);
    }
    return true;
}

DWORD WINAPI TFirEtapa::ThreadProc(void* parameter)
{
    std::unique_ptr<TFirEtapa> self(static_cast<TFirEtapa*>(parameter));
    self->Run();
    self.reset();
    --g_running;
    return 0;
}

void TFirEtapa::Run() noexcept
{
    try {
        try {
            Execute();
        } catch (const TStageAbandoned&) {
            // The program is closing, or the user stopped: nothing to report.
            Records.Log.Abandoned();
        } catch (const Exception& e) {
            RunOutcome().Failed(dynamic_cast<const EOSError*>(&e) == nullptr);
            Records.Log.Error(e.ClassName(), e.Message());
            Notify(NOTIFY_EXCEPTION, ExceptionNotificationText(e.ClassName(), e.what()));
        } catch (const std::bad_alloc&) {
            RunOutcome().Failed(false);
            Records.Log.Error("EOutOfMemory", "Out of memory");
            Notify(NOTIFY_EXCEPTION, ExceptionNotificationText("EOutOfMemory", "Out of memory"));
        } catch (const std::exception& e) {
            RunOutcome().Failed(false);
            Records.Log.Error("Exception", e.what());
            Notify(NOTIFY_EXCEPTION, ExceptionNotificationText("Exception", e.what()));
        }
    } catch (...) {
        // Not even the error could be reported; the thread still ends cleanly.
    }
}

namespace {

// Test hook of the test build only: UPD_TEST_PROGRESS_DELAY_MS slows every
// stage down at each progress report, so that a test can close the wizard in
// the middle of it. The release program has no such hook.
DWORD ProgressDelay()
{
#ifndef UPD_TEST_HOOKS
    return 0;
#else
    static const DWORD delay = [] {
        wchar_t text[16] = {};
        DWORD length = ::GetEnvironmentVariableW(L"UPD_TEST_PROGRESS_DELAY_MS", text, 16);
        return length > 0 && length < 16 ? static_cast<DWORD>(_wtoi(text)) : 0u;
    }();
    return delay;
#endif
}

} // namespace

void TFirEtapa::Notify(std::int32_t code, const std::string& text, bool wait)
{
    if (code == NOTIFY_DONE)
        Records.Log.StepDone();
    // Kept before it is sent: a window closed meanwhile never handles it.
    if (IsFinal(code))
        KeepFinalReport(code, text);
    if (code == NOTIFY_PROGRESS && ProgressDelay() > 0)
        ::Sleep(ProgressDelay());
    auto notification = std::make_unique<TComunicareFir>();
    notification->Code = code;
    notification->Text = text;
    if (wait) {
        // A page that is gone cannot take the notification over.
        if (!::IsWindow(PageWindow))
            return;
        ::SendMessageW(PageWindow, WM_WORKER_NOTIFY, reinterpret_cast<WPARAM>(notification.release()), 0);
        return;
    }
    if (::PostMessageW(PageWindow, WM_WORKER_NOTIFY, reinterpret_cast<WPARAM>(notification.get()), 0))
        notification.release();
}

} // namespace upd::wizard

namespace upd::wizard {

bool TFirEtapa::Ask(const std::string& text)
{
    TIntrebareFir question;
    question.Text = text;
    if (!::IsWindow(PageWindow))
        return false;
    ::SendMessageW(PageWindow, WM_WORKER_ASK, reinterpret_cast<WPARAM>(&question), 0);
    return question.Retry;
}

} // namespace upd::wizard
