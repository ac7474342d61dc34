// Gathering the package's patch data into one checked temporary file, the
// PatchTotal file, before the update stage reads its segments.
//
// A single-file package copies everything behind the header out of the
// executable. A split package copies the update description out of the
// executable, then every volume file in turn, each found through a volume
// request and accepted only when its whole-file digest is the one the header
// names. The result must carry the header's package digest.
//
// The stage knows nothing of windows: it reports to and asks through a
// TArchiveStageHost (the archive page's worker, or a test).
#pragma once

#include <cstdint>
#include <string>

#include "base/Path.h"
#include "wizard/RunRecords.h"
#include "wizard/StageControl.h"

namespace upd::package {
class TPatchDataEngine;
}

namespace upd::wizard {

inline constexpr const char* kCorruptExeMessage =
    "Fisierul EXE este corupt - nu corespunde semnatura. Nu pot continua.";
inline constexpr const char* kShortFirstReadMessage = "Date insuficiente in stream";
inline constexpr const char* kShortNextReadMessage = "Data insuficiente in stream";
inline constexpr const char* kVolumeRequestMessage = "Programul de actualizare are nevoie de urmatorul fisier";


class TArchiveStageHost {
public:
    virtual ~TArchiveStageHost() = default;
    /// `done` of `total` bytes are in the PatchTotal file.
    virtual void Progress(std::int64_t done, std::int64_t total) = 0;
    /// Asks for volume file `fileName` (no folder); `path` is the path tried
    /// last on entry and the answer (possibly empty) on return. Raises
    /// TStageAbandoned when the program is closing.
    virtual void RequestVolume(const TPath& fileName, const std::string& message, TPath& path,
                               std::int32_t volumeNumber, std::int32_t attempt) = 0;
};

/// Runs the whole stage for the engine's package: chooses the PatchTotal name
/// (stored in the engine, which deletes the file at its end, and in the run's
/// journal), fills the file and checks its digest, writing each volume and
/// the verdict to the run's log. Progress counts the bytes
/// copied, from 0 to exactly their total. Raises Exception with the stage's
/// messages, EOSError for files that cannot be opened, TStageAbandoned when
/// the program is closing (`control`, or this process's stage control).
void RunArchiveStage(package::TPatchDataEngine& engine, TArchiveStageHost& host, const TRunRecords& records,
                     TStageControl* control = nullptr);

/// Why a volume answer was refused: `exists` tells whether a file is at `path`.
std::string RejectedVolumeText(const TPath& path, bool exists);

} // namespace upd::wizard
