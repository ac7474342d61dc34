// Shows the text display control with a heading, a bold word, an indented
// paragraph and a two-line link under the mouse, and saves the window as a
// 24-bit BMP: qvtparagraf_demo OUT.bmp
#include <cstdio>
#include <string>
#include <vector>

#include "text/QvtParagraf_win32.h"

using namespace upd::text;

namespace {

void PumpFor(DWORD ms)
{
    DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(2);
    } while (GetTickCount() - start < ms);
}

bool SaveBmp(HDC source, int x, int y, int width, int height, const char* path)
{
    BITMAPINFOHEADER bi{};
    bi.biSize = sizeof bi;
    bi.biWidth = width;
    bi.biHeight = height; // bottom-up, as BMP files are stored
    bi.biPlanes = 1;
    bi.biBitCount = 24;
    bi.biCompression = BI_RGB;
    const int stride = (width * 3 + 3) & ~3;
    std::vector<unsigned char> pixels(static_cast<std::size_t>(stride) * height);
    HDC mem = CreateCompatibleDC(source);
    HBITMAP bitmap = CreateCompatibleBitmap(source, width, height);
    HGDIOBJ old = SelectObject(mem, bitmap);
    BitBlt(mem, 0, 0, width, height, source, x, y, SRCCOPY);
    SelectObject(mem, old);
    GetDIBits(mem, bitmap, 0, static_cast<UINT>(height), pixels.data(), reinterpret_cast<BITMAPINFO*>(&bi),
              DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(mem);

    BITMAPFILEHEADER fh{};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof bi;
    fh.bfSize = fh.bfOffBits + static_cast<DWORD>(pixels.size());
    FILE* out = std::fopen(path, "wb");
    if (!out)
        return false;
    std::fwrite(&fh, sizeof fh, 1, out);
    std::fwrite(&bi, sizeof bi, 1, out);
    std::fwrite(pixels.data(), 1, pixels.size(), out);
    return std::fclose(out) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: qvtparagraf_demo OUT.bmp\n");
        return 2;
    }
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = L"QvtParagrafDemoForm";
    RegisterClassExW(&wc);
    HWND form = CreateWindowExW(0, wc.lpszClassName, L"Actualizare", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, 337,
                                300, nullptr, nullptr, wc.hInstance, nullptr);

    TQvtParagraf text;
    text.SetBkColor(clWindow);
    text.Create(form, RECT{16, 16, 16 + 289, 16 + 121});
    text.SetAutoHeight(true);
    text.SetText("<h1>Actualizare</h1>"
                 "<p>Se va actualiza programul <b>Pravion</b> la varianta nou\xC4\x83.</p>"
                 "<ind><p>Paragraf indentat: fi\xC5\x9Fierele se verific\xC4\x83 \xC3\xAEnainte de "
                 "\xC3\xAEnlocuire.</p></ind>"
                 "<p>Citi\xC5\xA3i <link><7>notele complete ale acestei actualiz\xC4\x83ri a programelor</link> "
                 "\xC3\xAEnainte de a continua.</p>");
    UpdateWindow(form);
    PumpFor(100);

    // Point at the link's second line and let the fade finish.
    const TQvtCuvantEcran* last = nullptr;
    for (const auto& section : text.Layout()->Sections)
        if (section->Flags & wfLink)
            for (const auto& band : section->Bands)
                for (const TQvtCuvantEcran* f : band->Items())
                    last = f;
    if (last)
        SendMessageW(text.Handle(), WM_MOUSEMOVE, 0,
                     MAKELPARAM(last->Bounds.Left + 4, last->Bounds.Top + 4));
    PumpFor(400);
    RedrawWindow(form, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_FRAME);
    PumpFor(50);

    RECT r;
    GetWindowRect(form, &r);
    HDC screen = GetDC(nullptr);
    bool ok = SaveBmp(screen, r.left, r.top, r.right - r.left, r.bottom - r.top, argv[1]);
    ReleaseDC(nullptr, screen);
    DestroyWindow(form);
    return ok ? 0 : 1;
}
