// The stage pages and their workers inside one process: notifications and
// their hand-over, the progress arithmetic, one worker per page, and the
// resources of setup.exe.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "ui/ControlIds.h"
#include "base/Handles_win32.h"
#include "base/Exception.h"
#include "base/File.h"
#include "base/Win32_win32.h"
#include "package/Md5Hash.h"
#include "package/PackageWriter.h"
#include "package/PatchDataEngine.h"
#include "version/CEVersionInfo.h"
#include "wizard/PaginaValidare_win32.h"
#include "wizard/Pages_win32.h"
#include "wizard/UpdateJournal.h"
#include "wizard/UpdateLog.h"
#include "ui/MessageBox_win32.h"

#include <commctrl.h>

namespace upd::wizard {
namespace {

TEST(TPaginaEtapaTest, ProgressPositions)
{
    struct Row {
        const char* text;
        int base;
        bool moves;
        int position;
    } rows[] = {
        {"3|10", 20000, true, 23000},
        {"0|25", 0, true, 0},
        {"25|25", 0, true, 10000},
        {"1|3", 0, true, 3333},
        {"0|0", 0, false, 0}, // an empty description: the bar stays
        // Byte counts of the archive stage do not overflow.
        {"3000000000|4000000000", 10000, true, 17500},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        int position = -1;
        EXPECT_EQ(ProgressPosition(row.text, row.base, position), row.moves);
        if (row.moves) {
            EXPECT_EQ(position, row.position);
        }
    }
    for (const char* bad : {"", "3", "a|b", "3|", "|3", "3|10x"}) {
        SCOPED_TRACE(bad);
        int position = 0;
        EXPECT_THROW(ProgressPosition(bad, 0, position), Exception);
    }
}

// Collects the notifications that reach a window of this thread.
class TNotificationWindow {
public:
    TNotificationWindow()
    {
        m_window = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    }
    ~TNotificationWindow() { ::DestroyWindow(m_window); }
    HWND Handle() const { return m_window; }

