// The archive reading page's worker and its side of the volume requests.
#pragma once

#include "wizard/Worker_win32.h"

namespace upd::wizard {

/// Gathers the patch data into the PatchTotal file; asks its page for each
/// volume file with a sent WM_REQUESTVOLUME.
class TFirCitescArhiva : public TFirEtapa {
public:
    using TFirEtapa::TFirEtapa;

protected:
    void Execute() override;
};

/// The page's handler of WM_REQUESTVOLUME (main thread): serves the request
/// that `wParam` carries. Raises nothing.
LRESULT HandleVolumeRequest(HWND page, WPARAM wParam);

} // namespace upd::wizard
