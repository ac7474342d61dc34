#include "tools/updkit/Installation.h"

#include <filesystem>

#include "base/Exception.h"
#include "base/File.h"
#include "package/InstalledNames.h"
#include "package/Md5Hash.h"
#include "package/PatchDataEngine.h"
#include "wizard/FileProbes.h"

namespace updkit {

namespace fs = std::filesystem;
using upd::wizard::TFileProbe;
using upd::wizard::TRootedFileProbe;

namespace {

std::vector<std::string> Parts(const std::string& path)
{
    std::vector<std::string> parts;
    std::string part;
    for (char c : path + "\\") {
        if (c != '\\' && c != '/') {
            part += c;
        } else if (!part.empty()) {
            parts.push_back(part);
            part.clear();
        }
    }
    return parts;
}

// The installed folder's files inside a folder of this machine: the paths
// below C:\Pravion are looked up under it by the stage's own rooted probe,
// which also finds names that differ only in case. Nothing outside the
// installed folder is there.
class TInstalledFolderProbe : public TFileProbe {
public:
    explicit TInstalledFolderProbe(const std::string& folder) : m_rooted(folder) {}

    bool SignatureMatches(const upd::package::TFileSignature& signature) const override
    {
        upd::package::TFileSignature inside = signature;
        return Inside(signature.FileName, inside.FileName) && m_rooted.SignatureMatches(inside);
    }
    bool FileExists(const std::string& path) const override
    {
        std::string inside;
        return Inside(path, inside) && m_rooted.FileExists(inside);
    }
    std::string FileVersionText(const std::string& path) const override
    {
        std::string inside;
        return m_rooted.FileVersionText(Inside(path, inside) ? inside : path);
    }

private:
    // The path below the installed folder, when `path` is inside it.
    static bool Inside(const std::string& path, std::string& inside)
    {
        const std::vector<std::string> folder = Parts(kInstalledFolder), parts = Parts(path);
        if (parts.size() <= folder.size())
            return false;
        for (std::size_t i = 0; i < folder.size(); ++i)
            if (upd::package::InstalledPathKey(parts[i]) != upd::package::InstalledPathKey(folder[i]))
                return false;
        inside.clear();
        for (std::size_t i = folder.size(); i < parts.size(); ++i)
            inside += (inside.empty() ? "" : "\\") + parts[i];
        return true;
    }

    TRootedFileProbe m_rooted;
};

bool IsFolder(const std::string& name)
{
    std::error_code error;
    return fs::is_directory(fs::path(upd::TPath(name).Native()), error);
}

} // namespace

int TInstallation::Take(const std::vector<std::string>& args, std::size_t& i)
{
    const bool installed = args[i] == "--installed";
    if (!installed && args[i] != "--root")
        return 0;
    if (i + 1 >= args.size() || args[i + 1].empty() || !Installed.empty() || !Root.empty())
        return -1;
    (installed ? Installed : Root) = args[++i];
    return 1;
}

bool ReadPackageAndInstallation(const std::vector<std::string>& args, std::string& exe, TInstallation& where)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const int taken = where.Take(args, i);
        if (taken < 0)
            return false;
        if (taken == 0 && exe.empty() && !args[i].empty() && args[i][0] != '-')
            exe = args[i];
        else if (taken == 0)
            return false;
    }
    return !exe.empty();
}

std::unique_ptr<TFileProbe> TInstallation::Probe() const
{
    if (!Installed.empty()) {
        if (!IsFolder(Installed))
            throw upd::Exception(Installed + ": no such folder (--installed names the folder that stands for " +
                                 std::string(kInstalledFolder) + ")");
        return std::make_unique<TInstalledFolderProbe>(Installed);
    }
    if (!Root.empty()) {
        if (!IsFolder(Root))
            throw upd::Exception(Root + ": no such folder (--root names a Wine prefix)");
        if (!IsFolder(TRootedFileProbe(Root).MapPath("C:\\")))
            throw upd::Exception(Root + ": not a Wine prefix, it has no drive_c (to read an installed folder "
                                        "itself, give it with --installed)");
        return std::make_unique<TRootedFileProbe>(Root);
    }
    return std::make_unique<upd::wizard::TSystemFileProbe>();
}

std::string TInstallation::Where() const
{
    if (!Installed.empty())
        return std::string(kInstalledFolder) + " is read from " + Installed;
    if (!Root.empty())
        return "C:\\ is read from " + TRootedFileProbe(Root).MapPath("C:\\");
    return "the files are read where the package names them";
}

std::vector<TVolumeFinding> CheckVolumes(const upd::package::TPatchDataEngine& engine)
{
    std::vector<TVolumeFinding> findings;
    const int count = std::min(engine.Header.VolumeCount, upd::package::kMaxVolumes);
    for (int n = 1; n <= count; ++n) {
        TVolumeFinding finding;
        finding.Number = n;
        finding.Name = engine.GetVolumeFileName(n).Text();
        const auto expected = static_cast<std::int64_t>(engine.Header.VolumeSizes[n - 1]);
        if (!upd::IsRegularFile(finding.Name)) {
            finding.Problem = "missing";
        } else if (const std::int64_t size = upd::TFile(finding.Name, upd::TFileMode::ReadShared).Size();
                   size != expected) {
            finding.Problem = "wrong size: " + std::to_string(size) + " bytes, the package says " +
                              std::to_string(expected);
        } else if (const std::string digest = upd::package::FileMD5Text(finding.Name);
                   digest != engine.Header.VolumeDigests[n - 1]) {
            finding.Problem = "damaged: MD5 digest " + digest + ", the package says " +
                              engine.Header.VolumeDigests[n - 1];
        }
        findings.push_back(std::move(finding));
    }
    return findings;
}

} // namespace updkit
