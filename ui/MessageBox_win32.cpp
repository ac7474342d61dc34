#include "ui/MessageBox_win32.h"

#include "base/Win32_win32.h"
#include "ui/ControlIds.h"

namespace upd::ui {

namespace {

TMessageBoxPolicy* g_policy = nullptr;

// An unattended run shows no box. A message only informs (its finding or
// error is in the log already); a question gets the answer that changes
// nothing and stops: No, Cancel, Abort.
int UnattendedAnswer(const std::string& text, UINT flags)
{
    const UINT buttons = flags & MB_TYPEMASK;
    if (buttons == MB_OK)
        return IDOK;
    g_policy->QuestionAnswered(text);
    switch (buttons) {
    case MB_YESNO:
        return IDNO;
    case MB_ABORTRETRYIGNORE:
        return IDABORT;
    default:
        return IDCANCEL;
    }
}

} // namespace

void SetMessageBoxPolicy(TMessageBoxPolicy* policy) noexcept { g_policy = policy; }

int ShowMessageBox(HWND owner, const std::string& text, UINT flags)
{
    if (g_policy && g_policy->Unattended())
        return UnattendedAnswer(text, flags);
    return ::MessageBoxW(owner, Wide(text).c_str(), Wide(kWizardCaption).c_str(), flags);
}

void ShowException(HWND owner, const std::exception& error)
{
    if (g_policy)
        g_policy->ErrorShown(error);
    HWND top = owner;
    while (top && ::GetParent(top))
        top = ::GetParent(top);
    ShowMessageBox(top, error.what(), MB_OK | MB_ICONERROR);
}

} // namespace upd::ui
