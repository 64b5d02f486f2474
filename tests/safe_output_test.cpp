// What a scan writes, and where: recovered files never replace or follow
// anything, a full output disk stops the scan with whole files only, a stop
// signal leaves whole files and the command that goes on, the report lists
// every file with the drive's bytes it came from, and nothing is written onto
// the drive being read.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <thread>

#include "base/sha256.h"
#include "platform/device.h"
#include "platform/devtree.h"
#include "scan/dfxml_report.h"
#include "tests/support/faulty_mount.h"
#include "tests/support/fixtures.h"
#include "tests/support/loop_device.h"
#include "tests/support/run.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

// A JPEG-like file whose bytes depend on `seed`, ending at its FF D9; an
// EXIF one (E1) has a thumbnail's FF D9 halfway too.
Bytes Jpeg(uint8_t app, size_t size, unsigned seed) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(0x20 + (i * 7 + seed) % 64);
  const uint8_t head[4] = {0xFF, 0xD8, 0xFF, app};
  std::memcpy(b.data(), head, 4);
  if (app == 0xE1) {
    b[size / 2] = 0xFF;
    b[size / 2 + 1] = 0xD9;
  }
  b[size - 2] = 0xFF;
  b[size - 1] = 0xD9;
  return b;
}

std::string Sha256Of(const Bytes& data) {
  base::Sha256 sha;
  sha.Update(data.data(), data.size());
  return sha.HexDigest();
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every regular file under `folder`, by path relative to it, with its bytes.
std::map<std::string, Bytes> Tree(const std::string& folder) {
  std::map<std::string, Bytes> files;
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(folder, ec)) {
    if (e.is_regular_file() && !e.is_symlink()) {
      files[fs::relative(e.path(), folder).string()] = ReadFile(e.path().string());
    }
  }
  return files;
}

// The same without the run's reports.
std::map<std::string, Bytes> RecoveredFiles(const std::string& folder) {
  std::map<std::string, Bytes> files = Tree(folder);
  for (auto it = files.begin(); it != files.end();) {
    it = it->first.rfind("report", 0) == 0 ? files.erase(it) : std::next(it);
  }
  return files;
}

struct ReportedRun {
  uint64_t fileOffset = 0;
  uint64_t imgOffset = 0;
  uint64_t len = 0;
  bool hole = false;
};
struct ReportedObject {
  std::string filename;
  uint64_t filesize = 0;
  std::vector<ReportedRun> runs;
  std::string sha256;
};

// The fileobjects of a report, read with patterns (the report is written
// one element a line).
std::vector<ReportedObject> ReadReport(const std::string& path) {
  const std::string text = ReadText(path);
  std::vector<ReportedObject> objects;
  const std::regex object("<fileobject>([\\s\\S]*?)</fileobject>");
  const std::regex name("<filename>(.*)</filename>");
  const std::regex size("<filesize>(\\d+)</filesize>");
  const std::regex run("<byte_run file_offset=\"(\\d+)\"( fill=\"0\"| img_offset=\"(\\d+)\") len=\"(\\d+)\"/>");
  const std::regex hash("<hashdigest type=\"sha256\">([0-9a-f]{64})</hashdigest>");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), object); it != std::sregex_iterator();
       ++it) {
    const std::string body = (*it)[1];
    ReportedObject o;
    std::smatch m;
    if (std::regex_search(body, m, name)) o.filename = m[1];
    if (std::regex_search(body, m, size)) o.filesize = std::stoull(m[1]);
    if (std::regex_search(body, m, hash)) o.sha256 = m[1];
    for (auto r = std::sregex_iterator(body.begin(), body.end(), run); r != std::sregex_iterator();
         ++r) {
      ReportedRun br;
      br.fileOffset = std::stoull((*r)[1]);
      br.hole = (*r)[3].length() == 0;
      br.imgOffset = br.hole ? 0 : std::stoull((*r)[3]);
      br.len = std::stoull((*r)[4]);
      o.runs.push_back(br);
    }
    objects.push_back(o);
  }
  return objects;
}

