#include "base/Dpi_win32.h"

#include <algorithm>
#include <climits>

namespace upd {

int SystemDpi()
{
    static const int dpi = [] {
        HDC screen = ::GetDC(nullptr);
        int value = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 0;
        if (screen)
            ::ReleaseDC(nullptr, screen);
        return value > 0 ? value : USER_DEFAULT_SCREEN_DPI;
    }();
    return dpi;
}

int Scaled(int pixels)
{
    // MulDiv's rounding, without its -1 on overflow: a length beyond the
    // screen stays beyond it.
    const long long scaled = static_cast<long long>(pixels) * SystemDpi();
    const long long half = USER_DEFAULT_SCREEN_DPI / 2;
    const long long rounded = (scaled >= 0 ? scaled + half : scaled - half) / USER_DEFAULT_SCREEN_DPI;
    return static_cast<int>(std::clamp<long long>(rounded, INT_MIN, INT_MAX));
}

RECT Scaled(const RECT& r)
{
    return RECT{Scaled(r.left), Scaled(r.top), Scaled(r.right), Scaled(r.bottom)};
}

HBITMAP LoadScaledBitmap(HINSTANCE instance, int resourceId)
{
    auto original = static_cast<HBITMAP>(
        ::LoadImageW(instance, MAKEINTRESOURCEW(resourceId), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
    if (!original || SystemDpi() == USER_DEFAULT_SCREEN_DPI)
        return original;
    BITMAP info{};
    ::GetObjectW(original, sizeof(info), &info);
    const int width = Scaled(info.bmWidth), height = Scaled(info.bmHeight);
    HDC screen = ::GetDC(nullptr);
    HDC from = ::CreateCompatibleDC(screen), to = ::CreateCompatibleDC(screen);
    HBITMAP scaled = ::CreateCompatibleBitmap(screen, width, height);
    if (from && to && scaled) {
        HGDIOBJ oldFrom = ::SelectObject(from, original), oldTo = ::SelectObject(to, scaled);
        // Smoothing instead of repeated pixels: the picture's lines stay even at 125%.
        ::SetStretchBltMode(to, HALFTONE);
        ::SetBrushOrgEx(to, 0, 0, nullptr);
        ::StretchBlt(to, 0, 0, width, height, from, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
        ::SelectObject(from, oldFrom);
        ::SelectObject(to, oldTo);
    }
    if (from)
        ::DeleteDC(from);
    if (to)
        ::DeleteDC(to);
    ::ReleaseDC(nullptr, screen);
    if (!scaled)
        return original;
    ::DeleteObject(original);
    return scaled;
}

} // namespace upd
