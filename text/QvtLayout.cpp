#include "text/QvtLayout.h"

#include <algorithm>

#include "base/Cp1250.h"
#include "base/Exception.h"

namespace upd::text {

bool TQvtListaCuvinteEcran::Contains(const TQvtCuvantEcran* f) const noexcept
{
    if (!OwnsItems)
        return m_members.count(f) != 0;
    return std::find(m_items.begin(), m_items.end(), f) != m_items.end();
}

void TQvtListaCuvinteEcran::Add(std::unique_ptr<TQvtCuvantEcran> f)
{
    if (!OwnsItems)
        throw Exception(TErrorKind::Internal, "bug");
    m_items.push_back(f.get());
    m_owned.push_back(std::move(f));
}

void TQvtListaCuvinteEcran::Add(TQvtCuvantEcran* f)
{
    if (OwnsItems)
        throw Exception(TErrorKind::Internal, "bug");
    m_items.push_back(f);
    m_members.insert(f);
}

void TQvtListaCuvinteEcran::Remove(const TQvtCuvantEcran* f)
{
    auto it = std::find(m_items.begin(), m_items.end(), f);
    if (it == m_items.end())
        return;
    m_items.erase(it);
    m_members.erase(f);
    if (OwnsItems)
        m_owned.erase(std::find_if(m_owned.begin(), m_owned.end(), [f](const auto& p) { return p.get() == f; }));
}

TQvtSectiuneEcran& TListaSectiuniEcran::SectionFor(std::uint8_t kind, std::uint8_t flags)
{
    for (auto& s : Sections)
        if (s->Kind == kind && s->Flags == flags)
            return *s;
    auto section = std::make_unique<TQvtSectiuneEcran>();
    section->Kind = kind;
    section->Flags = flags;
    Sections.push_back(std::move(section));
    return *Sections.back();
}

TQvtCuvantEcran& AddFragment(TQvtSectiuneEcran& section, std::unique_ptr<TQvtCuvantEcran> f)
{
    TQvtListaCuvinteEcran* band = nullptr;
    for (auto it = section.Bands.rbegin(); it != section.Bands.rend(); ++it) {
        if ((*it)->Top <= f->Bounds.Top && f->Bounds.Top <= (*it)->Bottom) {
            band = it->get();
            break;
        }
    }
    if (!band) {
        auto fresh = std::make_unique<TQvtListaCuvinteEcran>(true);
        fresh->Top = f->Bounds.Top;
        // Saturating: a fragment near the bottom of the coordinate range still gets a band.
        fresh->Bottom = f->Bounds.Bottom > INT32_MAX - 50 ? INT32_MAX : f->Bounds.Bottom + 50;
        section.Bands.push_back(std::move(fresh));
        band = section.Bands.back().get();
    }
    band->Bottom = std::max(band->Bottom, f->Bounds.Bottom);
    TQvtCuvantEcran& added = *f;
    band->Add(std::move(f));
    return added;
}

std::int32_t TQvtFixedMeasurer::CharWidth(const TQvtFont& font)
{
    return font.Size * 6 / 10 + (font.Bold ? 1 : 0);
}

std::int32_t TQvtFixedMeasurer::LineHeight(const TQvtFont& font)
{
    return font.Size * 3 / 2;
}

TQvtSize TQvtFixedMeasurer::Measure(const TQvtFont& font, std::string_view text)
{
    auto width = static_cast<long long>(Utf8Letters(text)) * CharWidth(font);
    return {static_cast<std::int32_t>(std::min<long long>(width, INT32_MAX / 2)), LineHeight(font)};
}

} // namespace upd::text
