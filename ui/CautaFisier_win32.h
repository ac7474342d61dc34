// The "Cauta fisier" dialog and the page side of a volume request.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

#include "package/CautaFisier.h"

namespace upd::ui {

/// Sent (never posted) by the archive worker to its page; the first parameter
/// is the TRequestVolume, which the page fills before the send returns.
inline constexpr UINT WM_REQUESTVOLUME = WM_USER + 3;

/// Control ids of the dialog, for the UI driver.
enum TCautaFisierId : int {
    kIdCautaLabel1 = 401,
    kIdCautaLabel2 = 402,
    kIdCautaLabel3 = 403,
    kIdCautaEdit1 = 404,
    kIdCautaButton = 405, ///< "Cauta"
    kIdCautaAnimate1 = 406,
    // "Ok" is IDOK (Enter), "Renunt" IDCANCEL (Escape).
};
inline constexpr const char* kCautaFisierCaption = "Cauta fisier";

/// The real world of a volume request: the file system, the wizard's main
/// window (`mainWindow`) and the dialog.
class TWin32VolumeSearchHost : public package::TVolumeSearchHost {
public:
    explicit TWin32VolumeSearchHost(HWND mainWindow) : m_main(mainWindow) {}

    bool FileExists(const TPath& path) override;
    std::vector<TPath> FolderEntries(const TPath& folder) override;
    bool PromptForDiskette(const std::string& text) override;
    bool RequestClose() override;
    bool ShowDialog(const std::string& explanation, const TPath& startPath, const TPath& filter, TPath& path,
                    bool& closed) override;

private:
    HWND m_main;
};

/// Shows the dialog modally over `owner`; true with `path` for Ok. `host`
/// checks the chosen file and asks the main window to close for "Renunt";
/// `closed` reports that the program is closing.
bool ShowCautaFisier(HWND owner, package::TVolumeSearchHost& host, const std::string& explanation, const TPath& startPath,
                     const TPath& filter, TPath& path, bool& closed);

} // namespace upd::ui