// Checks that every fileobject of the report names an existing file whose
// size and bytes are the drive's along its runs (holes zero); returns the
// names it listed.
std::set<std::string> CheckReport(const std::string& report, const Bytes& drive) {
  std::set<std::string> names;
  const std::string folder = fs::path(report).parent_path().string();
  for (const ReportedObject& o : ReadReport(report)) {
    SCOPED_TRACE(o.filename);
    names.insert(o.filename);
    const Bytes file = ReadFile(folder + "/" + o.filename);
    EXPECT_EQ(file.size(), o.filesize);
    Bytes expected(o.filesize, 0);
    uint64_t covered = 0;
    for (const ReportedRun& r : o.runs) {
      EXPECT_EQ(r.fileOffset, covered) << "runs follow each other";
      EXPECT_LE(r.fileOffset + r.len, o.filesize);
      if (r.fileOffset + r.len > o.filesize) break;
      if (!r.hole) {
        EXPECT_LE(r.imgOffset + r.len, drive.size());
        if (r.imgOffset + r.len > drive.size()) break;
        std::memcpy(expected.data() + r.fileOffset, drive.data() + r.imgOffset, r.len);
      }
      covered = r.fileOffset + r.len;
    }
    EXPECT_EQ(covered, o.filesize);
    EXPECT_TRUE(file == expected) << "the file's bytes are the drive's along its runs";
    if (!o.sha256.empty()) {
      EXPECT_EQ(o.sha256, Sha256Of(file));
    }
  }
  return names;
}

TEST(Sha256, EqualsTheSystemToolForLengthsAroundTheBlockAndPadding) {
  TempDir dir;
  for (size_t length : {0, 1, 3, 55, 56, 63, 64, 65, 119, 120, 128, 1000003}) {
    SCOPED_TRACE(length);
    Bytes data(length);
    for (size_t i = 0; i < length; ++i) data[i] = static_cast<uint8_t>(i * 31 + i / 7);
    WriteFile(dir / "data", data);
    std::string out;
    ASSERT_TRUE(Shell("sha256sum " + Quote(dir / "data"), &out));
    const std::string expected = out.substr(0, 64);
    EXPECT_EQ(Sha256Of(data), expected);
    // Fed in uneven pieces, the buffering gives the same digest.
    base::Sha256 pieces;
    for (size_t at = 0; at < length; at += 37) {
      pieces.Update(data.data() + at, std::min<size_t>(37, length - at));
    }
    EXPECT_EQ(pieces.HexDigest(), expected);
  }
}

TEST(DfxmlReport, EscapesEveryTextAndWritesHolesAsFill) {
  struct Case {
    std::string text, escaped;
  } cases[] = {
      {"plain name.jpg", "plain name.jpg"},
      {"a&b<c>\"d'", "a&amp;b&lt;c&gt;&quot;d&apos;"},
      {"esc\x1b]0;t\x07", "esc\xEF\xBF\xBD]0;t\xEF\xBF\xBD"},
      {"del\x7f tab\t", "del\xEF\xBF\xBD tab\t"},
  };
  for (const Case& c : cases) EXPECT_EQ(scan::XmlEscape(c.text), c.escaped);

  scan::ReportSettings settings;
  settings.folder = "/out";
  settings.version = "1.2";
  settings.commandLine = "lumisave recover --out '/a&b'";
  settings.source = {"/dev/sdz", 1048576, "Card <Reader>", "00&1"};
  scan::ReportedFile f;
  f.record.path = "/out/JPEG/64.jpg";
  f.record.length = 1536;
  f.record.runs = {{0, 32768, 1024, false}, {1024, 0, 512, true}};
  const std::string text = scan::DfxmlText(settings, {f});
  for (const char* part :
       {"<command_line>lumisave recover --out &apos;/a&amp;b&apos;</command_line>",
        "<image_filename>/dev/sdz</image_filename>", "<image_size>1048576</image_size>",
        "<device_model>Card &lt;Reader&gt;</device_model>",
        "<device_serial_number>00&amp;1</device_serial_number>", "<filename>JPEG/64.jpg</filename>",
        "<filesize>1536</filesize>", "<byte_run file_offset=\"0\" img_offset=\"32768\" len=\"1024\"/>",
        "<byte_run file_offset=\"1024\" fill=\"0\" len=\"512\"/>"}) {
    EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
  }
}

