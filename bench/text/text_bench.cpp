// The text display's layout and link hover against the size of the text.
//
//   text_bench [RUNS]     (default 3; the best run counts)
//
// For 10 KB, 100 KB and 1 MB of markup, with the fixed test metrics:
//   layout wrapped:   a description of ordinary words laid out 289 px wide
//                     (the intro page's width), so it breaks into many lines;
//   layout unbounded: the same words in a control too wide for any line to
//                     end (updkit layout --width 999999999), so the whole
//                     paragraph is one line;
//   hover:            one link made of a fragment per style change; moving
//                     onto it, off it again, and the 20 ms ticks until both
//                     fades are complete.
// Each figure is the time per megabyte too: it stays flat when the work grows
// linearly with the text.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "text/QvtParagrafCore.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace upd::text;

class TBenchParagraf : public TQvtParagrafCore {
public:
    explicit TBenchParagraf(std::int32_t width) : m_width(width) {}

protected:
    bool HasSurface() const override { return true; }
    std::int32_t ControlWidth() const override { return m_width; }
    TQvtTextMeasurer& Measurer() override { return m_measurer; }
    void ApplyHeight(std::int32_t) override {}

private:
    std::int32_t m_width;
    TQvtFixedMeasurer m_measurer;
};

std::string Words(std::size_t size)
{
    static const char* kWords[] = {"Se", "va", "actualiza", "programul", "Pravion", "si", "Kelmira", "de", "la",
                                   "varianta", "CD", "#173"};
    std::string text;
    for (std::size_t i = 0; text.size() < size; ++i) {
        text += kWords[i % 12];
        text += ' ';
    }
    return text;
}

std::string Wrapped(std::size_t size) { return "<p>" + Words(size) + "</p>"; }


std::string OneLongLink(std::size_t size)
{
    std::string text = "<p><link><7>";
    while (text.size() < size)
        text += "Aici <b>scrie</b> ";
    return text + "</link></p>";
}

double Best(int runs, double (*once)(const std::string&), const std::string& text)
{
    double best = 1e9;
    for (int r = 0; r < runs; ++r) {
        double s = once(text);
        if (s < best)
            best = s;
    }
    return best;
}

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

template <std::int32_t Width>
double LayoutOnce(const std::string& text)
{
    TBenchParagraf control(Width);
    auto start = Clock::now();
    control.SetText(text);
    return Seconds(start);
}

double HoverOnce(const std::string& text)
{
    TBenchParagraf control(289);
    control.SetText(text);
    const TQvtCuvantEcran& first = *control.Layout()->Sections.back()->Bands.front()->Items().front();
    auto start = Clock::now();
    control.TrackPointer(first.Bounds.Left + 1, first.Bounds.Top + 1);
    while (control.HoverTick()) {
    }
    control.TrackPointer(-100, -100);
    while (control.HoverTick()) {
    }
    return Seconds(start);
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::atoi(argv[1]) : 3;
    std::printf("| text | layout wrapped | layout unbounded | hover (%s) |\n", "in, out, every tick");
    std::printf("|---|---|---|---|\n");
    for (std::size_t size : {std::size_t{10} << 10, std::size_t{100} << 10, std::size_t{1} << 20}) {
        double wrapped = Best(runs, LayoutOnce<289>, Wrapped(size));
        double unbounded = Best(runs, LayoutOnce<999999999>, Wrapped(size));
        double hover = Best(runs, HoverOnce, OneLongLink(size));
        double mb = static_cast<double>(size) / (1 << 20);
        std::printf("| %zu KB | %.2f ms (%.0f ms/MB) | %.2f ms (%.0f ms/MB) | %.2f ms (%.0f ms/MB) |\n", size >> 10,
                    wrapped * 1e3, wrapped * 1e3 / mb, unbounded * 1e3, unbounded * 1e3 / mb, hover * 1e3,
                    hover * 1e3 / mb);
    }
    return 0;
}
