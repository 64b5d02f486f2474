// Volume copies between real block devices: loop devices over small images
// holding FAT and ext4 file systems, one of them mounted. Needs root.
#include <sys/mount.h>

#include <cstdio>
#include <map>

#include "app/main_dlg.h"
#include "platform/volumes.h"
#include "tests/support/loop_device.h"
#include "tests/support/run.h"
#include "tests/support/scripted_shell.h"
#include "tests/volume_fixture.h"

namespace {

using app::Answer;
using testing_support::Bytes;
using testing_support::ScriptedShell;
using testing_support::Shell;
using testing_support::TempDir;
using Lines = std::vector<std::string>;

Bytes ReadDevice(const std::string& node, size_t bytes) {
  Bytes b(bytes);
  FILE* f = std::fopen(node.c_str(), "rb");
  if (!f) return {};
  b.resize(std::fread(b.data(), 1, bytes, f));
  std::fclose(f);
  return b;
}

class LoopVolumeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing_support::IsRoot()) GTEST_SKIP() << "loop devices need root";
    source = Attach("source.img", 8, "mkfs.fat -n LOOPSRC", true);
    target = Attach("target.img", 8, "mkfs.ext4 -q -F");
    small = Attach("small.img", 4, "mkfs.ext4 -q -F");
    ASSERT_FALSE(source.empty() || target.empty() || small.empty()) << "losetup failed";
    mountPoint = dir / "mnt";
    std::filesystem::create_directories(mountPoint);
  }

  void TearDown() override {
    if (mounted) ::umount(mountPoint.c_str());
    attached.clear();  // detaches the loop devices
  }

  // An image of `mib` MiB with a file system, on a loop device of its own.
  // With `pattern`, its second MiB is filled with something to copy.
  std::string Attach(const std::string& name, int mib, const std::string& mkfs,
                     bool pattern = false) {
    const std::string image = dir / name;
    Shell("truncate -s " + std::to_string(mib) + "M " + image);
    Shell(mkfs + " " + image + " >/dev/null 2>&1");
    if (pattern) {
      Bytes data(1 << 20);
      for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i % 251);
      FILE* f = std::fopen(image.c_str(), "r+b");
      if (!f) return "";
      std::fseek(f, 1 << 20, SEEK_SET);
      std::fwrite(data.data(), 1, data.size(), f);
      std::fclose(f);
    }
    attached.push_back(std::make_unique<testing_support::LoopDevice>(image));
    return attached.back()->node();
  }

  // The root of a device's volume, as the machine's volume list names it.
  std::string RootOf(const std::string& node) {
    Shell("udevadm settle 2>/dev/null");
    const platform::VolumeTable table(platform::MachineSources{});
    for (const platform::Volume& v : table.volumes()) {
      if (v.node == node) return std::string(1, v.letter) + ":\\";
    }
    return "";
  }

  void Mount(const std::string& node) {
    ASSERT_EQ(::mount(node.c_str(), mountPoint.c_str(), "ext4", 0, nullptr), 0);
    mounted = true;
  }

  // Opens a volume letter only while it still names the loop device the test
  // found under it: other tests may attach loop devices meanwhile, and the
  // letters after theirs would then move onto volumes this test does not own.
  class PinnedOpener : public platform::DeviceOpener {
   public:
    void Pin(const std::string& root, const std::string& node) {
      pins_[root.substr(0, 2)] = node;
    }
    platform::DeviceHandle Open(const std::string& path, platform::Access access) override {
      const std::string name = platform::StripDevicePrefix(path);
      auto pin = pins_.find(name);
      if (pin != pins_.end() && Resolve(name) != pin->second) {
        ADD_FAILURE() << name << " no longer names " << pin->second;
        return nullptr;
      }
      return DeviceOpener::Open(path, access);
    }

   private:
    std::map<std::string, std::string> pins_;
  };

  struct Window {
    Window() : dlg(shell, opener) {}
    void Press(int id, const std::string& source, const std::string& target,
               std::vector<Answer> answers) {
      dlg.SetText(app::id::kSourceName, source);
      dlg.SetText(app::id::kVolumeRoot, target);
      shell.answers.assign(answers.begin(), answers.end());
      dlg.Press(id);
    }
    ScriptedShell shell;
    PinnedOpener opener;
    app::CMainDlg dlg;
  };

  TempDir dir;
  std::string source, target, small, mountPoint;
  std::vector<std::unique_ptr<testing_support::LoopDevice>> attached;
  bool mounted = false;
};

