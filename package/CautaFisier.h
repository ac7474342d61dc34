// Finding the volume files of a split package.
//
// The archive worker cannot talk to the user, so it hands each volume it needs
// to the archive page as a TRequestVolume and waits. The page first looks for
// the file by itself (beside the executable, in sibling folders, on the
// diskette it was started from) and otherwise lets the user point at it in the
// "Cauta fisier" dialog. What needs the file system or the user goes through a
// TVolumeSearchHost, so the search order is the same on every platform and in
// tests. Paths are Windows paths (backslashes) in the system's own form.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/Path.h"

namespace upd::package {

/// One request of the archive worker, alive for one synchronous hand-over.
struct TRequestVolume {
    TPath FileName;                ///< wanted file without folder, e.g. setup.1
    TPath Path;                    ///< in: the path tried last; out: the chosen path or empty
    std::int32_t VolumeNumber = 0; ///< counted from 1
    std::string Message;           ///< the worker's reason for this request
    std::int32_t Attempt = 0;      ///< 0 first, then 1, 2, ... for each repeat
    bool Abandoned = false;        ///< out: the user agreed to close the program meanwhile
    bool Deferred = false;         ///< out: not served now (the close question is open); ask again
    std::string Error;             ///< out: why the request could not be served (the stage ends)
};

/// What the search needs from the world outside.
class TVolumeSearchHost {
public:
    virtual ~TVolumeSearchHost() = default;
    virtual bool FileExists(const TPath& path) = 0;
    /// Names of every entry of a folder (sub-folders included, "." and ".."
    /// left out), in the order the file system gives them.
    virtual std::vector<TPath> FolderEntries(const TPath& folder) = 0;
    /// The diskette prompt for volume `volumeNumber`; false when the user
    /// chose Abort.
    virtual bool PromptForDiskette(const std::string& text) = 0;
    /// Asks the main window to close (it asks the user); true when it closed.
    virtual bool RequestClose() = 0;
    /// Shows the "Cauta fisier" dialog; true with `path` for Ok, false for
    /// Renunt. `closed` is set when the program is closing.
    virtual bool ShowDialog(const std::string& explanation, const TPath& startPath, const TPath& filter, TPath& path,
                            bool& closed) = 0;
};

/// The diskette drive ("A:" or "B:", upper case) an executable runs from, or
/// empty when its path does not start with A or B, a colon and a backslash.
TPath DisketteDrive(const TPath& exeFileName);

/// The folder of a path without its trailing backslash ("" when it has none).
TPath ExtractFolder(const TPath& path);
/// The name part of a path (after the last backslash, slash or colon).
TPath ExtractName(const TPath& path);

/// The dialog's explanation for a wanted file.
std::string VolumeRequestExplanation(const TPath& fileName, std::int32_t volumeNumber, bool fromDiskette);
/// The diskette prompt's text.
std::string DisketteRequestText(std::int32_t volumeNumber);
/// The file-open dialog's filter: the wanted file, or any file.
TPath VolumeFileFilter(const TPath& fileName);

/// The dialog's verdict on its edit box when Ok is pressed: empty when the
/// text names an existing file, else the message to show.
std::string CheckChosenFile(const TPath& text, TVolumeSearchHost& host);

/// Serves one request on the page's side: the search for Attempt 0, the
/// diskette prompts, then the dialog, whose explanation starts with the
/// worker's reason (`Message`) on a repeated request. Sets `request.Path` (empty when nothing
/// was chosen) and `request.Abandoned`. Raises nothing of its own.
void ServeVolumeRequest(TRequestVolume& request, const TPath& exeFileName, TVolumeSearchHost& host);

/// Every existing file named `fileName` where the search of
/// ServeVolumeRequest looks (beside the executable, the sibling folders, the
/// diskette drive it runs from), in that order, each path once.
std::vector<TPath> VolumeCandidates(const TPath& fileName, const TPath& exeFileName, TVolumeSearchHost& host);

/// Serves one request of an unattended run, which asks nobody, without
/// prompts or dialog: Attempt n gets the n-th of VolumeCandidates, so that
/// each repeat (the worker refused the file before) tries the next place.
/// When none is left, `request.Path` is empty and `request.Error` says why
/// the run stops (the worker's reason for the last refusal, if any).
void FindVolumeUnattended(TRequestVolume& request, const TPath& exeFileName, TVolumeSearchHost& host);

/// Why an unattended run stops when it did not find a volume file.
std::string VolumeNotFoundMessage(const TPath& fileName, bool fromDiskette);

inline constexpr const char* kEmptyFileNameMessage = "Nu ati completat numele fisierului";

} // namespace upd::package
