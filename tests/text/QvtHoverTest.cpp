#include "text/QvtParagrafCore.h"

#include <gtest/gtest.h>

#include <vector>

namespace upd::text {
namespace {

class THoverParagraf : public TQvtParagrafCore {
public:
    bool Hand = false;

protected:
    bool HasSurface() const override { return true; }
    std::int32_t ControlWidth() const override { return 100; }
    TQvtTextMeasurer& Measurer() override { return m_measurer; }
    void ApplyHeight(std::int32_t) override {}
    void ShowHandCursor(bool hand) override { Hand = hand; }

private:
    TQvtFixedMeasurer m_measurer;
};

std::vector<int> Levels(const TQvtCuvantEcran* first)
{
    std::vector<int> out;
    for (; first; first = first->Next)
        out.push_back(first->HoverLevel);
    return out;
}

TEST(HoverColorTableTest, BlendsBackgroundToDimmedTooltip)
{
    auto table = HoverColorTable(clWhite, QvtRgb(255, 255, 225));
    struct Row {
        int k;
        TQvtColor expected;
    } rows[] = {{0, QvtRgb(255, 255, 255)}, {1, QvtRgb(253, 253, 252)}, {13, QvtRgb(239, 239, 223)},
                {25, QvtRgb(225, 225, 195)}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.k);
        EXPECT_EQ(table[static_cast<std::size_t>(row.k)], row.expected);
    }
    // Components of 100 and less are not dimmed; the blend rounds down.
    auto dark = HoverColorTable(QvtRgb(0, 10, 200), QvtRgb(100, 101, 0));
    EXPECT_EQ(dark[25], QvtRgb(100, 71, 0));
    EXPECT_EQ(dark[1], QvtRgb(4, 12, 192));

    THoverParagraf c;
    EXPECT_EQ(c.HoverColors(), table); // clWindow and clInfoBk of the classic scheme
    c.SetBkColor(QvtRgb(0, 0, 0));
    EXPECT_EQ(c.HoverColors()[25], QvtRgb(225, 225, 195));
    EXPECT_EQ(c.HoverColors()[0], QvtRgb(0, 0, 0));
}

TEST(HoverTest, LinkFadesInAndOutTogether)
{
    THoverParagraf c;
    // The link runs over two lines and a style change.
    c.SetText("<p>x <link><3>aaaaaaaaaa aaaaaaaaaa <b>bb</b></link> y</p>");
    TQvtCuvantEcran* first = c.LinkAt(30, 5, true);
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(Levels(first).size(), 3u);

    c.TrackPointer(30, 5);
    EXPECT_TRUE(c.Hand);
    EXPECT_EQ(c.Layout()->HoveredLink, first);
    EXPECT_EQ(c.Layout()->HotList.Count(), 3);
    std::vector<int> expectedIn = {2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 25};
    for (std::size_t t = 0; t < expectedIn.size(); ++t) {
        SCOPED_TRACE(t);
        EXPECT_TRUE(c.HoverTick());
        EXPECT_EQ(Levels(first), std::vector<int>(3, expectedIn[t]));
    }
    EXPECT_EQ(c.Layout()->HotList.Count(), 0);
    EXPECT_FALSE(c.HoverTick());

    // Moving within the link changes nothing; moving off fades out.
    c.TrackPointer(6, 20);
    EXPECT_EQ(c.Layout()->HotList.Count(), 0);
    c.TrackPointer(99, 99);
    EXPECT_FALSE(c.Hand);
    EXPECT_EQ(c.Layout()->HoveredLink, nullptr);
    for (int t = 0; t < 5; ++t)
        c.HoverTick();
    EXPECT_EQ(Levels(first), std::vector<int>(3, 15));
    // Reversed midway: back up from the level reached.
    c.TrackPointer(30, 5);
    c.HoverTick();
    EXPECT_EQ(Levels(first), std::vector<int>(3, 17));
    c.TrackPointer(99, 99);
    for (int t = 0; t < 9; ++t)
        EXPECT_TRUE(c.HoverTick());
    EXPECT_EQ(Levels(first), std::vector<int>(3, 0));
    EXPECT_FALSE(c.HoverTick());
}

TEST(HoverTest, HitTestingAtTouchingLines)
{
    THoverParagraf c;
    // Two links on touching lines: row 15 is the bottom of line 1 and the top of line 2.
    c.SetText("<p><link><1>aaaaaaaaaa</link> <link><2>bbbbbbbbbb</link></p>");
    EXPECT_EQ(c.LinkAt(10, 15, false)->LinkId, 1);
    EXPECT_EQ(c.LinkAt(10, 15, true)->LinkId, 2);
    c.TrackPointer(10, 15);
    EXPECT_EQ(c.Layout()->HoveredLink->LinkId, 2);
    // Bounds are inclusive on all four sides; plain text is no link.
    EXPECT_NE(c.LinkAt(64, 0, true), nullptr);
    EXPECT_EQ(c.LinkAt(65, 0, true), nullptr);
    EXPECT_EQ(c.LinkAt(3, 0, true), nullptr);

    // A new layout drops the hover state.
    c.Relayout();
    EXPECT_EQ(c.Layout()->HoveredLink, nullptr);
    EXPECT_EQ(c.Layout()->HotList.Count(), 0);
}

} // namespace
} // namespace upd::text
