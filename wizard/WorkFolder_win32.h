// Where an elevated run keeps what it writes, and how it keeps a second run
// out.
//
// The wizard runs with administrator rights beside programs of the same user
// that run without them. Its work files (the gathered patch data, the segment
// copies, the rebuilt files) therefore go to a folder of its own beside the
// journal, which only administrators and the system may read or change, not
// to the user's temporary folder; the folder is held open for the whole run,
// so that nobody can rename it or put a link in its place.
#pragma once

#include <string>

#include "base/Handles_win32.h"

namespace upd::wizard {

/// The work folder of every run.
inline constexpr const char* kWorkFolder = "C:\\Program Files\\Tarvix\\Kp3Tag\\Lucru";
/// The file whose exclusive open marks a running wizard.
inline constexpr const char* kInstanceLockFile = "C:\\Program Files\\Tarvix\\Kp3Tag\\Lucru\\Actualizare.lacat";

/// Makes `folder` (and its missing parents), gives it an access list that
/// lets only administrators and the system in (inherited by its files), and
/// holds it open without sharing deletion, so that it can be neither removed
/// nor renamed while the handle lives. Refused, with the reason in `reason`
/// and an invalid handle, when the name is a link or the folder opened is
/// not at `folder` itself (a link higher up).
TFileHandle HoldWorkFolder(const std::string& folder, std::string& reason);

/// The single-instance guard: `lockFile` opened by nobody else and sharing
/// nothing. An invalid handle when it cannot be opened, `error` then says
/// why (ERROR_SHARING_VIOLATION: another wizard holds it). Only
/// administrators can open a file of the work folder, so no program of the
/// user can take the guard first.
TFileHandle TakeInstanceLock(const std::string& lockFile, DWORD& error);

/// Removes the work files (PatchTotal_n.bin, Patch_n.Patch, Patched_n.bin)
/// that an earlier run left in `folder`: a run killed between creating a
/// work file and writing its name into the journal leaves one that no
/// recovery knows of. Only a run that holds the instance lock, after the
/// journal has been dealt with, may call it: nothing else writes there.
/// Returns how many were removed; one that cannot be removed stays.
int RemoveLeftoverWorkFiles(const std::string& folder) noexcept;

/// "Nu pot pregati directorul de lucru ..." with the reason.
std::string WorkFolderMessage(const std::string& folder, const std::string& reason);

} // namespace upd::wizard
