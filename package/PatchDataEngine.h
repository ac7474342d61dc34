// The package carried by the running executable: its header and update description.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Exception.h"
#include "base/Path.h"

#include "package/ImageSlot.h"
#include "package/PackageHeader.h"
#include "package/Update.h"

namespace upd {
class TFile;
}

namespace upd::package {

inline constexpr const char* kNoHeaderMessage = "Nu gasesc header!";
inline constexpr const char* kCannotReadDataDirMessage = "Nu pot citi DataDir";
inline constexpr const char* kNoDataEngineMessage = "Nu pot deschide DataEngine!";

/// Offset of the first package signature whose header could start there: offsets
/// 0 to size - 1254 are tried, so a header always has at least one description
/// byte after it. Returns -1 when there is none.
std::int64_t FindPackageHeader(const std::uint8_t* data, std::size_t size);

/// Finds the package in an executable's bytes and copies its header and update
/// description (PackageSize bytes from the header on) into `package`; returns the
/// header's offset. Raises kNoHeaderMessage or kCannotReadDataDirMessage.
std::int32_t LocatePackage(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& package);

/// The certificate table of a signed program image (file offset and size).
struct TCertificateTable {
    std::int64_t Offset = 0;
    std::int64_t Size = 0;
};

/// The certificate table that a PE image's security directory names, when it is
/// the last thing in the file: where a signer that runs after the package was
/// appended puts it. Nothing for an unsigned image, a file that is not a PE
/// image, or a table that does not end the file.
std::optional<TCertificateTable> TrailingCertificateTable(const std::uint8_t* data, std::size_t size);

/// The full name of the running executable.
TPath RunningExeFileName();

/// The package read from the program's file is not the one whose identity
/// the running image carries: the file is another program's by now.
class EForeignPackage : public Exception {
public:
    explicit EForeignPackage(const TPath& exeFileName);
    const char* ClassName() const noexcept override { return "EForeignPackage"; }
};

/// The package of one executable. One instance per process is reached through
/// GetPatchDataEngine(); tools and tests open other executables directly.
class TPatchDataEngine {
public:
    /// Opens the running executable: through the file given to
    /// HoldRunningImage when there is one, else by its name (tools, tests).
    TPatchDataEngine();
    /// Reads the package of an executable that is open already, through that
    /// handle, and keeps the file open for the engine's life. With `identity`,
    /// only a package with that identity (PackageIdentity) is accepted:
    /// another raises EForeignPackage. Other errors as below.
    TPatchDataEngine(std::shared_ptr<TFile> exeFile, const std::optional<TSlotDigest>& identity);
    /// Opens the named executable (refusing writers while the engine lives).
    /// Raises EOSError when it cannot be opened or mapped, kNoHeaderMessage when it carries no package, kCannotReadDataDirMessage
    /// when PackageSize is below the header's size or beyond the end of the file
    /// or VolumeCount is outside 0 to 10,
    /// and the tagged value read error for a damaged update description.
    explicit TPatchDataEngine(const TPath& exeFileName);
    /// Deletes every file of TempFiles and PatchTotalFileName that exists, in that order.
    ~TPatchDataEngine();
    TPatchDataEngine(const TPatchDataEngine&) = delete;
    TPatchDataEngine& operator=(const TPatchDataEngine&) = delete;

    std::vector<TPath> TempFiles;
    TPath PatchTotalFileName;
    std::int32_t HeaderOffset = 0;
    TPatchHeader Header;
    std::unique_ptr<TUpdate> Update;
    /// The certificate table at the end of a signed executable, if any.
    std::optional<TCertificateTable> CertificateTable;
    /// Where the package's bytes in the executable end: the start of that
    /// certificate table, else the end of the file. A single-file package's
    /// segments run up to here.
    std::int64_t DataEnd = 0;
    /// How many of the zero bytes right before that certificate table may be
    /// a signer's padding rather than the package's own: 0 to 7, never
    /// reaching back into the last segment (the segment records say where it
    /// ends). The package's digest tells how many of them are its own.
    std::int32_t SignerPadding = 0;

    /// The executable the package was read from (the running one for the process-wide engine).
    const TPath& GetExeFileName() const { return m_exeFileName; }
    /// The executable's file as the engine holds it open: every later read of
    /// the package's bytes goes through it, never through the name again.
    TFile& ExeFile() const { return *m_exeFile; }
    /// The executable's name without the letters of its extension, the dot kept
    /// ("C:\Kit\setup.exe" gives "C:\Kit\setup."); a name without extension is returned unchanged.
    TPath GetVolumeBaseName() const;
    /// Full name of volume n (counted from 1): GetVolumeBaseName() followed by n.
    TPath GetVolumeFileName(int n) const;

private:
    void Open(const std::optional<TSlotDigest>& identity);

    TPath m_exeFileName;
    std::shared_ptr<TFile> m_exeFile;
};

/// The program's own file, opened by the wizard first thing (refusing
/// writers, deleters and renames while it runs), and the identity of the
/// package that its image carries (nothing for an empty slot): the
/// process-wide engine reads its package through that file and accepts only
/// that package.
void HoldRunningImage(TFile exeFile, const std::optional<TSlotDigest>& identity);

/// The volume base name of any file name (see TPatchDataEngine::GetVolumeBaseName).
TPath VolumeBaseName(const TPath& exeFileName);

/// The process-wide engine, created from the running executable on first use.
/// A failed creation raises its error and leaves no engine, so the next call tries again.
TPatchDataEngine& GetPatchDataEngine();
/// Destroys the process-wide engine (deleting its temporary files); also done at program end.
void FreePatchDataEngine() noexcept;
/// Installs an engine as the process-wide one (for tests and tools); returns the previous one.
std::unique_ptr<TPatchDataEngine> ReplacePatchDataEngine(std::unique_ptr<TPatchDataEngine> engine);

} // namespace upd::package
