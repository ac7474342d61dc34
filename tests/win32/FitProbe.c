/* Measures, inside the running wizard, whether every control's text fits it.
 * The scaling test hooks the wizard's message loop with this DLL (a
 * WH_GETMESSAGE hook, which the system loads into the wizard) and posts the
 * registered message "UpdFitProbe" to one of its windows. The hook then walks
 * every window of that thread and writes one line per control, measured with
 * the control's own font, to the file whose name is this DLL's name with
 * ".txt" appended (written aside and renamed, so a reader never sees half):
 *
 *   HWND<TAB>PARENT<TAB>ID<TAB>CLASS<TAB>VISIBLE<TAB>LEFT TOP RIGHT BOTTOM<TAB>
 *   TEXT-WIDTH TEXT-HEIGHT<TAB>FONT-HEIGHT<TAB>STYLE<TAB>TEXT (UTF-8)
 *
 * The rectangle is the control's client area in its parent's client
 * coordinates; the text extent is what the control needs for its text (a
 * word-wrapping label measured at its own width); the font height is the
 * font's cell height. Top-level windows are written with PARENT 0. */
#include <windows.h>

#include <stdio.h>

static HINSTANCE g_module;
static UINT g_probe;

static void WriteWindow(FILE* out, HWND window)
{
    wchar_t text[2048] = L"", cls[64] = L"";
    char utf8[6144] = "";
    RECT client, place;
    SIZE extent = {0, 0};
    TEXTMETRICW metrics;
    HWND parent = GetParent(window);
    LONG style = GetWindowLongW(window, GWL_STYLE);
    HFONT font = (HFONT)SendMessageW(window, WM_GETFONT, 0, 0);
    HDC dc = GetDC(window);
    HGDIOBJ old = SelectObject(dc, font ? (HGDIOBJ)font : GetStockObject(SYSTEM_FONT));
    int length;

    GetClassNameW(window, cls, 64);
    length = GetWindowTextW(window, text, 2048);
    GetClientRect(window, &client);
    place = client;
    MapWindowPoints(window, parent, (POINT*)&place, 2);
    GetTextMetricsW(dc, &metrics);
    if (length > 0) {
        if (lstrcmpiW(cls, L"Static") == 0 && (style & SS_TYPEMASK) == SS_LEFT) {
            /* A word-wrapping label: as tall as its lines at its width. */
            RECT r = {0, 0, client.right, 0};
            UINT flags = DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | ((style & SS_NOPREFIX) ? DT_NOPREFIX : 0);
            DrawTextW(dc, text, length, &r, flags);
            extent.cx = r.right;
            extent.cy = r.bottom;
        } else {
            GetTextExtentPoint32W(dc, text, length, &extent);
        }
    }
    SelectObject(dc, old);
    ReleaseDC(window, dc);
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof(utf8), NULL, NULL);
    fprintf(out, "%llu\t%llu\t%d\t%ls\t%d\t%ld %ld %ld %ld\t%ld %ld\t%ld\t%lu\t%s\n",
            (unsigned long long)(ULONG_PTR)window, (unsigned long long)(ULONG_PTR)(parent ? parent : 0),
            GetDlgCtrlID(window), cls, IsWindowVisible(window) ? 1 : 0, place.left, place.top, place.right,
            place.bottom, extent.cx, extent.cy, metrics.tmHeight, (unsigned long)style, utf8);
}

static BOOL CALLBACK EachChild(HWND window, LPARAM out)
{
    WriteWindow((FILE*)out, window);
    return TRUE;
}

static BOOL CALLBACK EachTopLevel(HWND window, LPARAM out)
{
    RECT client;
    GetClientRect(window, &client);
    fprintf((FILE*)out, "%llu\t0\t0\ttop\t%d\t0 0 %ld %ld\t0 0\t0\t0\t\n", (unsigned long long)(ULONG_PTR)window,
            IsWindowVisible(window) ? 1 : 0, client.right, client.bottom);
    EnumChildWindows(window, EachChild, out);
    return TRUE;
}

static void Probe(void)
{
    wchar_t path[MAX_PATH + 16], temporary[MAX_PATH + 16];
    FILE* out;
    DWORD n = GetModuleFileNameW(g_module, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return;
    lstrcatW(path, L".txt");
    lstrcpyW(temporary, path);
    lstrcatW(temporary, L".tmp");
    out = _wfopen(temporary, L"w");
    if (!out)
        return;
    EnumThreadWindows(GetCurrentThreadId(), EachTopLevel, (LPARAM)out);
    fclose(out);
    MoveFileExW(temporary, path, MOVEFILE_REPLACE_EXISTING);
}

__declspec(dllexport) LRESULT CALLBACK FitProbeHook(int code, WPARAM wParam, LPARAM lParam)
{
    MSG* message = (MSG*)lParam;
    if (code == HC_ACTION && wParam == PM_REMOVE && message && message->message == g_probe)
        Probe();
    return CallNextHookEx(NULL, code, wParam, lParam);
}

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = module;
        g_probe = RegisterWindowMessageW(L"UpdFitProbe");
    }
    return TRUE;
}
