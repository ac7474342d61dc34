// Markup parser and layout under random input. The first byte picks the mode:
// even - the rest is markup as it stands (libFuzzer mutates the seeds);
// odd  - every byte of the rest picks a token from a table of tags and words,
//        so that deep, well-formed-looking markup is reached quickly.
// Every parse either succeeds with a sound model, laid out without fault, or
// fails with one of the parser's four messages.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/Exception.h"
#include "text/QvtParagrafCore.h"

namespace {

using namespace upd::text;

const char* const kTokens[] = {
    "<p>", "</p>", "<h1>", "</h1>", "<h2>", "</h2>", "<h3>", "</h3>", "<ind>", "</ind>", "<b>", "</b>", "<i>",
    "</i>", "<bold>", "</strong>", "<italic>", "<sp>", "<link>", "</link>", "<7>", "<0>", "<007>",
    "<2147483648>", "<q>", "<P x>", "<>", " ", "\r\n", "\t", "a", "cuvant", "\xE3\xBA", ">", "<", "x>y", "\x01",
    "<2147483647>", "</IND>", "<H1>",
};

class TFuzzParagraf : public TQvtParagrafCore {
public:
    explicit TFuzzParagraf(std::int32_t width) : m_width(width) {}

protected:
    bool HasSurface() const override { return true; }
    std::int32_t ControlWidth() const override { return m_width; }
    TQvtTextMeasurer& Measurer() override { return m_measurer; }
    void ApplyHeight(std::int32_t height) override
    {
        // A new height lays the text out again inside the layout, as a window does.
        if (height != m_height) {
            m_height = height;
            HandleResize();
        }
    }

private:
    std::int32_t m_width;
    std::int32_t m_height = 0;
    TQvtFixedMeasurer m_measurer;
};

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// what() ends at a NUL byte, so an excerpt holding one comes out cut short.
void CheckMessage(const std::string& m, bool textHasNul)
{
    static const char* const kE3[] = {"Paragraful nu se poate termina cu P", "Paragraful nu se poate termina cu H1",
                                      "Paragraful nu se poate termina cu H2", "Paragraful nu se poate termina cu H3"};
    for (const char* e3 : kE3)
        if (m == e3)
            return;
    if (StartsWith(m, "Eroare in dreptul caracterului de la pozitia ") ||
        (StartsWith(m, "Nu cunosc tag ") && m.find(" in dreptul caracterului cu nr. ") != std::string::npos &&
         (textHasNul || m.compare(m.size() - 2, 2, "\n\r") == 0)))
        return;
    std::abort();
}

void CheckModel(const TQvtPageListaParagrafe& list)
{
    for (const auto& para : list.Items) {
        if (para->WordLists.empty() || para->Kind > pkH3)
            std::abort();
        for (const auto& run : para->WordLists) {
            if (run->Words.empty() || !run->Fragments.empty())
                std::abort();
            if (((run->Flags & wfLink) != 0) != (run->LinkGroup >= kFirstLinkGroup))
                std::abort();
            for (const auto& w : run->Words)
                if (w.empty())
                    std::abort();
        }
    }
}

void CheckLayout(TFuzzParagraf& c)
{
    if (!c.Layout())
        std::abort();
    for (const auto& section : c.Layout()->Sections)
        for (const auto& band : section->Bands)
            for (TQvtCuvantEcran* f : band->Items()) {
                if (f->Bounds.Top < band->Top || f->Bounds.Bottom > band->Bottom)
                    std::abort();
                if ((f->Next && f->Next->Prev != f) || (f->Prev && f->Prev->Next != f))
                    std::abort();
                // Every fragment of a link knows the link's first fragment.
                if ((section->Flags & wfLink) && f->First != (f->Prev ? f->Prev->First : f))
                    std::abort();
                c.TrackPointer(f->Bounds.Left, f->Bounds.Top);
                c.HoverTick();
            }
    while (c.HoverTick()) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    std::string text;
    if (data[0] & 1) {
        for (std::size_t i = 1; i < size; ++i)
            text += kTokens[data[i] % (sizeof kTokens / sizeof kTokens[0])];
    } else {
        text.assign(reinterpret_cast<const char*>(data) + 1, size - 1);
    }
    TFuzzParagraf control(data[0] >> 1); // widths 0 .. 127: many breaks
    control.SetAutoHeight(true);
    try {
        control.SetText(text);
    } catch (const upd::Exception& e) {
        CheckMessage(e.what(), text.find('\0') != std::string::npos);
        return 0;
    }
    CheckModel(*control.Parsed());
    CheckLayout(control);
    return 0;
}
