// TQvtParagraf: the formatted text display as a Win32 child window. It shows
// a text in the tag markup (see QvtPageParagrafParser.h), lays it out for its
// width, optionally makes its height follow the text, and lets the user point
// at links (the link fades to a highlight and the cursor becomes a hand) and
// click them (OnLink with the link's number).
//
// Typical use by a page:
//     auto text = std::make_unique<TQvtParagraf>();
//     text->SetBkColor(clWindow);
//     text->Create(pageHwnd, RECT{16, 72, 16 + 289, 72 + 121});
//     text->OnResize = [&](TQvtParagrafCore&) { /* move the label below */ };
//     text->SetAutoHeight(true);
//     text->SetText("<p>" + StarsToTags(DecodeDiacritics(stored)) + "</p>"); // may raise
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <memory>
#include <string>

#include "text/QvtGdi_win32.h"
#include "text/QvtParagrafCore.h"

namespace upd::text {

class TQvtParagraf : public TQvtParagrafCore {
public:
    /// Hover animation period.
    static constexpr UINT kHoverIntervalMs = 20;

    TQvtParagraf();
    ~TQvtParagraf() override;

    /// Creates the control's window as a visible child of parent at bounds
    /// (the parent's client coordinates) and lays out the text already set.
    /// Raises EOSError when the window cannot be created, Exception("bug") when it exists already.
    HWND Create(HWND parent, const RECT& bounds, int controlId = 0);
    /// The control's window; null before Create and after the window is destroyed.
    HWND Handle() const noexcept { return m_hwnd; }

    /// Placement in the parent's client area (0 without a window).
    std::int32_t Left() const;
    std::int32_t Top() const;
    std::int32_t Width() const;
    std::int32_t Height() const;
    /// Moves and sizes the control; a size change lays the text out again.
    void SetBounds(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height);

    /// The text as UTF-16.
    std::wstring WideText() const;
    /// Sets the text from UTF-16; letters outside code page 1250 become "?". May raise like SetText.
    void SetWideText(const std::wstring& text);

    /// Whether the control last showed the hand cursor (over a link) rather than the default one.
    bool HandCursorShown() const noexcept { return m_hand; }

    /// The registered window class name.
    static const wchar_t* WindowClassName() noexcept;

protected:
    bool HasSurface() const override { return m_hwnd != nullptr; }
    std::int32_t ControlWidth() const override { return Width(); }
    TQvtTextMeasurer& Measurer() override { return *m_measurer; }
    void ApplyHeight(std::int32_t height) override;
    void Invalidate() override;
    void ShowHandCursor(bool hand) override;
    TQvtColor ResolveColor(TQvtColor color) const override;
    std::int32_t DevicePixels(std::int32_t pixels) const override;

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp);
    void Paint();
    void PaintTo(HDC dc, const RECT& client);
    void MouseMove(std::int32_t x, std::int32_t y);
    void TrackMouse(std::int32_t x, std::int32_t y);
    void MouseUp(UINT button, std::int32_t x, std::int32_t y);

    HWND m_hwnd = nullptr;
    TQvtFontCache m_fonts;
    std::unique_ptr<TQvtGdiMeasurer> m_measurer;
    bool m_painting = false;
    bool m_hand = false;
};

} // namespace upd::text
