// The type check boxes, the table of file types of the recovery scan, and
// the single-type scans.
#include <filesystem>

#include "base/numbers.h"
#include "scan/file_types.h"
#include "scan/scan_engine.h"
#include "tests/carver_cases.h"

namespace {

using namespace carver_cases;
namespace id = app::id;
using app::Answer;
using testing_support::FilesIn;
using testing_support::ReadFile;
using testing_support::TempDir;

bool IsDir(const std::string& path) { return std::filesystem::is_directory(path); }

// The folder text the window keeps for a type (by its command-line name).
std::string FolderOf(const TestWindow& w, const char* type) {
  const size_t slot = scan::FolderSlot(static_cast<size_t>(scan::FindType(type)));
  return slot < w.dlg.m_types.folders.size() ? w.dlg.m_types.folders[slot] : std::string();
}

TEST(TypeBoxes, EachBoxMakesItsFolderByPlainConcatenation) {
  struct Case {
    int box;
    int app::WindowModel::*flag;
    const char* type;
    const char* name;
  } cases[] = {
      {id::kCheckJpeg, &app::WindowModel::m_recoverJpeg, "jpeg", "JPEG"},
      {id::kCheckQbb, &app::WindowModel::m_recoverQbb, "qbb", "QBB"},
      {id::kCheckPst, &app::WindowModel::m_recoverPst, "pst", "PST"},
      {id::kCheckDbx, &app::WindowModel::m_recoverDbx, "dbx", "DBX"},
      {id::kCheckOffice, &app::WindowModel::m_recoverOffice, "office", "Office"},
      {id::kCheckBmp, &app::WindowModel::m_recoverBmp, "bmp", "bmp"},
      {id::kCheckJpeg0, &app::WindowModel::m_recoverJpeg0, "jpeg0", "JPEG0"},
      {id::kCheckAccess, &app::WindowModel::m_recoverAccess, "access", "Access"},
      {id::kCheckMp3, &app::WindowModel::m_recoverMp3, "mp3", "MP3"},
      {id::kCheckCorelDraw, &app::WindowModel::m_recoverCorelDraw, "coredraw", "CDR"},
      {id::kCheckAvi, &app::WindowModel::m_recoverAvi, "avi", "AVI"},
      {id::kCheckDoc, &app::WindowModel::m_recoverDoc, "doc", "DOC"},
      {id::kCheckExcel, &app::WindowModel::m_recoverExcel, "excel", "Excel"},
      {id::kCheckPdf, &app::WindowModel::m_recoverPdf, "pdf", "PDF"},
      {id::kCheckMcd, &app::WindowModel::m_recoverMcd, "mcd", "MCD"},
      {id::kCheckProgress, &app::WindowModel::m_recoverProgress, "progress", "new"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    TestWindow w;
    const std::string root = dir / "Lumisave";
    w.dlg.SetText(id::kOutputFolder, root);
    EXPECT_TRUE(w.dlg.Press(c.box));
    EXPECT_EQ(w.dlg.*c.flag, 1);
    EXPECT_EQ(FolderOf(w, c.type), root + c.name);
    EXPECT_EQ(w.dlg.m_types.root, root);
    EXPECT_TRUE(IsDir(root + c.name));
    EXPECT_FALSE(IsDir(root));  // beside the root, not in it
    EXPECT_TRUE(w.shell.boxes.empty());

    // Unticking turns the type off, creates nothing and keeps the text.
    std::filesystem::remove(root + c.name);
    w.dlg.Press(c.box);
    EXPECT_EQ(w.dlg.*c.flag, 0);
    EXPECT_EQ(FolderOf(w, c.type), root + c.name);
    EXPECT_FALSE(IsDir(root + c.name));
  }
}

TEST(TypeBoxes, WavOnlyCarriesItsMarkUntilTheNextExchange) {
  TempDir dir;
  TestWindow w;
  w.dlg.SetText(id::kOutputFolder, dir / "L");
  w.dlg.Press(id::kCheckWav);
  EXPECT_TRUE(w.dlg.IsChecked(id::kCheckWav));
  EXPECT_EQ(w.dlg.m_recoverWav, 0);
  EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{});
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  EXPECT_TRUE(w.shell.boxes.empty());
  w.dlg.Press(id::kCheckMp3);
  EXPECT_EQ(w.dlg.m_recoverWav, 1);
}

TEST(TypeBoxes, AnEmptyRootShowsTheMessageAndLeavesTheTypeOn) {
  TestWindow w;
  w.dlg.SetText(id::kOutputFolder, "");
  w.dlg.Press(id::kCheckQbb);
  EXPECT_EQ(w.shell.Lines(),
            std::vector<std::string>{"Lumisave: Please input Directory to output files"});
  EXPECT_EQ(w.dlg.m_recoverQbb, 1);
  EXPECT_EQ(FolderOf(w, "qbb"), "");
}

TEST(TypeBoxes, AFailedExchangeKeepsTheFlagsAndTheCommandGoesOn) {
  TempDir dir;
  TestWindow w;
  w.dlg.SetText(id::kOutputFolder, dir / "L");
  w.dlg.SetText(id::kSectorsPerCluster, "none");
  w.dlg.Press(id::kCheckQbb);
  EXPECT_EQ(w.shell.Lines(),
            std::vector<std::string>{"Lumisave: Please enter a positive integer."});
  EXPECT_EQ(w.dlg.m_recoverQbb, 0);  // the exchange stopped before the flags
  EXPECT_EQ(w.dlg.m_types.root, dir / "L");
  EXPECT_FALSE(IsDir(dir / "LQBB"));
}

// Writes `image`, picks it as the source and the folder `root`.
void Prepare(TestWindow& w, const testing_support::ImageBuilder& image, const std::string& path,
             const std::string& root) {
  image.WriteTo(path);
  w.dlg.SetText(id::kOutputFolder, root);
  w.PickSource(path);
}

TEST(TypeBoxes, ATypeTickedWithoutAnOutputFolderNeverWritesIntoTheFileSystemRoot) {
  TempDir dir;
  TestWindow w;
  w.dlg.SetText(id::kOutputFolder, "");
  w.dlg.Press(id::kCheckBmp);  // the message; the type stays on, its folder text empty
  testing_support::ImageBuilder image(4200);
  image.PutSector(4093, SampleFile("bmp"));
  Prepare(w, image, dir / "image", dir / "L");
  w.shell.answers.push_back(Answer::kYes);
  w.dlg.Press(id::kStartRe);
  EXPECT_EQ(w.shell.Lines(),
            (std::vector<std::string>{"Lumisave: Please input Directory to output files",
                                      "Save Picture in this folder ?: " + dir / "L",
                                      "Create File failed !: /4093.bmp",
                                      "the end: hit the end of the drive !"}));
  EXPECT_FALSE(std::filesystem::exists("/4093.bmp"));
  std::filesystem::remove("/4093.bmp");
}

// The carved types of the window's check boxes, in the order a sector is
// offered to them.
std::vector<scan::TypeToScan> CarvedTypes() {
  std::vector<scan::TypeToScan> types;
  for (const scan::TypeEntry& e : scan::FileTypes()) {
    if (e.type->carve != nullptr && e.boxId != 0) types.push_back({e.type, ""});
  }
  return types;
}

TEST(FileTypes, FifteenCarvedTypesInScanOrder) {
  std::vector<std::string> names;
  for (const scan::TypeToScan& t : CarvedTypes()) names.push_back(t.type->name);
  EXPECT_EQ(names, (std::vector<std::string>{"jpeg", "doc", "qbb", "pst", "bmp", "avi", "dbx",
                                             "office", "excel", "access", "jpeg0", "coredraw",
                                             "pdf", "mcd", "progress"}));
  // Progress files share the JPEG folder.
  EXPECT_EQ(scan::FolderSlot(static_cast<size_t>(scan::FindType("progress"))),
            static_cast<size_t>(scan::FindType("jpeg")));
}

// The first-byte pre-filter only skips calls that could not match: for
// every row, a sample sector whose first byte the filter excludes is
// refused by the carver itself, and the sample's own first byte passes.
TEST(FileTypes, ThePreFilterNeverHidesAMatch) {
  TempDir dir;
  testing_support::ScriptedShell shell;
  testing_support::WriteFile(dir / "image", Bytes(4096, 0));
  auto device = platform::OpenPath(dir / "image", platform::Access::kRead);
  ASSERT_TRUE(device);
  const std::vector<scan::TypeToScan> types = CarvedTypes();
  const scan::FirstByteFilter filter = scan::BuildFirstByteFilter(types);
  for (size_t row = 0; row < types.size(); ++row) {
    const carvers::FileType& r = *types[row].type;
    SCOPED_TRACE(r.name);
    Bytes sector = SampleFile(r.name);
    EXPECT_TRUE(filter[sector[0]] & (1u << row));
    for (int b = 0; b < 256; ++b) {
      if (filter[b] & (1u << row)) continue;
      sector[0] = static_cast<uint8_t>(b);
      EXPECT_EQ(testing_support::Carve(r.carve, 1, *device, {sector.data(), sector.size()}, dir / "out", shell), 0) << b;
    }
  }
  EXPECT_TRUE(shell.boxes.empty());
}

TEST(RecoveryScan, EveryTypeTickedFindsEveryFileAndASectorCanGiveTwo) {
  TempDir dir;
  TestWindow w;
  const std::string root = dir / "L";
  w.dlg.SetText(id::kOutputFolder, root);
  for (size_t index : scan::TypesInBoxOrder()) w.dlg.Press(scan::FileTypes()[index].boxId);
  EXPECT_TRUE(w.shell.boxes.empty());

  // Each row's sample at its own sector, 8 sectors apart; a document on the
  // last sector of the first chunk.
  testing_support::ImageBuilder image(1100);
  const std::vector<scan::TypeToScan> types = CarvedTypes();
  for (size_t row = 0; row < types.size(); ++row) {
    image.PutSector(16 + 8 * row, SampleFile(types[row].type->name));
  }
  image.PutSector(511, SampleFile("doc"));
  image.Put(64 * 512 + 9665, {'I', 'n', 'b', 'o', 'x', 0});  // the mail folder's stored name
  Prepare(w, image, dir / "image", root);
  w.shell.answers.push_back(Answer::kYes);
  w.dlg.Press(id::kStartRe);
  EXPECT_EQ(w.shell.Lines().back(), "the end: hit the end of the drive !");

  using V = std::vector<std::string>;
  EXPECT_EQ(FilesIn(root + "/JPEG"), (V{"128.ntf", "16.jpg"}));  // Progress: the JPEG folder
  EXPECT_EQ(FilesIn(root + "/JPEG0"), V{"96.jpg"});
  EXPECT_EQ(FilesIn(root + "DOC"), (V{"24.doc", "511.doc"}));
  EXPECT_EQ(FilesIn(root + "QBB"), V{"32.QBB"});
  EXPECT_EQ(FilesIn(root + "PST"), V{"40.pst"});
  EXPECT_EQ(FilesIn(root + "bmp"), V{"48.bmp"});
  // The drawing's RIFF sector gives a file to the AVI row too.
  EXPECT_EQ(FilesIn(root + "AVI"), (V{"104.avi", "56.avi"}));
  EXPECT_EQ(FilesIn(root + "DBX"), V{"Inbox.dbx"});
  // One database sector: a file for OFFICE and one for ACCESS(MDB), twice.
  EXPECT_EQ(FilesIn(root + "Office"), (V{"72.dat", "88.dat"}));
  EXPECT_EQ(FilesIn(root + "Access"), (V{"72.mdb", "88.mdb"}));
  EXPECT_EQ(FilesIn(root + "Excel"), V{"80.xls"});
  EXPECT_EQ(FilesIn(root + "CDR"), V{"104.cdr"});
  EXPECT_EQ(FilesIn(root + "PDF"), V{"112.pdf"});
  EXPECT_EQ(FilesIn(root + "MCD"), V{"120.mcd"});
  // The JPEG, JPEG0 and Progress boxes made folders beside the root that
  // the scan does not use.
  EXPECT_EQ(FilesIn(root + "new"), V{});
  EXPECT_TRUE(IsDir(root + "JPEG") && IsDir(root + "JPEG0") && IsDir(root + "new"));
  EXPECT_EQ(FilesIn(root + "JPEG"), V{});
  EXPECT_EQ(FilesIn(root + "JPEG0"), V{});
  EXPECT_EQ(FilesIn(root + "MP3"), V{});

  // Exact copies: sizes from the header fields and markers.
  const Bytes& all = image.bytes();
  auto at = [&all](size_t sector, size_t bytes) {
    return Bytes(all.begin() + static_cast<long>(sector * 512),
                 all.begin() + static_cast<long>(sector * 512 + bytes));
  };
  EXPECT_EQ(ReadFile(root + "PST/40.pst"), at(40, 2048));
  EXPECT_EQ(ReadFile(root + "bmp/48.bmp"), at(48, 2048));
  EXPECT_EQ(ReadFile(root + "AVI/56.avi"), at(56, 2048));
  EXPECT_EQ(ReadFile(root + "DOC/24.doc"), at(24, 5 * 512));
  EXPECT_EQ(ReadFile(root + "DOC/511.doc"), at(511, 5 * 512));
  EXPECT_EQ(ReadFile(root + "Excel/80.xls"), at(80, 4 * 512));
  EXPECT_EQ(ReadFile(root + "PDF/112.pdf"), at(112, 2048));
  EXPECT_EQ(ReadFile(root + "MCD/120.mcd"), at(120, 2048));
  EXPECT_EQ(ReadFile(root + "/JPEG0/96.jpg"), at(96, 2048));
}

struct SingleScan {
  const char* name;
  int command;
  const char* folder;
  const char* sample;
  const char* extension;
};
const SingleScan kSingleScans[] = {
    {"PstRecovery", id::kPstRecovery, "pst", "pst", "pst"},
    {"Office", id::kOffice, "Office", "office", "dat"},
};

TEST(SingleTypeScans, OneCarverIntoRootPlusNameWithoutAQuestion) {
  for (const SingleScan& s : kSingleScans) {
    SCOPED_TRACE(s.name);
    TempDir dir;
    TestWindow w;
    // Pictures and another type ticked are not looked for.
    w.dlg.SetText(id::kOutputFolder, dir / "L");
    w.dlg.Press(id::kCheckBmp);
    testing_support::ImageBuilder image(1000);
    image.PutSector(10, SampleFile("jpeg"));
    image.PutSector(20, SampleFile("bmp"));
    image.PutSector(900, SampleFile(s.sample));
    Prepare(w, image, dir / "image", dir / "L");
    w.dlg.Press(s.command);
    // 1000 sectors, range 0..1000: chunks 0 and 512, the second short; no
    // end message. The file found, and the scan's report beside it.
    EXPECT_TRUE(w.shell.boxes.empty());
    EXPECT_EQ(FilesIn(dir / (std::string("L") + s.folder)),
              (std::vector<std::string>{std::string("900.") + s.extension, "report.xml"}));
    EXPECT_FALSE(IsDir(dir / "L"));
    EXPECT_EQ(FilesIn(dir / "LBMP"), std::vector<std::string>{});
    EXPECT_EQ(w.dlg.Text(id::kSectorNum), "512");
    EXPECT_EQ(w.dlg.Text(id::kProgress), "262144");
  }
}

TEST(SingleTypeScans, ChecksInOrderAndTheirLoopEnd) {
  struct Case {
    const char* name;
    const char* out;
    bool source;
    const char* start;
    const char* end;
    uint64_t sectors;
    std::vector<std::string> lines;
    bool folderMade;
    const char* lastChunk;  // field 1040 at the end ("SectorNum": no chunk read)
  } cases[] = {
      {"no output folder",
       "",
       true,
       "0",
       "1024",
       1024,
       {"error: please pick up  a directory to save recovery files."},
       false,
       "SectorNum"},
      {"no source",
       "L",
       false,
       "0",
       "1024",
       1024,
       {"error: please pick up a suorce drive to recover files."},
       false,
       "SectorNum"},
      {"start at the drive's end",
       "L",
       true,
       "1024",
       "1024",
       1024,
       {"error: start sector number > dirve size !"},
       true,
       "SectorNum"},
      {"a drive of whole chunks ends on the end message",
       "L",
       true,
       "0",
       "1024",
       1024,
       {"the end: hit the end of the drive !"},
       true,
       "512"},
      {"start above end: one chunk", "L", true, "100", "50", 1024, {}, true, "100"},
  };
  for (const SingleScan& s : kSingleScans) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(s.name) + ": " + c.name);
      TempDir dir;
      TestWindow w;
      testing_support::ImageBuilder image(c.sectors);
      image.PutSector(611, SampleFile(s.sample));
      image.PutSector(612, SampleFile(s.sample));
      image.WriteTo(dir / "image");
      if (c.source) w.PickSource(dir / "image");
      w.dlg.SetText(id::kOutputFolder, *c.out ? dir / c.out : "");
      w.dlg.SetText(id::kStartSector, c.start);
      w.dlg.SetText(id::kEndSector, c.end);
      w.dlg.Press(s.command);
      EXPECT_EQ(w.shell.Lines(), c.lines);
      const std::string folder = dir / (std::string("L") + s.folder);
      EXPECT_EQ(IsDir(folder), c.folderMade);
      EXPECT_EQ(w.dlg.Text(id::kSectorNum), c.lastChunk);
      if (std::string(c.name) == "start above end: one chunk") {
        // Sectors 100 to 611 only.
        EXPECT_EQ(FilesIn(folder),
                  (std::vector<std::string>{std::string("611.") + s.extension, "report.xml"}));
      }
    }
  }
}

}  // namespace
