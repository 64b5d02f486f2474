// Folders, renames and the user's home, over POSIX.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Creates one folder; an existing folder (or any failure) is not reported.
bool CreateFolder(const std::string& path);

// Renames `from` to `to` only when nothing is at `to` yet.
bool RenameNoReplace(const std::string& from, const std::string& to);

// Replaces `path` by a file holding `contents`, so that a reader (or a crash)
// sees the old file or the new one whole: writes path + ".new" (never through
// a symbolic link), flushes it, renames it over `path`, then flushes the
// folder. Returns 0, or the errno of the step that failed; a failure before the
// rename leaves `path` as it was and removes path + ".new".
int ReplaceFileAtomically(const std::string& path, std::string_view contents);

// The user's home folder: $HOME, else the password database, else "/".
std::string HomeFolder();

bool IsBlockDevice(const std::string& path);
bool Exists(const std::string& path);
bool IsRegularFile(const std::string& path);

// The entries of a folder, in the order the system gives them; what cannot be
// read is left out (never an exception: sysfs folders can vanish while read).
std::vector<std::filesystem::path> FolderEntries(const std::filesystem::path& folder);

// `path` made absolute against the working folder (not resolved further).
std::string AbsolutePath(const std::string& path);

// Whether two paths name the same file or device node (or the same device:
// a node and another node of one block device).
bool SameFile(const std::string& a, const std::string& b);

// A short reason why `path` could not be opened, for messages: the system's
// error text, with a hint when a block device needs root.
std::string OpenFailureReason(const std::string& path, int error);

}  // namespace platform
