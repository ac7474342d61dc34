#include "wizard/FileProbes.h"

#include "base/File.h"
#include "version/CEVersionInfo.h"

namespace upd::wizard {

bool TSystemFileProbe::SignatureMatches(const TFileSignature& signature) const
{
    return upd::package::SignatureMatches(signature);
}

bool TSystemFileProbe::FileExists(const std::string& path) const { return upd::FileExists(path); }

std::string TSystemFileProbe::FileVersionText(const std::string& path) const
{
    return upd::version::GetFileVersionText(path);
}

} // namespace upd::wizard
