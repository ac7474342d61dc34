#include "ui/Window_win32.h"

namespace upd::ui {

void CenterOnWorkArea(HWND form)
{
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    RECT frame{};
    GetWindowRect(form, &frame);
    int width = frame.right - frame.left;
    int height = frame.bottom - frame.top;
    int left = work.left + ((work.right - work.left) - width) / 2;
    int top = work.top + ((work.bottom - work.top) - height) / 2;
    if (left < 0)
        left = 0;
    if (top < 0)
        top = 0;
    SetWindowPos(form, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

} // namespace upd::ui