TEST_F(LoopVolumeTest, CopyCopiesOneVolumeOntoAnother) {
  const std::string from = RootOf(source), to = RootOf(target);
  ASSERT_FALSE(from.empty() || to.empty());
  Window w;
  w.opener.Pin(from, source);
  w.opener.Pin(to, target);
  w.Press(app::id::kCopy, from, to, {Answer::kYes});
  EXPECT_EQ(w.shell.boxes.size(), 1u);
  EXPECT_EQ(w.dlg.Text(app::id::kVolumeProgress), "done");
  EXPECT_EQ(ReadDevice(target, 8 << 20), ReadDevice(source, 8 << 20));
}

TEST_F(LoopVolumeTest, AMountedTargetIsRefusedAndLeftAsItWas) {
  const std::string from = RootOf(source), to = RootOf(target);
  ASSERT_FALSE(from.empty() || to.empty());
  Mount(target);
  const Bytes before = ReadDevice(target, 1 << 20);
  for (int id : {app::id::kCopy, app::id::kDvdCopy}) {
    Window w;
    w.opener.Pin(from, source);
    w.opener.Pin(to, target);
    // (A mounted file system reports less than its device's size, so Copy
    // asks about the sizes first.)
    w.Press(id, from, to, {Answer::kYes, Answer::kYes});
    EXPECT_EQ(w.shell.Lines().back(), "Lumisave: open target disk error");
    EXPECT_EQ(w.dlg.Text(app::id::kVolumeProgress), "0");
  }
  EXPECT_EQ(ReadDevice(target, 1 << 20), before);
  // The kernel refuses an exclusive open of a mounted device as well.
  errno = 0;
  EXPECT_EQ(platform::OpenPath(target, platform::Access::kReadWrite), nullptr);
  EXPECT_EQ(errno, EBUSY);

  // The read pass only reads, so a mounted volume can be tested.
  Window w;
  w.opener.Pin(to, target);
  w.Press(app::id::kRawRecovery, "", to, {});
  EXPECT_TRUE(w.shell.boxes.empty());
  EXPECT_EQ(w.dlg.Text(app::id::kVolumeProgress), "done");
}

// A second loop device over the source's own image is a volume of its own
// to the volume list, but writing it would write the source: both copies
// refuse it in words before anything is opened.
TEST_F(LoopVolumeTest, ATargetOnTheSourcesStorageIsRefused) {
  attached.push_back(std::make_unique<testing_support::LoopDevice>(dir / "source.img"));
  const std::string twin = attached.back()->node();
  ASSERT_FALSE(twin.empty());
  const std::string from = RootOf(source), to = RootOf(twin);
  ASSERT_FALSE(from.empty() || to.empty());
  for (int id : {app::id::kCopy, app::id::kDvdCopy}) {
    Window w;
    w.opener.Pin(from, source);
    w.opener.Pin(to, twin);
    w.Press(id, from, to, {Answer::kYes, Answer::kYes});
    ASSERT_FALSE(w.shell.boxes.empty());
    EXPECT_NE(w.shell.boxes.back().text.find("shares storage with the source"),
              std::string::npos)
        << w.shell.boxes.back().text;
    EXPECT_NE(w.dlg.Text(app::id::kVolumeProgress), "done");
  }
}

TEST_F(LoopVolumeTest, ATargetTooSmallStopsTheCopyAtItsEndWithAWriteError) {
  const std::string from = RootOf(source), to = RootOf(small);
  ASSERT_FALSE(from.empty() || to.empty());
  Window w;
  w.opener.Pin(from, source);
  w.opener.Pin(to, small);
  w.Press(app::id::kCopy, from, to, {Answer::kYes, Answer::kYes});
  EXPECT_EQ(w.shell.Lines(),
            (Lines{"Lumisave: The data on " + to + " will lost !!! Proceed (Yes/No) ?",
                   "Lumisave: Target<Source,Continue ? (Yes/No)",
                   "Lumisave: write target disk error"}));
  EXPECT_EQ(w.dlg.Text(app::id::kVolumeProgress), "4194304");
}

}  // namespace
