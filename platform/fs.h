// Folders, renames, new output files and the user's home, over POSIX.
#pragma once

#include <filesystem>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/device.h"

namespace platform {

// Creates one folder, given to the invoking user (platform/owner.h) when run
// through sudo or pkexec. True when it was made; an existing folder (or any
// failure) is not reported otherwise.
bool CreateFolder(const std::string& path);

// Creates a folder and every missing folder above it. Returns: 0 (also when
// it existed), or the errno of the failure.
int CreateFolderPath(const std::string& path);

// Sets a file's modification (and access) time to `seconds` since 1970 UTC,
// without following a symbolic link. Returns: 0, or the errno of the failure.
int SetModificationTime(const std::string& path, int64_t seconds);

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

// Whether `name` may be used as a file name taken from a file's contents:
// not empty, not "." or "..", valid UTF-8 (no overlong forms, surrogates or
// code points past U+10FFFF), no "/" and no control characters (below 0x20,
// 0x7F, and U+0080 to U+009F, which terminals also take as controls).
bool IsSafeName(const std::string& name);

// An open folder (O_DIRECTORY|O_NOFOLLOW): files are created in it by
// descriptor, so a folder swapped for a link meanwhile is never followed.
class Folder {
 public:
  Folder() = default;
  explicit Folder(int fd) : fd_(fd) {}
  ~Folder();
  Folder(Folder&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Folder& operator=(Folder&& other) noexcept;
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  int fd() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Opens an existing folder; a symbolic link at `path` (its last part) is
// refused. Empty Folder with errno set on failure.
Folder OpenFolder(const std::string& path);

// A file just created by CreateNewFile, written from its start. Every write
// is checked: a short write or an error fails, and error() keeps its errno
// (a write that makes no progress counts as ENOSPC).
class NewFile : public Device {
 public:
  NewFile(int fd, int folderFd, std::string name);
  ~NewFile() override;

  bool Read(void* buffer, uint32_t count, uint32_t* got) override;
  bool Write(const void* buffer, uint32_t count, uint32_t* written) override;
  bool Seek(uint64_t offset) override;
  bool Skip(int64_t delta) override;
  bool SeekEnd() override;
  uint64_t Position() const override { return pos_; }
  bool Flush() override;
  bool Length(uint64_t* bytes) override;

  // Writes all of `count` bytes at the position; false on any failure.
  bool WriteAll(const void* data, size_t count);
  // Closes the file, reporting a failure the system only gives at close (a
  // full disk on network file systems); false with error() set.
  bool Close();
  // Removes the file (by its name in its folder) and closes it: a cut file
  // is not left behind. False with error() set when it cannot be removed.
  bool Remove();

  // The name it was created under, in its folder.
  const std::string& name() const { return name_; }
  // The errno of the first failure, 0 when there was none.
  int error() const { return error_; }

 private:
  bool Fail(int error);
  int fd_;
  int folderFd_;
  std::string name_;
  uint64_t pos_ = 0;
  int error_ = 0;
};

// What CreateNewFile gives: the file (null on failure), the name used, and
// the errno of the failure.
struct CreatedFile {
  std::unique_ptr<NewFile> file;
  std::string name;
  int error = 0;
};

// Creates `base.ext` in `folder` (O_CREAT|O_EXCL|O_NOFOLLOW: nothing is
// replaced, no link followed); when that name is taken by anything, tries
// `base_1.ext`, `base_2.ext` ... An empty `ext` gives names without a dot.
// A base that is not a safe name (IsSafeName) fails with EINVAL; an empty
// base with an extension gives `.ext`, `_1.ext` ... The file is given to the
// invoking user (platform/owner.h), where the file system allows.
CreatedFile CreateNewFile(const Folder& folder, const std::string& base, const std::string& ext);
// The same in the folder at `folderPath`, opened as OpenFolder does.
CreatedFile CreateNewFile(const std::string& folderPath, const std::string& base,
                          const std::string& ext);

}  // namespace platform
