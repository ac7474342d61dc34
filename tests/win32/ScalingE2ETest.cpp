// Display scaling: the wizard started at 100%, 125%, 150% and 200% (the
// system's LogPixels 96, 120, 144, 192; Wine reads it when a program starts).
// A probe inside the running wizard (tests/win32/FitProbe.c) measures every
// control's text with the control's own font, on every page and on the
// volume dialog; no text may be cut, no control may stand outside its
// parent, and window, buttons and fonts grow together.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include "E2EFiles_win32.h"
#include "UiDriver_win32.h"
#include "ui/ControlIds.h"
#include "ui/CautaFisier_win32.h"
#include "package/UpdateBuilder.h"
#include "wizard/UpdateStage.h"

namespace upd::uitest {
namespace {

using namespace upd::ui;

constexpr DWORD kStartTimeout = 30000;
constexpr DWORD kStepTimeout = 20000;
const std::string kKp3 = "C:\\Pravion\\kp3.exe";
const std::string kKits = "C:\\upd-scaling";

/// One window as the probe saw it.
struct TProbed {
    std::uint64_t Window = 0, Parent = 0;
    int Id = 0;
    std::string Class;
    bool Visible = false;
    RECT Place{};
    SIZE Extent{};
    long FontHeight = 0;
    unsigned long Style = 0;
    std::string Text;

    long Width() const { return Place.right - Place.left; }
    long Height() const { return Place.bottom - Place.top; }
};

/// Sets the system's DPI for programs started from now on; 96 again at the end.
class TLogPixels {
public:
    explicit TLogPixels(DWORD dpi) { Set(dpi); }
    ~TLogPixels() { Set(96); }
    TLogPixels(const TLogPixels&) = delete;
    TLogPixels& operator=(const TLogPixels&) = delete;

private:
    static void Set(DWORD dpi)
    {
        HKEY key = nullptr;
        if (::RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              &key, nullptr) != ERROR_SUCCESS)
            return;
        ::RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof(dpi));
        ::RegCloseKey(key);
    }
};

class TScalingE2ETest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override
    {
        WaitUntilWritable(kKp3, kStepTimeout);
        Remove(kKp3);
        Remove(kKp3 + "vf");
        std::filesystem::remove_all(kKits);
        std::filesystem::create_directories(kKits + "\\copie");
        std::filesystem::create_directories("C:\\Pravion");
        Put(kKp3, Text(Fake("v1")));
        m_probe = BuildPath("tests/win32/fitprobe.dll");
        m_module = ::LoadLibraryW(std::wstring(m_probe.begin(), m_probe.end()).c_str());
        ASSERT_NE(m_module, nullptr);
    }
    void TearDown() override
    {
        m_process.reset();
        if (m_module)
            ::FreeLibrary(m_module);
        Remove(kKp3);
        Remove(kKp3 + "vf");
        // The run's tag file: the next run must write its own.
        std::error_code ignored;
        std::filesystem::remove(std::string(wizard::kTagFolder) + "\\kp3tag-scaling.txt", ignored);
    }

    static std::string Fake(const std::string& name) { return BuildPath("tests/win32/fake_" + name + ".exe"); }

    /// What the probe inside the wizard writes after `window` got its message.
    std::vector<TProbed> Probe(HWND window)
    {
        const std::string out = m_probe + ".txt";
        Remove(out);
        auto proc = reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(::GetProcAddress(m_module, "FitProbeHook")));
        HHOOK hook = ::SetWindowsHookExW(WH_GETMESSAGE, proc, m_module, ::GetWindowThreadProcessId(window, nullptr));
        EXPECT_NE(hook, nullptr);
        ::PostMessageW(window, ::RegisterWindowMessageW(L"UpdFitProbe"), 0, 0);
        // The rename that publishes the file can still hold it for a moment
        // under Wine: a sharing violation is read again.
        std::string probed;
        EXPECT_TRUE(WaitUntil(
            [&] {
                try {
                    probed = FileExists(out) ? Text(out) : std::string();
                    return !probed.empty();
                } catch (const std::exception&) {
                    return false;
                }
            },
            kStepTimeout))
            << "the probe wrote nothing";
        if (hook)
            ::UnhookWindowsHookEx(hook);
        std::vector<TProbed> windows;
        std::istringstream lines(probed);
        for (std::string line; std::getline(lines, line);) {
            std::vector<std::string> fields;
            std::istringstream parts(line);
            for (std::string field; std::getline(parts, field, '\t');)
                fields.push_back(field);
            fields.resize(10);
            TProbed p;
            p.Window = std::stoull(fields[0]);
            p.Parent = std::stoull(fields[1]);
            p.Id = std::stoi(fields[2]);
            p.Class = fields[3];
            for (char& c : p.Class)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            p.Visible = fields[4] == "1";
            std::istringstream(fields[5]) >> p.Place.left >> p.Place.top >> p.Place.right >> p.Place.bottom;
            std::istringstream(fields[6]) >> p.Extent.cx >> p.Extent.cy;
            p.FontHeight = std::stol(fields[7]);
            p.Style = std::stoul(fields[8]);
            p.Text = fields[9];
            windows.push_back(p);
        }
        return windows;
    }

    std::string m_probe;
    HMODULE m_module = nullptr;
    std::unique_ptr<TWizardProcess> m_process;
};

