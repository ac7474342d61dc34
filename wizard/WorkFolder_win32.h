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

/// Makes `folder` and its two parents (Tarvix, Kp3Tag) where they are
/// missing, each with an explicit descriptor: owned by the administrators,
/// writable by them and the system alone (the parents readable by users,
/// for the tag folder), nothing inherited. Existing ones are checked
/// (WhyNotAdministratorsOnly): the work folder and Tarvix are repaired (owner
/// and list set), a Kp3Tag others could write is refused, since it may
/// already hold a planted journal, log or link (one merely the running
/// administrator's own is repaired). Then holds `folder` open
/// without sharing deletion, so that it can be neither removed nor renamed
/// while the handle lives. Refused, with the reason in `reason` and an
/// invalid handle, when a name is a link, a folder opened is not at its
/// name itself (a link higher up), or Kp3Tag is refused.
TFileHandle HoldWorkFolder(const std::string& folder, std::string& reason);

/// What an unsafe folder is refused or repaired with.
enum class TUnsafeFolder { Repair, Refuse };

/// Why the open `folder` is not one of the administrators' alone: an owner
/// other than the administrators, the system or the installer service, or
/// an entry that lets another account write, delete, or change the list or
/// the owner. Empty when it is theirs alone. `ownAccountOnly` tells whether
/// every fault is about the account this program runs as (only that account
/// could have used it: such a folder is repaired even where others are
/// refused); the text then names one of them, else one of the others.
std::string WhyNotAdministratorsOnly(HANDLE folder, bool* ownAccountOnly = nullptr);

/// "Directorul ... poate fi modificat si de alti utilizatori ..." with `why`.
std::string UnsafeFolderMessage(const std::string& folder, const std::string& why);

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
