// The names of installed files as a release engineer's tools must see them:
// one file may be named with other letter cases or other slashes, and a name
// that Windows or the package's code page cannot hold would be shipped as a
// file no user ever has.
#pragma once

#include <string>
#include <string_view>

namespace upd::package {

/// The installed path's identity: '/' read as '\\', runs of '\\' as one, and
/// the letters of code page 1250 compared without regard to case (a letter
/// the page lacks reads as '?', as the package would store it).
std::string InstalledPathKey(std::string_view utf8Path);

/// Why `utf8Relative` (a path inside a release folder, '/' between folders)
/// cannot be installed under `utf8Root` on Windows or stored in the
/// package's code page; empty when it can.
std::string WhyNotInstallable(std::string_view utf8Relative, std::string_view utf8Root);

} // namespace upd::package
