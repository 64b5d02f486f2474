// Copy, DVDCopy and RawRecovery between the volumes of a fixture machine,
// whose volumes are image files, some with unreadable sectors or failing
// writes.
#include "app/main_dlg.h"
#include "diskutil/volume_copy.h"
#include "tests/support/scripted_shell.h"
#include "tests/volume_fixture.h"

namespace {

using app::Answer;
using testing_support::Bytes;
using testing_support::ReadFile;
using testing_support::ScriptedShell;
using volume_fixture::FaultOpener;
using volume_fixture::Machine;
using Lines = std::vector<std::string>;

constexpr uint64_t kChunk = 262144;
constexpr const char* kQuestionE = "Lumisave: The data on E:\\ will lost !!! Proceed (Yes/No) ?";

// D: a 600 KiB source with a pattern past its boot sector; E: a 1 MiB
// target; F: a 256 KiB target; G: a 25 MiB volume for the read pass.
class VolumeCopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m.Disk("sdb", m.FatVolume("sdb", 600, "SOURCE"), "8:16");
    Bytes source = ReadFile(m.Node("sdb"));
    for (size_t i = 65536; i < source.size(); ++i) source[i] = static_cast<uint8_t>(i * 7 + i / 512);
    testing_support::WriteFile(m.Node("sdb"), source);
    m.Disk("sdc", m.FatVolume("sdc", 1024, "TARGET"), "8:32");
    m.Disk("sdd", m.FatVolume("sdd", 256, "SMALL"), "8:48");
    m.Disk("sde", m.FatVolume("sde", 25 * 1024, "BIG"), "8:64");
  }

  struct Window {
    explicit Window(const Machine& m) : opener(m), layer(m.Sources()), dlg(shell, opener) {
      dlg.SetManagement(&layer);
      dlg.InitVolumeListColumns();
      dlg.ListLogicalDrives();
    }
    // Picks the target in the volume list, and the source by its root.
    void Pick(const std::string& source, int targetRow) {
      dlg.SetText(app::id::kSourceName, source);
      dlg.volumeList().selected = targetRow;
      dlg.Press(app::id::kVolumeTarget);
    }
    void Press(int id, std::vector<Answer> answers) {
      shell.answers.assign(answers.begin(), answers.end());
      shell.changes.clear();
      dlg.Press(id);
    }
    Lines Progress() const {
      Lines out;
      for (const auto& [id, text] : shell.changes) {
        if (id == app::id::kVolumeProgress) out.push_back(text);
      }
      return out;
    }

    ScriptedShell shell;
    FaultOpener opener;
    platform::ManagementLayer layer;
    app::CMainDlg dlg;
  };

  Machine m;
};

constexpr int kRowE = 1, kRowF = 2, kRowG = 3;

TEST_F(VolumeCopyTest, CopyWritesWholeChunksFromTheStartUntilTheSourceEnds) {
  const Bytes source = ReadFile(m.Node("sdb"));
  const Bytes before = ReadFile(m.Node("sdc"));
  Window w(m);
  w.Pick("D:\\", kRowE);
  EXPECT_EQ(w.dlg.Text(app::id::kVolumeRoot), "E:\\");
  EXPECT_EQ(w.dlg.m_volumeRoot, "E:\\");
  w.Press(app::id::kCopy, {Answer::kYes});
  EXPECT_EQ(w.shell.Lines(), Lines{kQuestionE});
  EXPECT_EQ(w.Progress(), (Lines{"262144", "524288", "786432", "done"}));
  // 600 KiB is no whole number of chunks: the last chunk goes whole, its
  // unread part as zeros; the target past it is untouched.
  const Bytes after = ReadFile(m.Node("sdc"));
  ASSERT_EQ(after.size(), before.size());
  EXPECT_TRUE(std::equal(source.begin(), source.end(), after.begin()));
  EXPECT_TRUE(std::all_of(after.begin() + static_cast<long>(source.size()),
                          after.begin() + 3 * kChunk, [](uint8_t b) { return b == 0; }));
  EXPECT_TRUE(std::equal(after.begin() + 3 * kChunk, after.end(), before.begin() + 3 * kChunk));
}

TEST_F(VolumeCopyTest, ASmallerTargetIsAskedAboutAndNoEndsBeforeAnythingIsOpened) {
  const Bytes before = ReadFile(m.Node("sdd"));
  Window w(m);
  w.Pick("D:\\", kRowF);
  w.Press(app::id::kCopy, {Answer::kYes, Answer::kNo});
  EXPECT_EQ(w.shell.Lines(),
            (Lines{"Lumisave: The data on F:\\ will lost !!! Proceed (Yes/No) ?",
                   "Lumisave: Target<Source,Continue ? (Yes/No)"}));
  EXPECT_EQ(ReadFile(m.Node("sdd")), before);
  EXPECT_EQ(w.dlg.Text(app::id::kVolumeProgress), "0");
}

