// The manifest of updkit build and the rule that every package, manifest
// and release names each installed file once.
#pragma once

#include <string>
#include <vector>

#include "package/UpdateBuilder.h"

namespace updkit {

/// Reads and checks a manifest; relative file names count from its folder.
upd::package::TBuildManifest ReadManifest(const std::string& file);
/// Writes the manifest of a build (the first alternative of each must-have
/// set); the stub is named only when it was given.
void WriteManifest(const std::string& fileName, const upd::package::TBuildManifest& manifest, bool stubGiven);
/// The release wizard when none is named: the setup.exe beside updkit itself.
std::string DefaultStub();

/// The installed paths of one set: its alternatives, or
/// a patch set's target.
struct TNamedSet {
    std::string Name; ///< for messages: "patches[1]", "patch set 2"
    std::vector<std::string> Paths;
};

/// Raises when two sets name one installed file, whatever the case or the
/// slashes; `what` starts the message ("manifest", the package's name).
void CheckEachFileOnce(const std::vector<TNamedSet>& sets, const std::string& what);

/// The sets of a package's update description, for CheckEachFileOnce.
std::vector<TNamedSet> PackageSets(const upd::package::TUpdate& update);

} // namespace updkit
