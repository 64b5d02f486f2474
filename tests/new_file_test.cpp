// New output files: never replacing or following what is at their name,
// every write checked; and which names from file contents are safe to use.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/fs.h"
#include "tests/support/fixtures.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

struct NameCase {
  const char* what;
  std::string name;
  bool safe;
};

TEST(SafeName, OnlyValidUtf8WithoutControlsSlashesOrDotNames) {
  const NameCase cases[] = {
      {"plain", "Holiday 2019", true},
      {"accents", "\xC3\xA9t\xC3\xA9 \xC3\xA0 Z\xC3\xBCrich", true},
      {"three-byte", "\xE2\x82\xAC 5", true},
      {"four-byte", "\xF0\x9F\x93\xB7", true},
      {"last code point", "\xF4\x8F\xBF\xBF", true},
      {"dots inside", "a..b", true},
      {"empty", "", false},
      {"dot", ".", false},
      {"dot dot", "..", false},
      {"slash", "a/b", false},
      {"newline", "a\nb", false},
      {"tab", "a\tb", false},
      {"nul", std::string("a\0b", 3), false},
      {"delete", "a\x7F", false},
      {"title escape", "\x1B]0;owned\x07", false},
      {"colour escape", "\x1B[31mred", false},
      {"C1 control CSI", "a\xC2\x9B" "31m", false},
      {"lone continuation byte", "a\x80", false},
      {"latin-1 byte", "caf\xE9", false},
      {"cut sequence", "\xE2\x82", false},
      {"overlong slash", "\xC0\xAF", false},
      {"overlong three-byte slash", "\xE0\x80\xAF", false},
      {"overlong four-byte", "\xF0\x80\x80\x80", false},
      {"surrogate", "\xED\xA0\x80", false},
      {"past U+10FFFF", "\xF4\x90\x80\x80", false},
      {"five-byte lead", "\xF8\x88\x80\x80\x80", false},
  };
  for (const NameCase& c : cases) EXPECT_EQ(platform::IsSafeName(c.name), c.safe) << c.what;
}

class NewFileTest : public ::testing::Test {
 protected:
  std::string Create(const std::string& base, const std::string& ext) {
    platform::CreatedFile created = platform::CreateNewFile(dir.path(), base, ext);
    EXPECT_TRUE(created.file) << base << ": " << std::strerror(created.error);
    if (!created.file) return "";
    EXPECT_EQ(created.file->name(), created.name);
    EXPECT_TRUE(created.file->WriteAll("new", 3));
    EXPECT_TRUE(created.file->Close());
    return created.name;
  }

  TempDir dir;
};

TEST_F(NewFileTest, WhatIsAtTheNameIsKeptAndTheNextFreeNameUsed) {
  WriteFile(dir / "4068.jpg", {'o', 'l', 'd'});
  fs::create_directory(dir / "4068_1.jpg");
  WriteFile(dir / "outside", {'k', 'e', 'e', 'p'});
  fs::create_symlink(dir / "outside", dir / "4068_2.jpg");
  fs::create_symlink(dir / "nowhere", dir / "4068_3.jpg");  // dangling

  EXPECT_EQ(Create("4068", "jpg"), "4068_4.jpg");
  EXPECT_EQ(Create("4068", "jpg"), "4068_5.jpg");
  EXPECT_EQ(ReadFile(dir / "4068.jpg"), (Bytes{'o', 'l', 'd'}));
  EXPECT_EQ(ReadFile(dir / "outside"), (Bytes{'k', 'e', 'e', 'p'}));
  EXPECT_FALSE(fs::exists(dir / "nowhere")) << "a dangling link is not followed either";
  EXPECT_EQ(ReadFile(dir / "4068_4.jpg"), (Bytes{'n', 'e', 'w'}));
  EXPECT_EQ(Create("notes", ""), "notes");
  EXPECT_EQ(Create("notes", ""), "notes_1");
}

TEST_F(NewFileTest, AFolderThatIsALinkOrMissingOrAnUnsafeNameIsRefused) {
  fs::create_directory(dir / "real");
  fs::create_directory_symlink(dir / "real", dir / "JPEG");
  struct Case {
    std::string folder, base;
    int error;
  } cases[] = {
      {dir / "JPEG", "1", ENOTDIR},  // O_DIRECTORY is checked before O_NOFOLLOW
      {dir / "missing", "1", ENOENT},
      {dir.path(), "a\nb", EINVAL},
      {dir.path(), "..", EINVAL},
  };
  for (const Case& c : cases) {
    platform::CreatedFile created = platform::CreateNewFile(c.folder, c.base, "jpg");
    EXPECT_FALSE(created.file) << c.folder << " " << c.base;
    EXPECT_EQ(created.error, c.error) << c.folder << " " << c.base;
  }
  EXPECT_TRUE(FilesIn(dir / "real").empty());
}

TEST_F(NewFileTest, RemoveTakesAwayTheFileInHandOnly) {
  platform::CreatedFile created = platform::CreateNewFile(dir.path(), "7", "pdf");
  ASSERT_TRUE(created.file);
  ASSERT_TRUE(created.file->WriteAll("partial", 7));
  EXPECT_TRUE(created.file->Remove());
  EXPECT_FALSE(fs::exists(dir / "7.pdf"));
  WriteFile(dir / "7.pdf", {'x'});
  EXPECT_FALSE(created.file->Remove()) << "removed once already";
  EXPECT_TRUE(fs::exists(dir / "7.pdf"));
}

// A full disk: a 64 KiB tmpfs (root only).
TEST_F(NewFileTest, AFullDiskFailsTheWriteWithItsError) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a tmpfs";
  const std::string mnt = dir / "small";
  fs::create_directory(mnt);
  if (::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(errno);
  }
  {
    platform::CreatedFile created = platform::CreateNewFile(mnt, "big", "bin");
    ASSERT_TRUE(created.file);
    const Bytes chunk(256 * 1024, 0x5A);
    uint32_t written = 0;
    EXPECT_FALSE(created.file->Write(chunk.data(), static_cast<uint32_t>(chunk.size()), &written));
    EXPECT_EQ(created.file->error(), ENOSPC);
    EXPECT_LT(written, chunk.size());
    EXPECT_FALSE(created.file->Close()) << "the failure stays reported";
    EXPECT_TRUE(created.file->Remove());
    EXPECT_TRUE(FilesIn(mnt).empty());
  }
  ::umount2(mnt.c_str(), MNT_DETACH);
}

}  // namespace
