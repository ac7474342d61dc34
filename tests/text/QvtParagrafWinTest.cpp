// The text display control in a real window under the window system: layout
// with real fonts, automatic height, hover fade and cursor, clicks, errors.
// Mouse input is synthesized as the window messages the system would send.
#include "text/QvtParagraf_win32.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/Exception.h"

namespace upd::text {
namespace {

const char* const kSample =
    "<h1>Actualizare</h1>"
    "<p>Se va actualiza programul <b>Pravion</b> la varianta nou\xC4\x83.</p>"
    "<ind><p>Paragraf indentat: fi\xC5\x9Fierele se verific\xC4\x83 \xC3\xAEnainte de \xC3\xAEnlocuire.</p></ind>"
    "<p>Citi\xC5\xA3i <link><7>notele complete ale acestei actualiz\xC4\x83ri a programelor</link> \xC3\xAEnainte de "
    "a continua.</p>";

void PumpFor(DWORD ms)
{
    DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(2);
    } while (GetTickCount() - start < ms);
}

// Pumps until the condition holds; the bound only keeps a broken build from hanging.
template <typename F>
bool PumpUntil(F&& done, DWORD boundMs = 5000)
{
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > boundMs)
            return false;
        PumpFor(5);
    }
    return true;
}

LPARAM Point(std::int32_t x, std::int32_t y)
{
    return MAKELPARAM(static_cast<WORD>(static_cast<short>(x)), static_cast<WORD>(static_cast<short>(y)));
}

class QvtParagrafWinTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = L"QvtParagrafTestForm";
        RegisterClassExW(&wc);
        m_form = CreateWindowExW(0, wc.lpszClassName, L"Text", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, 340, 320,
                                 nullptr, nullptr, wc.hInstance, nullptr);
        ASSERT_NE(m_form, nullptr);
        m_control = std::make_unique<TQvtParagraf>();
        m_control->SetBkColor(clWindow);
        m_control->Create(m_form, RECT{16, 20, 16 + 289, 20 + 121});
        UpdateWindow(m_form);
        PumpFor(50);
    }

    void TearDown() override
    {
        m_control.reset();
        DestroyWindow(m_form);
        PumpFor(10);
    }

    std::vector<TQvtCuvantEcran*> LinkFragments()
    {
        std::vector<TQvtCuvantEcran*> out;
        for (const auto& section : m_control->Layout()->Sections)
            if (section->Flags & wfLink)
                for (const auto& band : section->Bands)
                    for (TQvtCuvantEcran* f : band->Items())
                        out.push_back(f);
        return out;
    }

    void MoveTo(std::int32_t x, std::int32_t y) { SendMessageW(m_control->Handle(), WM_MOUSEMOVE, 0, Point(x, y)); }

    COLORREF PixelAt(std::int32_t x, std::int32_t y) { return PixelOf(m_control->Handle(), x, y); }

    static COLORREF PixelOf(HWND hwnd, std::int32_t x, std::int32_t y)
    {
        UpdateWindow(hwnd);
        HDC dc = GetDC(hwnd);
        COLORREF c = GetPixel(dc, x, y);
        ReleaseDC(hwnd, dc);
        return c;
    }

    HWND m_form = nullptr;
    std::unique_ptr<TQvtParagraf> m_control;
};

