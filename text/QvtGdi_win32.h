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

#include "text/QvtLayout.h"

namespace upd::text {

/// Owns one GDI object (font, brush, bitmap); move-only.
template <typename H>
class TGdiObject {
public:
    TGdiObject() = default;
    explicit TGdiObject(H h) : m_h(h) {}
    TGdiObject(TGdiObject&& o) noexcept : m_h(std::exchange(o.m_h, nullptr)) {}
    TGdiObject& operator=(TGdiObject&& o) noexcept
    {
        if (this != &o) {
            Reset();
            m_h = std::exchange(o.m_h, nullptr);
        }
        return *this;
    }
    TGdiObject(const TGdiObject&) = delete;
    TGdiObject& operator=(const TGdiObject&) = delete;
    ~TGdiObject() { Reset(); }

    H Get() const noexcept { return m_h; }
    explicit operator bool() const noexcept { return m_h != nullptr; }
    void Reset() noexcept
    {
        if (m_h)
            DeleteObject(m_h);
        m_h = nullptr;
    }

private:
    H m_h = nullptr;
};

/// Selects an object into a DC for a scope and puts the old one back.
class TSelectGuard {
public:
    TSelectGuard(HDC dc, HGDIOBJ obj) : m_dc(dc), m_old(SelectObject(dc, obj)) {}
    ~TSelectGuard() { SelectObject(m_dc, m_old); }
    TSelectGuard(const TSelectGuard&) = delete;
    TSelectGuard& operator=(const TSelectGuard&) = delete;

private:
    HDC m_dc;
    HGDIOBJ m_old;
};

/// The fonts of one control, made on first use and kept.
class TQvtFontCache {
public:
    /// A font of the description: height from the point size at the screen's
    /// vertical resolution, the face name converted from code page 1250.
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