TEST_F(VolumeCopyTest, NoToTheFirstQuestionEndsTheCommand) {
  const Bytes before = ReadFile(m.Node("sdc"));
  Window w(m);
  w.Pick("D:\\", kRowE);
  for (int id : {app::id::kCopy, app::id::kDvdCopy}) {
    w.Press(id, {Answer::kNo});
    EXPECT_EQ(w.shell.boxes.size(), 1u);
    w.shell.boxes.clear();
  }
  EXPECT_EQ(ReadFile(m.Node("sdc")), before);
}

TEST_F(VolumeCopyTest, CopyEndsQuietlyAtTheFirstUnreadableChunk) {
  Window w(m);
  w.opener.Add("D:", {{600}, UINT64_MAX, false});  // in the second chunk
  w.Pick("D:\\", kRowE);
  w.Press(app::id::kCopy, {Answer::kYes});
  EXPECT_EQ(w.shell.Lines(), Lines{kQuestionE});
  EXPECT_EQ(w.Progress(), (Lines{"262144", "done"}));
}

TEST_F(VolumeCopyTest, AMountedTargetIsRefusedBeforeAnythingIsWritten) {
  m.Mount("8:32", m.Path(""), "vfat");
  const Bytes before = ReadFile(m.Node("sdc"));
  for (int id : {app::id::kCopy, app::id::kDvdCopy}) {
    Window w(m);
    w.Pick("D:\\", kRowE);
    w.Press(id, {Answer::kYes, Answer::kYes});
    ASSERT_FALSE(w.shell.Lines().empty());
    EXPECT_EQ(w.shell.Lines().back(), "Lumisave: open target disk error");
    EXPECT_TRUE(w.Progress().empty());
  }
  EXPECT_EQ(ReadFile(m.Node("sdc")), before);
}

TEST_F(VolumeCopyTest, AFailedWriteStopsTheCopyWithAMessageInsteadOfDone) {
  for (int id : {app::id::kCopy, app::id::kDvdCopy}) {
    Window w(m);
    w.opener.Add("E:", {{}, kChunk, false});  // the second chunk cannot be written
    w.Pick("D:\\", kRowE);
    w.Press(id, {Answer::kYes});
    EXPECT_EQ(w.shell.Lines(), (Lines{kQuestionE, "Lumisave: write target disk error"})) << id;
    EXPECT_EQ(w.Progress(), Lines{"262144"}) << id;
    EXPECT_EQ(w.dlg.Text(app::id::kVolumeProgress), "262144") << id;
  }
}

TEST_F(VolumeCopyTest, DvdCopyWritesUnreadableSectorsAsZerosAndCountsThemPerChunk) {
  const Bytes source = ReadFile(m.Node("sdb"));
  Window w(m);
  w.opener.Add("D:", {{200, 600, 601}, UINT64_MAX, false});
  w.Pick("D:\\", kRowE);
  w.Press(app::id::kDvdCopy, {Answer::kYes});
  EXPECT_EQ(w.shell.Lines(), Lines{kQuestionE});
  EXPECT_EQ(w.Progress(), (Lines{"bad:512", "262144", "bad:512", "bad:1024", "524288", "786432",
                                 "done"}));
  const Bytes after = ReadFile(m.Node("sdc"));
  auto sector = [](const Bytes& b, size_t s) {
    return Bytes(b.begin() + static_cast<long>(s * 512), b.begin() + static_cast<long>(s * 512 + 512));
  };
  for (size_t s : {200, 600, 601}) EXPECT_EQ(sector(after, s), Bytes(512, 0)) << s;
  for (size_t s : {199, 201, 599, 602, 1199}) EXPECT_EQ(sector(after, s), sector(source, s)) << s;
}

TEST_F(VolumeCopyTest, PassesEndAtTheVolumesEndAlsoWhenItIsToldByAFailedRead) {
  Window w(m);
  w.opener.Add("D:", {{}, UINT64_MAX, true});
  w.Pick("D:\\", kRowE);
  w.Press(app::id::kDvdCopy, {Answer::kYes});
  // The last chunk crosses the end: its read fails and is read sector by
  // sector (the 336 sectors past the end are unreadable), and the pass ends.
  EXPECT_EQ(w.Progress().back(), "done");
  EXPECT_EQ(w.Progress()[w.Progress().size() - 2], "786432");

  w.dlg.SetText(app::id::kVolumeRoot, "D:\\");
  w.Press(app::id::kRawRecovery, {});
  EXPECT_EQ(w.Progress().back(), "done");
}