TEST_F(QvtParagrafWinTest, AutoHeightFollowsTheText)
{
    std::int32_t labelTop = 0;
    int resized = 0;
    m_control->OnResize = [&](TQvtParagrafCore&) {
        ++resized;
        labelTop = m_control->Top() + m_control->Height() + 16;
    };
    m_control->SetAutoHeight(true);
    m_control->SetText("<p>Un singur r\xC3\xA2nd.</p>");
    const std::int32_t oneLine = m_control->Height();
    EXPECT_GT(oneLine, 10);
    EXPECT_LT(oneLine, 25);
    EXPECT_GT(resized, 0);
    EXPECT_EQ(labelTop, 20 + oneLine + 16);

    resized = 0;
    m_control->SetText(kSample);
    EXPECT_GT(m_control->Height(), oneLine + 16 + 16 + 3 * 12);
    EXPECT_GT(resized, 0);
    EXPECT_EQ(labelTop, 20 + m_control->Height() + 16);

    // The heading, the bold word, the indentation and the link as laid out with real fonts.
    const auto* layout = m_control->Layout();
    ASSERT_NE(layout, nullptr);
    bool heading = false, bold = false, indented = false;
    for (const auto& s : layout->Sections)
        for (const auto& band : s->Bands)
            for (const TQvtCuvantEcran* f : band->Items()) {
                heading |= s->Kind == pkH1 && f->Text == "Actualizare" && f->Bounds.Top == 16;
                bold |= s->Flags == wfBold && f->Text == " Pravion";
                indented |= f->Text.rfind("Paragraf", 0) == 0 && f->Bounds.Left == 20;
            }
    EXPECT_TRUE(heading);
    EXPECT_TRUE(bold);
    EXPECT_TRUE(indented);
    auto link = LinkFragments();
    ASSERT_GE(link.size(), 2u);
    EXPECT_NE(link.front()->Bounds.Top, link.back()->Bounds.Top); // two lines

    // A right click lays out again, and the automatic height calls OnResize again.
    resized = 0;
    SendMessageW(m_control->Handle(), WM_RBUTTONUP, 0, Point(5, 5));
    EXPECT_GT(resized, 0);
    EXPECT_EQ(m_control->Text(), std::string(kSample) + "\r\n");
}

TEST_F(QvtParagrafWinTest, HoverFadesTheWholeLinkAndShowsTheHand)
{
    m_control->SetAutoHeight(true);
    m_control->SetText(kSample);
    auto link = LinkFragments();
    ASSERT_GE(link.size(), 2u);
    const TQvtRect first = link.front()->Bounds;
    const COLORREF hover = m_control->HoverColors()[kHoverLevels];
    const COLORREF base = m_control->HoverColors()[0];

    MoveTo(first.Left + 3, first.Top + 3);
    EXPECT_EQ(GetCapture(), m_control->Handle());
    EXPECT_TRUE(m_control->HandCursorShown());
    EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_HAND)));
    // 13 ticks of 20 ms bring every fragment to the top level together.
    EXPECT_TRUE(PumpUntil([&] { return link.front()->HoverLevel >= 10; }));
    for (const TQvtCuvantEcran* f : link)
        EXPECT_EQ(f->HoverLevel, link.front()->HoverLevel);
    EXPECT_TRUE(PumpUntil([&] { return m_control->Layout()->HotList.Count() == 0; }));
    for (const TQvtCuvantEcran* f : link) {
        SCOPED_TRACE(f->Text);
        EXPECT_TRUE(f->Hot);
        EXPECT_EQ(f->HoverLevel, kHoverLevels);
        // The top left pixel of a fragment's box lies above the glyphs.
        EXPECT_EQ(PixelAt(f->Bounds.Left, f->Bounds.Top), hover);
    }

    // Off the control: the fade goes back, the cursor and the capture are given up.
    MoveTo(-10, -10);
    EXPECT_FALSE(m_control->HandCursorShown());
    EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW)));
    EXPECT_NE(GetCapture(), m_control->Handle());
    EXPECT_TRUE(PumpUntil([&] { return m_control->Layout()->HotList.Count() == 0; }));
    for (const TQvtCuvantEcran* f : link) {
        SCOPED_TRACE(f->Text);
        EXPECT_FALSE(f->Hot);
        EXPECT_EQ(f->HoverLevel, 0);
        EXPECT_EQ(PixelAt(f->Bounds.Left, f->Bounds.Top), base);
    }
    EXPECT_EQ(m_control->Layout()->HotList.Count(), 0);
}

