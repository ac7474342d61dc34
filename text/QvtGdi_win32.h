// GDI side of the text display: fonts made from TQvtFont descriptions and text
// measured with them. Text reaches GDI only as UTF-16 converted from code page
// 1250, so the Romanian letters come out right whatever the system's code page.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <memory>
#include <utility>
#include <vector>

#include "base/Handles_win32.h"
#include "text/QvtLayout.h"

namespace upd::text {

/// Owns one GDI object (font, brush, bitmap); move-only.
template <typename H>
using TGdiObject = TUniqueHandle<TGdiObjectTraits<H>>;

/// The fonts of one control, made on first use and kept.
class TQvtFontCache {
public:
    /// A font of the description: height from the point size at the screen's
    /// vertical resolution, the face name converted from UTF-8.
    HFONT Get(const TQvtFont& font);

private:
    std::vector<std::pair<TQvtFont, TGdiObject<HFONT>>> m_fonts;
};

/// Measures with GetTextExtentPoint32W on a memory DC compatible with the screen.
class TQvtGdiMeasurer : public TQvtTextMeasurer {
public:
    explicit TQvtGdiMeasurer(TQvtFontCache& fonts);
    ~TQvtGdiMeasurer() override;
    TQvtGdiMeasurer(const TQvtGdiMeasurer&) = delete;
    TQvtGdiMeasurer& operator=(const TQvtGdiMeasurer&) = delete;

    TQvtSize Measure(const TQvtFont& font, std::string_view text) override;

private:
    TQvtFontCache& m_fonts;
    HDC m_dc;
};

} // namespace upd::text