    /// Pumps until a notification with `code` arrives; returns the texts seen.
    std::vector<std::string> WaitFor(std::int32_t code)
    {
        std::vector<std::string> seen;
        DWORD start = ::GetTickCount();
        while (::GetTickCount() - start < 10000) {
            MSG msg;
            while (::PeekMessageW(&msg, m_window, WM_WORKER_NOTIFY, WM_WORKER_NOTIFY, PM_REMOVE)) {
                auto notification = TakeNotification(msg.wParam);
                seen.push_back(std::to_string(notification->Code) + " " + notification->Text);
                if (notification->Code == code)
                    return seen;
            }
            ::Sleep(5);
        }
        return seen;
    }

private:
    HWND m_window;
};

class TThrowingWorker : public TFirEtapa {
public:
    TThrowingWorker(HWND page, int kind, const TRunRecords& records) : TFirEtapa(page, records), m_kind(kind) {}

protected:
    void Execute() override
    {
        Notify(NOTIFY_PROGRESS, "1|2");
        if (m_kind == 0)
            throw Exception("Boom");
        if (m_kind == 1)
            throw EOSError(5, "System Error.  Code: 5.\r\nAccess denied.");
        throw std::runtime_error("N2 = nil");
    }

private:
    int m_kind;
};

TEST(TFirEtapaTest, ErrorsBecomeExceptionNotifications)
{
    const char* expected[] = {"99 Exception\n\rBoom", "99 EOSError\n\rSystem Error.  Code: 5.\r\nAccess denied.",
                              "99 Exception\n\rN2 = nil"};
    TUpdateLog log;
    TUpdateJournal journal;
    for (int kind = 0; kind < 3; ++kind) {
        SCOPED_TRACE(kind);
        TNotificationWindow page;
        TFirEtapa::Start(std::make_unique<TThrowingWorker>(page.Handle(), kind, TRunRecords{log, journal}));
        auto seen = page.WaitFor(NOTIFY_EXCEPTION);
        ASSERT_EQ(seen.size(), 2u);
        EXPECT_EQ(seen[0], "1 1|2");
        EXPECT_EQ(seen[1], expected[kind]);
        EXPECT_TRUE(TFirEtapa::WaitForAll(5000));
    }
}

// A worker whose thread cannot be created: the start raises the system's
// error, the worker is freed at once and nothing counts as running (the end
// of the program would otherwise wait for it); the next start works again.
TEST(TFirEtapaTest, AThreadThatCannotBeCreatedRaisesAndLeavesNothingRunning)
{
    struct TCounted : TThrowingWorker {
        TCounted(HWND page, const TRunRecords& records, bool& freed)
            : TThrowingWorker(page, 0, records), Freed(freed)
        {
        }
        ~TCounted() override { Freed = true; }
        bool& Freed;
    };
    TUpdateLog log;
    TUpdateJournal journal;
    TNotificationWindow page;
    bool freed = false;
    const auto before = TFirEtapa::ReplaceThreadCreate([](LPTHREAD_START_ROUTINE, void*, DWORD, DWORD*) -> HANDLE {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    });
    EXPECT_THROW(TFirEtapa::Start(std::make_unique<TCounted>(page.Handle(), TRunRecords{log, journal}, freed)),
                 EOSError);
    TFirEtapa::ReplaceThreadCreate(before);
    EXPECT_TRUE(freed);
    EXPECT_EQ(TFirEtapa::RunningCount(), 0);

    TFirEtapa::Start(std::make_unique<TThrowingWorker>(page.Handle(), 0, TRunRecords{log, journal}));
    EXPECT_EQ(page.WaitFor(NOTIFY_EXCEPTION).size(), 2u);
    EXPECT_TRUE(TFirEtapa::WaitForAll(5000));
}

// Pages over a real package whose one must-have set matches.
class TPackagePageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // One folder per test: ctest runs them side by side, and the engine
        // holds its program file for as long as it lives.
        m_dir = std::filesystem::temp_directory_path() /
                (std::string("upd-stagepage-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(m_dir);
        std::string stub(4096, 'M'), file = "continut";
        WriteWholeFile((m_dir / "stub.exe").string(), stub.data(), stub.size());
        WriteWholeFile((m_dir / "a.txt").string(), file.data(), file.size());
        package::TUpdate update;
        update.Title = "Titlu @a";
        auto set = std::make_unique<package::TMustHaveSet>();
        auto signature = std::make_unique<package::TFileSignature>();
        signature->FileName = (m_dir / "a.txt").string();
        signature->Hash = package::FileMD5Text(signature->FileName);
        signature->Size = static_cast<std::int32_t>(file.size());
        set->Add(std::move(signature));
        update.MustHaveSets.Add(std::move(set));
        std::vector<std::uint8_t> segments(2048, 7);
        package::WritePackage((m_dir / "stub.exe").string(), (m_dir / "setup.exe").string(), update, segments, {});
        package::ReplacePatchDataEngine(std::make_unique<package::TPatchDataEngine>((m_dir / "setup.exe").string()));
        m_host = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 492, 314, nullptr, nullptr, nullptr, nullptr);
    }
    void TearDown() override
    {
        ::DestroyWindow(m_host);
        package::FreePatchDataEngine();
        std::filesystem::remove_all(m_dir);
    }

    // Dispatches this thread's messages for a while; counts advance requests.
    int Pump(DWORD milliseconds)
    {
        int advances = 0;
        DWORD start = ::GetTickCount();
        while (::GetTickCount() - start < milliseconds) {
            MSG msg;
            while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == ui::WM_ADVANCE_PAGE && msg.hwnd == m_host)
                    ++advances;
                else
                    ::DispatchMessageW(&msg);
            }
            ::Sleep(5);
        }
        return advances;
    }

    std::filesystem::path m_dir;
    HWND m_host = nullptr;
    TUpdateLog m_log;
    TUpdateJournal m_journal;
};

TEST_F(TPackagePageTest, SuccessAdvancesOnceEvenWhenShownAgain)
{
    TPaginaValidare page(m_host, ui::kIdFirstPage + 1, TRunRecords{m_log, m_journal});
    EXPECT_TRUE(page.IsBusy());
    EXPECT_FALSE(page.ThreadStarted);
    EXPECT_EQ(ui::ControlText(::GetDlgItem(page.Handle(), ui::kIdLabel1)), "Titlu \xC4\x83");

    page.Show();
    EXPECT_TRUE(page.ThreadStarted);
    page.Hide();
    page.Show();
    int advances = Pump(1500);
    EXPECT_EQ(advances, 1);
    EXPECT_TRUE(page.Finished);
    EXPECT_FALSE(page.IsBusy());
    EXPECT_EQ(::SendMessageW(::GetDlgItem(page.Handle(), ui::kIdProgressBar1), PBM_GETPOS, 0, 0), 10000);
    EXPECT_TRUE(TFirEtapa::WaitForAll(5000));
}

