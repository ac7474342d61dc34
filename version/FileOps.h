// Small file operations shared by the stages.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace upd::version {

/// The size of the file found by a directory search for exactly this name
/// (any attributes: hidden, system, read-only files and folders; a folder
/// counts as 0). Nothing when the search finds no entry.
std::optional<std::int64_t> FindFileSize(const std::string& fileName);

/// The same as a 32-bit size; -1 when nothing is found. Callers that compare
/// sizes must check existence first (FindFileSize does both).
std::int32_t GetFileSizeOf(const std::string& fileName);

/// The temporary folder, read once from the system (normally ending in a
/// path separator until MakeTempFileName shortens it).
std::string TempFolder();

/// A name in the temporary folder that no file or folder has yet:
/// <TempFolder>\<Prefix>_<n>.<Extension> with the first free n from 1.
/// A trailing separator of the stored temporary folder is removed once. The
/// file is not created.
std::string MakeTempFileName(const std::string& prefix, const std::string& extension);

/// Overrides the temporary folder (tests, and tools that work elsewhere).
void SetTempFolder(const std::string& folder);

} // namespace upd::version
