#include <filesystem>

#include "carvers/office_docs.h"
#include "tests/support/fault_device.h"
#include "tests/carver_cases.h"

namespace {

using namespace carver_cases;
using carvers::CarveDoc;
using carvers::CarveExcel;
using testing_support::FilesIn;
using testing_support::ReadFile;
using testing_support::TempDir;

const std::string kCompound = Raw({0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1});
const std::string kDocKind = Raw({0x0E, 0x00, 'b', 'j', 'b', 'j'});
const std::string kExcelKind = Raw({0xE2, 0x00, 0x00, 0x00, 0x5C, 0x00, 0x70});
const std::string kTitlePattern = Raw({0x00, 0x0C, 0x10, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x1E});

// A compound file of `sectors` sectors: signature, first directory sector,
// and the kind bytes at 544.
Bytes Compound(size_t sectors, const std::string& kind, uint32_t directorySector) {
  Bytes b = Filler(sectors * 512);
  Put(b, 0, kCompound);
  PutLe32(b, 48, directorySector);
  Put(b, 544, kind);
  return b;
}

// Puts a title property whose word "Title" starts at `p`: a zero byte, the
// title, the 10-byte pattern, 7 bytes, then the word.
void PutTitle(Bytes& b, size_t p, const std::string& title,
              const std::string& pattern = kTitlePattern) {
  b[p - 18 - title.size()] = 0;
  Put(b, p - 17 - title.size(), title);
  Put(b, p - 17, pattern);
  Put(b, p, "Title");
}

TEST(OfficeDocCarvers, SignaturesBoundsAndWrapAround) {
  RunCarveCases({
      {"document, directory 40", CarveDoc, Compound(50, kDocKind, 40), 1, 45, "4.doc"},
      {"workbook, directory 40", CarveExcel, Compound(50, kExcelKind, 40), 1, 42, "4.xls"},
      {"document, capped", CarveDoc, Compound(50, kDocKind, 2000000), 1, 1380000, "4.doc"},
      {"workbook, capped", CarveExcel, Compound(50, kExcelKind, 2000000), 1, 1380000, "4.xls"},
      {"document, sum wraps", CarveDoc, Compound(50, kDocKind, 0xFFFFFFFE), 1, 3, "4.doc"},
      {"workbook, sum wraps to 0", CarveExcel, Compound(50, kExcelKind, 0xFFFFFFFE), 1, 0, "4.xls"},
      {"workbook bytes are no document", CarveDoc, Compound(50, kExcelKind, 40), 0, 0, nullptr},
      {"document bytes are no workbook", CarveExcel, Compound(50, kDocKind, 40), 0, 0, nullptr},
      {"no signature", CarveDoc, Filler(1024), 0, 0, nullptr},
  });
}

TEST(OfficeDocCarvers, SecondTestReadsTheNextSectorWhenTheChunkEndsBeforeIt) {
  TempDir dir;
  testing_support::ScriptedShell shell;
  // Documents at the last sector of the first chunk and of the second.
  Bytes image = ImageWith(Compound(10, kDocKind, 5), 511, 1100);
  Put(image, 1023 * 512,
      std::string(reinterpret_cast<const char*>(Compound(10, kExcelKind, 5).data()), 5120));
  CarveRun run = RunCarver(CarveDoc, image, 511, dir.path(), shell, dir / "image");
  EXPECT_EQ(run.result, 1);
  EXPECT_TRUE(run.positionKept);
  EXPECT_EQ(ReadFile(dir / "511.doc").size(), 10u * 512);
  // A workbook there is no document, and is a workbook.
  EXPECT_EQ(RunCarver(CarveDoc, image, 1023, dir.path(), shell, dir / "image").result, 0);
  run = RunCarver(CarveExcel, image, 1023, dir.path(), shell, dir / "image");
  EXPECT_EQ(run.result, 1);
  EXPECT_TRUE(run.positionKept);

  // When the next sector cannot be read, the test fails and the position
  // is still kept.
  auto device = platform::FaultyDevice::Open(dir / "image", {512});
  ASSERT_TRUE(device);
  device->Seek(7 * 512);
  EXPECT_EQ(testing_support::Carve(CarveDoc, 511, *device, {image.data() + 511 * 512, 512}, dir.path(), shell), 0);
  EXPECT_EQ(device->Position(), 7u * 512);
}

TEST(FindDocTitle, TakesTheRunBeforeThePatternOfTheFirstTitleWord) {
  struct Case {
    const char* name;
    Bytes pass;
    int result;
    std::string title;
  };
  auto with = [](const std::string& title, size_t p = 400,
                 const std::string& pattern = kTitlePattern) {
    Bytes b = Filler(1024);
    PutTitle(b, p, title, pattern);
    return b;
  };
  Bytes atStart = Filler(100);
  Put(atStart, 0, "Report");  // the run reaches the start of the pass
  Put(atStart, 6, kTitlePattern);
  Put(atStart, 23, "TITLE");
  Bytes zeroBefore = with("x");
  zeroBefore[400 - 18] = 0;
  Bytes tooClose = Filler(100);
  Put(tooClose, 10, "Title");
  Bytes lowerBeforeUpper = with("Minutes");
  Put(lowerBeforeUpper, 400, "title");
  Put(lowerBeforeUpper, 900, "T");
  Case cases[] = {
      {"plain", with("Quarterly report"), 1, "Quarterly report"},
      {"unsafe characters become blanks", with("a/b:c*d?e<f>g|h\\i"), 1, "a b c d e f g h i"},
      {"control bytes and high bytes stay", with("x\x01y\xE9"), 1, "x\x01y\xE9"},
      {"a long run gives its last 128 bytes", with(std::string(72, 'A') + std::string(128, 'B')), 1,
       std::string(128, 'B')},
      {"run at the start of the pass", atStart, 1, "Report"},
      {"pattern differs", with("Quarterly", 400, Raw({0, 0x0C, 0x10, 0, 0, 0x02, 0, 0, 0, 0x1F})),
       0, ""},
      {"zero byte right before the pattern", zeroBefore, 0, ""},
      {"word too close to the start", tooClose, 0, ""},
      {"lower-case word before an upper-case T", lowerBeforeUpper, 0, ""},
      {"no word", Filler(1024), 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char title[carvers::kTitleBytes] = "unchanged";
    EXPECT_EQ(carvers::FindDocTitle(c.pass.data(), static_cast<uint32_t>(c.pass.size()), title),
              c.result);
    EXPECT_EQ(std::string(title), c.result ? c.title : "unchanged");
  }
  char title[carvers::kTitleBytes] = "";
  EXPECT_EQ(carvers::FindDocTitle(reinterpret_cast<const uint8_t*>("Titl"), 4, title), 0);
}

TEST(CarveDoc, RenamesAfterAUsableTitleOnly) {
  struct Case {
    const char* name;
    std::string title;
    const char* file;
  } cases[] = {
      {"title", "Quarterly report", "Quarterly report.doc"},
      {"slash and colon", "Q1/Q2: plan", "Q1 Q2  plan.doc"},
      {"starts with a blank", " draft", "5.doc"},
      {"starts with a quotation mark", "\"draft\"", "5.doc"},
      {"starts above 7F", "\xC9t\xE9", "5.doc"},
      {"starts with an unsafe character", "*notes", "5.doc"},
      {"digits", "2024", "2024.doc"},
      {"escape sequence", "Report\x1b]0;owned\x07", "5.doc"},
      {"invalid UTF-8", "Report \xff\xfe", "5.doc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    testing_support::ScriptedShell shell;
    Bytes doc = Compound(20, kDocKind, 15);
    PutTitle(doc, 3000, c.title);
    CarveRun run = RunCarver(CarveDoc, ImageWith(doc, 5, 30), 5, dir.path(), shell, dir / "image");
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(FilesIn(dir.path()), (std::vector<std::string>{c.file, "image"}));
    EXPECT_EQ(ReadFile(dir / c.file), doc);
  }
}

TEST(CarveDoc, TitleOfALaterPassAndTwoDocumentsOfOneTitle) {
  TempDir dir;
  testing_support::ScriptedShell shell;
  // The first pass has a word Title without the pattern; the second a real one.
  Bytes doc = Compound(600, kDocKind, 595);
  PutTitle(doc, 1000, "Wrong", Raw({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  PutTitle(doc, 0x40000 + 5000, "Budget");
  Bytes image = ImageWith(doc, 2, 1300);
  Put(image, 650 * 512, std::string(doc.begin(), doc.end()));
  EXPECT_EQ(RunCarver(CarveDoc, image, 2, dir.path(), shell, dir / "image").result, 1);
  EXPECT_EQ(RunCarver(CarveDoc, image, 650, dir.path(), shell, dir / "image").result, 1);
  // The second document of that title keeps its sector-number name.
  EXPECT_EQ(FilesIn(dir.path()), (std::vector<std::string>{"650.doc", "Budget.doc", "image"}));
  EXPECT_EQ(ReadFile(dir / "Budget.doc"), doc);
}

TEST(CarveDoc, ANewPathTooLongForTheFileSystemKeepsTheSectorName) {
  TempDir dir;
  testing_support::ScriptedShell shell;
  // A folder so deep that folder/5.doc fits in a path and folder/TITLE.doc
  // does not.
  const std::string folder = DeepFolder(dir.path(), 4000);
  ASSERT_EQ(folder.size(), 4000u);
  Bytes doc = Compound(10, kDocKind, 5);
  PutTitle(doc, 2000, std::string(120, 'L'));
  CarveRun run = RunCarver(CarveDoc, ImageWith(doc, 5, 20), 5, folder, shell, dir / "image");
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"5.doc"});
}

}  // namespace
