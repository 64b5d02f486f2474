// The recovery scan (Start Recovery) on small images: its messages and their
// order, which chunks it reads, its progress fields, and what it recovers.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/test_window.h"

namespace {

using namespace testing_support;
using app::Answer;
using app::Buttons;

class RecoveryScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    out = dir / "out";
    image = dir / "card.img";
  }

  // A scan of `imageBuilder` from the window's current fields, answering Yes.
  void Scan(ImageBuilder& imageBuilder) {
    imageBuilder.WriteTo(image);
    w.PickSource(image);
    w.dlg.SetText(app::id::kOutputFolder, out);
    w.shell.answers = {Answer::kYes};
    w.dlg.Press(app::id::kStartRe);
  }

  std::vector<std::string> Boxes() const { return w.shell.Lines(); }

  TempDir dir;
  std::string out;
  std::string image;
  TestWindow w;
};

const char* kConfirm = "Save Picture in this folder ?";

TEST_F(RecoveryScanTest, MessagesComeInTheirOrderAndEndTheScan) {
  struct Case {
    const char* name;
    bool folder;      // output folder set
    bool source;      // a drive picked
    Answer answer;    // to the confirmation
    const char* start;
    std::vector<std::string> boxes;  // after the confirmation
    bool foldersMade;
  } cases[] = {
      {"no folder", false, true, Answer::kYes, "0",
       {"error: please pick up  a directory to save recovered files."}, false},
      {"answered No", true, true, Answer::kNo, "0", {}, false},
      {"no drive", true, false, Answer::kYes, "0",
       {"error: please select a SD card to recover."}, true},
      {"start at N", true, true, Answer::kYes, "64",
       {"error: start sector number > dirve size !"}, true},
      {"whole drive", true, true, Answer::kYes, "0", {"the end: hit the end of the drive !"},
       true},
  };
  for (const Case& c : cases) {
    TempDir caseDir;
    TestWindow win;
    ImageBuilder(64).WriteTo(caseDir / "card.img");
    if (c.source) win.PickSource(caseDir / "card.img");
    win.dlg.SetText(app::id::kStartSector, c.start);
    const std::string folder = caseDir / "out";
    if (c.folder) win.dlg.SetText(app::id::kOutputFolder, folder);
    win.shell.answers = {c.answer};
    win.dlg.Press(app::id::kStartRe);

    std::vector<std::string> expected;
    if (c.folder) expected.push_back(std::string(kConfirm) + ": " + folder);
    expected.insert(expected.end(), c.boxes.begin(), c.boxes.end());
    EXPECT_EQ(win.shell.Lines(), expected) << c.name;
    EXPECT_EQ(std::filesystem::is_directory(folder + "/JPEG") &&
                  std::filesystem::is_directory(folder + "/JPEG0"),
              c.foldersMade)
        << c.name;
  }
}

TEST_F(RecoveryScanTest, ASourceThatCannotBeOpenedIsReported) {
  w.dlg.SetText(app::id::kOutputFolder, out);
  w.dlg.m_sourceDrive = dir / "vanished.img";
  w.dlg.SetText(app::id::kSourceDrive, w.dlg.m_sourceDrive);
  w.dlg.m_sourceCapacity = 1 << 20;
  w.shell.answers = {Answer::kYes};
  w.dlg.Press(app::id::kStartRe);
  EXPECT_EQ(Boxes().back(), "Lumisave: open source disk error");
}

TEST_F(RecoveryScanTest, ADriveUnderOneSectorIsTooSmallToScan) {
  WriteFile(image, Bytes(511, 0));
  w.PickSource(image);
  w.dlg.SetText(app::id::kOutputFolder, out);
  w.shell.answers = {Answer::kYes};
  w.dlg.Press(app::id::kStartRe);
  EXPECT_EQ(Boxes().back(), "error: start sector number > dirve size !");
}

// Which chunks are read, seen through the sector field written after each.
TEST_F(RecoveryScanTest, ReadsTheChunksOfTheRangeAndOneBeyondIt) {
  struct Case {
    uint64_t sectors;
    const char* start;
    const char* end;
    std::vector<std::string> chunks;
    bool hitEnd;
  } cases[] = {
      {1000, "0", "1000", {"", "512"}, true},  // second read short, third empty
      {1024, "0", "1024", {"", "512"}, true},
      {4000, "100", "50", {"100"}, false},     // start past end: one chunk
      {4000, "0", "600", {"", "512", "1024"}, false},
      {4000, "", "", {"", "512", "1024", "1536", "2048", "2560", "3072", "3584"}, true},
      {4000, "0", "9999", {"", "512", "1024", "1536", "2048", "2560", "3072", "3584"}, true},
  };
  for (const Case& c : cases) {
    TempDir caseDir;
    TestWindow win;
    ImageBuilder(c.sectors).WriteTo(caseDir / "card.img");
    win.PickSource(caseDir / "card.img");
    win.dlg.SetText(app::id::kStartSector, c.start);
    win.dlg.SetText(app::id::kEndSector, c.end);
    win.dlg.SetText(app::id::kOutputFolder, caseDir / "out");
    win.shell.changes.clear();
    win.shell.answers = {Answer::kYes};
    win.dlg.Press(app::id::kStartRe);
    EXPECT_EQ(win.History(app::id::kSectorNum), c.chunks) << c.start << ".." << c.end;
    EXPECT_EQ(win.shell.Lines().back() == "the end: hit the end of the drive !", c.hitEnd)
        << c.start << ".." << c.end;
  }
}

