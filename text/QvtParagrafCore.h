// The window-independent part of the text display control: its text, parse,
// styles and layout (Relayout), the resize handling that lays the text out
// again, and the link hover state with its fade animation. The Win32 control
// (TQvtParagraf) adds the window, painting, the timer, mouse capture and
// cursors by implementing the few hooks below; tests implement them with
// fixed metrics and no window.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "text/QvtLayout.h"
#include "text/QvtPageParagrafParser.h"
#include "text/QvtParagrafStyle.h"

namespace upd::text {

class TQvtParagrafCore;

/// Called with the control when its size follows the text or the window system resizes it.
using TQvtNotifyEvent = std::function<void(TQvtParagrafCore& sender)>;
/// Called with the control and the LinkId of the clicked link's first fragment.
using TClickOnQvtLink = std::function<void(TQvtParagrafCore& sender, std::int32_t linkId)>;

constexpr int kHoverLevels = 25; ///< HoverColors has entries 0 .. 25

/// The blend from base (entry 0) to the hover colour (entry 25): the tooltip
/// colour with every component above 100 reduced by 30. Both colours are RGB.
std::array<TQvtColor, kHoverLevels + 1> HoverColorTable(TQvtColor baseRgb, TQvtColor tooltipRgb);

class TQvtParagrafCore {
public:
    TQvtParagrafCore();
    virtual ~TQvtParagrafCore();
    TQvtParagrafCore(const TQvtParagrafCore&) = delete;
    TQvtParagrafCore& operator=(const TQvtParagrafCore&) = delete;

    /// Parses, keeps and lays out a new text. A markup error raises the
    /// parser's exception and leaves text, parse and layout as they were.
    void SetText(std::string_view text);
    /// The lines of the text as last set, each followed by CR LF.
    std::string Text() const;

    TQvtColor BkColor() const noexcept { return m_bkColor; }
    /// Stores the background, rebuilds the hover colours and repaints.
    void SetBkColor(TQvtColor color);

    bool AutoHeight() const noexcept { return m_autoHeight; }
    /// Stores the flag and runs the resize handling, as if the control had been resized.
    void SetAutoHeight(bool on);

    TQvtNotifyEvent OnResize;
    TClickOnQvtLink OnLink;
    TQvtParagrafStyle Style;

    const TQvtPageListaParagrafe* Parsed() const noexcept { return m_parsed.get(); }
    const TListaSectiuniEcran* Layout() const noexcept { return m_layout.get(); }
    TListaSectiuniEcran* Layout() noexcept { return m_layout.get(); }
    const std::array<TQvtColor, kHoverLevels + 1>& HoverColors() const noexcept { return m_hoverColors; }

    /// Lays the parsed text out for the current width and replaces the layout;
    /// with AutoHeight sets the height to the text's and calls OnResize. Does
    /// nothing more than drop the layout while there is no window to measure on.
    /// Safe when setting the height lays the text out again before it returns.
    void Relayout();

    /// The window system's report that the size changed: OnResize, then a new
    /// layout unless this very handling is already laying out.
    void HandleResize();

    /// The first fragment of the link of the last (hover) or the first (click)
    /// fragment of a link section at (x, y), bounds inclusive; null when none.
    TQvtCuvantEcran* LinkAt(std::int32_t x, std::int32_t y, bool lastHit) const;
    /// Hover-tests (x, y): hovers the link under it or unhovers.
    void TrackPointer(std::int32_t x, std::int32_t y);
    void HoverLink(TQvtCuvantEcran* first);
    void UnhoverLink();
    /// One 20 ms animation step; true when the control must be repainted.
    bool HoverTick();
    void BuildHoverColors();

protected:
    /// Whether the control has a window (a surface to measure on).
    virtual bool HasSurface() const = 0;
    /// The control's full width in pixels.
    virtual std::int32_t ControlWidth() const = 0;
    virtual TQvtTextMeasurer& Measurer() = 0;
    /// Makes the control this tall; the window system may run HandleResize at once.
    virtual void ApplyHeight(std::int32_t height) = 0;
    virtual void Invalidate() {}
    /// The hand pointer over a link, the default cursor elsewhere.
    virtual void ShowHandCursor(bool hand) {}
    /// A system colour's current RGB value (the portable default knows the classic scheme).
    virtual TQvtColor ResolveColor(TQvtColor color) const;
    /// The layout's own lengths (margins, indents, paragraph spacing) are
    /// pixels of a 96-dpi screen; a surface of another resolution scales them
    /// as it scales its fonts.
    virtual std::int32_t DevicePixels(std::int32_t pixels) const { return pixels; }

private:
    /// Places every paragraph's fragments into `layout`; returns the height of the text.
    long long LayOutParagraphs(TListaSectiuniEcran& layout, long long right);

    std::vector<std::string> m_lines;
    std::unique_ptr<TQvtPageListaParagrafe> m_parsed;
    std::unique_ptr<TListaSectiuniEcran> m_layout;
    TQvtColor m_bkColor = clWindow;
    bool m_autoHeight = false;
    bool m_resizing = false;
    std::array<TQvtColor, kHoverLevels + 1> m_hoverColors{};
};

} // namespace upd::text
