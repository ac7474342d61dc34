#include "text/QvtParagrafCore.h"

#include <algorithm>
#include <limits>

#include "base/TextLines.h"

namespace upd::text {

namespace {

// Coordinates are 32-bit; the arithmetic runs in 64 bits so that absurd
// indentation or very long texts clamp instead of wrapping.
std::int32_t Clamp32(long long v)
{
    return static_cast<std::int32_t>(std::clamp<long long>(v, std::numeric_limits<std::int32_t>::min(),
                                                           std::numeric_limits<std::int32_t>::max()));
}

std::string_view TrimLeft(std::string_view s)
{
    std::size_t i = 0;
    while (i < s.size() && static_cast<unsigned char>(s[i]) <= ' ')
        ++i;
    return s.substr(i);
}

template <typename F>
void ForEachRun(const TQvtPageListaParagrafe& parsed, F&& f)
{
    for (const auto& para : parsed.Items)
        for (const auto& run : para->WordLists)
            f(*para, *run);
}

// Where the next fragment goes while the paragraphs are laid out.
struct TPen {
    long long X = 0;
    long long Y = 0;
    long long LineStart = 0;   ///< where the paragraph's lines after its first begin
    bool AtLineStart = true;   ///< nothing placed on the current line yet
    long long LastLineHeight = 0; ///< height of the last fragment placed, in any paragraph
    const TQvtCuvantEcran* Last = nullptr; ///< last fragment of the current paragraph
};

// Lays the words of one run out from the pen, wrapping before `right`, and
// records each fragment made in the run.
void FlowRun(TPen& pen, TQvtWordList& run, const TQvtFont& font, TQvtSectiuneEcran& section,
             TQvtTextMeasurer& measurer, long long right)
{
    // Places t at the pen and returns its measured size.
    auto place = [&](std::string_view t) {
        TQvtSize size = measurer.Measure(font, t);
        auto f = std::make_unique<TQvtCuvantEcran>();
        f->Bounds = {Clamp32(pen.X), Clamp32(pen.Y), Clamp32(pen.X + size.cx), Clamp32(pen.Y + size.cy)};
        f->Text = std::string(t);
        f->LinkId = run.LinkId;
        run.Fragments.push_back(f.get());
        pen.Last = &AddFragment(section, std::move(f));
        return size;
    };

    // The fragment in the making and its measured width. A word is measured
    // with its blank alone and added to what is measured already (text widths
    // add up: the surface draws no kerning), so a line of any length costs its
    // length once.
    std::string pending;
    long long pendingWidth = 0;
    std::string piece;
    for (const std::string& w : run.Words) {
        piece.clear();
        if (!pending.empty() || !pen.AtLineStart)
            piece += ' ';
        piece += w;
        const long long width = pendingWidth + measurer.Measure(font, piece).cx;
        if (pen.X + width < right) {
            pending += piece;
            pendingWidth = width;
        } else if (!pending.empty()) {
            TQvtSize placed = place(pending);
            pen.AtLineStart = true;
            pen.Y += placed.cy;
            pen.LastLineHeight = placed.cy;
            pen.X = pen.LineStart;
            pending = w;
            pendingWidth = measurer.Measure(font, w).cx;
        } else {
            // Not even the run's first word fits where the line stands.
            pen.X = pen.LineStart;
            pen.Y += pen.LastLineHeight;
            TQvtSize placed = place(TrimLeft(piece));
            pen.AtLineStart = false;
            pen.X += placed.cx;
            pen.LastLineHeight = placed.cy;
        }
    }
    if (!pending.empty()) {
        TQvtSize placed = place(pending);
        pen.AtLineStart = false;
        pen.X += placed.cx;
        pen.LastLineHeight = placed.cy;
    }
}

// Links the fragments of each link (runs of one LinkGroup, in text order)
// into one chain with its first fragment, and forgets the runs' fragments.
void ChainLinks(const TQvtPageListaParagrafe& parsed)
{
    TQvtCuvantEcran* chainEnd = nullptr;
    TQvtCuvantEcran* chainStart = nullptr;
    std::int32_t group = -2;
    ForEachRun(parsed, [&](const TQvtPageParagraf&, TQvtWordList& run) {
        if (!(run.Flags & wfLink)) {
            chainEnd = nullptr;
        } else {
            std::size_t i = 0;
            if (run.LinkGroup != group) {
                group = run.LinkGroup;
                chainEnd = run.Fragments.empty() ? nullptr : run.Fragments.front();
                chainStart = chainEnd;
                if (chainEnd) {
                    chainEnd->Prev = nullptr;
                    chainEnd->First = chainEnd;
                }
                i = 1;
            }
            for (; i < run.Fragments.size(); ++i) {
                TQvtCuvantEcran* f = run.Fragments[i];
                if (chainEnd)
                    chainEnd->Next = f;
                else
                    chainStart = f;
                f->Prev = chainEnd;
                f->First = chainStart;
                chainEnd = f;
            }
        }
        run.Fragments.clear();
    });
}

struct TFlagGuard {
    explicit TFlagGuard(bool& flag) : m_flag(flag) { m_flag = true; }
    ~TFlagGuard() { m_flag = false; }
    bool& m_flag;
};

} // namespace

std::array<TQvtColor, kHoverLevels + 1> HoverColorTable(TQvtColor baseRgb, TQvtColor tooltipRgb)
{
    auto dim = [](int c) { return c > 100 ? c - 30 : c; };
    int hover[3] = {dim(QvtRed(tooltipRgb)), dim(QvtGreen(tooltipRgb)), dim(QvtBlue(tooltipRgb))};
    int base[3] = {QvtRed(baseRgb), QvtGreen(baseRgb), QvtBlue(baseRgb)};
    std::array<TQvtColor, kHoverLevels + 1> table{};
    for (int k = 0; k <= kHoverLevels; ++k) {
        int c[3];
        for (int i = 0; i < 3; ++i)
            c[i] = (base[i] * (kHoverLevels - k) + hover[i] * k) / kHoverLevels;
        table[static_cast<std::size_t>(k)] = QvtRgb(c[0], c[1], c[2]);
    }
    return table;
}

TQvtParagrafCore::TQvtParagrafCore() : m_parsed(ParseParagrafe(""))
{
    BuildHoverColors();
}

TQvtParagrafCore::~TQvtParagrafCore() = default;

void TQvtParagrafCore::SetText(std::string_view text)
{
    auto parsed = ParseParagrafe(text);
    m_lines = SplitLines(text);
    m_parsed = std::move(parsed);
    m_layout.reset();
    Relayout();
    Invalidate();
}

std::string TQvtParagrafCore::Text() const
{
    std::string out;
    for (const auto& line : m_lines) {
        out += line;
        out += "\r\n";
    }
    return out;
}

void TQvtParagrafCore::SetBkColor(TQvtColor color)
{
    m_bkColor = color;
    BuildHoverColors();
    Invalidate();
}

void TQvtParagrafCore::SetAutoHeight(bool on)
{
    m_autoHeight = on;
    HandleResize();
}

void TQvtParagrafCore::HandleResize()
{
    if (OnResize)
        OnResize(*this);
    if (m_resizing)
        return;
    TFlagGuard guard(m_resizing);
    Relayout();
    Invalidate();
}

void TQvtParagrafCore::Relayout()
{
    if (m_parsed)
        ForEachRun(*m_parsed, [](const TQvtPageParagraf&, TQvtWordList& run) { run.Fragments.clear(); });
    const long long right = static_cast<long long>(ControlWidth()) - DevicePixels(4);
    m_layout.reset();
    if (!m_parsed || !HasSurface())
        return;

    m_layout = std::make_unique<TListaSectiuniEcran>();
    const long long height = LayOutParagraphs(*m_layout, right);

    if (m_autoHeight && height != 0) {
        // May lay the text out again (or even replace it) before it returns:
        // nothing made above is touched after this point.
        ApplyHeight(Clamp32(height));
        if (OnResize)
            OnResize(*this);
    }

    if (m_parsed)
        ChainLinks(*m_parsed);
}

long long TQvtParagrafCore::LayOutParagraphs(TListaSectiuniEcran& layout, long long right)
{
    TQvtTextMeasurer& measurer = Measurer();
    TPen pen;
    for (const auto& para : m_parsed->Items) {
        const TQvtInfoUnParagraf& style = Style.ForKind(para->Kind);
        pen.LineStart = DevicePixels(Clamp32(static_cast<long long>(para->IndentLevel) * 16 + 4));
        pen.X = pen.LineStart;
        pen.AtLineStart = true;
        pen.Last = nullptr;
        pen.Y += DevicePixels(style.SpaceBefore);
        pen.X += DevicePixels(style.FirstLineIndent);
        for (const auto& run : para->WordLists)
            FlowRun(pen, *run, RunFont(style.Font, run->Flags), layout.SectionFor(para->Kind, run->Flags), measurer,
                    right);
        if (!pen.AtLineStart && pen.Last)
            pen.Y += static_cast<long long>(pen.Last->Bounds.Bottom) - pen.Last->Bounds.Top;
        pen.Y += DevicePixels(style.SpaceAfter);
    }
    return pen.Y;
}

TQvtCuvantEcran* TQvtParagrafCore::LinkAt(std::int32_t x, std::int32_t y, bool lastHit) const
{
    if (!m_layout)
        return nullptr;
    TQvtCuvantEcran* hit = nullptr;
    for (const auto& section : m_layout->Sections) {
        if (!(section->Flags & wfLink))
            continue;
        for (const auto& band : section->Bands) {
            if (!(band->Top <= y && y <= band->Bottom))
                continue;
            for (TQvtCuvantEcran* f : band->Items()) {
                const TQvtRect& b = f->Bounds;
                if (b.Left <= x && x <= b.Right && b.Top <= y && y <= b.Bottom) {
                    hit = f;
                    if (!lastHit)
                        break;
                }
            }
            if (hit && !lastHit)
                break;
        }
        if (hit && !lastHit)
            break;
    }
    return hit && hit->First ? hit->First : hit;
}

void TQvtParagrafCore::TrackPointer(std::int32_t x, std::int32_t y)
{
    if (!m_layout)
        return;
    // Every hit hovers its link in turn, so where two lines touch the last one wins.
    bool any = false;
    for (const auto& section : m_layout->Sections) {
        if (!(section->Flags & wfLink))
            continue;
        for (const auto& band : section->Bands) {
            if (!(band->Top <= y && y <= band->Bottom))
                continue;
            for (TQvtCuvantEcran* f : band->Items()) {
                const TQvtRect& b = f->Bounds;
                if (!(b.Left <= x && x <= b.Right && b.Top <= y && y <= b.Bottom))
                    continue;
                any = true;
                TQvtCuvantEcran* first = f->First ? f->First : f;
                if (first != m_layout->HoveredLink)
                    HoverLink(first);
            }
        }
    }
    if (!any)
        UnhoverLink();
}

void TQvtParagrafCore::HoverLink(TQvtCuvantEcran* first)
{
    if (!m_layout)
        return;
    if (m_layout->HoveredLink)
        UnhoverLink();
    for (TQvtCuvantEcran* f = first; f; f = f->Next) {
        if (!m_layout->HotList.Contains(f))
            m_layout->HotList.Add(f);
        f->Hot = true;
    }
    m_layout->HoveredLink = first;
    ShowHandCursor(true);
}

void TQvtParagrafCore::UnhoverLink()
{
    ShowHandCursor(false);
    if (!m_layout || !m_layout->HoveredLink)
        return;
    for (TQvtCuvantEcran* f = m_layout->HoveredLink; f; f = f->Next) {
        f->Hot = false;
        if (!m_layout->HotList.Contains(f))
            m_layout->HotList.Add(f);
    }
    m_layout->HoveredLink = nullptr;
}

bool TQvtParagrafCore::HoverTick()
{
    if (!m_layout)
        return false;
    TQvtListaCuvinteEcran& hot = m_layout->HotList;
    const bool repaint = hot.Count() > 0;
    hot.RemoveIf([](TQvtCuvantEcran* f) {
        if (f->Hot) {
            f->HoverLevel += 2;
            if (f->HoverLevel > kHoverLevels) {
                f->HoverLevel = kHoverLevels;
                return true;
            }
        } else {
            f->HoverLevel -= 2;
            if (f->HoverLevel < 0) {
                f->HoverLevel = 0;
                return true;
            }
        }
        return false;
    });
    return repaint;
}

void TQvtParagrafCore::BuildHoverColors()
{
    m_hoverColors = HoverColorTable(ResolveColor(m_bkColor), ResolveColor(clInfoBk));
}

TQvtColor TQvtParagrafCore::ResolveColor(TQvtColor color) const
{
    if (!(color & kSysColorFlag))
        return color;
    switch (color) {
    case clWindow:
        return clWhite;
    case clInfoBk:
        return QvtRgb(255, 255, 225);
    default:
        return QvtRgb(0, 0, 0);
    }
}

} // namespace upd::text
