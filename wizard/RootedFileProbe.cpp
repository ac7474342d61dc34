// The installation inside a folder that stands for the machine's drives. Apart
// from the wizard's own probe: the wizard never links it, nor the file system
// library it uses.
#include "wizard/FileProbes.h"

#include <filesystem>
#include <system_error>

#include "base/File.h"
#include "version/CEVersionInfo.h"

namespace upd::wizard {

namespace fs = std::filesystem;

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

bool SameNameIgnoringCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

// The entry of `folder` named `name`: the exact name when it exists, else the
// first entry whose name differs only in case, else the exact name.
fs::path Child(const fs::path& folder, const std::string& name)
{
    fs::path exact = folder / name;
    std::error_code ec;
    if (fs::exists(exact, ec) || name == "." || name == "..")
        return exact;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (SameNameIgnoringCase(it->path().filename().string(), name))
            return it->path();
    return exact;
}

} // namespace

std::string TRootedFileProbe::MapPath(const std::string& windowsPath) const
{
    fs::path local = m_root;
    std::string rest = windowsPath;
    if (rest.size() >= 2 && rest[1] == ':' &&
        ((rest[0] >= 'A' && rest[0] <= 'Z') || (rest[0] >= 'a' && rest[0] <= 'z'))) {
        local = Child(local, std::string("drive_") + Lower(rest[0]));
        rest = rest.substr(2);
    }
    std::size_t start = 0;
    while (start <= rest.size()) {
        std::size_t end = rest.find_first_of("\\/", start);
        if (end == std::string::npos)
            end = rest.size();
        if (end > start)
            local = Child(local, rest.substr(start, end - start));
        start = end + 1;
    }
    return local.string();
}

bool TRootedFileProbe::SignatureMatches(const TFileSignature& signature) const
{
    TFileSignature local = signature;
    local.FileName = MapPath(signature.FileName);
    // The version check of a signature reads the file's resource the same way
    // on every platform, so the mapped name is all it needs.
    return upd::package::SignatureMatches(local);
}

bool TRootedFileProbe::FileExists(const std::string& path) const { return upd::FileExists(MapPath(path)); }

std::string TRootedFileProbe::FileVersionText(const std::string& path) const
{
    return upd::version::GetFileVersionTextPortable(MapPath(path));
}

} // namespace upd::wizard
