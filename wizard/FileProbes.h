// Where the validation stage looks at the installed files.
#pragma once

#include <string>

#include "wizard/ValidationStage.h"

namespace upd::wizard {

/// The installed files of this machine (the wizard's own view).
class TSystemFileProbe : public TFileProbe {
public:
    bool SignatureMatches(const TFileSignature& signature) const override;
    bool FileExists(const std::string& path) const override;
    std::string FileVersionText(const std::string& path) const override;
};

/// The installation inside a folder that stands for the machine's drives, as
/// a Wine prefix does: C:\A\b.exe is looked up as <Root>/drive_c/A/b.exe.
/// Names are matched without regard to case where the exact name is missing,
/// as Windows does. Versions come from the portable PE reader.
class TRootedFileProbe : public TFileProbe {
public:
    explicit TRootedFileProbe(std::string root) : m_root(std::move(root)) {}

    bool SignatureMatches(const TFileSignature& signature) const override;
    bool FileExists(const std::string& path) const override;
    std::string FileVersionText(const std::string& path) const override;

    /// The local name of a Windows path ("X:\..." only; any other text is
    /// returned under the root unchanged).
    std::string MapPath(const std::string& windowsPath) const;

private:
    std::string m_root;
};

} // namespace upd::wizard
