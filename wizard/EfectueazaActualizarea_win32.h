// The update page's worker.
#pragma once

#include "wizard/Worker_win32.h"

namespace upd::wizard {

/// Rebuilds the new files, replaces the installed ones and writes the tag
/// file; reports progress and the status line to its page.
class TFirActualizarePropriuzisa : public TFirEtapa {
public:
    using TFirEtapa::TFirEtapa;

protected:
    void Execute() override;
};

} // namespace upd::wizard
