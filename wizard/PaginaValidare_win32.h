// The validation page: checks the installed files on its worker before
// anything is read from the archive or written to disk.
#pragma once

#include "wizard/PaginaEtapa_win32.h"

namespace upd::wizard {

class TPaginaValidare : public TPaginaEtapa {
public:
    TPaginaValidare(HWND host, int id, const TRunRecords& records);

protected:
    std::unique_ptr<TFirEtapa> CreateWorker(HWND pageWindow) override;
    bool HandlesWarnings() const override { return true; }
};

} // namespace upd::wizard
