// Run through sudo or pkexec, every folder and file a run creates belongs to
// the person who started it, not to root.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/device.h"
#include "platform/fs.h"
#include "platform/owner.h"
#include "platform/session.h"
#include "tests/support/fixtures.h"
#include "tests/support/run.h"
#include "tests/support/scoped_env.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

constexpr uid_t kUser = 54321;
constexpr gid_t kGroup = 54322;

struct Owner {
  uid_t uid;
  gid_t gid;
  bool operator==(const Owner&) const = default;
};

Owner OwnerOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return {st.st_uid, st.st_gid};
}

std::ostream& operator<<(std::ostream& os, const Owner& o) {
  return os << o.uid << ":" << o.gid;
}

TEST(InvokingUser, ComesFromPkexecElseSudo) {
  if (!IsRoot()) GTEST_SKIP() << "only a root process has an invoking user";
  struct Case {
    std::optional<std::string> pkexecUid, sudoUid, sudoGid;
    std::optional<uid_t> uid;
    std::optional<gid_t> gid;
  };
  const Case cases[] = {
      {std::nullopt, "1000", "1001", 1000, 1001},
      {std::nullopt, "1000", std::nullopt, std::nullopt, std::nullopt},  // no group
      {std::nullopt, "12x", "1001", std::nullopt, std::nullopt},         // not a number
      {std::nullopt, "", "1001", std::nullopt, std::nullopt},
      {std::nullopt, "0", "0", std::nullopt, std::nullopt},  // sudo from root: root's files
      {std::nullopt, "4294967295", "1", std::nullopt, std::nullopt},  // (uid_t)-1
      {"0", "1000", "1001", std::nullopt, std::nullopt},  // pkexec from root wins over sudo
      {"99999999", std::nullopt, std::nullopt, std::nullopt, std::nullopt},  // no such user
  };
  for (const Case& c : cases) {
    ScopedEnv env;
    env.Set("PKEXEC_UID", c.pkexecUid);
    env.Set("SUDO_UID", c.sudoUid);
    env.Set("SUDO_GID", c.sudoGid);
    const auto user = platform::FindInvokingUser();
    const std::string what = c.pkexecUid.value_or("-") + " " + c.sudoUid.value_or("-");
    ASSERT_EQ(user.has_value(), c.uid.has_value()) << what;
    if (user) {
      EXPECT_EQ(user->uid, *c.uid) << what;
      EXPECT_EQ(user->gid, *c.gid) << what;
    }
  }
  // pkexec names only the user: group and home come from the password database.
  ScopedEnv env;
  env.Set("PKEXEC_UID", "0");
  env.Set("SUDO_UID", std::nullopt);
  EXPECT_FALSE(platform::FindInvokingUser());
  if (const passwd* pw = ::getpwnam("nobody")) {
    env.Set("PKEXEC_UID", std::to_string(pw->pw_uid));
    const auto user = platform::FindInvokingUser();
    ASSERT_TRUE(user);
    EXPECT_EQ(user->gid, pw->pw_gid);
    EXPECT_EQ(user->home, pw->pw_dir);
    EXPECT_EQ(platform::UserHomeFolder(), pw->pw_dir);
  }
}

TEST(InvokingUser, OwnsWhatTheFileFunctionsCreate) {
  if (!IsRoot()) GTEST_SKIP() << "giving files away needs root";
  TempDir dir;
  ScopedEnv env;
  env.Set("PKEXEC_UID", std::nullopt);
  env.Set("SUDO_UID", std::to_string(kUser));
  env.Set("SUDO_GID", std::to_string(kGroup));
  const Owner user{kUser, kGroup};

  ASSERT_TRUE(platform::CreateFolder(dir / "out"));
  EXPECT_EQ(OwnerOf(dir / "out"), user);
  platform::CreatedFile created = platform::CreateNewFile(dir / "out", "64", "jpg");
  ASSERT_TRUE(created.file);
  EXPECT_EQ(OwnerOf(dir / "out/64.jpg"), user);
  ASSERT_TRUE(platform::CreateOutputFile(dir / "log.txt"));
  EXPECT_EQ(OwnerOf(dir / "log.txt"), user);
  ASSERT_EQ(platform::ReplaceFileAtomically(dir / "map", "text\n"), 0);
  EXPECT_EQ(OwnerOf(dir / "map"), user);

  // What was there before keeps its owner: only what a run creates is given.
  std::ofstream(dir / "old.txt") << "old";
  ASSERT_EQ(::chown((dir / "old.txt").c_str(), 0, 0), 0);
  ASSERT_TRUE(platform::CreateOutputFile(dir / "old.txt"));
  EXPECT_EQ(OwnerOf(dir / "old.txt"), (Owner{0, 0}));
  ASSERT_EQ(::chown((dir / "out").c_str(), 0, 0), 0);
  EXPECT_FALSE(platform::CreateFolder(dir / "out"));
  EXPECT_EQ(OwnerOf(dir / "out"), (Owner{0, 0}));
  // A link planted where a folder was just made is never followed.
  fs::create_directory(dir / "victim");
  fs::create_directory_symlink(dir / "victim", dir / "link");
  EXPECT_FALSE(platform::CreateFolder(dir / "link"));
  EXPECT_EQ(OwnerOf(dir / "victim"), (Owner{0, 0}));
}