// A picture for the documentation (scripts/screenshot-wizard.sh sets
// UPD_SHOT_DIR), named after its scale: "wizard-intro-150".
void Shot(const std::string& name, int dpi)
{
    const char* dir = std::getenv("UPD_SHOT_DIR");
    if (!dir)
        return;
    ::Sleep(300); // let the last paint reach the screen
    EXPECT_TRUE(SaveScreenshot(std::string(dir) + "\\" + name + "-" + std::to_string(dpi * 100 / 96) + ".bmp"));
}

int Scale(int pixels, int dpi) { return static_cast<int>(std::lround(pixels * dpi / 96.0)); }

// Every text fits its control and every control lies inside its parent
// (message boxes are the system's own and left out).
void ExpectEverythingFits(const std::vector<TProbed>& windows, int dpi)
{
    std::map<std::uint64_t, const TProbed*> byHandle;
    for (const TProbed& w : windows)
        byHandle[w.Window] = &w;
    const int margin = Scale(4, dpi); // a button's frame and focus rectangle
    int texts = 0;
    for (const TProbed& w : windows) {
        if (w.Parent == 0)
            continue;
        auto parent = byHandle.find(w.Parent);
        if (parent == byHandle.end() || parent->second->Class == "#32770")
            continue;
        SCOPED_TRACE(w.Class + " " + std::to_string(w.Id) + " \"" + w.Text + "\"");
        EXPECT_GE(w.Place.left, 0);
        EXPECT_GE(w.Place.top, 0);
        EXPECT_LE(w.Place.right, parent->second->Width()) << "beyond its parent's right edge";
        EXPECT_LE(w.Place.bottom, parent->second->Height()) << "below its parent's bottom";
        if (w.Text.empty())
            continue;
        ++texts;
        if (w.Class == "button") {
            EXPECT_LE(w.Extent.cx + 2 * margin, w.Width()) << "text cut at the sides";
            EXPECT_LE(w.Extent.cy, w.Height());
        } else if (w.Class == "edit") {
            EXPECT_LE(w.FontHeight, w.Height()) << "a line does not fit";
        } else if (w.Class == "static") {
            EXPECT_LE(w.Extent.cx, w.Width()) << "text cut at the right";
            EXPECT_LE(w.Extent.cy, w.Height()) << "text cut at the bottom";
        }
    }
    EXPECT_GT(texts, 0);
}

/// The font height of the text control `id` inside the window of id
/// `parentId` (0: the top-level window); 0 when there is none.
long FontHeight(const std::vector<TProbed>& windows, int parentId, int id)
{
    std::map<std::uint64_t, int> ids;
    for (const TProbed& w : windows)
        ids[w.Window] = w.Id;
    for (const TProbed& w : windows)
        if (w.Id == id && ids[w.Parent] == parentId && !w.Text.empty())
            return w.FontHeight;
    return 0;
}

const TProbed* TopLevel(const std::vector<TProbed>& windows, HWND window)
{
    for (const TProbed& w : windows)
        if (w.Window == reinterpret_cast<std::uintptr_t>(window))
            return &w;
    return nullptr;
}

