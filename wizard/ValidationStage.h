// The check of the installed files that runs before anything is read from the
// patch archive or written to disk.
//
// Every must-have set must find its file in one of its listed states, and every
// file to patch must be one of the old versions its patch can rebuild from. A
// file in a state that the package does not know is classified by its version
// number against the known ones; each class has one fixed message ending in a
// support tag such as " (3/25/Test/7)". Two classes only warn.
//
// The stage knows nothing of windows: it reports to a TValidationSink (the
// validation page, or updkit) and looks at files through a TFileProbe (the real
// file system, a folder standing in for drive C:, or a test's fake).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "package/FileSignature.h"
#include "wizard/Finding.h"

namespace upd::package {
class TUpdate;
}

namespace upd::wizard {

using upd::package::TFileSignature;

class TUpdateLog;

/// Receives the stage's findings in the order it makes them.
class TValidationSink {
public:
    virtual ~TValidationSink() = default;
    /// `done` sets of `total` have been taken up (0 of total at the start).
    virtual void Progress(std::int32_t done, std::int32_t total) = 0;
    /// A finding that lets the stage go on; returns once the user has seen it.
    virtual void Warning(const TFinding& finding) = 0;
    /// A finding that ends the stage; nothing else is reported after it.
    virtual void Fatal(const TFinding& finding) = 0;
    /// The version text read from an installed file that matched none of its
    /// set's states; the set's finding, if any, follows.
    virtual void VersionFound(const std::string& path, const std::string& version) {}
    /// Comes right before the Fatal of a file to patch that already has the
    /// update's own version (the package ran here before).
    virtual void AlreadyUpdated() {}
    /// Patch set `n` (1-based) will be rebuilt from its old version `index`
    /// (0-based), the installed file `path`.
    virtual void SourceChosen(std::int32_t n, std::int32_t index, const std::string& path) = 0;
};

/// The installed files as the stage sees them.
class TFileProbe {
public:
    virtual ~TFileProbe() = default;
    /// Whether the file that the signature names is in exactly that state.
    virtual bool SignatureMatches(const TFileSignature& signature) const = 0;
    virtual bool FileExists(const std::string& path) const = 0;
    /// The file's version resource text, "<info not available>" without one.
    virtual std::string FileVersionText(const std::string& path) const = 0;
};

/// A must-have set: alternatives tried in order, the first match satisfies it.
using TSignatureList = std::vector<const TFileSignature*>;

/// What the stage reads of one patch set.
struct TPatchSetView {
    TSignatureList OldFiles;    ///< known old versions; position = version index
    std::string TargetFileName; ///< the installed file to update
    std::string NewVersion;     ///< its version after the update
};

/// The sets to check, in the order of the update description.
struct TValidationInput {
    std::vector<TSignatureList> MustHaveSets;
    std::vector<TPatchSetView> PatchSets;
};

/// Runs the whole stage. A package whose patch sets name one file twice
/// (see package/DuplicateNames.h) is refused first, as a fatal finding.
/// Returns true when every set passed (the caller then
/// reports "Ok"), false after a fatal finding (reported to the sink). Errors of
/// the file access or of a version comparison propagate as Exception; so does a
/// must-have set without any signature ("List index out of bounds (0)").
bool RunValidation(const TValidationInput& input, TValidationSink& sink, const TFileProbe& probe);

/// Runs the stage over an update description and records, in each patch set,
/// the old version that the update will patch from (`SourceFileName`,
/// `SourceIndex`) as soon as that set has been checked. The sink sees every
/// event, SourceChosen included.
bool RunValidation(upd::package::TUpdate& update, TValidationSink& sink, const TFileProbe& probe);

/// Whether the stage treats the file as one that carries a version resource:
/// its extension, in any case, is ".exe" or ".dll".
bool IsVersionedFileName(const std::string& path);

/// The version the stage compares: the resource text of a versioned file,
/// "<info not available>" for any other file.
std::string InstalledVersion(const std::string& path, const TFileProbe& probe);

/// The message of a must-have set's verdict, with its "/Test/" tag.
std::string MustHaveMessage(TVerdict verdict, const std::string& path, const std::string& version,
                            std::int32_t n, std::int32_t count);
/// The message of a patch set's verdict, with its "/Patch/" tag.
std::string PatchMessage(TVerdict verdict, const std::string& path, const std::string& version, std::int32_t n,
                         std::int32_t count);
/// The untagged message for a patch target already at the update's version.
std::string AlreadyUpdatedMessage(const std::string& path, const std::string& version);
/// Passes every event on to `next` and writes it to `log`.
class TValidationLogger : public TValidationSink {
public:
    TValidationLogger(TUpdateLog& log, TValidationSink& next) : m_log(log), m_next(next) {}

    void Progress(std::int32_t done, std::int32_t total) override;
    void Warning(const TFinding& finding) override;
    void Fatal(const TFinding& finding) override;
    void VersionFound(const std::string& path, const std::string& version) override;
    void AlreadyUpdated() override { m_next.AlreadyUpdated(); }
    void SourceChosen(std::int32_t n, std::int32_t index, const std::string& path) override;

private:
    TUpdateLog& m_log;
    TValidationSink& m_next;
};

/// The untagged message for a patch set that no known version can judge.
inline constexpr const char* kNoVerdictMessage = "Bug - Contactati Tarvix";

} // namespace upd::wizard
