// The screen model of the formatted text display: fragments of text with
// their rectangles, filed by style into sections and, inside a section, into
// bands (a coarse vertical index for hit-testing). Fragments of one link are
// chained by Prev and Next so the whole link lights up and answers as one.
//
// Text is measured through TQvtTextMeasurer: GDI in the control, fixed
// metrics (TQvtFixedMeasurer) in tests and in updkit.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "text/QvtParagrafStyle.h"

namespace upd::text {

/// Pixels in the control's client area, y downwards.
struct TQvtRect {
    std::int32_t Left = 0;
    std::int32_t Top = 0;
    std::int32_t Right = 0;
    std::int32_t Bottom = 0;

    bool operator==(const TQvtRect&) const = default;
};

/// A piece of text drawn in one style.
struct TQvtCuvantEcran {
    TQvtCuvantEcran* Prev = nullptr; ///< previous fragment of the same link
    TQvtCuvantEcran* Next = nullptr; ///< next fragment of the same link
    /// The first fragment of the same link (itself for the first), so that a
    /// hit finds its link at once; null outside links.
    TQvtCuvantEcran* First = nullptr;
    TQvtRect Bounds;                 ///< Right/Bottom = Left/Top + measured width/height
    std::string Text;                ///< words joined by single blanks; may begin with a blank
    std::int32_t LinkId = -1;
    bool Hot = false;            ///< the fragment's link is under the mouse
    std::int32_t HoverLevel = 0; ///< 0 .. 25, animated by the control
};

/// A list of fragments: owning as a band of a section, not owning as the hot list.
class TQvtListaCuvinteEcran {
public:
    explicit TQvtListaCuvinteEcran(bool ownsItems) : OwnsItems(ownsItems) {}
    TQvtListaCuvinteEcran(const TQvtListaCuvinteEcran&) = delete;
    TQvtListaCuvinteEcran& operator=(const TQvtListaCuvinteEcran&) = delete;

    const bool OwnsItems;
    std::int32_t Top = 0;
    std::int32_t Bottom = 0;

    int Count() const noexcept { return static_cast<int>(m_items.size()); }
    TQvtCuvantEcran& operator[](int i) const { return *m_items.at(static_cast<std::size_t>(i)); }
    const std::vector<TQvtCuvantEcran*>& Items() const noexcept { return m_items; }
    /// Constant time for a list that does not own its items (the hot list,
    /// asked once for every fragment of a link that may have thousands).
    bool Contains(const TQvtCuvantEcran* f) const noexcept;

    /// Owning lists take ownership; raises upd::Exception("bug") when the ownership does not match.
    void Add(std::unique_ptr<TQvtCuvantEcran> f);
    void Add(TQvtCuvantEcran* f);
    /// Removes f if present (destroying it when the list owns it).
    void Remove(const TQvtCuvantEcran* f);
    /// Removes every item of a list that does not own them for which `remove`
    /// is true, keeping the order of the rest, in one pass.
    template <class TPredicate>
    void RemoveIf(TPredicate remove);

private:
    std::vector<TQvtCuvantEcran*> m_items;
    std::vector<std::unique_ptr<TQvtCuvantEcran>> m_owned;
    std::unordered_set<const TQvtCuvantEcran*> m_members; // only when not owning
};

template <class TPredicate>
void TQvtListaCuvinteEcran::RemoveIf(TPredicate remove)
{
    std::erase_if(m_items, [&](TQvtCuvantEcran* f) {
        if (!remove(f))
            return false;
        m_members.erase(f);
        return true;
    });
}

/// All fragments of one style (paragraph kind and run flags).
class TQvtSectiuneEcran {
public:
    std::uint8_t Kind = pkP;
    std::uint8_t Flags = 0;
    std::vector<std::unique_ptr<TQvtListaCuvinteEcran>> Bands;
};

/// A layout: its sections, and the hover state of the control.
class TListaSectiuniEcran {
public:
    std::vector<std::unique_ptr<TQvtSectiuneEcran>> Sections;
    TQvtListaCuvinteEcran HotList{false};         ///< fragments whose hover level is animating
    TQvtCuvantEcran* HoveredLink = nullptr;       ///< first fragment of the link under the mouse

    /// The section of a kind and flags, appended when there is none yet.
    TQvtSectiuneEcran& SectionFor(std::uint8_t kind, std::uint8_t flags);
};

/// Files f into the last band of the section with Top <= f.Top <= Bottom, or a
/// new band (Top = f.Top, Bottom = f.Bottom + 50); the band grows to f.Bottom.
TQvtCuvantEcran& AddFragment(TQvtSectiuneEcran& section, std::unique_ptr<TQvtCuvantEcran> f);

struct TQvtSize {
    std::int32_t cx = 0;
    std::int32_t cy = 0;
};

/// Text measurement on a drawing surface: width and height of a whole string, blanks included.
class TQvtTextMeasurer {
public:
    virtual ~TQvtTextMeasurer() = default;
    virtual TQvtSize Measure(const TQvtFont& font, std::string_view text) = 0;
};

/// Known metrics for tests and tools: every letter is Size * 6 / 10 pixels wide
/// (one more in bold), every string Size * 3 / 2 pixels high (Arial 10: 6 x 15).
class TQvtFixedMeasurer : public TQvtTextMeasurer {
public:
    TQvtSize Measure(const TQvtFont& font, std::string_view text) override;
    static std::int32_t CharWidth(const TQvtFont& font);
    static std::int32_t LineHeight(const TQvtFont& font);
};

} // namespace upd::text
