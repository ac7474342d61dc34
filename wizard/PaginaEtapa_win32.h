// What the three stage pages (validation, archive reading, update) share:
// the title, the stage text, the waiting notice, the progress bar that runs
// through the three stages as one (each takes a third of 0..30000), the
// worker started on the first show, and the handling of its notifications.
#pragma once

#include <memory>
#include <string>

#include "ui/PaginaActualizare_win32.h"
#include "wizard/Worker_win32.h"

namespace upd::wizard {

inline constexpr int kProgressMax = 30000;
inline constexpr int kProgressPerStage = 10000;

class TPaginaEtapa : public ui::TPaginaActualizare {
public:
    /// `stageText` is in letter codes; `progressBase` is where this stage's
    /// third of the bar begins. The worker writes to `records`.
    TPaginaEtapa(HWND host, int id, const TRunRecords& records, const std::string& stageText, int progressBase);

    bool IsBusy() const override { return !Finished; }

    bool Finished = false;      ///< the worker has reported success; never cleared
    bool ThreadStarted = false; ///< the worker has been started; never cleared

protected:
    /// The stage's worker for this page's window; nullptr while the stage has
    /// none yet (the page then stays busy).
    virtual std::unique_ptr<TFirEtapa> CreateWorker(HWND pageWindow) = 0;
    /// Whether the page shows warnings (only the validation page does).
    virtual bool HandlesWarnings() const { return false; }

    void HandleCreated() override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void HandleNotification(const TComunicareFir& notification);

    TRunRecords Records;

private:
    int m_progressBase;
};

/// The bar position for a "done|total" progress text; nothing when the total
/// is 0 (the bar stays where it is). Raises Exception for a malformed text.
bool ProgressPosition(const std::string& text, int base, int& position);

} // namespace upd::wizard