class SafeOutput : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(home); }

  // An image with pictures at known sectors.
  Bytes MakeCard(uint64_t sectors, const std::vector<std::pair<uint64_t, Bytes>>& files) {
    ImageBuilder img(sectors);
    for (const auto& [sector, bytes] : files) img.PutSector(sector, bytes);
    img.WriteTo(dir / "card.img");
    return img.bytes();
  }

  RunResult Recover(const std::vector<std::string>& more) {
    std::vector<std::string> args{"recover", "--source", dir / "card.img", "--yes"};
    args.insert(args.end(), more.begin(), more.end());
    return RunLumisave(args, home);
  }

  TempDir dir;
  std::string home = dir / "home";
};

TEST_F(SafeOutput, TheReportListsEveryFileWithTheDriveBytesItCameFrom) {
  const Bytes card = MakeCard(6000, {{64, Jpeg(0xE1, 700000, 1)},
                                     {2500, Jpeg(0xE0, 150000, 2)},
                                     {5990, Jpeg(0xE0, 20000, 3)}});  // cut by the drive's end
  // --out with missing parents: they are made.
  const std::string out = dir / "a/b/out";
  RunResult r = Recover({"--out", out, "--hash"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::set<std::string> listed = CheckReport(out + "/report.xml", card);
  std::set<std::string> files;
  for (const auto& [name, bytes] : RecoveredFiles(out)) files.insert(name);
  EXPECT_EQ(listed, files);
  EXPECT_EQ(files, (std::set<std::string>{"JPEG/64.jpg", "JPEG0/2500.jpg", "JPEG0/5990.jpg"}));
  EXPECT_EQ(ReadReport(out + "/report.xml").front().sha256.size(), 64u) << "--hash adds digests";
  // The summary is on stdout without a terminal too.
  EXPECT_NE(r.out.find(out + "/JPEG: 1 file, "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(out + "/JPEG0: 2 files, "), std::string::npos) << r.out;

  // A second run into the same folder replaces nothing: its files and its
  // report take the next free names, and the first ones stay as they were.
  const auto before = Tree(out);
  RunResult again = Recover({"--out", out});
  ASSERT_EQ(again.status, 0) << again.err;
  const auto after = Tree(out);
  for (const auto& [name, bytes] : before) EXPECT_TRUE(after.at(name) == bytes) << name;
  EXPECT_EQ(CheckReport(out + "/report_1.xml", card),
            (std::set<std::string>{"JPEG/64_1.jpg", "JPEG0/2500_1.jpg", "JPEG0/5990_1.jpg"}));
  EXPECT_TRUE(ReadReport(out + "/report_1.xml").front().sha256.empty()) << "no digests by default";

  // A single-type scan reports into its own folder.
  RunResult single =
      RunLumisave({"pst-recovery", "--source", dir / "card.img", "--out", dir / "S"}, home);
  EXPECT_EQ(single.status, 0) << single.err;
  EXPECT_TRUE(fs::exists(dir / "Spst/report.xml"));
}

TEST_F(SafeOutput, RecoveredFilesNeverReplaceOrFollowWhatIsAtTheirName) {
  const Bytes picture = Jpeg(0xE0, 3000, 4);
  struct Case {
    const char* name;
    std::function<void(const std::string& folder, const std::string& outside)> plant;
    std::vector<std::string> expected;  // entries of OUT/JPEG0 afterwards
    bool created;                       // whether the picture was written
  } cases[] = {
      {"a file at the name",
       [](const std::string& f, const std::string&) { WriteFile(f + "/5.jpg", {1, 2, 3}); },
       {"5.jpg", "5_1.jpg"}, true},
      {"a link to a file outside",
       [](const std::string& f, const std::string& o) { fs::create_symlink(o + "/victim", f + "/5.jpg"); },
       {"5.jpg", "5_1.jpg"}, true},
      {"a dangling link",
       [](const std::string& f, const std::string& o) { fs::create_symlink(o + "/new", f + "/5.jpg"); },
       {"5.jpg", "5_1.jpg"}, true},
      {"a folder at the name",
       [](const std::string& f, const std::string&) { fs::create_directory(f + "/5.jpg"); },
       {"5.jpg", "5_1.jpg"}, true},
      {"a link at the type folder",
       [](const std::string& f, const std::string& o) {
         fs::remove(f);
         fs::create_directory_symlink(o, f);
       },
       {}, false},
  };
  MakeCard(600, {{5, picture}});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir run;
    const std::string out = run / "out";
    const std::string outside = run / "outside";
    fs::create_directories(out + "/JPEG0");
    fs::create_directories(outside);
    WriteFile(outside + "/victim", {9, 9});
    c.plant(out + "/JPEG0", outside);
    RunResult r = Recover({"--out", out});
    // Nothing outside the output folder changed.
    EXPECT_EQ(ReadFile(outside + "/victim"), (Bytes{9, 9}));
    EXPECT_FALSE(fs::exists(outside + "/new"));
    EXPECT_EQ(Tree(outside).size(), 1u);
    if (c.created) {
      EXPECT_EQ(r.status, 0) << r.err;
      std::vector<std::string> names;
      for (const auto& e : fs::directory_iterator(out + "/JPEG0")) {
        names.push_back(e.path().filename().string());
      }
      std::sort(names.begin(), names.end());
      EXPECT_EQ(names, c.expected);
      EXPECT_EQ(ReadFile(out + "/JPEG0/5_1.jpg"), picture);
    } else {
      EXPECT_EQ(r.status, 1);
      EXPECT_NE(r.err.find("Create File failed !"), std::string::npos) << r.err;
    }
  }
}

// A mounted 3 MiB memory file system as the output drive (root only).
class FullOutputDisk : public SafeOutput {
 protected:
  void SetUp() override {
    SafeOutput::SetUp();
    if (!IsRoot()) GTEST_SKIP() << "mounting needs root";
    fs::create_directories(small);
    ASSERT_TRUE(Shell("mount -t tmpfs -o size=3m tmpfs " + Quote(small)));
    mounted = true;
  }
  void TearDown() override {
    if (mounted) Shell("umount " + Quote(small));
  }
  std::string small = dir / "small";
  bool mounted = false;
};

TEST_F(FullOutputDisk, StopsAtTheFirstFailedWriteWithWholeFilesOnlyAndTheCommandThatGoesOn) {
  std::vector<std::pair<uint64_t, Bytes>> pictures;
  for (unsigned i = 0; i < 8; ++i) pictures.push_back({100 + i * 1500, Jpeg(0xE0, 700000, i)});
  MakeCard(13000, pictures);
  const std::string out = small + "/out";
  RunResult r = Recover({"--out", out});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find(std::strerror(ENOSPC)), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("hit the end of the drive"), std::string::npos) << r.err;
  // Every file left is whole and is the picture of its sector; the first
  // picture missing is where the printed command goes on.
  const auto files = RecoveredFiles(out);
  ASSERT_FALSE(files.empty());
  uint64_t firstMissing = 0;
  for (const auto& [sector, bytes] : pictures) {
    const auto it = files.find("JPEG0/" + std::to_string(sector) + ".jpg");
    if (it == files.end()) {
      firstMissing = sector;
      break;
    }
    EXPECT_TRUE(it->second == bytes) << it->first;
  }
  ASSERT_NE(firstMissing, 0u) << "3 MiB cannot hold 8 pictures of 700 kB";
  EXPECT_EQ(files.size(), static_cast<size_t>((firstMissing - 100) / 1500));
  EXPECT_NE(r.err.find(std::to_string(files.size()) + " files were saved whole"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("--start " + std::to_string(firstMissing)), std::string::npos) << r.err;
}

#ifdef LUMISAVE_FAULTY_FS
// The image served through the FUSE file system, pausing at a chosen sector
// until the test lets it go on (root only).
class PausedSource : public SafeOutput {
 protected:
  void SetUp() override {
    SafeOutput::SetUp();
    if (!IsRoot()) GTEST_SKIP() << "FUSE needs root";
    if (::access("/dev/fuse", R_OK | W_OK) != 0) GTEST_SKIP() << "/dev/fuse is missing";
  }
  bool Serve(const std::string& image, uint64_t pauseSector) {
    fs::create_directories(control);
    { std::ofstream(control + "/pause") << pauseSector; }
    mount = std::make_unique<testing_support::FaultyMount>(LUMISAVE_FAULTY_FS, image, "", mnt,
                                                           control);
    return mount->ready();
  }
  static bool WaitFor(const std::string& path) {
    for (int i = 0; i < 6000; ++i) {
      if (::access(path.c_str(), F_OK) == 0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  std::string mnt = dir / "mnt";
  // The file system's control folder: "paused" appears when the read of
  // the chosen sector is held, and the read goes on once it is removed.
  std::string control = dir / "control";
  std::string paused = control + "/paused";
  std::unique_ptr<testing_support::FaultyMount> mount;
};

TEST_F(PausedSource, ASignalMidScanLeavesWholeFilesAReportAndACommandThatRecoversTheRest) {
  // A 512 MiB card (sparse) with pictures before, across and after the
  // point where the signal comes: in the middle of copying a 3 MB picture.
  const uint64_t kSectors = 1048576;
  const std::vector<std::pair<uint64_t, Bytes>> pictures = {
      {1000, Jpeg(0xE1, 400000, 1)},
      {300000, Jpeg(0xE0, 100000, 2)},
      {600000, Jpeg(0xE1, 3000000, 3)},
      {610000, Jpeg(0xE0, 5000, 4)},
      {900000, Jpeg(0xE0, 200000, 5)}};
  const std::string image = dir / "card.img";
  {
    std::ofstream f(image, std::ios::binary);
    for (const auto& [sector, bytes] : pictures) {
      f.seekp(static_cast<std::streamoff>(sector * 512));
      f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
  }
  fs::resize_file(image, kSectors * 512);
  // The fourth pass of the big picture's copy.
  ASSERT_TRUE(Serve(image, 602000));

  const std::string out = dir / "out";
  const std::string stdoutFile = dir / "stdout", stderrFile = dir / "stderr";
  const pid_t scan = ::fork();
  if (scan == 0) {
    ::dup2(::open(stdoutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
    ::dup2(::open(stderrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
    ::execl(LUMISAVE_BINARY, LUMISAVE_BINARY, "recover", "--source", (mnt + "/disk.img").c_str(),
            "--out", out.c_str(), "--yes", static_cast<char*>(nullptr));
    ::_exit(98);
  }
  ASSERT_TRUE(WaitFor(paused));
  ::kill(scan, SIGINT);
  fs::remove(paused);
  int status = 0;
  ::waitpid(scan, &status, 0);
  const std::string err = ReadText(stderrFile);
  ASSERT_TRUE(WIFEXITED(status)) << err;
  EXPECT_EQ(WEXITSTATUS(status), 130) << err;
  // The picture in hand is gone, not cut; the report lists what is there.
  EXPECT_FALSE(fs::exists(out + "/JPEG/600000.jpg"));
  const Bytes card = ReadFile(image);
  std::set<std::string> first;
  for (const auto& [name, bytes] : RecoveredFiles(out)) first.insert(name);
  EXPECT_EQ(CheckReport(out + "/report.xml", card), first);
  const std::string goOn = "--start 600000";
  ASSERT_NE(err.find(goOn), std::string::npos) << err;
  EXPECT_NE(err.find("Go on with: lumisave recover"), std::string::npos) << err;

  // The printed command, then: the union equals one uninterrupted run.
  RunResult rest = RunLumisave({"recover", "--source", mnt + "/disk.img", "--out", out, "--yes",
                                "--start", "600000"},
                               home);
  EXPECT_EQ(rest.status, 0) << rest.err;
  RunResult whole =
      RunLumisave({"recover", "--source", image, "--out", dir / "whole", "--yes"}, home);
  EXPECT_EQ(whole.status, 0) << whole.err;
  const auto expected = RecoveredFiles(dir / "whole");
  const auto got = RecoveredFiles(out);
  EXPECT_EQ(got.size(), expected.size());
  for (const auto& [name, bytes] : expected) {
    ASSERT_TRUE(got.count(name)) << name;
    EXPECT_TRUE(got.at(name) == bytes) << name;
  }
  EXPECT_EQ(expected.size(), pictures.size());
  EXPECT_TRUE(fs::exists(out + "/report_1.xml"));
}

TEST_F(PausedSource, SigtermStopsASurveyWithItsOwnStatus) {
  const std::string image = dir / "disk.raw";
  testing_support::WriteFile(image, {});
  fs::resize_file(image, 64 << 20);
  ASSERT_TRUE(Serve(image, 60000));
  const pid_t survey = ::fork();
  if (survey == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(::open((dir / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
    ::execl(LUMISAVE_BINARY, LUMISAVE_BINARY, "survey", "--source", (mnt + "/disk.img").c_str(),
            static_cast<char*>(nullptr));
    ::_exit(98);
  }
  ASSERT_TRUE(WaitFor(paused));
  ::kill(survey, SIGTERM);
  fs::remove(paused);
  int status = 0;
  ::waitpid(survey, &status, 0);
  const std::string err = ReadText(dir / "stderr");
  ASSERT_TRUE(WIFEXITED(status)) << err;
  EXPECT_EQ(WEXITSTATUS(status), 143) << err;
  EXPECT_NE(err.find("stopped by SIGTERM at sector "), std::string::npos) << err;
}
#endif

// Loop devices over one patterned image with two partitions, and an ext4
// file system on the second (root only; partition nodes made with mknod).
class OntoTheSource : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!IsRoot()) GTEST_SKIP() << "needs root for loop devices";
    fs::create_directories(home);
    image = dir / "card.img";
    ImageBuilder img(24576);
    for (uint64_t s = 0; s < 24576; ++s) {
      img.Put(s * 512, Bytes{static_cast<uint8_t>(s), static_cast<uint8_t>(s >> 8), 0x5A});
    }
    img.WriteTo(image);
    TwoPartitionDisk card(image, dir.path());
    ASSERT_TRUE(card.partitioned);
    disk = std::move(card.disk);
    if (disk->node().empty()) GTEST_SKIP() << "no loop device could be attached";
    part1 = card.part1;
    part2 = card.part2;
    ASSERT_FALSE(part1.empty());
    ASSERT_FALSE(part2.empty());
  }


  static std::string Checksum(const std::string& path) {
    std::string out;
    Shell("sha256sum " + Quote(path), &out);
    return out.substr(0, 64);
  }

  TempDir dir;
  std::string home = dir / "home";
  std::string image, part1, part2;
  std::unique_ptr<LoopDevice> disk;
};

TEST_F(OntoTheSource, AClonesTargetSharingStorageWithItsSourceIsRefusedUntouched) {
  LoopDevice front(image, "--sizelimit 6291456");
  LoopDevice middle(image, "--offset 4194304 --sizelimit 4194304");
  LoopDevice back(image, "--offset 6291456");
  ASSERT_FALSE(front.node().empty() || middle.node().empty() || back.node().empty());
  struct Case {
    const char* name;
    std::string source, target;
    bool refused;
  } cases[] = {
      {"a disk onto its partition", disk->node(), part1, true},
      {"a partition onto its disk", part2, disk->node(), true},
      {"a file onto a loop device over it", image, front.node(), true},
      {"loop devices over overlapping ranges", front.node(), middle.node(), true},
      {"loop devices over disjoint halves", front.node(), back.node(), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string before = Checksum(c.target);
    RunResult r = RunLumisave({"clone", "--source", c.source, "--target", c.target, "--yes"}, home);
    if (c.refused) {
      EXPECT_EQ(r.status, 1) << r.err;
      EXPECT_NE(r.err.find("shares storage with the source"), std::string::npos) << r.err;
      EXPECT_NE(r.err.find(c.target), std::string::npos) << r.err;
      EXPECT_NE(r.err.find(c.source), std::string::npos) << r.err;
      EXPECT_EQ(Checksum(c.target), before);
      // The window's Clone button refuses it the same way.
      RunResult button = RunLumisave(
          {"press", "--source", c.source, "--target", c.target, "--yes", "1009"}, home);
      EXPECT_NE(button.err.find("shares storage with the source"), std::string::npos) << button.err;
      EXPECT_EQ(Checksum(c.target), before);
    } else {
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(Checksum(c.target), Checksum(c.source));
    }
  }
}

TEST_F(OntoTheSource, AScanRefusesAnOutputFolderOnTheDriveItReadsAndNamesItsMounts) {
  const std::string mnt = dir / "mnt";
  const testing_support::Ext4Mount mounted(part2, mnt);
  ASSERT_TRUE(mounted.ready());

  for (const std::string& source : {disk->node(), part2}) {
    SCOPED_TRACE(source);
    RunResult r = RunLumisave({"recover", "--source", source, "--out", mnt + "/a/out", "--yes"}, home);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("lies on the drive being recovered"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("mounted read-write at " + mnt), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(mnt + "/a")) << "nothing is created";
    RunResult single = RunLumisave({"pst-recovery", "--source", source, "--out", mnt + "/b"}, home);
    EXPECT_EQ(single.status, 1) << single.err;
    EXPECT_FALSE(fs::exists(mnt + "/bpst"));
  }
  // An image file as source: only the image inside the output folder counts.
  fs::create_directories(mnt + "/img");
  fs::copy_file(image, mnt + "/img/card.img");
  RunResult inside =
      RunLumisave({"recover", "--source", mnt + "/img/card.img", "--out", mnt + "/img", "--yes"}, home);
  EXPECT_EQ(inside.status, 1) << inside.err;
  EXPECT_FALSE(fs::exists(mnt + "/img/JPEG"));
  RunResult beside = RunLumisave(
      {"recover", "--source", mnt + "/img/card.img", "--out", mnt + "/other", "--yes"}, home);
  EXPECT_EQ(beside.status, 0) << beside.err;

  // --unmount unmounts it first, for a scan and for a clone.
  const std::vector<std::vector<std::string>> commands = {
      {"recover", "--source", disk->node(), "--out", dir / "out", "--yes", "--unmount"},
      {"clone", "--source", disk->node(), "--target", dir / "copy.img", "--yes", "--unmount"}};
  for (const std::vector<std::string>& command : commands) {
    SCOPED_TRACE(command[0]);
    Shell("mount " + Quote(part2) + " " + Quote(mnt) + " 2>/dev/null");
    RunResult r = RunLumisave(command, home);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("unmounted " + mnt), std::string::npos) << r.err;
    std::string mounts;
    Shell("cat /proc/self/mounts", &mounts);
    EXPECT_EQ(mounts.find(" " + mnt + " "), std::string::npos);
  }
}

TEST(LogFile, OpensOnlyARegularFileAndNeverFollowsALink) {
  TempDir dir;
  WriteFile(dir / "victim", {7});
  fs::create_symlink(dir / "victim", dir / "link");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
  fs::create_directory(dir / "folder");
  WriteFile(dir / "log", {'a'});
  struct Case {
    std::string name;
    bool create;
    bool opens;
  } cases[] = {
      {"log", false, true},   {"missing", false, false}, {"new", true, true},
      {"link", false, false}, {"link", true, false},     {"fifo", false, false},
      {"fifo", true, false},  {"folder", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + (c.create ? " (create)" : ""));
    platform::DeviceHandle log = platform::OpenLogFile(dir / c.name, c.create);
    EXPECT_EQ(log != nullptr, c.opens);
    if (!log) continue;
    uint32_t written = 0;
    ASSERT_TRUE(log->Write("b", 1, &written));
  }
  EXPECT_EQ(ReadFile(dir / "log"), (Bytes{'a', 'b'})) << "appended";
  EXPECT_EQ(ReadFile(dir / "new"), (Bytes{'b'}));
  EXPECT_EQ(ReadFile(dir / "victim"), (Bytes{7}));
  // Created afresh, an existing log is emptied.
  ASSERT_TRUE(platform::OpenLogFile(dir / "log", true));
  EXPECT_TRUE(ReadFile(dir / "log").empty());
}

}  // namespace
