// Files a clone makes and reads beside its drives: the new image file it
// clones into, the map it goes on from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// Creates a new file of `bytes` bytes that holds no data yet (a sparse file,
// reading as zeros): never over an existing file or through a symbolic link.
// Returns 0, or the errno of the failure; a file it made and could not size
// is removed again.
int CreateSparseFile(const std::string& path, uint64_t bytes);

// The bytes an unprivileged user may still write on the file system of
// `folder` (statvfs). False when it cannot be looked at.
bool FreeSpace(const std::string& folder, uint64_t* bytes);

// Reads the whole regular file at `path` into `text`, refusing one longer
// than `limit` bytes (EFBIG) and anything but a regular file (EINVAL).
// Returns 0, or the errno of the failure.
int ReadWholeFile(const std::string& path, std::string* text, size_t limit);

// Whether `path` is a folder (following links).
bool IsFolder(const std::string& path);
// Removes a file (not a folder); false when it could not.
bool RemoveFile(const std::string& path);

}  // namespace platform
