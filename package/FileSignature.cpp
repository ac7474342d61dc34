#include "package/FileSignature.h"

#include "package/Md5Hash.h"
#include "version/CEVersionInfo.h"
#include "version/FileOps.h"

namespace upd::package {

bool SignatureMatches(const TFileSignature& signature)
{
    // Cheapest first, so that a file of the wrong size or version is never read.
    auto size = version::FindFileSize(signature.FileName);
    if (!size || *size != signature.Size)
        return false;
    if (!signature.Version.empty() && version::GetFileVersionText(signature.FileName) != signature.Version)
        return false;
    // An unreadable file gives the empty text; it must not match even a
    // description that stores an empty digest.
    std::string digest = FileMD5Text(signature.FileName);
    return !digest.empty() && digest == signature.Hash;
}

} // namespace upd::package
