// The wizard's main window: one page at a time from a fixed sequence, a Next
// and a Cancel button, and a 50 ms timer that keeps Next in step with the page
// on show.
#pragma once

#include <memory>
#include <vector>

#include "base/Handles_win32.h"
#include "ui/PaginaActualizare_win32.h"
#include "wizard/RunRecords.h"

namespace upd::app {

using ui::TPaginaActualizare;

/// Makes a page of one class inside `host` with the control id `id`; a stage
/// page's worker writes to `records`.
using TPageClass = std::unique_ptr<TPaginaActualizare> (*)(HWND host, int id, const wizard::TRunRecords& records);

/// The page sequence; a page is made on first use and kept to the end.
class TPageArray {
public:
    TPageArray(HWND host, const wizard::TRunRecords& records) : Host(host), Records(records) {}

    void AddPageClass(TPageClass pageClass);
    int PageCount() const { return static_cast<int>(PageClasses.size()); }
    /// The page at `index`, made now if it does not exist yet (hidden). Raises
    /// what the page's construction raises; the slot then stays empty.
    TPaginaActualizare& GetPage(int index);
    /// Whether the page at `index` exists already.
    bool HasPage(int index) const;

private:
    std::vector<TPageClass> PageClasses;
    std::vector<std::unique_ptr<TPaginaActualizare>> PageInstances;
    HWND Host;
    wizard::TRunRecords Records;
};

class TInstallerMain {
public:
    /// The stage pages write to `records`, which outlive the window.
    explicit TInstallerMain(const wizard::TRunRecords& records);
    ~TInstallerMain();
    TInstallerMain(const TInstallerMain&) = delete;
    TInstallerMain& operator=(const TInstallerMain&) = delete;

    /// Creates the window and its first page, hidden; Show puts it on screen.
    void Create();
    void Show();
    HWND Handle() const noexcept { return m_window; }

    /// The outcome of the last close query.
    bool CloseAccepted = false;

    static LRESULT CALLBACK StaticWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

    void FormCreate();
    void Timer1Timer();
    void Button1Click();
    void Button2Click();
    /// An unattended run's end after the update: the final page's hand-off.
    void FinishUnattended(TPaginaActualizare& finalPage);
    bool CloseQuery();
    /// The close question; a Yes cancels the running stage before it returns.
    bool AskToClose();
    void SetButton1(bool enabled);

    HWND m_window = nullptr;
    HWND m_panel1 = nullptr;
    HWND m_button1 = nullptr;
    HWND m_button2 = nullptr;
    TBitmapHandle m_picture;
    TFontHandle m_buttonFont;
    wizard::TRunRecords m_records;
    std::unique_ptr<TPageArray> Pages;
    int CurrentPage = 0;
};

} // namespace upd::app
