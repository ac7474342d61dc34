// The stage that changes the installation.
//
// First pass, touching nothing installed: every patch set's segment is copied
// out of the PatchTotal file and checked, the new file is rebuilt from the
// installed old version in the temporary folder and checked. Only when every
// new file is right are the installed files replaced, each together with its
// read-only twin (the name with "vf" appended). Last, the tag file is written
// when it does not exist yet.
//
// Replacing is all or nothing (see UpdateTransaction.h): before the first
// change every target is checked to be replaceable (the user may close the
// program that holds one and retry, or stop with nothing changed); a failure
// at any later step puts every file back. Until the replacement begins, the
// stage leaves when the program is closing (TStageAbandoned).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "wizard/RunRecords.h"

namespace upd::package {
class TPatchDataEngine;
}

namespace upd::wizard {

class TFileOps;
class TStageControl;

/// Where the tag file of an installation lives.
inline constexpr const char* kTagFolder = "C:\\Program Files\\Tarvix\\Kp3Tag\\Tag";
inline constexpr const char* kCopySetsMessage = "Copierea fisierelor NU este implementata!!";
inline constexpr const char* kSegmentSizeMessage = "Bug";
inline constexpr const char* kFinishingStatus = "Finalizez";

class TUpdateStageHost {
public:
    virtual ~TUpdateStageHost() = default;
    virtual void Progress(std::int32_t done, std::int32_t total) = 0;
    virtual void Status(const std::string& text) = 0;
    /// Asks the user to free a file that another program holds: true to try
    /// again, false to stop the update with nothing changed.
    virtual bool AskRetry(const std::string& message) = 0;
};

/// What the stage works with; every null member means this process's own
/// (the system's file operations, the stage control).
struct TUpdateStageOptions {
    std::string TagFolder = kTagFolder;
    TFileOps* Ops = nullptr;
    TStageControl* Control = nullptr;
};

/// Runs the stage over the engine's update description and PatchTotal file.
/// Each patch set must carry SourceFileName and SourceIndex from the
/// validation; the stage sets PatchedFileName. Raises Exception with the
/// stage's messages (an error of the rebuild as FailedUpdateMessage followed
/// by its reason), EOSError for file errors before the replacement, and
/// TStageAbandoned when the program is closing or the user stopped.
/// Every temporary file goes to the records' journal before it is made.
void RunUpdateStage(package::TPatchDataEngine& engine, TUpdateStageHost& host, const TRunRecords& records,
                    const TUpdateStageOptions& options = {});

/// "Segmentul de date ... este corupt" for a target path.
std::string CorruptSegmentMessage(const std::string& targetFileName);
/// "Actualizarea fisierului ... a esuat. ..." for a target path (its name part is shown).
std::string FailedUpdateMessage(const std::string& targetFileName);
/// The status line for the file being rebuilt.
std::string UpdatingStatus(const std::string& targetFileName);
/// The question shown while `path` cannot be replaced.
std::string FileInUseMessage(const std::string& path, const std::string& reason, const std::string& programs);
/// Whether a tag file name from a package names a plain file of the tag
/// folder (not empty, ".", "..", a device, nor a name with a folder or drive).
bool IsPlainFileName(const std::string& name);
std::string BadTagFileNameMessage(const std::string& name);
/// The tag file's bytes: every line followed by CR LF, in code page 1250.
std::string TagFileText(const std::vector<std::string>& lines);

} // namespace upd::wizard