TEST_F(QvtParagrafWinTest, LeftClickCallsOnLinkOnce)
{
    m_control->SetAutoHeight(true); // all of the text inside the window
    m_control->SetText(kSample);
    std::vector<std::int32_t> clicks;
    auto link = LinkFragments();
    ASSERT_FALSE(link.empty());
    const TQvtRect last = link.back()->Bounds;

    // Without a handler a click does nothing.
    MoveTo(last.Left + 2, last.Top + 2);
    SendMessageW(m_control->Handle(), WM_LBUTTONUP, 0, Point(last.Left + 2, last.Top + 2));
    EXPECT_NE(m_control->Layout()->HoveredLink, nullptr);

    m_control->OnLink = [&](TQvtParagrafCore&, std::int32_t id) { clicks.push_back(id); };
    SendMessageW(m_control->Handle(), WM_LBUTTONUP, 0, Point(last.Left + 2, last.Top + 2));
    EXPECT_EQ(clicks, std::vector<std::int32_t>{7});
    EXPECT_EQ(m_control->Layout()->HoveredLink, nullptr); // re-evaluated at (0, 0)

    // Other buttons and clicks beside the link do not call it.
    SendMessageW(m_control->Handle(), WM_MBUTTONUP, 0, Point(last.Left + 2, last.Top + 2));
    SendMessageW(m_control->Handle(), WM_LBUTTONUP, 0, Point(2, 2));
    EXPECT_EQ(clicks.size(), 1u);

    // A handler that replaces the text does not trip the click.
    m_control->OnLink = [&](TQvtParagrafCore& sender, std::int32_t id) {
        clicks.push_back(id);
        sender.SetText("<p><link>alt</link></p>");
    };
    auto again = LinkFragments();
    const TQvtRect start = again.front()->Bounds;
    SendMessageW(m_control->Handle(), WM_LBUTTONUP, 0, Point(start.Left + 2, start.Top + 2));
    EXPECT_EQ(clicks, (std::vector<std::int32_t>{7, 7}));
    ASSERT_EQ(LinkFragments().size(), 1u);
    const TQvtRect alt = LinkFragments().front()->Bounds;
    SendMessageW(m_control->Handle(), WM_LBUTTONUP, 0, Point(alt.Left + 1, alt.Top + 1));
    EXPECT_EQ(clicks, (std::vector<std::int32_t>{7, 7, -1}));
}

TEST_F(QvtParagrafWinTest, MarkupErrorKeepsTheOldText)
{
    m_control->SetText(kSample);
    const auto* layout = m_control->Layout();
    const COLORREF before = PixelAt(8, 24);
    try {
        m_control->SetText("<p>x</h1>");
        ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Paragraful nu se poate termina cu H1");
    }
    EXPECT_EQ(m_control->Text(), std::string(kSample) + "\r\n");
    EXPECT_EQ(m_control->Layout(), layout);
    InvalidateRect(m_control->Handle(), nullptr, FALSE);
    EXPECT_EQ(PixelAt(8, 24), before);
}

TEST_F(QvtParagrafWinTest, ColoursAndWideText)
{
    // A new control shows only its background and has no text.
    TQvtParagraf fresh;
    EXPECT_EQ(fresh.Text(), "");
    fresh.Create(m_form, RECT{16, 200, 116, 250});
    EXPECT_EQ(PixelOf(fresh.Handle(), 50, 25), GetSysColor(COLOR_WINDOW));
    EXPECT_EQ(fresh.Layout()->Sections.size(), 0u);

    // The classic tooltip colour on white gives the table of the hover fade.
    const INT element = COLOR_INFOBK;
    const COLORREF saved = GetSysColor(COLOR_INFOBK), classic = RGB(255, 255, 225);
    ASSERT_TRUE(SetSysColors(1, &element, &classic));
    m_control->SetBkColor(clWhite);
    SetSysColors(1, &element, &saved);
    EXPECT_EQ(m_control->HoverColors()[0], RGB(255, 255, 255));
    EXPECT_EQ(m_control->HoverColors()[1], RGB(253, 253, 252));
    EXPECT_EQ(m_control->HoverColors()[13], RGB(239, 239, 223));
    EXPECT_EQ(m_control->HoverColors()[25], RGB(225, 225, 195));
    m_control->SetBkColor(RGB(200, 0, 0));
    EXPECT_EQ(PixelAt(1, 1), RGB(200, 0, 0));

    m_control->SetWideText(L"<p>\u0103\u015F\u0163 \u0219</p>");
    EXPECT_EQ(m_control->Text(), "<p>\xC4\x83\xC5\x9F\xC5\xA3 ?</p>\r\n");
    EXPECT_EQ(m_control->WideText(), L"<p>\u0103\u015F\u0163 ?</p>\r\n");
}

} // namespace
} // namespace upd::text
