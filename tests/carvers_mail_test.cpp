#include <filesystem>

#include "carvers/mail.h"
#include "tests/carver_cases.h"

namespace {

using namespace carver_cases;
using carvers::CarveDbx;
using carvers::CarvePst;
using testing_support::FilesIn;
using testing_support::ReadFile;
using testing_support::TempDir;

Bytes Pst(uint32_t size, size_t bytes) {
  Bytes b = Filler(bytes);
  Put(b, 0, "!BDN");
  PutLe32(b, 168, size);
  return b;
}

// A mail folder file with its stored name at 9665 (none when empty).
Bytes Dbx(uint32_t sizeValue, const std::string& name, size_t bytes = 12000) {
  Bytes b = Filler(bytes);
  Put(b, 0, Raw({0xCF, 0xAD, 0x12, 0xFE}));
  PutLe32(b, 36, sizeValue);
  if (b.size() > 9665 + name.size()) {
    Put(b, 9665, name);
    b[9665 + name.size()] = 0;
  }
  return b;
}

TEST(MailCarvers, SignaturesAndBoundsFromTheSizeFields) {
  RunCarveCases({
      {"pst of 1 MiB", CarvePst, Pst(1048576, 4096), 1, 2048, "4.pst"},
      {"pst one byte more", CarvePst, Pst(1048577, 4096), 1, 2049, "4.pst"},
      {"pst of size 0: an empty file", CarvePst, Pst(0, 4096), 1, 0, "4.pst"},
      {"pst of the largest size", CarvePst, Pst(0xFFFFFFFF, 4096), 1, 8388608, "4.pst"},
      {"dbx of size value 1", CarveDbx, Dbx(1, ""), 1, 5000001 / 512, "4.dbx"},
      {"dbx of a large size value is capped", CarveDbx, Dbx(2000000000, ""), 1, 3800000, "4.dbx"},
      // 4294967295 + 5000000 wraps to 4999999.
      {"dbx sum wraps", CarveDbx, Dbx(0xFFFFFFFF, ""), 1, 4999999 / 512, "4.dbx"},
      {"dbx of size value 0 is refused", CarveDbx, Dbx(0, ""), 0, 0, nullptr},
      {"no signature", CarvePst, Filler(4096), 0, 0, nullptr},
  });
}

TEST(CarveDbx, RenamesAfterTheStoredNameWithTheSectorWhenTaken) {
  TempDir dir;
  testing_support::ScriptedShell shell;
  Bytes image = Filler(800 * 512);
  for (size_t sector : {100, 500, 700}) {
    Put(image, sector * 512, [] {
      Bytes b = Dbx(1000, "Inbox");
      return std::string(b.begin(), b.end());
    }());
  }
  for (uint64_t sector : {100, 500, 700}) {
    EXPECT_EQ(RunCarver(CarveDbx, image, sector, dir.path(), shell, dir / "image").result, 1);
  }
  EXPECT_EQ(FilesIn(dir.path()),
            (std::vector<std::string>{"Inbox(500).dbx", "Inbox(700).dbx", "Inbox.dbx", "image"}));
  // Each is the copy from its own sector: the DBX copy runs ~4.8 MB past
  // the size, here to the end of the image.
  EXPECT_EQ(ReadFile(dir / "Inbox(500).dbx"), Bytes(image.begin() + 500 * 512, image.end()));
  EXPECT_TRUE(shell.boxes.empty());
}

TEST(CarveDbx, KeepsTheSectorNameForUnusableStoredNames) {
  struct Case {
    const char* name;
    std::string stored;
  } cases[] = {
      {"empty", ""},
      {"starts with a blank", " Inbox"},
      {"starts above 7F", "\xC4nderungen"},
      {"starts with a dot", "../../escaped"},
      // Names that would leave the type folder are never used, also where
      // the folder they point through exists.
      {"holds a slash", "sub/../../escaped"},
      {"holds a slash, with sector fallback", "sub/x"},
      // Names that would reach a terminal or a file manager as controls.
      {"holds a newline", "In\nbox"},
      {"holds an escape sequence", "Inbox\x1b]0;owned\x07"},
      {"holds DEL", "Inbox\x7f"},
      {"invalid UTF-8", "Inbox \xff\xfe"},
      {"a lone continuation byte", "Inbox\x80x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string folder = dir / "DBX";
    std::filesystem::create_directories(folder + "/sub");
    // The name is taken already, so the fallback with the sector is tried too.
    testing_support::WriteFile(folder + "/sub/x.dbx", {1});
    testing_support::ScriptedShell shell;
    const Bytes image = ImageWith(Dbx(1000, c.stored), 4, 40);
    EXPECT_EQ(RunCarver(CarveDbx, image, 4, folder, shell, dir / "image").result, 1);
    EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"4.dbx"});
    EXPECT_EQ(FilesIn(folder + "/sub"), std::vector<std::string>{"x.dbx"});
    EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"image"});
  }
}

TEST(CarveDbx, AFirstReadShortOfTheStoredNameGivesNoName) {
  TempDir dir;
  testing_support::ScriptedShell shell;
  // A named file first, then a header 9000 bytes before the image's end:
  // its first read stops before offset 9665, so it has no stored name.
  Bytes image = Filler(100 * 512);
  Bytes named = Dbx(1000, "Inbox");
  Put(image, 10 * 512, std::string(named.begin(), named.end()));
  Bytes tail = Dbx(1000, "", 9000);
  image.resize(80 * 512 + 9000);
  Put(image, 80 * 512, std::string(tail.begin(), tail.end()));
  EXPECT_EQ(RunCarver(CarveDbx, image, 10, dir.path(), shell, dir / "image").result, 1);
  EXPECT_EQ(RunCarver(CarveDbx, image, 80, dir.path(), shell, dir / "image").result, 1);
  EXPECT_EQ(FilesIn(dir.path()), (std::vector<std::string>{"80.dbx", "Inbox.dbx", "image"}));
  EXPECT_EQ(ReadFile(dir / "80.dbx"), tail);

  // A first read that ends inside the name takes only the bytes it read.
  TempDir dir2;
  Bytes cut = Dbx(1000, "Outbox");
  cut.resize(9668);
  EXPECT_EQ(RunCarver(CarveDbx, cut, 0, dir2.path(), shell, dir2 / "image").result, 1);
  EXPECT_EQ(FilesIn(dir2.path()), (std::vector<std::string>{"Out.dbx", "image"}));
}

TEST(CarveDbx, ANameTooLongForItsPathKeepsTheSectorName) {
  TempDir dir;
  testing_support::ScriptedShell shell;
  const std::string folder = DeepFolder(dir.path(), 4000);
  ASSERT_EQ(folder.size(), 4000u);
  const Bytes image = ImageWith(Dbx(1000, std::string(100, 'N')), 4, 40);
  EXPECT_EQ(RunCarver(CarveDbx, image, 4, folder, shell, dir / "image").result, 1);
  EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"4.dbx"});
}

}  // namespace
