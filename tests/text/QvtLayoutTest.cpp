#include "text/QvtParagrafCore.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/Exception.h"

namespace upd::text {
namespace {

// The control without a window: fixed metrics (Arial 10 is 6 x 15 a byte,
// Arial 18 bold 11 x 27), and a height change runs the resize handling at
// once, as the window system does.
class TTestParagraf : public TQvtParagrafCore {
public:
    explicit TTestParagraf(std::int32_t width = 289, bool window = true) : Width(width), Window(window) {}

    std::int32_t Width;
    std::int32_t Height = 121;
    bool Window;
    bool Hand = false;
    int Invalidations = 0;

protected:
    bool HasSurface() const override { return Window; }
    std::int32_t ControlWidth() const override { return Width; }
    TQvtTextMeasurer& Measurer() override { return m_measurer; }
    void ApplyHeight(std::int32_t height) override
    {
        if (height == Height)
            return;
        Height = height;
        HandleResize();
    }
    void Invalidate() override { ++Invalidations; }
    void ShowHandCursor(bool hand) override { Hand = hand; }

private:
    TQvtFixedMeasurer m_measurer;
};

struct TFrag {
    std::string Text;
    TQvtRect Bounds;
    int Section;
    bool operator==(const TFrag&) const = default;
};

std::ostream& operator<<(std::ostream& os, const TFrag& f)
{
    return os << "{\"" << f.Text << "\" " << f.Bounds.Left << "," << f.Bounds.Top << "," << f.Bounds.Right << ","
              << f.Bounds.Bottom << " s" << f.Section << "}";
}

// Fragments in section, band and list order.
std::vector<TFrag> Fragments(const TQvtParagrafCore& c)
{
    std::vector<TFrag> out;
    if (!c.Layout())
        return out;
    int s = 0;
    for (const auto& section : c.Layout()->Sections) {
        for (const auto& band : section->Bands)
            for (const TQvtCuvantEcran* f : band->Items())
                out.push_back({f->Text, f->Bounds, s});
        ++s;
    }
    return out;
}

std::vector<TQvtCuvantEcran*> AllFragments(const TQvtParagrafCore& c)
{
    std::vector<TQvtCuvantEcran*> out;
    for (const auto& section : c.Layout()->Sections)
        for (const auto& band : section->Bands)
            for (TQvtCuvantEcran* f : band->Items())
                out.push_back(f);
    return out;
}

// The chain of a link from its first fragment, as texts.
std::vector<std::string> Chain(const TQvtCuvantEcran* first)
{
    std::vector<std::string> out;
    for (const TQvtCuvantEcran* f = first; f; f = f->Next) {
        if (f->Next && f->Next->Prev != f)
            out.push_back("(broken)");
        out.push_back(f->Text);
    }
    return out;
}

TEST(RelayoutTest, Flow)
{
    const std::string a40(40, 'a'), w60(60, 'w');
    struct Row {
        const char* name;
        std::int32_t width;
        std::string text;
        std::vector<TFrag> expected;
    } rows[] = {
        // "a*40 bbbbbb" is 47 bytes, 282 px from x = 4: fits only while 286 < Width - 4.
        {"strict limit breaks", 290, "<p>" + a40 + " bbbbbb</p>",
         {{a40, {4, 0, 244, 15}, 0}, {"bbbbbb", {4, 15, 40, 30}, 0}}},
        {"one pixel more fits", 291, "<p>" + a40 + " bbbbbb</p>", {{a40 + " bbbbbb", {4, 0, 286, 15}, 0}}},
        {"bold inside a sentence", 289, "<p>a <b>b</b> c</p>",
         {{"a", {4, 0, 10, 15}, 0}, {" c", {24, 0, 36, 15}, 0}, {" b", {10, 0, 24, 15}, 1}}},
        {"indent levels", 289, "<ind><p>x</p><ind><p>y</p></ind></ind><p>z</p>",
         {{"x", {20, 0, 26, 15}, 0}, {"y", {36, 15, 42, 15 + 15}, 0}, {"z", {4, 30, 10, 45}, 0}}},
        {"indent on every line", 100, "<ind><p>aaaaaaaaaa bbbbbbbbbb</p></ind>",
         {{"aaaaaaaaaa", {20, 0, 80, 15}, 0}, {"bbbbbbbbbb", {20, 15, 80, 30}, 0}}},
        {"word wider than the control", 100, "<p>" + w60 + "</p>", {{w60, {4, 0, 364, 15}, 0}}},
        // The first word of a paragraph that does not fit leaves the first line
        // empty: down by the last line height of the paragraph before. So does
        // the next run's first word after it, which then loses its blank.
        {"empty first line", 100, "<p>a</p><p>" + w60 + " b</p>",
         {{"a", {4, 0, 10, 15}, 0}, {w60, {4, 30, 364, 45}, 0}, {"b", {4, 45, 10, 60}, 0}}},
        // A run whose first word does not fit moves down and loses its blank.
        {"run moves to the next line", 100, "<p>aaaaaaaaaaaaa<b>bbbb</b></p>",
         {{"aaaaaaaaaaaaa", {4, 0, 82, 15}, 0}, {"bbbb", {4, 15, 32, 30}, 1}}},
        // Lines start below the fragment that ended the line, by its height alone.
        {"heading then body", 289, "<h1>Titlu</h1><p>x</p>",
         {{"Titlu", {4, 16, 59, 43}, 0}, {"x", {4, 59, 10, 74}, 1}}},
        {"three blanks of sp", 289, "<p>a<sp>b</p>",
         {{"a", {4, 0, 10, 15}, 0}, {"     b", {10, 0, 46, 15}, 0}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TTestParagraf c(row.width);
        c.SetText(row.text);
        EXPECT_EQ(Fragments(c), row.expected);
    }
}

TEST(RelayoutTest, AutoHeightFollowsParagraphSpacing)
{
    struct Row {
        const char* text;
        std::int32_t height;
    } rows[] = {
        {"<p>x</p>", 15},
        {"<h1>x</h1>", 16 + 27 + 16},
        {"<h2>x</h2>", 8 + 21 + 8},
        {"<h3>x</h3>", 4 + 18 + 4},
        {"<p>x</p><h3>y</h3><p>z</p>", 15 + 26 + 15},
        // An empty text keeps the height: the layout never sets 0.
        {"", 121},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        TTestParagraf c;
        int resized = 0;
        c.SetAutoHeight(true);
        c.OnResize = [&](TQvtParagrafCore&) { ++resized; };
        c.SetText(row.text);
        EXPECT_EQ(c.Height, row.height);
        // The layout calls OnResize, and so do the resize handling it sets off
        // and the nested layout of that handling.
        EXPECT_EQ(resized, row.height == 121 ? 0 : 3);
    }
}

TEST(RelayoutTest, FirstLineIndentAppliesToTheFirstLineOnly)
{
    TTestParagraf c(100);
    c.Style.P.FirstLineIndent = 12;
    c.SetText("<p>aaaaaaaaaa bbbbbbbbbb</p><p>" + std::string(20, 'w') + "</p>");
    ASSERT_EQ(Fragments(c).size(), 3u);
    EXPECT_EQ(Fragments(c)[0].Bounds.Left, 16);
    EXPECT_EQ(Fragments(c)[1].Bounds.Left, 4);
    // Too wide for its first line: it starts on the next one, without the indent.
    EXPECT_EQ(Fragments(c)[2].Bounds, (TQvtRect{4, 45, 124, 60}));
}

TEST(RelayoutTest, SectionsAreSharedByKindAndFlags)
{
    TTestParagraf c;
    c.SetText("<p>a<b>b</b>c</p><h2><b>d</b></h2><p><b>e</b> f</p>");
    std::vector<std::pair<int, int>> sections;
    for (const auto& s : c.Layout()->Sections)
        sections.emplace_back(s->Kind, s->Flags);
    EXPECT_EQ(sections, (std::vector<std::pair<int, int>>{{0, 0}, {0, 1}, {2, 1}}));
    EXPECT_EQ(c.Layout()->Sections[1]->Bands.size(), 1u);
    EXPECT_EQ(c.Layout()->Sections[1]->Bands[0]->Count(), 2);
}

TEST(RelayoutTest, LinksChainAcrossStylesAndParagraphs)
{
    TTestParagraf c(100);
    c.SetText("<p>x <link><4>aaaaaaaaa bbbbbbbbb <b>cc</b> dd</p><p>ee</link> y <link><9>zz</link></p>");
    std::vector<std::string> firsts;
    for (TQvtCuvantEcran* f : AllFragments(c))
        if (f->LinkId != -1 && !f->Prev)
            firsts.push_back(f->Text);
    EXPECT_EQ(firsts, (std::vector<std::string>{" aaaaaaaaa", " zz"}));
    TQvtCuvantEcran* first = c.LinkAt(20, 5, true);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Chain(first), (std::vector<std::string>{" aaaaaaaaa", "bbbbbbbbb", " cc", "dd", "ee"}));
    for (const TQvtCuvantEcran* f = first; f; f = f->Next)
        EXPECT_EQ(f->LinkId, 4);
    // Every run's scratch list is empty again.
    for (const auto& p : c.Parsed()->Items)
        for (const auto& r : p->WordLists)
            EXPECT_TRUE(r->Fragments.empty());
}

TEST(RelayoutTest, AddFragmentFilesIntoBands)
{
    TQvtSectiuneEcran s;
    auto add = [&](std::int32_t top, std::int32_t bottom) {
        auto f = std::make_unique<TQvtCuvantEcran>();
        f->Bounds = {0, top, 10, bottom};
        AddFragment(s, std::move(f));
    };
    add(0, 15);   // new band 0..65
    add(60, 75);  // inside it, grows it to 75
    add(76, 90);  // below: new band 76..140
    add(70, 140); // both hold 70? no: only band 0 (0..75) does; the last matching band wins
    ASSERT_EQ(s.Bands.size(), 2u);
    EXPECT_EQ(s.Bands[0]->Top, 0);
    EXPECT_EQ(s.Bands[0]->Bottom, 140);
    EXPECT_EQ(s.Bands[0]->Count(), 3);
    EXPECT_EQ(s.Bands[1]->Top, 76);
    EXPECT_EQ(s.Bands[1]->Bottom, 140);
    add(100, 110); // now both bands hold 100: the last one gets it
    EXPECT_EQ(s.Bands[1]->Count(), 2);
}

TEST(RelayoutTest, NoWindowNoLayoutUntilResized)
{
    TTestParagraf c(289, false);
    c.SetText("<p>a</p>");
    EXPECT_EQ(c.Layout(), nullptr);
    EXPECT_EQ(c.Height, 121);
    c.Window = true;
    c.HandleResize();
    EXPECT_EQ(Fragments(c).size(), 1u);

    TTestParagraf empty;
    empty.SetText("");
    ASSERT_NE(empty.Layout(), nullptr);
    EXPECT_TRUE(empty.Layout()->Sections.empty());
}

TEST(RelayoutTest, NestedRelayoutFromHeightChangeIsSafe)
{
    // Setting the text lays out; the new height relays out inside the first
    // layout, which must then leave the nested layout's chains alone.
    TTestParagraf c(100);
    c.SetAutoHeight(true);
    c.SetText("<p><link><1>aaaaaaaaa bbbbbbbbb <b>cc</b></link></p>");
    EXPECT_EQ(c.Height, 30);
    EXPECT_EQ(Chain(c.LinkAt(10, 5, true)), (std::vector<std::string>{"aaaaaaaaa", "bbbbbbbbb", " cc"}));

    // OnResize may even replace the text while the outer layout runs.
    int depth = 0;
    c.OnResize = [&](TQvtParagrafCore& sender) {
        if (depth++ == 0)
            sender.SetText("<h1><link><2>x</link> y</h1>");
    };
    c.SetText("<p><link>a</link> b c d e f g h i j k l m n o p q r</p>");
    EXPECT_EQ(c.Height, 59);
    ASSERT_NE(c.LinkAt(6, 20, true), nullptr);
    EXPECT_EQ(c.LinkAt(6, 20, true)->LinkId, 2);
}

TEST(RelayoutTest, TextErrorsKeepEverything)
{
    TTestParagraf c;
    c.SetText("<p>a</p>");
    EXPECT_EQ(c.Text(), "<p>a</p>\r\n");
    const auto* parsed = c.Parsed();
    const auto* layout = c.Layout();
    EXPECT_THROW(c.SetText("<p>x</h1>"), Exception);
    EXPECT_EQ(c.Text(), "<p>a</p>\r\n");
    EXPECT_EQ(c.Parsed(), parsed);
    EXPECT_EQ(c.Layout(), layout);

    struct Row {
        const char* set;
        const char* read;
    } rows[] = {{"", ""}, {"<p>a\n</p>", "<p>a\r\n</p>\r\n"}, {"<p>a\r\r\n</p>\r\n", "<p>a\r\n\r\n</p>\r\n"},
                {"<p>\n\r</p>", "<p>\r\n\r\n</p>\r\n"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.set);
        c.SetText(row.set);
        EXPECT_EQ(c.Text(), row.read);
    }
}

} // namespace
} // namespace upd::text
