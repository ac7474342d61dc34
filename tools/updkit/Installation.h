// Where updkit check and verify find the installed files, and the volumes
// beside a package.
//
//   --installed DIR   DIR is the installed folder itself (C:\Pravion), e.g.
//                     a copy of a release or a test machine's folder
//   --root PREFIX     PREFIX stands for the machine's drives, as a Wine
//                     prefix does: C:\Pravion is PREFIX/drive_c/Pravion
//   neither           the paths as the package names them (on Windows)
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "wizard/ValidationStage.h"

namespace upd::package {
class TPatchDataEngine;
}

namespace updkit {

/// The folder that --installed stands for.
inline constexpr const char* kInstalledFolder = "C:\\Pravion";

struct TInstallation {
    std::string Installed; ///< --installed
    std::string Root;      ///< --root

    /// Takes `args[i]` (and its value) when it is --installed or --root.
    /// Returns 1 when taken, 0 when it is no such option, -1 for a usage error.
    int Take(const std::vector<std::string>& args, std::size_t& i);
    /// The probe of the stage; raises when the folder named does not exist
    /// or a prefix has no drive C:.
    std::unique_ptr<upd::wizard::TFileProbe> Probe() const;
    /// One line saying where the files are read.
    std::string Where() const;
};

/// The arguments of check and verify: EXE and at most one of --installed
/// and --root, in any order. False for a usage error.
bool ReadPackageAndInstallation(const std::vector<std::string>& args, std::string& exe, TInstallation& where);

/// One volume of a package as found beside it.
struct TVolumeFinding {
    int Number = 0;      ///< from 1
    std::string Name;    ///< the file looked at
    std::string Problem; ///< empty when present with the right size and digest
};

/// Every volume of the package, checked for presence, size and digest.
std::vector<TVolumeFinding> CheckVolumes(const upd::package::TPatchDataEngine& engine);

} // namespace updkit
