// Small file operations shared by the stages.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/File.h"
#include "base/Path.h"

namespace upd::version {

/// The size of the file found by a directory search for exactly this name
/// (any attributes: hidden, system, read-only files and folders; a folder
/// counts as 0). Nothing when the search finds no entry.
std::optional<std::int64_t> FindFileSize(const TPath& fileName);

/// The same as a 32-bit size; -1 when nothing is found. Callers that compare
/// sizes must check existence first (FindFileSize does both).
std::int32_t GetFileSizeOf(const TPath& fileName);

/// The temporary folder, read once from the system (normally ending in a
/// path separator until MakeTempFileName shortens it).
TPath TempFolder();

/// A name in the temporary folder that no file or folder has yet:
/// <TempFolder>\<Prefix>_<n>.<Extension> with the first free n from 1.
/// A trailing separator of the stored temporary folder is removed once. The
/// file is not created.
TPath MakeTempFileName(const std::string& prefix, const std::string& extension);

/// Creates a new file <TempFolder>\<Prefix>_<n>.<Extension> for the first n
/// from 1 whose creation succeeds: a name that anything holds already (a
/// file, a folder, a link, even one that leads nowhere) fails the creation
/// and the next n is tried; nothing that exists is ever opened or followed.
/// The file is open for reading and writing; on Windows nobody else may
/// write it, rename it or delete it while it stays open. Raises EOSError when the
/// folder refuses the creation for another reason.
TFile CreateTempFile(const std::string& prefix, const std::string& extension);

/// Overrides the temporary folder (tests, and tools that work elsewhere).
void SetTempFolder(const TPath& folder);

} // namespace upd::version
