// The rules for updkit's own files: it reads regular files only (a pipe or a
// device would hang it), and it never writes over one of its inputs: a target
// that is an input under any name is refused before anything is written, and
// every output is written beside its target and renamed over it on success.
#pragma once

#include <string>
#include <vector>

namespace upd::package {
struct TPackageFiles;
struct TPatchHeader;
} // namespace upd::package

namespace updkit {

/// Raises unless `name` is an existing regular file.
void CheckInput(const std::string& name);
/// Raises when `target` is one of `inputs` (the same file under another name
/// or through a hard link) or exists and is not a regular file.
void CheckOutput(const std::string& target, const std::vector<std::string>& inputs);

/// Everything one run reads and writes, checked together before the first
/// byte is built: an output may not be an input, another output of the run,
/// something other than a regular file, inside a release folder, or in a
/// folder that does not exist.
class TOutputPlan {
public:
    void Input(const std::string& name) { m_inputs.push_back(name); }
    /// A folder no output may be written into (a release folder).
    void Folder(const std::string& name) { m_folders.push_back(name); }
    /// An output; `what` names it in messages ("the package", "the manifest").
    void Output(const std::string& name, const std::string& what) { m_outputs.push_back({name, what}); }
    /// A name the run may delete (a volume left over from a larger build):
    /// it may not be an input.
    void Stale(const std::string& name) { m_stale.push_back(name); }
    /// Raises the first refusal, ending in "nothing was written".
    void Check() const;

private:
    struct TOutput {
        std::string Name, What;
    };
    std::vector<std::string> m_inputs, m_folders, m_stale;
    std::vector<TOutput> m_outputs;
};

/// Volume `n` (from 1) of a package named `exe`: setup.exe gives setup.1.
std::string VolumeName(const std::string& exe, int n);

/// Deletes the volumes beyond `count` left by an earlier build of `exe` with
/// more volumes (regular files only); returns their names.
std::vector<std::string> RemoveStaleVolumes(const std::string& exe, int count);

/// Adds a package's outputs: the program `exe`, its `volumes` volumes (all
/// ten possible ones when only a volume size is given, the count being known
/// once the patches are built) and the older volumes that would be stale.
void PlanPackage(TOutputPlan& plan, const std::string& exe, int volumes, bool bySize);

/// Prints what was written, deletes the volumes a larger earlier build left
/// behind and says so.
void FinishPackage(const upd::package::TPackageFiles& files, const upd::package::TPatchHeader& header);

} // namespace updkit
