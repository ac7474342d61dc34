// The stage that changes the installation.
//
// First pass, touching nothing installed: every patch set's segment is copied
// out of the PatchTotal file and checked, the new file is rebuilt from the
// installed old version in the temporary folder and checked. Only when every
// new file is right are the installed files replaced, each together with its
// read-only twin (the name with "vf" appended). Last, the tag file is written
// when it does not exist yet.
//
// Replacing is done in two steps: all copies are first written beside their
// targets, then each is renamed over its target. A copy that fails (a full
// disk, a folder without write access) thus leaves every installed file as it
// was, and no installed file is ever deleted before its successor is whole.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace upd::package {
class TPatchDataEngine;
}

namespace upd::wizard {

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
};

/// Runs the stage over the engine's update description and PatchTotal file.
/// Each patch set must carry SourceFileName and SourceIndex from the
/// validation; the stage sets PatchedFileName. Raises Exception with the
/// stage's messages, the unpatch engine's errors, EOSError for file errors.
void RunUpdateStage(package::TPatchDataEngine& engine, TUpdateStageHost& host,
                    const std::string& tagFolder = kTagFolder);

/// "Segmentul de date ... este corupt" for a target path.
std::string CorruptSegmentMessage(const std::string& targetFileName);
/// "Actualizarea fisierului ... a esuat. ..." for a target path (its name part is shown).
std::string FailedUpdateMessage(const std::string& targetFileName);
/// The status line for the file being rebuilt.
std::string UpdatingStatus(const std::string& targetFileName);
/// The tag file's bytes: every line followed by CR LF.
std::string TagFileText(const std::vector<std::string>& lines);

} // namespace upd::wizard
