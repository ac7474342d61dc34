#include "text/QvtParagrafStyle.h"

namespace upd::text {

namespace {

TQvtInfoUnParagraf Heading(int size, bool bold, std::int32_t space)
{
    TQvtInfoUnParagraf info;
    info.Font.Size = size;
    info.Font.Bold = bold;
    info.Font.Color = clNavy;
    info.SpaceBefore = space;
    info.SpaceAfter = space;
    return info;
}

} // namespace

TQvtParagrafStyle::TQvtParagrafStyle() : H1(Heading(18, true, 16)), H2(Heading(14, false, 8)), H3(Heading(12, false, 4))
{
}

const TQvtInfoUnParagraf& TQvtParagrafStyle::ForKind(std::uint8_t kind) const
{
    switch (kind) {
    case pkH1:
        return H1;
    case pkH2:
        return H2;
    case pkH3:
        return H3;
    default:
        return P;
    }
}

TQvtFont RunFont(const TQvtFont& styleFont, std::uint8_t flags)
{
    TQvtFont font = styleFont;
    if (flags & wfBold)
        font.Bold = true;
    if (flags & wfItalic)
        font.Italic = true;
    if (flags & wfLink) {
        font.Underline = true;
        font.Color = clNavy;
    }
    return font;
}

} // namespace upd::text