TEST_P(TScalingE2ETest, EveryTextFitsOnEveryPageAndInTheVolumeDialog)
{
    const int dpi = GetParam();
    TLogPixels logPixels(static_cast<DWORD>(dpi));

    package::TBuildManifest manifest;
    manifest.Stub = BuildPath("app/setup.exe");
    manifest.Title = "Actualizare de proba cu un titlu lung pe doua randuri";
    manifest.Description = "Se va actualiza programul *b*Pravion*/b* la versiunea *b*3.0*/b*.*/p**p*Actualizarea "
                           "cuprinde calculul concediilor de odihn@a dup@a noile reglement@ari.";
    manifest.Release = "15";
    manifest.ReleaseDate = "9 decembrie 2026";
    manifest.TagFileName = "kp3tag-scaling.txt";
    manifest.Patches.push_back({kKp3, {Fake("v1"), Fake("v2")}, Fake("v3"), true});
    package::TPackageFiles files;
    const std::string exe = kKits + "\\upd-scaling.exe";
    package::BuildPackage(manifest, exe, 2, 0, &files);
    // The first volume is damaged beside the program: the volume dialog asks
    // for it, and a sound copy lies elsewhere.
    const std::string copy = kKits + "\\copie\\upd-scaling.1";
    std::string volume = Text(files.VolumeFileNames[0]);
    Put(copy, volume);
    volume[volume.size() / 2] ^= 0x55;
    Put(files.VolumeFileNames[0], volume);

    m_process = std::make_unique<TWizardProcess>(exe);
    HWND main = WaitForMainWindow(m_process->Id(), kStartTimeout);
    ASSERT_NE(main, nullptr);
    ASSERT_TRUE(WaitUntilEnabled(MainControl(main, kIdButton1), kStepTimeout));
    Shot("wizard-intro", dpi);
    Click(MainControl(main, kIdButton1));
    HWND dialog = nullptr;
    ASSERT_TRUE(WaitUntil(
        [&] {
            dialog = ::FindWindowW(L"TCautaFisier", nullptr);
            return dialog && ::IsWindowVisible(dialog) &&
                   ::GetDlgItem(dialog, ui::kIdCautaEdit1) != nullptr;
        },
        kStepTimeout));

    // Intro, validation and archive pages, and the dialog over them.
    Shot("wizard-volume-request", dpi);
    const auto asking = Probe(dialog);
    {
        SCOPED_TRACE("while the volume dialog asks");
        ExpectEverythingFits(asking, dpi);
        const TProbed* box = TopLevel(asking, dialog);
        ASSERT_NE(box, nullptr);
        EXPECT_NEAR(box->Width(), Scale(441, dpi), 1);
        EXPECT_NEAR(box->Height(), Scale(201, dpi), 1);
    }
    const std::wstring wide(copy.begin(), copy.end());
    ::SendMessageW(::GetDlgItem(dialog, ui::kIdCautaEdit1), WM_SETTEXT, 0,
                   reinterpret_cast<LPARAM>(wide.c_str()));
    Click(::GetDlgItem(dialog, IDOK));
    ASSERT_TRUE(WaitForPage(main, 4, kStepTimeout)) << "the wizard did not reach the final page";

    // All five pages exist now.
    Shot("wizard-final", dpi);
    const auto done = Probe(main);
    {
        SCOPED_TRACE("on the final page");
        ExpectEverythingFits(done, dpi);
        const TProbed* window = TopLevel(done, main);
        ASSERT_NE(window, nullptr);
        EXPECT_NEAR(window->Width(), Scale(492, dpi), 1);
        EXPECT_NEAR(window->Height(), Scale(356, dpi), 1);
        for (int page = 0; page < 5; ++page)
            EXPECT_NE(FontHeight(done, kIdFirstPage + page, kIdLabel1), 0) << "page " << page << " was not probed";
        // Fonts grow with the layout: the title, a page's text and a button.
        const struct {
            int Parent, Id, Pixels;
        } fonts[] = {{kIdFirstPage + 4, kIdLabel1, 21}, {kIdFirstPage + 4, kIdLabel2, 13}, {0, kIdButton1, 11}};
        for (const auto& f : fonts) {
            SCOPED_TRACE(f.Id);
            const long height = FontHeight(done, f.Parent, f.Id);
            // The cell height of a font of n pixels: a little more than n.
            EXPECT_GE(height, Scale(f.Pixels, dpi));
            EXPECT_LE(height, Scale(f.Pixels, dpi) * 13 / 10 + 1);
        }
    }
    Click(MainControl(main, kIdButton1));
    DWORD code = 1;
    EXPECT_TRUE(m_process->WaitForExit(kStepTimeout, &code));
    EXPECT_EQ(code, 0u);
}

INSTANTIATE_TEST_SUITE_P(LogPixels, TScalingE2ETest, ::testing::Values(96, 120, 144, 192),
                         [](const ::testing::TestParamInfo<int>& info) { return "Dpi" + std::to_string(info.param); });

} // namespace
} // namespace upd::uitest