TEST_F(RecoveryScanTest, ProgressShowsTheOffsetAndSectorOfTheChunkJustScanned) {
  ImageBuilder img(2000);
  Scan(img);
  EXPECT_EQ(w.History(app::id::kProgress),
            (std::vector<std::string>{"", "262144", "524288", "786432"}));
  EXPECT_EQ(w.dlg.Text(app::id::kSectorNum), "1536");
}

TEST_F(RecoveryScanTest, PicturesGoToTheirFoldersNamedBySector) {
  ImageBuilder img(3000);
  Bytes exif = FakeJpeg(0xE1, 300000, {1000, 299998});
  Bytes jfif = FakeJpeg(0xE0, 20000, {19998});
  img.PutSector(0, FakeJpeg(0xE0, 1000, {998}));
  img.PutSector(812, exif);
  img.PutSector(1500, jfif);
  img.PutSector(1600, {0xFF, 0xD8, 0xFF, 0xDB});
  Scan(img);
  EXPECT_EQ(FilesIn(out + "/JPEG"), std::vector<std::string>{"812.jpg"});
  EXPECT_EQ(FilesIn(out + "/JPEG0"), (std::vector<std::string>{".jpg", "1500.jpg"}));
  EXPECT_EQ(ReadFile(out + "/JPEG/812.jpg"), exif);
  EXPECT_EQ(ReadFile(out + "/JPEG0/1500.jpg"), jfif);
  // The picture carvers always run; their flags read 1 afterwards.
  EXPECT_EQ(w.dlg.m_recoverJpeg, 1);
  EXPECT_EQ(w.dlg.m_recoverJpeg0, 1);
}

TEST_F(RecoveryScanTest, AMissingOutputFolderIsReportedPerFileAndTheScanGoesOn) {
  // The output folder lies under a file, so none of its folders can be made.
  WriteFile(dir / "file", Bytes{1});
  out = dir / "file/out";
  ImageBuilder img(2000);
  img.PutSector(10, FakeJpeg(0xE0, 2000, {1998}));
  img.PutSector(700, FakeJpeg(0xE1, 2000, {1998}));
  img.PutSector(1300, FakeJpeg(0xE0, 2000, {1998}));
  Scan(img);
  EXPECT_EQ(Boxes(), (std::vector<std::string>{
                         std::string(kConfirm) + ": " + out,
                         "Create File failed !: " + out + "/JPEG0/10.jpg",
                         "Create File failed !: " + out + "/JPEG/700.jpg",
                         "Create File failed !: " + out + "/JPEG0/1300.jpg",
                         "the end: hit the end of the drive !",
                     }));
}

// A chunk with an unreadable sector is read sector by sector: a photo in
// its readable sectors is found whole, and the scan goes on.
TEST_F(RecoveryScanTest, AChunkWithAnUnreadableSectorIsScannedSectorBySector) {
  ImageBuilder img(2048);
  Bytes first = FakeJpeg(0xE0, 5000, {4998});
  Bytes second = FakeJpeg(0xE0, 5000, {4998});
  img.PutSector(100, first);  // in the chunk of the bad sector
  img.PutSector(1100, second);
  img.WriteTo(image);
  w.opener.AddFaulty("failing", image, {300});
  w.dlg.m_sourceDrive = "failing";
  w.dlg.SetText(app::id::kSourceDrive, "failing");
  w.dlg.m_sourceCapacity = 2048 * 512;
  w.dlg.SetText(app::id::kOutputFolder, out);
  w.shell.answers = {Answer::kYes};
  w.dlg.Press(app::id::kStartRe);
  EXPECT_EQ(w.History(app::id::kSectorNum),
            (std::vector<std::string>{"", "512", "1024", "1536"}));
  EXPECT_EQ(FilesIn(out + "/JPEG0"), (std::vector<std::string>{"100.jpg", "1100.jpg"}));
  EXPECT_EQ(ReadFile(out + "/JPEG0/100.jpg"), first);
  EXPECT_EQ(ReadFile(out + "/JPEG0/1100.jpg"), second);
  EXPECT_EQ(Boxes().back(), "the end: hit the end of the drive !");
}

TEST_F(RecoveryScanTest, ARepeatedScanReplacesNothing) {
  ImageBuilder img(1000);
  Bytes photo = FakeJpeg(0xE0, 9000, {8998});
  img.PutSector(20, photo);
  Scan(img);
  WriteFile(out + "/JPEG0/20.jpg", Bytes(20000, 1));
  w.shell.answers = {Answer::kYes};
  w.dlg.Press(app::id::kStartRe);
  EXPECT_EQ(ReadFile(out + "/JPEG0/20.jpg"), Bytes(20000, 1));
  EXPECT_EQ(ReadFile(out + "/JPEG0/20_1.jpg"), photo);
}

}  // namespace
