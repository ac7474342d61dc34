// The look of the formatted text display: colours, fonts and the paragraph
// styles of its four paragraph kinds. Portable: the layout measures with these
// fonts through a measurer, the Win32 control turns them into GDI fonts.
#pragma once

#include <cstdint>
#include <string>

#include "text/QvtPageParagrafParser.h"

namespace upd::text {

/// An RGB colour as 0x00BBGGRR, or a system colour as kSysColorFlag | index
/// (the index of the window system's colour table), resolved when used.
using TQvtColor = std::uint32_t;

constexpr TQvtColor kSysColorFlag = 0x80000000u;
constexpr TQvtColor clWindow = kSysColorFlag | 5;     // window background
constexpr TQvtColor clWindowText = kSysColorFlag | 8; // window text
constexpr TQvtColor clInfoBk = kSysColorFlag | 24;    // tooltip background
constexpr TQvtColor clNavy = 0x00800000u;             // RGB 0, 0, 128
constexpr TQvtColor clWhite = 0x00FFFFFFu;

constexpr TQvtColor QvtRgb(int r, int g, int b)
{
    return static_cast<TQvtColor>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int QvtRed(TQvtColor c) { return static_cast<int>(c & 0xFF); }
constexpr int QvtGreen(TQvtColor c) { return static_cast<int>((c >> 8) & 0xFF); }
constexpr int QvtBlue(TQvtColor c) { return static_cast<int>((c >> 16) & 0xFF); }

/// Character set 238: East European, for the Romanian letters of code page 1250.
constexpr std::uint8_t kEastEuropeCharset = 238;

struct TQvtFont {
    std::string Name = "Arial";
    int Size = 10; ///< points
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    bool StrikeOut = false;
    TQvtColor Color = clWindowText;
    std::uint8_t Charset = kEastEuropeCharset;

    bool operator==(const TQvtFont&) const = default;
};

/// The look of one paragraph kind.
struct TQvtInfoUnParagraf {
    TQvtFont Font;
    std::int32_t SpaceBefore = 0;     ///< pixels added before each paragraph of the kind
    std::int32_t SpaceAfter = 0;      ///< pixels added after it
    std::int32_t FirstLineIndent = 0; ///< pixels added to the start of its first line
};

/// The four paragraph styles, with their defaults: P Arial 10 in window text;
/// H1 Arial 18 bold navy, 16 before and after; H2 Arial 14 navy, 8; H3 Arial 12 navy, 4.
class TQvtParagrafStyle {
public:
    TQvtParagrafStyle();

    TQvtInfoUnParagraf P;
    TQvtInfoUnParagraf H1;
    TQvtInfoUnParagraf H2;
    TQvtInfoUnParagraf H3;

    /// The entry of a paragraph kind (P for values past pkH3).
    const TQvtInfoUnParagraf& ForKind(std::uint8_t kind) const;
};

/// The font a run is drawn in: the style's font with bold added for wfBold,
/// italic for wfItalic, and for wfLink underline and the colour navy.
TQvtFont RunFont(const TQvtFont& styleFont, std::uint8_t flags);

} // namespace upd::text
