// The pages around the validation stage: the intro page, the archive reading
// and update stages (their workers live beside their stages), and the final
// page that hands over to the payroll program.
#pragma once

#include <memory>
#include <string>

#include "text/QvtParagraf_win32.h"
#include "wizard/HandOff_win32.h"
#include "wizard/PaginaEtapa_win32.h"
#include "wizard/RunRecords.h"

namespace upd::wizard {

/// Greets the user with the package's title and description. Building it is
/// the first use of the package.
class TPaginaIntro : public ui::TPaginaActualizare {
public:
    TPaginaIntro(HWND host, int id);

    bool CanAdvance() const override { return m_packageOpened; }

    /// Keeps the instruction text 16 pixels under the description.
    void QvtParagraf1Resize();

private:
    std::unique_ptr<text::TQvtParagraf> QvtParagraf1;
    bool m_packageOpened = false;
};

/// Gathers the patch data into one checked temporary file.
class TPaginaCitescArhiva : public TPaginaEtapa {
public:
    TPaginaCitescArhiva(HWND host, int id, const TRunRecords& records);

protected:
    std::unique_ptr<TFirEtapa> CreateWorker(HWND pageWindow) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
};

/// Rebuilds and replaces the installed files.
class TEfectueazaActualizarea : public TPaginaEtapa {
public:
    TEfectueazaActualizarea(HWND host, int id, const TRunRecords& records);

protected:
    std::unique_ptr<TFirEtapa> CreateWorker(HWND pageWindow) override;
};

/// Reports success; Finish starts the payroll program so that it refreshes
/// the data of the consolidation program: the file the update stage verified
/// and held, as the desktop's user (HandOff_win32.h). A file that is not the
/// verified one is not started; the user is told and the log says why.
class TPaginaFinal : public ui::TPaginaActualizare {
public:
    TPaginaFinal(HWND host, int id, const TRunRecords& records);
    void Finish() override;

private:
    TRunRecords m_records;
};

} // namespace upd::wizard
