// The file operations of the update stage that the portable file class does
// not cover: attributes, copies, replacing a file in place, folder chains.
// Windows paths are code page 1250; raising functions raise EOSError.
#pragma once

#include <string>

namespace upd::wizard {

/// Removes every attribute (read-only above all); false when it could not.
bool ClearAttributes(const std::string& path) noexcept;
/// Gives a file the read-only attribute (on POSIX: takes its write bits).
void SetReadOnly(const std::string& path);
bool IsReadOnly(const std::string& path);
/// Copies a file over any existing one; the copy keeps the read-only attribute.
void CopyFileOver(const std::string& from, const std::string& to);
/// Puts `staged` in the place of `target` in one rename, whatever the
/// target's attributes; the target is left as it was when this fails.
void ReplaceWithStaged(const std::string& staged, const std::string& target);
/// Creates a folder and every missing parent.
void ForceFolders(const std::string& folder);

} // namespace upd::wizard