TEST(InvokingUser, ARecoveryRunThroughSudoLeavesEveryFileToTheUser) {
  if (!IsRoot()) GTEST_SKIP() << "needs root to run as if through sudo";
  TempDir dir;
  ImageBuilder img(4096);
  img.PutSector(64, FakeJpeg(0xE1, 70000, {69998}));
  img.PutSector(500, FakeJpeg(0xE0, 15000, {14998}));
  img.WriteTo(dir / "card.img");
  fs::create_directories(dir / "home");
  std::string out;
  const int status = RunCommand(
      "cd " + Quote(dir.path()) + " && HOME=" + Quote(dir / "home") + " SUDO_UID=" +
          std::to_string(kUser) + " SUDO_GID=" + std::to_string(kGroup) +
          " PKEXEC_UID= " + Quote(LUMISAVE_BINARY) + " recover --source card.img --out " +
          Quote(dir / "out") + " --yes --type all </dev/null 2>&1",
      &out);
  ASSERT_EQ(status, 0) << out;
  size_t files = 0;
  EXPECT_EQ(OwnerOf(dir / "out"), (Owner{kUser, kGroup}));
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(dir / "out")) {
    EXPECT_EQ(OwnerOf(e.path()), (Owner{kUser, kGroup})) << e.path();
    if (e.is_regular_file()) ++files;
  }
  EXPECT_EQ(files, 3u) << out;  // two pictures and the report
}

TEST(InvokingUser, ViewPhotosOpensTheFolderAsTheUserInTheirSession) {
  if (!IsRoot()) GTEST_SKIP() << "only a root process has an invoking user";
  TempDir dir;
  fs::permissions(dir.path(), fs::perms::all);
  fs::create_directories(dir / "bin");
  std::ofstream(dir / "bin/xdg-open")
      << "#!/bin/sh\n{ echo \"args: $*\"; echo \"uid: $(id -u)\"; echo \"gid: $(id -g)\"; env; } > "
      << Quote(dir / "record.tmp") << " && mv " << Quote(dir / "record.tmp") << " "
      << Quote(dir / "record") << "\n";
  fs::permissions(dir / "bin/xdg-open", fs::perms::all);
  ScopedEnv env;
  env.Set("PATH", (dir / "bin") + ":/usr/bin:/bin");
  env.Set("PKEXEC_UID", std::nullopt);
  env.Set("SUDO_UID", std::to_string(kUser));
  env.Set("SUDO_GID", std::to_string(kGroup));
  env.Set("XDG_CONFIG_HOME", "/root/.config");
  env.Set("DISPLAY", ":7");
  platform::OpenFolderForUser(dir / "out");
  // The opener runs on its own; its record shows up when it is done.
  for (int i = 0; i < 600 && !fs::exists(dir / "record"); ++i) ::usleep(50000);
  std::ifstream in(dir / "record");
  std::stringstream record;
  record << in.rdbuf();
  const std::string text = record.str();
  EXPECT_NE(text.find("args: " + (dir / "out") + "\n"), std::string::npos) << text;
  EXPECT_NE(text.find("uid: 54321\ngid: 54322\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nXDG_RUNTIME_DIR=/run/user/54321\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nDBUS_SESSION_BUS_ADDRESS=unix:path=/run/user/54321/bus\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\nDISPLAY=:7\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("SUDO_"), std::string::npos) << text;
  EXPECT_EQ(text.find("XDG_CONFIG_HOME"), std::string::npos) << text;
}

}  // namespace
