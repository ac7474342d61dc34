#include "tools/updkit/Files.h"

#include <cstdio>
#include <filesystem>

#include "base/Exception.h"
#include "base/File.h"
#include "package/PatchDataEngine.h"
#include "package/PackageWriter.h"
#include "package/PackageHeader.h"

namespace updkit {

namespace fs = std::filesystem;

namespace {

fs::path SystemPath(const std::string& name) { return fs::path(upd::TPath(name).Native()); }

// The folder a file would be written to, as the system resolves it.
fs::path RealFolder(const std::string& file)
{
    fs::path parent = SystemPath(file).parent_path();
    if (parent.empty())
        parent = ".";
    std::error_code error;
    return fs::weakly_canonical(fs::absolute(parent, error), error);
}

bool Inside(const fs::path& folder, const fs::path& root)
{
    auto f = folder.begin(), r = root.begin();
    for (; r != root.end(); ++f, ++r) {
        if (r->empty() && std::next(r) == root.end())
            break; // a trailing separator
        if (f == folder.end() || *f != *r)
            return false;
    }
    return true;
}

bool SameName(const std::string& a, const std::string& b) { return a == b || upd::SameFile(a, b); }

} // namespace

void CheckInput(const std::string& name)
{
    if (!upd::FileOrFolderExists(name))
        throw upd::Exception(name + ": no such file");
    if (!upd::IsRegularFile(name))
        throw upd::Exception(name + ": not a regular file");
}

void CheckOutput(const std::string& target, const std::vector<std::string>& inputs)
{
    if (upd::FileOrFolderExists(target) && !upd::IsRegularFile(target))
        throw upd::Exception(target + ": exists and is not a regular file; nothing was written");
    for (const std::string& input : inputs) {
        if (SameName(input, target))
            throw upd::Exception(target + ": is also an input (" + input + "); nothing was written");
    }
}

void TOutputPlan::Check() const
{
    const std::string nothing = "; nothing was written";
    for (std::size_t i = 0; i < m_outputs.size(); ++i) {
        const auto& [name, what] = m_outputs[i];
        std::error_code error;
        const fs::path folder = SystemPath(name).parent_path();
        if (!folder.empty() && !fs::is_directory(folder, error))
            throw upd::Exception(name + " (" + what + "): the folder " + name.substr(0, name.find_last_of("/\\")) +
                                 " does not exist" + nothing);
        CheckOutput(name, m_inputs);
        for (std::size_t j = 0; j < i; ++j) {
            if (SameName(m_outputs[j].Name, name) ||
                (RealFolder(name) == RealFolder(m_outputs[j].Name) &&
                 SystemPath(name).filename() == SystemPath(m_outputs[j].Name).filename()))
                throw upd::Exception(name + " (" + what + "): is also " + m_outputs[j].What + " (" +
                                     m_outputs[j].Name + ")" + nothing);
        }
        for (const std::string& release : m_folders) {
            const fs::path root = fs::weakly_canonical(fs::absolute(SystemPath(release), error), error);
            if (Inside(RealFolder(name), root))
                throw upd::Exception(name + " (" + what + "): is inside the release folder " + release +
                                     ", where it would be taken for a file of the release" + nothing);
        }
    }
    for (const std::string& stale : m_stale)
        for (const std::string& input : m_inputs)
            if (SameName(stale, input))
                throw upd::Exception(stale + ": a volume left by an earlier build would be deleted, but it is an "
                                             "input (" + input + ")" + nothing);
}

std::string VolumeName(const std::string& exe, int n)
{
    return (upd::package::VolumeBaseName(exe) + std::to_string(n)).Text();
}

std::vector<std::string> RemoveStaleVolumes(const std::string& exe, int count)
{
    std::vector<std::string> removed;
    for (int n = count + 1; n <= upd::package::kMaxVolumes; ++n) {
        const std::string name = VolumeName(exe, n);
        if (upd::IsRegularFile(name) && upd::DeleteFileNamed(name))
            removed.push_back(name);
    }
    return removed;
}

void PlanPackage(TOutputPlan& plan, const std::string& exe, int volumes, bool bySize)
{
    plan.Output(exe, "the package");
    const int written = bySize ? upd::package::kMaxVolumes : volumes;
    for (int n = 1; n <= upd::package::kMaxVolumes; ++n) {
        if (n <= written)
            plan.Output(VolumeName(exe, n), "volume " + std::to_string(n));
        else
            plan.Stale(VolumeName(exe, n));
    }
}

void FinishPackage(const upd::package::TPackageFiles& files, const upd::package::TPatchHeader& header)
{
    const std::int64_t size = upd::TFile(files.ExeFileName, upd::TFileMode::ReadShared).Size();
    std::printf("%s: %lld bytes (description %d bytes), patch data digest %s\n", files.ExeFileName.c_str(),
                static_cast<long long>(size), header.PackageSize, header.PackageDigest.c_str());
    for (std::size_t i = 0; i < files.VolumeFileNames.size(); ++i)
        std::printf("%s: %d bytes\n", files.VolumeFileNames[i].c_str(), header.VolumeSizes[i]);
    for (const std::string& name :
         RemoveStaleVolumes(files.ExeFileName, static_cast<int>(files.VolumeFileNames.size())))
        std::printf("%s: deleted, a volume of an earlier build with more volumes\n", name.c_str());
}

} // namespace updkit
