#include <gtest/gtest.h>

#include "tests/support/test_window.h"

#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "app/main_dlg.h"
#include "diskutil/clone.h"
#include "platform/fault_device.h"
#include "tests/support/fixtures.h"
#include "tests/support/scripted_shell.h"

namespace {


using testing_support::Bytes;

// Sector s of a source: its own bytes, so a sector copied to the wrong place
// shows.
Bytes SourceImage(uint64_t sectors);
// A target before the clone: every byte 0xEE.
Bytes OldTarget(uint64_t sectors);

class CloneOpener : public testing_support::TestOpener {
 public:
  void FailWritesFrom(const std::string& name, uint64_t offset) { failWrites_[name] = offset; }
  // Failed reads move the device's position on by their count.
  void Drift(const std::string& name) { drift_.insert(name); }
  platform::DeviceHandle Open(const std::string& path, platform::Access access) override;

 private:
  std::map<std::string, uint64_t> failWrites_;
  std::set<std::string> drift_;
};

// The working directory is a fresh folder while the rig lives, so the
// bad-sector log "123.txt" of a test is its own.
class CloneRig {
 public:
  CloneRig();
  ~CloneRig();

  // Writes the images and picks "src" as source and "tgt" as target, as a
  // person would: a click on the target's row, Target, a click on the
  // source's row.
  void Drives(uint64_t sourceSectors, uint64_t targetSectors, std::set<uint64_t> bad = {});
  void CreateLog() { testing_support::WriteFile(dir / "123.txt", {}); }
  bool HasLog() const { return std::filesystem::exists(dir / "123.txt"); }
  std::string Log() const;
  Bytes TargetBytes() const { return testing_support::ReadFile(dir / "tgt.img"); }
  // The texts field `id` took during the run, in order.
  std::vector<std::string> Shown(int id) const;

  testing_support::TempDir dir;
  testing_support::ScriptedShell shell;
  CloneOpener opener;
  app::CMainDlg dlg{shell, opener};
  Bytes source;
  Bytes oldTarget;

 private:
  std::filesystem::path previous_;
};



// A device whose failed reads still move its position, as some systems'
// reads do; the clone must not rely on a failed read leaving it in place.
class DriftingDevice : public platform::Device {
 public:
  explicit DriftingDevice(platform::DeviceHandle inner) : inner_(std::move(inner)) {}
  bool Read(void* buffer, uint32_t count, uint32_t* got) override {
    if (inner_->Read(buffer, count, got)) return true;
    inner_->Skip(count);
    return false;
  }
  bool Write(const void* buffer, uint32_t count, uint32_t* written) override {
    return inner_->Write(buffer, count, written);
  }
  bool Seek(uint64_t offset) override { return inner_->Seek(offset); }
  bool Skip(int64_t delta) override { return inner_->Skip(delta); }
  bool SeekEnd() override { return inner_->SeekEnd(); }
  uint64_t Position() const override { return inner_->Position(); }
  bool Flush() override { return inner_->Flush(); }
  bool Length(uint64_t* bytes) override { return inner_->Length(bytes); }

