// The command line's checks of its arguments: numbers, sector ranges and
// sources are refused with status 2 and a usage message before anything is
// asked or created.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "cli/arguments.h"
#include "tests/support/fixtures.h"
#include "tests/support/run.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

TEST(DecimalArgument, DigitsOnlyThatFit64Bits) {
  const struct {
    const char* text;
    bool ok;
    uint64_t value;
  } cases[] = {
      {"0", true, 0},
      {"2048", true, 2048},
      {"007", true, 7},
      {"18446744073709551615", true, UINT64_MAX},
      {"18446744073709551616", false, 0},
      {"99999999999999999999", false, 0},
      {"", false, 0},
      {"2048x", false, 0},
      {"-1", false, 0},
      {"+1", false, 0},
      {" 1", false, 0},
      {"1.5", false, 0},
      {"1e3", false, 0},
      {"0x10", false, 0},
  };
  for (const auto& c : cases) {
    uint64_t value = 12345;
    EXPECT_EQ(cli::ParseDecimal64(c.text, &value), c.ok) << "'" << c.text << "'";
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
}

class ArgumentsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(home);
    ImageBuilder(2048).WriteTo(card);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_directory(folder);
    // A socket file: bound, then closed (the file stays).
    const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(s, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof addr.sun_path);
    std::strcpy(addr.sun_path, socketPath.c_str());
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(s);
  }

  TempDir dir;
  std::string home = dir / "home";
  std::string card = dir / "card.img";
  std::string fifo = dir / "fifo";
  std::string folder = dir / "folder";
  std::string socketPath = dir / "sock";
  std::string out = dir / "out";
};

TEST_F(ArgumentsTest, BadNumbersRangesAndSourcesExitWithTwoAndCreateNothing) {
  WriteFile(dir / "dst.img", Bytes(1 << 20, 0xEE));
  const struct {
    std::vector<std::string> args;
    const char* says;  // in the message on stderr
  } cases[] = {
      {{"recover", "--source", card, "--out", out, "--start", "2048x"}, "--start"},
      {{"recover", "--source", card, "--out", out, "--start=-1"}, "--start"},
      {{"recover", "--source", card, "--out", out, "--start", "-5"}, "--start"},
      {{"recover", "--source", card, "--out", out, "--end", "abc"}, "--end"},
      {{"recover", "--source", card, "--out", out, "--end="}, "--end"},
      {{"recover", "--source", card, "--out", out, "--end", "18446744073709551616"}, "--end"},
      {{"recover", "--source", card, "--out", out, "--start", "1.5"}, "--start"},
      {{"recover", "--source", card, "--out", out, "--start", "100", "--end", "50"},
       "end sector 50 is before start sector 100"},
      {{"recover", "--source", fifo, "--out", out}, "is a pipe"},
      {{"recover", "--source", socketPath, "--out", out}, "is a socket"},
      {{"recover", "--source", "/dev/zero", "--out", out}, "is a character device"},
      {{"recover", "--source", "/dev/null", "--out", out}, "is a character device"},
      {{"recover", "--source", folder, "--out", out}, "is a folder"},
      {{"recover", "--source", dir / "missing.img", "--out", out}, "does not exist"},
      {{"recover", "--source", "physicaldrive999", "--out", out}, "there is no drive"},
      {{"pst-recovery", "--source", card, "--out", out, "--end", "12e3"}, "--end"},
      {{"office-recovery", "--source", fifo, "--out", out}, "is a pipe"},
      {{"survey", "--source", card, "--bytes", "1"}, "less than one chunk"},
      {{"survey", "--source", card, "--bytes", "262143"}, "less than one chunk"},
      {{"survey", "--source", card, "--bytes", ""}, "--bytes"},
      {{"survey", "--source", card, "--bytes", "1.5"}, "--bytes"},
      {{"survey", "--source", "/dev/zero"}, "is a character device"},
      {{"clone", "--source", card, "--target", dir / "dst.img", "--start", "2048x"}, "--start"},
      {{"clone", "--source", card, "--target", dir / "dst.img", "--add", "-1"}, "--add"},
      {{"clone", "--source", card, "--target", dir / "dst.img", "--add", "18446744073709551616"},
       "--add"},
      {{"clone", "--source", fifo, "--target", dir / "dst.img"}, "is a pipe"},
      {{"clone", "--source", card, "--target", fifo}, "is a pipe"},
      {{"clone", "--source", card, "--target", "/dev/null"}, "is a character device"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.push_back("--yes");
    if (args[0] == "survey") args.pop_back();  // survey asks nothing
    RunResult r = RunLumisave(args, home);
    std::string line;
    for (const std::string& a : args) line += a + " ";
    EXPECT_EQ(r.status, 2) << line << "\n" << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << line << "\n" << r.err;
    EXPECT_NE(r.err.find("--help"), std::string::npos) << line << "\n" << r.err;
    EXPECT_FALSE(fs::exists(out)) << line;
    EXPECT_FALSE(fs::exists(out + "pst")) << line;
    EXPECT_FALSE(fs::exists(out + "Office")) << line;
  }
  EXPECT_EQ(ReadFile(dir / "dst.img"), Bytes(1 << 20, 0xEE));
  EXPECT_TRUE(FilesIn(home).empty());
}

TEST_F(ArgumentsTest, AnEndAtTheStartAndAWholeChunkStillRun) {
  RunResult scan = RunLumisave(
      {"recover", "--source", card, "--out", out, "--start", "100", "--end", "100", "--yes"}, home);
  EXPECT_EQ(scan.status, 0) << scan.err;
  RunResult survey = RunLumisave({"survey", "--source", card, "--bytes", "262144"}, home);
  EXPECT_EQ(survey.status, 0) << survey.err;
}

}  // namespace
