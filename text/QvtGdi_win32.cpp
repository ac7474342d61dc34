#include "text/QvtGdi_win32.h"

#include <algorithm>
#include <cwchar>

#include "base/Dpi_win32.h"
#include "base/Win32_win32.h"

namespace upd::text {

HFONT TQvtFontCache::Get(const TQvtFont& font)
{
    for (const auto& [description, handle] : m_fonts)
        if (description == font)
            return handle.Get();

    LOGFONTW lf{};
    // Points at the DPI the rest of the program is scaled to.
    lf.lfHeight = -MulDiv(font.Size, SystemDpi(), 72);
    lf.lfWeight = font.Bold ? FW_BOLD : FW_NORMAL;
    lf.lfItalic = font.Italic;
    lf.lfUnderline = font.Underline;
    lf.lfStrikeOut = font.StrikeOut;
    lf.lfCharSet = font.Charset;
    lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
    lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    lf.lfQuality = DEFAULT_QUALITY;
    lf.lfPitchAndFamily = DEFAULT_PITCH;
    std::wstring face = Wide(font.Name);
    wcsncpy(lf.lfFaceName, face.c_str(), LF_FACESIZE - 1);
    HFONT handle = CreateFontIndirectW(&lf);
    if (!handle)
        RaiseLastOSError();
    m_fonts.emplace_back(font, TGdiObject<HFONT>(handle));
    return handle;
}

TQvtGdiMeasurer::TQvtGdiMeasurer(TQvtFontCache& fonts) : m_fonts(fonts), m_dc(CreateCompatibleDC(nullptr))
{
    if (!m_dc)
        RaiseLastOSError();
}

TQvtGdiMeasurer::~TQvtGdiMeasurer()
{
    DeleteDC(m_dc);
}

TQvtSize TQvtGdiMeasurer::Measure(const TQvtFont& font, std::string_view text)
{
    TSelectGuard select(m_dc, m_fonts.Get(font));
    std::wstring wide = Wide(std::string(text));
    SIZE size{};
    // An empty string (the blanks of "sp" trimmed away) may measure as nothing; that is fine.
    if (!GetTextExtentPoint32W(m_dc, wide.c_str(), static_cast<int>(wide.size()), &size) && !wide.empty())
        RaiseLastOSError();
    return {size.cx, size.cy};
}

} // namespace upd::text
