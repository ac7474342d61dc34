#include "package/ReleaseKit.h"

#include <algorithm>
#include <filesystem>
#include <map>

#include "base/Cp1250.h"
#include "base/Exception.h"
#include "base/File.h"
#include "package/InstalledNames.h"
#include "package/Md5Hash.h"

namespace upd::package {

namespace fs = std::filesystem;

namespace {

char32_t Lower(char32_t c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

std::u32string Letters(std::string_view utf8)
{
    std::u32string letters;
    for (std::size_t i = 0; i < utf8.size();) {
        char32_t code = 0;
        letters += NextUtf8(utf8, i, code) ? code : U'\uFFFD';
    }
    return letters;
}

struct TFolderFile {
    std::string Relative; ///< UTF-8, '/' between folders
    std::string Real;     ///< as the system opens it
};

using TFolderFiles = std::map<std::string, TFolderFile>;

std::string Utf8Of(const fs::path& path)
{
    const auto u8 = path.u8string();
    return std::string(u8.begin(), u8.end());
}

// Walks one folder of a release. Symlinked folders are followed like symlinked
// files; one that leads back to a folder on the way down is a loop.
void WalkFolder(const std::string& release, const fs::path& folder, const std::string& prefix,
                std::vector<fs::path>& chain, const std::string& installedRoot, TFolderFiles& files)
{
    std::error_code error;
    const fs::path real = fs::canonical(folder, error);
    if (error)
        throw Exception(release + "/" + prefix + ": cannot be read: " + error.message());
    if (std::find(chain.begin(), chain.end(), real) != chain.end())
        throw Exception(release + "/" + prefix + ": a symlinked folder that leads back to " + Utf8Of(real) +
                        " (a loop)");
    chain.push_back(real);
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        entries.push_back(it->path());
    if (error)
        throw Exception(release + "/" + prefix + ": cannot be read: " + error.message());
    std::sort(entries.begin(), entries.end());
    for (const fs::path& entry : entries) {
        const std::string relative = prefix + Utf8Of(entry.filename());
        const std::string where = release + "/" + relative;
        const fs::file_status status = fs::status(entry, error);
        if (fs::is_directory(status)) {
            WalkFolder(release, entry, relative + "/", chain, installedRoot, files);
            continue;
        }
        if (!fs::is_regular_file(status))
            throw Exception(where + ": not a regular file (a broken link, a pipe or a device): the wizard can "
                                    "only patch files");
        const std::string why = WhyNotInstallable(relative, installedRoot);
        if (!why.empty())
            throw Exception(where + ": cannot be installed on Windows: " + why);
        const auto [it, added] =
            files.emplace(InstalledPathKey(relative), TFolderFile{relative, Utf8Of(entry)});
        if (!added)
            throw Exception(release + ": " + it->second.Relative + " and " + relative +
                            " name the same installed file (Windows does not tell case apart)");
    }
    chain.pop_back();
}

// The regular files of a release folder, keyed by their installed path's
// identity: the installation's file system does not tell case apart.
TFolderFiles ReadFolder(const std::string& folder, const std::string& installedRoot)
{
    std::error_code error;
    if (!fs::is_directory(fs::path(folder), error))
        throw Exception("not a release folder: " + folder);
    TFolderFiles files;
    std::vector<fs::path> chain;
    std::string shown = folder;
    while (shown.size() > 1 && (shown.back() == '/' || shown.back() == '\\'))
        shown.pop_back();
    WalkFolder(shown, fs::path(folder), "", chain, installedRoot, files);
    return files;
}

// Refuses a release folder given twice, whatever the spelling or the link.
void CheckDistinct(const TReleaseKitInput& input)
{
    std::vector<std::pair<std::string, fs::path>> seen;
    std::vector<std::string> folders = input.OldReleases;
    folders.push_back(input.NewRelease);
    for (std::size_t i = 0; i < folders.size(); ++i) {
        std::error_code error;
        const fs::path real = fs::canonical(fs::path(folders[i]), error);
        if (error)
            continue; // ReadFolder names what is wrong with it
        for (const auto& [name, other] : seen) {
            if (other != real)
                continue;
            if (i + 1 == folders.size())
                throw Exception("the new release " + folders[i] + " is also given as an old release (" + name +
                                "): the package would take users back to it");
            throw Exception("the old release " + folders[i] + " is given twice (also as " + name + ")");
        }
        seen.emplace_back(folders[i], real);
    }
}

std::string InstalledPath(const std::string& root, const std::string& relative)
{
    std::string path = root;
    if (!path.empty() && path.back() != '\\')
        path += '\\';
    std::string tail = relative;
    std::replace(tail.begin(), tail.end(), '/', '\\');
    return path + tail;
}

} // namespace

bool WildcardMatch(const std::string& utf8Pattern, const std::string& utf8Name)
{
    // Letter by letter, so that '?' stands for a whole letter, not one of its bytes.
    const std::u32string pattern = Letters(utf8Pattern);
    const std::u32string name = Letters(utf8Name);
    // Iterative match with one back-track point: the last '*' seen.
    std::size_t p = 0, n = 0, star = std::u32string::npos, mark = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || Lower(pattern[p]) == Lower(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = n;
        } else if (star != std::u32string::npos) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

TReleaseKit DeriveReleaseKit(const TReleaseKitInput& input)
{
    if (input.OldReleases.empty())
        throw Exception("at least one old release folder is needed");
    CheckDistinct(input);
    TReleaseKit kit;
    std::vector<TFolderFiles> olds;
    for (const std::string& folder : input.OldReleases) {
        olds.push_back(ReadFolder(folder, input.InstalledRoot));
        const auto u8 = fs::path(folder).lexically_normal().filename().u8string();
        std::string name(u8.begin(), u8.end());
        if (name.empty()) {
            const auto parent = fs::path(folder).lexically_normal().parent_path().filename().u8string();
            name.assign(parent.begin(), parent.end());
        }
        kit.Names.push_back(name);
    }
    const auto news = ReadFolder(input.NewRelease, input.InstalledRoot);

    std::map<std::string, std::string> all; // lower-case key -> relative path as first seen
    for (const auto& [key, file] : news)
        all.emplace(key, file.Relative);
    for (const auto& old : olds)
        for (const auto& [key, file] : old)
            all.emplace(key, file.Relative);

    std::vector<bool> patternUsed(input.MustHave.size(), false);
    for (const auto& [key, relative] : all) {
        TKitFile file;
        file.Relative = relative;
        auto inNew = news.find(key);
        std::vector<std::string> digests;
        for (const auto& old : olds) {
            auto it = old.find(key);
            if (it == old.end()) {
                file.VersionOf.push_back(-1);
                continue;
            }
            const std::string digest = FileMD5Text(it->second.Real);
            auto seen = std::find(digests.begin(), digests.end(), digest);
            if (seen == digests.end()) {
                digests.push_back(digest);
                file.Old.push_back(it->second.Real);
                file.VersionOf.push_back(static_cast<int>(digests.size()) - 1);
            } else {
                file.VersionOf.push_back(static_cast<int>(seen - digests.begin()));
            }
        }
        if (inNew == news.end()) {
            file.Decision = TKitDecision::Removed;
        } else {
            file.New = inNew->second.Real;
            const bool inEvery = std::find(file.VersionOf.begin(), file.VersionOf.end(), -1) == file.VersionOf.end();
            if (digests.empty()) {
                file.Decision = TKitDecision::Added;
            } else if (inEvery && digests.size() == 1 && digests[0] == FileMD5Text(file.New)) {
                file.Decision = TKitDecision::Unchanged;
                for (std::size_t i = 0; i < input.MustHave.size(); ++i) {
                    if (WildcardMatch(input.MustHave[i], relative)) {
                        patternUsed[i] = true;
                        file.Decision = TKitDecision::MustHave;
                    }
                }
            } else {
                file.Decision = TKitDecision::Patch;
            }
        }
        const std::string installed = InstalledPath(input.InstalledRoot, relative);
        if (file.Decision == TKitDecision::Patch) {
            TBuildPatch patch;
            patch.TargetPath = installed;
            patch.OldFiles = file.Old;
            patch.NewFile = file.New;
            kit.Manifest.Patches.push_back(std::move(patch));
        } else if (file.Decision == TKitDecision::MustHave) {
            kit.Manifest.MustHaveSets.push_back({TBuildFile{installed, file.New, true}});
        }
        kit.Files.push_back(std::move(file));
    }
    for (std::size_t i = 0; i < input.MustHave.size(); ++i) {
        if (!patternUsed[i])
            throw Exception("must-have \"" + input.MustHave[i] + "\" names no file that is the same in every release");
    }
    return kit;
}

} // namespace upd::package