TEST_F(TPackagePageTest, FinalPageStartsThePayrollProgramOnce)
{
    // <build>\tests\win32\stagepage_tests.exe -> the recorder beside it.
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::string recorder = (std::filesystem::path(self).parent_path() / "fake_recorder.exe").string();
    std::filesystem::create_directories("C:\\Pravion");
    std::filesystem::remove("C:\\Pravion\\kp3-started.txt");
    std::filesystem::copy_file(recorder, kPayrollProgram, std::filesystem::copy_options::overwrite_existing);

    THandOff handOff;
    std::string why;
    ASSERT_TRUE(handOff.Hold(kPayrollProgram, kPayrollFolder, package::FileMD5Text(kPayrollProgram), why)) << why;
    TPaginaFinal page(m_host, ui::kIdFirstPage + 4, TRunRecords{m_log, m_journal, &handOff});
    EXPECT_FALSE(page.IsBusy());
    page.Finish();
    std::vector<std::uint8_t> started;
    DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < 10000) {
        if (FileExists("C:\\Pravion\\kp3-started.txt")) {
            ::Sleep(100);
            started = ReadWholeFile("C:\\Pravion\\kp3-started.txt");
            break;
        }
        ::Sleep(20);
    }
    EXPECT_EQ(std::string(started.begin(), started.end()), "\"C:\\Pravion\\kp3.exe\" pregateste_kelmira\n");

    // The hold ends with the start: a second Finish has nothing verified to
    // start, and says so instead of starting whatever the name leads to.
    std::filesystem::remove("C:\\Pravion\\kp3-started.txt");
    EXPECT_FALSE(handOff.Held());
    struct TNoBoxes : ui::TMessageBoxPolicy {
        bool Unattended() const noexcept override { return true; }
        void QuestionAnswered(const std::string&) noexcept override {}
        void ErrorShown(const std::exception&) noexcept override {}
    } noBoxes;
    ui::SetMessageBoxPolicy(&noBoxes);
    EXPECT_NO_THROW(page.Finish());
    ui::SetMessageBoxPolicy(nullptr);
    ::Sleep(300);
    EXPECT_FALSE(FileExists("C:\\Pravion\\kp3-started.txt"));
    std::filesystem::remove(kPayrollProgram);
}

TEST(TSetupExeTest, ManifestVersionAndSidePicture)
{
    // <build>\tests\win32\stagepage_tests.exe -> <build>\app\setup.exe
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::string exe =
        (std::filesystem::path(self).parent_path().parent_path().parent_path() / "app" / "setup.exe").string();
    EXPECT_EQ(version::GetFileVersionText(exe), "1.0.0.0");

    HMODULE module = ::LoadLibraryExW(Wide(exe).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    HRSRC manifest = ::FindResourceW(module, MAKEINTRESOURCEW(1), reinterpret_cast<LPCWSTR>(RT_MANIFEST));
    ASSERT_NE(manifest, nullptr);
    std::string text(static_cast<const char*>(::LockResource(::LoadResource(module, manifest))),
                     ::SizeofResource(module, manifest));
    for (const char* part : {"Microsoft.Windows.Common-Controls", "requireAdministrator", "dpiAware"}) {
        SCOPED_TRACE(part);
        EXPECT_NE(text.find(part), std::string::npos);
    }
    HRSRC picture = ::FindResourceW(module, MAKEINTRESOURCEW(100), reinterpret_cast<LPCWSTR>(RT_BITMAP));
    ASSERT_NE(picture, nullptr);
    auto* info = static_cast<const BITMAPINFOHEADER*>(::LockResource(::LoadResource(module, picture)));
    EXPECT_EQ(info->biWidth, 164);
    EXPECT_EQ(info->biHeight, 314);
    EXPECT_EQ(info->biBitCount, 4);
    ::FreeLibrary(module);
}

} // namespace
} // namespace upd::wizard