TEST_F(VolumeCopyTest, AFriendlyNameAsSourceOpensNothing) {
  const Bytes before = ReadFile(m.Node("sdc"));
  Window w(m);
  w.Pick("Generic SD Card", kRowE);
  w.Press(app::id::kCopy, {Answer::kYes});
  EXPECT_EQ(w.shell.Lines(), (Lines{kQuestionE, "Lumisave: GetDiskFreeSpaceEx source drive error !",
                                    "Lumisave: open source disk error"}));
  w.shell.boxes.clear();
  w.Press(app::id::kDvdCopy, {Answer::kYes});
  EXPECT_EQ(w.shell.Lines(), (Lines{kQuestionE, "Lumisave: open source disk error"}));
  EXPECT_EQ(ReadFile(m.Node("sdc")), before);
}

TEST_F(VolumeCopyTest, TargetWithNoRowSelectedEmptiesTheFieldAndNothingIsWritten) {
  Window w(m);
  w.Pick("D:\\", kRowE);
  w.Pick("D:\\", -1);
  EXPECT_EQ(w.dlg.Text(app::id::kVolumeRoot), "");
  w.Press(app::id::kCopy, {Answer::kYes, Answer::kYes});
  EXPECT_EQ(w.shell.Lines(),
            (Lines{"Lumisave: The data on  will lost !!! Proceed (Yes/No) ?",
                   "Lumisave: GetDiskFreeSpaceEx target drive error !",
                   "Lumisave: Target<Source,Continue ? (Yes/No)",
                   "Lumisave: open target disk error"}));
}

TEST_F(VolumeCopyTest, RawRecoveryReadsTheVolumeThroughInTenMegabyteBlocks) {
  const Bytes before = ReadFile(m.Node("sde"));
  Window w(m);
  w.Pick("", kRowG);
  w.Press(app::id::kRawRecovery, {});
  EXPECT_TRUE(w.shell.boxes.empty());
  // 25 MiB: 15 MiB and 5 MiB to go after the first two blocks; the third
  // takes the count below zero, where it wraps.
  EXPECT_EQ(w.Progress(), (Lines{"15728640", "5242880", "18446744073704308736", "done"}));
  EXPECT_EQ(ReadFile(m.Node("sde")), before);
}

TEST_F(VolumeCopyTest, RawRecoveryShowsTheUnreadableBytesOfAFailedBlock) {
  Window w(m);
  w.opener.Add("G:", {{7, 30000}, UINT64_MAX, false});
  w.Pick("", kRowG);
  w.Press(app::id::kRawRecovery, {});
  EXPECT_EQ(w.Progress(),
            (Lines{"bad:512", "15728640", "bad:512", "5242880", "18446744073704308736", "done"}));
}

TEST_F(VolumeCopyTest, RawRecoveryMessages) {
  Window w(m);
  w.Press(app::id::kRawRecovery, {});
  EXPECT_EQ(w.shell.Lines(), Lines{"error: No Target drive selected !"});
  EXPECT_TRUE(w.Progress().empty());

  w.shell.boxes.clear();
  w.dlg.SetText(app::id::kVolumeRoot, "Q:\\");
  w.Press(app::id::kRawRecovery, {});
  EXPECT_EQ(w.shell.Lines(),
            (Lines{"Lumisave: open target disk error", "Lumisave: open target disk error"}));

  // A boot sector that cannot be read is told, and the pass goes on.
  w.shell.boxes.clear();
  w.opener.Add("F:", {{0}, UINT64_MAX, false});
  w.Pick("", kRowF);
  w.Press(app::id::kRawRecovery, {});
  EXPECT_EQ(w.shell.Lines(), Lines{"Lumisave: read boot sector error."});
  EXPECT_EQ(w.Progress().back(), "done");
}

TEST_F(VolumeCopyTest, RawRecoveryReadsAMountedVolume) {
  m.Mount("8:64", m.Path(""), "vfat");
  Window w(m);
  w.Pick("", kRowG);
  w.Press(app::id::kRawRecovery, {});
  EXPECT_TRUE(w.shell.boxes.empty());
  EXPECT_EQ(w.Progress().back(), "done");
}

}  // namespace
