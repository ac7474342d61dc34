// The frame that every wizard page derives from: a child window of the main
// window's panel, to the right of the side picture, with its own labels.
#pragma once

#include "base/Handles_win32.h"
#include "ui/MessageBox_win32.h"

#include <exception>
#include <string>
#include <vector>

namespace upd::ui {

/// Posted by a page to the top-level window: press Next.
inline constexpr UINT WM_ADVANCE_PAGE = WM_USER + 5;

/// Page size and place inside the host panel, in pixels of the 96-dpi layout.
inline constexpr int kPageLeft = 164;
inline constexpr int kPageWidth = 328;
inline constexpr int kPageHeight = 314;

class TPaginaActualizare {
public:
    /// Creates the page's window, hidden, inside `host`; `id` is its control id.
    TPaginaActualizare(HWND host, int id);
    virtual ~TPaginaActualizare();
    TPaginaActualizare(const TPaginaActualizare&) = delete;
    TPaginaActualizare& operator=(const TPaginaActualizare&) = delete;

    /// True while the page must not be left (a stage still running).
    virtual bool IsBusy() const { return false; }
    /// False when nothing can follow this page (the wizard has no usable
    /// package); Next then stays disabled while Cancel still closes.
    virtual bool CanAdvance() const { return true; }
    /// The page's last word when the wizard ends from it.
    virtual void Finish() {}
    /// Asks the top-level window to press Next; posted, returns at once.
    void RequestNext();

    /// Shows the page. The first show is the moment the page comes to life
    /// for the user: stage pages start their worker then.
    void Show();
    void Hide();
    HWND Handle() const noexcept { return m_window; }

protected:
    /// Called once, on the first Show.
    virtual void HandleCreated() {}
    /// Messages of the page's own window; the default paints the background.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

    /// A static label in Arial of `fontHeight` pixels, East European letters.
    /// Place, size and font height are those of the 96-dpi layout (scaled to
    /// the system's DPI). Width or height 0: sized to its text.
    HWND AddLabel(int id, int x, int y, int width, int height, int fontHeight, bool wordWrap,
                  const std::string& text);
    HWND Control(int id) const { return ::GetDlgItem(m_window, id); }

private:
    static LRESULT CALLBACK StaticWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND m_window = nullptr;
    bool m_shown = false;
    std::vector<TFontHandle> m_fonts;
};

/// Sets a control's text (UTF-8).
void SetControlText(HWND control, const std::string& text);
/// A control's text as UTF-8.
std::string ControlText(HWND control);
/// An Arial font of `height` pixels (at 96 dpi, scaled to the system's DPI)
/// with the East European character set.
TFontHandle MakeArialFont(int height);
/// The buttons' font: the system's dialog face, scaled to the system's DPI.
TFontHandle MakeButtonFont();

} // namespace upd::ui