 private:
  platform::DeviceHandle inner_;
};


Bytes SourceImage(uint64_t sectors) {
  Bytes b(sectors * 512);
  for (uint64_t s = 0; s < sectors; ++s) {
    for (uint64_t i = 0; i < 512; ++i) b[s * 512 + i] = static_cast<uint8_t>(s * 31 + i * 7 + 1);
    for (int k = 0; k < 8; ++k) b[s * 512 + k] = static_cast<uint8_t>(s >> (8 * k));
  }
  return b;
}

Bytes OldTarget(uint64_t sectors) { return Bytes(sectors * 512, 0xEE); }

platform::DeviceHandle CloneOpener::Open(const std::string& path, platform::Access access) {
  platform::DeviceHandle device = TestOpener::Open(path, access);
  const std::string name = platform::StripDevicePrefix(path);
  if (!device) return device;
  if (auto it = failWrites_.find(name); it != failWrites_.end()) {
    if (auto* faulty = dynamic_cast<platform::FaultyDevice*>(device.get())) {
      faulty->FailWritesFrom(it->second);
    }
  }
  if (drift_.count(name) != 0) device = std::make_unique<DriftingDevice>(std::move(device));
  return device;
}

CloneRig::CloneRig() : previous_(std::filesystem::current_path()) {
  std::filesystem::current_path(dir.path());
  diskutil::g_stopRequest = false;
  diskutil::g_interruptRequest = false;
}

CloneRig::~CloneRig() {
  std::filesystem::current_path(previous_);
  diskutil::g_stopRequest = false;
  diskutil::g_interruptRequest = false;
}

void CloneRig::Drives(uint64_t sourceSectors, uint64_t targetSectors, std::set<uint64_t> bad) {
  source = SourceImage(sourceSectors);
  oldTarget = OldTarget(targetSectors);
  testing_support::WriteFile(dir / "src.img", source);
  testing_support::WriteFile(dir / "tgt.img", oldTarget);
  opener.AddFaulty("src", dir / "src.img", std::move(bad));
  opener.AddFaulty("tgt", dir / "tgt.img", {});
  dlg.SelectDriveRow(testing_support::AddDriveRow(dlg, "tgt"));
  dlg.Press(app::id::kCloneTarget);
  dlg.SelectDriveRow(testing_support::AddDriveRow(dlg, "src"));
  shell.changes.clear();
}

std::string CloneRig::Log() const {
  Bytes b = testing_support::ReadFile(dir / "123.txt");
  return std::string(b.begin(), b.end());
}

std::vector<std::string> CloneRig::Shown(int id) const {
  std::vector<std::string> texts;
  for (const auto& [field, text] : shell.changes) {
    if (field == id) texts.push_back(text);
  }
  return texts;
}



// ---------------------------------------------------------------------------
// What the target holds after a run.

enum class From { kSource, kZero };
struct Segment {
  uint64_t first;
  uint64_t end;  // one past the last sector
  From from;
};
// What the layout transfer leaves in the target's sector 0 when the source
// has no partition table: signature 0 and the 55 AA mark; a larger target
// also has its four entries rewritten as unused.
enum class Mbr { kUntouched, kMarked, kMarkedEntriesCleared };

Bytes Expected(const Bytes& source, Bytes target, Mbr mbr, const std::vector<Segment>& segments) {
  if (mbr != Mbr::kUntouched) {
    std::fill(target.begin() + 440, target.begin() + 444, 0);
    if (mbr == Mbr::kMarkedEntriesCleared) std::fill(target.begin() + 446, target.begin() + 510, 0);
    target[510] = 0x55;
    target[511] = 0xAA;
  }
  for (const Segment& seg : segments) {
    for (uint64_t s = seg.first; s < seg.end; ++s) {
      for (uint64_t i = 0; i < 512; ++i) {
        target.at(s * 512 + i) = seg.from == From::kSource ? source.at(s * 512 + i) : 0;
      }
    }
  }
  return target;
}

// First differing sector, for a readable failure message.
std::string FirstDifference(const Bytes& got, const Bytes& want) {
  if (got.size() != want.size()) {
    return "size " + std::to_string(got.size()) + " != " + std::to_string(want.size());
  }
  for (size_t i = 0; i < got.size(); ++i) {
    if (got[i] != want[i]) return "first difference in sector " + std::to_string(i / 512);
  }
  return "";
}

using platform::Answer;
namespace id = app::id;
constexpr const char* kConfirm = "Lumisave: The data on tgt will lost !!! Proceed (Yes/No) ?";
constexpr const char* kSizeQuestion = "Lumisave: TargetDisk > SourceDisk ! Proceed(Yes/No) ?";
constexpr const char* kOutOfDisk = ": The start sector number is out of the disk !";
constexpr uint64_t kChunk = 512;  // sectors

struct CloneCase {
  const char* name;
  int command;
  uint64_t sourceSectors;
  uint64_t targetSectors;
  std::set<uint64_t> bad;
  std::map<int, std::string> before;  // field texts set before the run
  std::vector<Answer> answers;
  bool log;  // "123.txt" exists before the run
  Mbr mbr;
  std::vector<Segment> copied;
  std::string logAfter;
  std::map<int, std::string> after;  // field texts after the run
  std::vector<std::string> boxes;
};

const std::vector<CloneCase>& Cases() {
  static const std::vector<CloneCase> cases = {
      {"clone: readable drive, the remainder under one chunk is not copied", id::kClone, 1636,
       1636, {}, {}, {Answer::kYes}, true, Mbr::kMarked,
       {{0, 1536, From::kSource}}, "",
       {{id::kProgress, "0"}, {id::kSectorNum, "1024"}, {id::kBadSector, "Bad Sector"},
        {id::kErrorField, "Error"}, {id::kStartSector, "0"}},
       {kConfirm}},
      {"clone: two bad sectors in the first chunk", id::kClone, 1636, 1636, {5, 9}, {},
       {Answer::kYes}, true, Mbr::kMarked,
       {{0, 5, From::kSource}, {6, 9, From::kSource}, {10, 1536, From::kSource}},
       "Clone= \r\nClone= \r\n",
       {{id::kProgress, "0"}, {id::kSectorNum, "1024"}, {id::kBadSector, "1"}},
       {kConfirm}},
      {"clone: a bad sector in the second chunk, start field empty", id::kClone, 1100, 1100,
       {600}, {{id::kStartSector, ""}}, {Answer::kYes}, true, Mbr::kMarked,
       {{0, 600, From::kSource}, {601, 1024, From::kSource}}, "Clone= 512\r\n",
       {{id::kProgress, "0"}, {id::kSectorNum, "512"}, {id::kBadSector, "0"}},
       {kConfirm}},
      {"clone: no log file, bad sectors are skipped and counted", id::kClone, 1100, 1100,
       {600, 601}, {}, {Answer::kYes}, false, Mbr::kMarked,
       {{0, 600, From::kSource}, {602, 1024, From::kSource}}, "",
       {{id::kBadSector, "1"}}, {kConfirm}},
      {"clone: No to the confirmation", id::kClone, 1100, 1100, {}, {}, {Answer::kNo}, true,
       Mbr::kUntouched, {}, "", {{id::kProgress, ""}}, {kConfirm}},
      {"clone: smaller target, No to the size question", id::kClone, 1636, 1024, {}, {},
       {Answer::kYes, Answer::kNo}, true, Mbr::kUntouched, {}, "", {{id::kProgress, ""}},
       {kConfirm, kSizeQuestion}},
      {"clone: smaller target, Yes clones the target's capacity", id::kClone, 1636, 1024, {}, {},
       {Answer::kYes, Answer::kYes}, true, Mbr::kMarked, {{0, 1024, From::kSource}}, "",
       {{id::kProgress, "0"}, {id::kSectorNum, "512"}}, {kConfirm, kSizeQuestion}},
      {"clone: start sector at the byte count", id::kClone, 1636, 1636, {},
       {{id::kStartSector, "1636"}}, {Answer::kYes}, true, Mbr::kMarked, {}, "",
       {{id::kProgress, "837632"}, {id::kSectorNum, "SectorNum"}}, {kConfirm, kOutOfDisk}},
      {"clone: one sector to go copies one whole chunk, within the target", id::kClone, 1636,
       1636, {}, {{id::kStartSector, "1635"}}, {Answer::kYes}, true, Mbr::kMarked,
       {{1635, 1636, From::kSource}}, "",
       {{id::kProgress, "0"}, {id::kSectorNum, "SectorNum"}}, {kConfirm}},
      {"clone: one sector to go on a larger target: the chunk's tail is zeros", id::kClone,
       1636, 2400, {}, {{id::kStartSector, "1635"}}, {Answer::kYes}, true,
       Mbr::kMarkedEntriesCleared, {{1635, 1636, From::kSource}, {1636, 2147, From::kZero}},
       "", {{id::kProgress, "0"}}, {kConfirm}},
      {"512SecJmp: the third chunk is skipped whole", id::k512SecJmp, 2148, 2148, {1100, 1101},
       {}, {Answer::kYes}, true, Mbr::kMarked,
       {{0, 1024, From::kSource}, {1536, 2048, From::kSource}}, "512SecJmp = 1024\r\n",
       {{id::kProgress, "0"}, {id::kSectorNum, "1536"}, {id::kErrorField, "1024"},
        {id::kBadSector, "Bad Sector"}},
       {kConfirm}},
      {"512SecJmp: start sector 10, its first chunk bad", id::k512SecJmp, 1100, 1100, {20},
       {{id::kStartSector, "10"}}, {Answer::kYes}, true, Mbr::kMarked,
       {{522, 1034, From::kSource}}, "512SecJmp = 10\r\n",
       {{id::kProgress, "0"}, {id::kSectorNum, "522"}, {id::kErrorField, "10"}},
       {kConfirm}},
      {"OneSectorClone: a bad sector is logged twice and an empty line", id::kOneSectorClone,
       40, 40, {7}, {}, {Answer::kYes}, true, Mbr::kUntouched,
       {{0, 7, From::kSource}, {8, 40, From::kSource}},
       "OneSecClone = 7\r\nOneSecClone = 7\r\n\r\n",
       {{id::kProgress, "0"}, {id::kSectorNum, "39"}, {id::kBadSector, "0"}}, {kConfirm}},
      {"OneSectorClone: smaller target, Yes", id::kOneSectorClone, 40, 30, {3, 4}, {},
       {Answer::kYes, Answer::kYes}, true, Mbr::kUntouched,
       {{0, 3, From::kSource}, {5, 30, From::kSource}},
       "OneSecClone = 3\r\nOneSecClone = 3\r\n\r\nOneSecClone = 4\r\nOneSecClone = 4\r\n\r\n",
       {{id::kProgress, "0"}, {id::kSectorNum, "29"}, {id::kBadSector, "1"}},
       {kConfirm, kSizeQuestion}},
      {"ErrPauseOneSec: stops at the bad sector, Add steps past it", id::kErrPauseOneSec, 1100,
       1100, {1000}, {{id::kStartSector, "990"}, {id::kAddValue, "20"}}, {}, true,
       Mbr::kUntouched, {{990, 1000, From::kSource}}, "ErrPauseOneSec = 1000\r\n",
       {{id::kProgress, "0"}, {id::kSectorNum, "1000"}, {id::kBadSector, "1000"},
        {id::kErrorField, "1000"}, {id::kStartSector, "1021"}},
       {}},
      {"ErrPauseOneSec: first sector bad while 1040 reads SectorNum", id::kErrPauseOneSec, 100,
       100, {50}, {{id::kStartSector, "50"}}, {}, true, Mbr::kUntouched, {},
       "ErrPauseOneSec = 50\r\n",
       {{id::kProgress, "0"}, {id::kBadSector, "SectorNum"}, {id::kErrorField, "50"},
        {id::kStartSector, "1"}},
       {}},
      {"ErrPauseOneSec: smaller target, no question", id::kErrPauseOneSec, 100, 60, {}, {}, {},
       true, Mbr::kUntouched, {{0, 60, From::kSource}}, "",
       {{id::kProgress, "0"}, {id::kSectorNum, "59"}, {id::kErrorField, ""},
        {id::kStartSector, ""}},
       {}},
      {"ErrBreakClone: third chunk bad, then sector by sector from one chunk before",
       id::kErrBreakClone, 1636, 1636, {1100}, {{id::kAddValue, "5"}}, {}, true,
       Mbr::kUntouched, {{0, 1100, From::kSource}},
       "ErrBreakClone = 1024\r\nErrPauseOneSec = 1100\r\n",
       {{id::kProgress, "0"}, {id::kSectorNum, "1100"}, {id::kBadSector, "1100"},
        {id::kErrorField, "1100"}, {id::kStartSector, "1106"}},
       {}},
      {"ErrBreakClone: first chunk bad while 1040 reads SectorNum", id::kErrBreakClone, 1636,
       1636, {3}, {}, {}, true, Mbr::kUntouched, {{0, 3, From::kSource}},
       "ErrBreakClone = \r\nErrPauseOneSec = 3\r\n",
       {{id::kBadSector, "3"}, {id::kErrorField, "3"}, {id::kStartSector, "4"}}, {}},
      {"ErrBreakClone: first chunk bad, 1040 left by an earlier run", id::kErrBreakClone, 2000,
       2000, {3, 1500}, {{id::kSectorNum, "2000"}}, {}, true, Mbr::kUntouched,
       {{1488, 1500, From::kSource}}, "ErrBreakClone = \r\nErrPauseOneSec = 1500\r\n",
       {{id::kBadSector, "1500"}, {id::kErrorField, "1500"}, {id::kStartSector, "1501"}}, {}},
      {"ErrBreakClone: 1040 below 512 wraps, the pass after it is out of the disk",
       id::kErrBreakClone, 1636, 1636, {3}, {{id::kSectorNum, "100"}, {id::kAddValue, "9"}}, {},
       true, Mbr::kUntouched, {}, "ErrBreakClone = \r\n",
       {{id::kProgress, "837632"}, {id::kStartSector, "18446744073709551204"},
        {id::kErrorField, ""}},
       {kOutOfDisk}},
      {"ErrBreakClone: readable range, copied again sector by sector, then Add",
       id::kErrBreakClone, 1036, 1036, {}, {{id::kAddValue, "7"}}, {}, true, Mbr::kUntouched,
       {{0, 1036, From::kSource}}, "",
       {{id::kProgress, "0"}, {id::kSectorNum, "1035"}, {id::kStartSector, "7"}}, {}},
  };
  return cases;
}

TEST(CloneFamily, TargetBytesLogAndFieldsPerStrategy) {
  for (const CloneCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    CloneRig rig;
    rig.Drives(c.sourceSectors, c.targetSectors, c.bad);
    if (c.log) rig.CreateLog();
    for (const auto& [field, text] : c.before) rig.dlg.SetText(field, text);
    for (Answer a : c.answers) rig.shell.answers.push_back(a);

    rig.dlg.Press(c.command);

    Bytes want = Expected(rig.source, rig.oldTarget, c.mbr, c.copied);
    EXPECT_EQ(FirstDifference(rig.TargetBytes(), want), "");
    EXPECT_EQ(rig.HasLog(), c.log);
    if (c.log) {
      EXPECT_EQ(rig.Log(), c.logAfter);
    }
    for (const auto& [field, text] : c.after) EXPECT_EQ(rig.dlg.Text(field), text) << field;
    EXPECT_EQ(rig.shell.Lines(), c.boxes);
  }
}

TEST(CloneFamily, FirstBadSectorOfARunShowsZeroThenTheCount) {
  CloneRig rig;
  rig.Drives(1100, 1100, {5, 9, 700});
  rig.shell.answers = {Answer::kYes};
  rig.dlg.Press(id::kClone);
  EXPECT_EQ(rig.Shown(id::kBadSector), (std::vector<std::string>{"0", "1", "2"}));
  // A second run counts from 0 again.
  rig.shell.changes.clear();
  rig.shell.answers = {Answer::kYes};
  rig.dlg.Press(id::kOneSectorClone);
  EXPECT_EQ(rig.Shown(id::kBadSector).front(), "0");
}

TEST(CloneFamily, ProgressShowsBytesToGoAndNextSectorAfterEachChunk) {
  CloneRig rig;
  rig.Drives(2048, 2048);
  rig.shell.answers = {Answer::kYes};
  rig.dlg.Press(id::kClone);
  EXPECT_EQ(rig.Shown(id::kProgress),
            (std::vector<std::string>{"1048576", "786432", "524288", "262144", "0"}));
  EXPECT_EQ(rig.Shown(id::kSectorNum), (std::vector<std::string>{"512", "1024", "1536"}));
}

// A shell that presses a button when field 1040 first changes, as a person
// would while the window handles its events between chunks.
class StoppingShell : public testing_support::ScriptedShell {
 public:
  app::CMainDlg* dlg = nullptr;
  std::vector<int> press = {app::id::kStopRun};
  void FieldChanged(int field, const std::string& text) override {
    ScriptedShell::FieldChanged(field, text);
    if (field == app::id::kSectorNum && dlg && !pressed) {
      pressed = true;
      for (int button : press) dlg->Press(button);
    }
  }
  bool pressed = false;
};

TEST(CloneFamily, StopRunEndsTheRunAfterTheChunkInHand) {
  for (int command : {id::kClone, id::k512SecJmp, id::kOneSectorClone}) {
    SCOPED_TRACE(command);
    CloneRig rig;
    StoppingShell shell;
    app::CMainDlg dlg(shell, rig.opener);
    shell.dlg = &dlg;
    rig.Drives(1636, 1636);
    dlg.SelectDriveRow(testing_support::AddDriveRow(dlg, "tgt"));
    dlg.Press(id::kCloneTarget);
    dlg.SelectDriveRow(testing_support::AddDriveRow(dlg, "src"));
    shell.answers = {Answer::kYes};
    dlg.Press(command);
    const uint64_t unit = command == id::kOneSectorClone ? 1 : kChunk;
    Mbr mbr = command == id::kOneSectorClone ? Mbr::kUntouched : Mbr::kMarked;
    EXPECT_EQ(FirstDifference(rig.TargetBytes(),
                              Expected(rig.source, rig.oldTarget, mbr, {{0, unit, From::kSource}})),
              "");
    EXPECT_EQ(dlg.Text(id::kProgress), "0");
    // The next run starts afresh: the stop request is cleared.
    shell.answers = {Answer::kYes};
    dlg.Press(id::kClone);
    EXPECT_EQ(FirstDifference(rig.TargetBytes(),
                              Expected(rig.source, rig.oldTarget, Mbr::kUntouched,
                                       {{0, 1536, From::kSource}})),
              "");
  }
}

TEST(CloneFamily, ACloneCommandDuringARunIsIgnored) {
  CloneRig rig;
  StoppingShell shell;
  app::CMainDlg dlg(shell, rig.opener);
  shell.dlg = &dlg;
  shell.press = {id::kErrPauseOneSec, id::kOneSectorClone, id::kClone};
  rig.Drives(1100, 1100);
  dlg.SelectDriveRow(testing_support::AddDriveRow(dlg, "tgt"));
  dlg.Press(id::kCloneTarget);
  dlg.SelectDriveRow(testing_support::AddDriveRow(dlg, "src"));
  shell.answers = {Answer::kYes, Answer::kYes, Answer::kYes};
  dlg.Press(id::kClone);
  EXPECT_EQ(shell.Lines(), (std::vector<std::string>{kConfirm}));
  EXPECT_EQ(FirstDifference(rig.TargetBytes(), Expected(rig.source, rig.oldTarget, Mbr::kMarked,
                                                        {{0, 1024, From::kSource}})),
            "");
}

TEST(CloneFamily, InterruptStopsTheRunAndNoChainedRunFollows) {
  CloneRig rig;
  rig.Drives(1636, 1636, {1100});
  rig.CreateLog();
  diskutil::RequestInterrupt();
  rig.dlg.Press(id::kErrBreakClone);
  // Nothing starts once the process was interrupted.
  EXPECT_EQ(FirstDifference(rig.TargetBytes(), rig.oldTarget), "");
  EXPECT_EQ(rig.Log(), "");
}

// ---------------------------------------------------------------------------
// Faults mended.

TEST(CloneFaults, TargetWithNoSelectedRowLeavesNoTarget) {
  CloneRig rig;
  rig.Drives(1100, 1100);
  ASSERT_EQ(rig.dlg.m_targetDrive, "tgt");
  rig.dlg.driveList().selected = -1;
  rig.dlg.Press(id::kCloneTarget);
  EXPECT_EQ(rig.dlg.m_targetDrive, "");
  EXPECT_EQ(rig.dlg.m_targetCapacity, 0u);
  EXPECT_EQ(rig.dlg.Text(id::kTargetDrive), "");

  rig.dlg.driveList().selected = 1;  // the source's row, as after a click
  rig.shell.answers = {Answer::kYes, Answer::kYes};
  rig.dlg.Press(id::kClone);
  EXPECT_EQ(rig.shell.Lines(),
            (std::vector<std::string>{"Lumisave: The data on  will lost !!! Proceed (Yes/No) ?",
                                      kSizeQuestion, "Lumisave: open destine disk error"}));
  EXPECT_EQ(FirstDifference(rig.TargetBytes(), rig.oldTarget), "");
}

TEST(CloneFaults, TheSourceItselfIsRefusedAsTarget) {
  CloneRig rig;
  rig.Drives(1100, 1100);
  // A second name for the source's own image, and its plain path.
  rig.opener.AddFaulty("again", rig.dir / "src.img", {});
  for (const std::string& name : {std::string("again"), rig.dir / "src.img",
                                  rig.dir.path() + "/./src.img"}) {
    SCOPED_TRACE(name);
    rig.shell.boxes.clear();
    rig.dlg.m_targetDrive = name;
    rig.dlg.m_targetCapacity = 1100 * 512;
    rig.dlg.UpdateData(false);
    rig.shell.answers = {Answer::kYes};
    rig.dlg.Press(id::kClone);
    EXPECT_EQ(rig.shell.Lines().back(), "Lumisave: open destine disk error");
    EXPECT_EQ(testing_support::ReadFile(rig.dir / "src.img"), rig.source);
  }
}

TEST(CloneFaults, RetryReadsAndWritesEachSectorInItsPlaceWhenReadsDrift) {
  for (int command : {id::kClone, id::kOneSectorClone}) {
    SCOPED_TRACE(command);
    CloneRig rig;
    rig.opener.Drift("src");
    rig.Drives(1100, 1100, {5, 600});
    rig.CreateLog();
    rig.shell.answers = {Answer::kYes};
    rig.dlg.Press(command);
    const uint64_t end = command == id::kClone ? 1024 : 1100;
    const Mbr mbr = command == id::kClone ? Mbr::kMarked : Mbr::kUntouched;
    EXPECT_EQ(FirstDifference(rig.TargetBytes(),
                              Expected(rig.source, rig.oldTarget, mbr,
                                       {{0, 5, From::kSource},
                                        {6, 600, From::kSource},
                                        {601, end, From::kSource}})),
              "");
  }
}

TEST(CloneFaults, AFailedWriteStopsTheCloneWithAMessage) {
  struct Case {
    int command;
    uint64_t failFromSector;
    uint64_t copiedUpTo;
  } cases[] = {
      {id::kClone, 600, 512},        // the second chunk's write fails
      {id::k512SecJmp, 600, 512},
      {id::kErrBreakClone, 600, 512},  // and no sector-by-sector pass follows
      {id::kOneSectorClone, 300, 300},
      {id::kErrPauseOneSec, 300, 300},  // and Add does not run
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    CloneRig rig;
    rig.opener.FailWritesFrom("tgt", c.failFromSector * 512);
    rig.Drives(1636, 1636);
    rig.dlg.SetText(id::kAddValue, "5");
    rig.shell.answers = {Answer::kYes};
    rig.dlg.Press(c.command);
    EXPECT_EQ(rig.shell.Lines().back(), "Lumisave: write destine disk error");
    EXPECT_EQ(rig.shell.boxes.back().buttons, platform::Buttons::kOk);
    EXPECT_EQ(rig.dlg.Text(id::kProgress), "0");
    EXPECT_EQ(rig.dlg.Text(id::kStartSector), "0");
    const Mbr mbr = c.command == id::kClone || c.command == id::k512SecJmp ? Mbr::kMarked
                                                                            : Mbr::kUntouched;
    EXPECT_EQ(FirstDifference(rig.TargetBytes(),
                              Expected(rig.source, rig.oldTarget, mbr,
                                       {{0, c.copiedUpTo, From::kSource}})),
              "");
  }
}

TEST(CloneFaults, AFailedWriteInTheSectorRetryStopsToo) {
  CloneRig rig;
  rig.opener.FailWritesFrom("tgt", 100 * 512);
  rig.Drives(1100, 1100, {50});
  rig.CreateLog();
  rig.shell.answers = {Answer::kYes};
  rig.dlg.Press(id::kClone);
  EXPECT_EQ(rig.shell.Lines().back(), "Lumisave: write destine disk error");
  EXPECT_EQ(rig.Log(), "Clone= \r\n");
  EXPECT_EQ(FirstDifference(rig.TargetBytes(),
                            Expected(rig.source, rig.oldTarget, Mbr::kMarked,
                                     {{0, 50, From::kSource}, {51, 100, From::kSource}})),
            "");
}

TEST(CloneFaults, AStartSectorBeyondAnyDiskDoesNotWrapIntoRange) {
  CloneRig rig;
  rig.Drives(1100, 1100);
  // 2^55 sectors: 2^64 bytes, which would wrap to byte 0.
  rig.dlg.SetText(id::kStartSector, "36028797018963968");
  rig.shell.answers = {Answer::kYes};
  rig.dlg.Press(id::kOneSectorClone);
  EXPECT_EQ(rig.shell.Lines().back(), kOutOfDisk);
  EXPECT_EQ(FirstDifference(rig.TargetBytes(), rig.oldTarget), "");
}

// ---------------------------------------------------------------------------
// Failures of the drives and the layout.

TEST(CloneFailures, DrivesThatCannotBeOpenedOrRead) {
  {
    SCOPED_TRACE("no source");
    CloneRig rig;
    rig.Drives(1100, 1100);
    rig.dlg.m_sourceDrive = "missing";
    rig.shell.answers = {Answer::kYes};
    rig.dlg.Press(id::kClone);
    EXPECT_EQ(rig.shell.Lines().back(), "Lumisave: open source disk error");
  }
  {
    SCOPED_TRACE("source sector 0 unreadable");
    CloneRig rig;
    rig.Drives(1100, 1100, {0});
    rig.shell.answers = {Answer::kYes};
    rig.dlg.Press(id::kClone);
    EXPECT_EQ(rig.shell.Lines().back(), "error: IOCTL_DISK_GET_DRIVE_LAYOUT error");
    EXPECT_EQ(FirstDifference(rig.TargetBytes(), rig.oldTarget), "");
    // Without the layout transfer the same drive clones.
    rig.shell.answers = {Answer::kYes};
    rig.dlg.Press(id::kOneSectorClone);
    EXPECT_EQ(FirstDifference(rig.TargetBytes(),
                              Expected(rig.source, rig.oldTarget, Mbr::kUntouched,
                                       {{1, 1100, From::kSource}})),
              "");
  }
  {
    SCOPED_TRACE("target refuses the layout");
    CloneRig rig;
    rig.opener.FailWritesFrom("tgt", 0);
    rig.Drives(1100, 1100);
    rig.shell.answers = {Answer::kYes};
    rig.dlg.Press(id::k512SecJmp);
    EXPECT_EQ(rig.shell.Lines().back(), "error: set drive error");
  }
}

TEST(CloneFailures, LayoutOfThePartitionedSourceReachesAnUnpartitionedTarget) {
  CloneRig rig;
  rig.Drives(1100, 1100);
  // The source has a table; the clone starts past sector 0, so sector 0 of
  // the target shows what the layout transfer alone wrote.
  Bytes mbr(512, 0);
  const uint8_t entry[16] = {0x80, 1, 1, 0, 0x0C, 2, 2, 0, 0x08, 0, 0, 0, 0x40, 0, 0, 0};
  std::copy(entry, entry + 16, mbr.begin() + 446);
  mbr[440] = 0x78;
  mbr[441] = 0x56;
  mbr[442] = 0x34;
  mbr[443] = 0x12;
  mbr[510] = 0x55;
  mbr[511] = 0xAA;
  std::copy(mbr.begin(), mbr.end(), rig.source.begin());
  testing_support::WriteFile(rig.dir / "src.img", rig.source);
  rig.dlg.SetText(id::kStartSector, "1");
  rig.shell.answers = {Answer::kYes};
  rig.dlg.Press(id::kClone);
  Bytes target = rig.TargetBytes();
  EXPECT_TRUE(std::equal(target.begin() + 440, target.begin() + 444, mbr.begin() + 440));
  EXPECT_EQ(target[446], 0x80);
  EXPECT_EQ(target[450], 0x0C);
  EXPECT_TRUE(std::equal(target.begin() + 454, target.begin() + 462, mbr.begin() + 454));
  EXPECT_EQ(target[510], 0x55);
  EXPECT_EQ(target[511], 0xAA);
  EXPECT_EQ(target[0], 0xEE);  // the boot code is not part of the layout
}

// ---------------------------------------------------------------------------
// The controls.

TEST(CloneControls, StartSectorCommands) {
  struct Case {
    int command;
    const char* start;
    const char* add;
    const char* after;
  } cases[] = {
      {id::kSectorPlusOne, "", "", "1"},     {id::kIncStartSecNum, "", "", "10"},
      {id::kIncStartSecNum, "990", "", "1000"}, {id::kSectorPlusOne, "12a4", "", "1205"},
      {id::kAdd, "990", "", "990"},          {id::kAdd, "990", "20", "1010"},
      {id::kAdd, "", "", ""},                {id::kAdd, "18446744073709551615", "2", "1"},
  };
  for (const Case& c : cases) {
    CloneRig rig;
    rig.dlg.SetText(id::kStartSector, c.start);
    rig.dlg.SetText(id::kAddValue, c.add);
    rig.dlg.Press(c.command);
    EXPECT_EQ(rig.dlg.Text(id::kStartSector), c.after) << c.command << " " << c.start;
  }
}

TEST(CloneControls, Clear123CreatesOrEmptiesTheLog) {
  CloneRig rig;
  rig.dlg.Press(id::kClear123);
  ASSERT_TRUE(rig.HasLog());
  EXPECT_EQ(rig.Log(), "");
  testing_support::WriteFile(rig.dir / "123.txt", {'C', 'l', 'o', 'n', 'e', '=', ' ', '\r', '\n'});
  rig.dlg.Press(id::kClear123);
  EXPECT_EQ(rig.Log(), "");
}

TEST(CloneControls, CopyLayoutReadsTheSourceAndWritesNothing) {
  CloneRig rig;
  rig.dlg.Press(id::kCopyLayout);
  EXPECT_EQ(rig.shell.Lines(), (std::vector<std::string>{"Lumisave: open source disk error"}));
  rig.Drives(100, 100);
  rig.dlg.Press(id::kCopyLayout);
  EXPECT_EQ(rig.shell.Lines().size(), 1u);
  EXPECT_EQ(testing_support::ReadFile(rig.dir / "src.img"), rig.source);
  EXPECT_EQ(rig.TargetBytes(), rig.oldTarget);
}

}  // namespace
