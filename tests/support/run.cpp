#include "tests/support/run.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/support/fixtures.h"

namespace testing_support {
namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

RunResult Run(const std::vector<std::string>& argv, const std::string& home) {
  TempDir io;
  const std::string outPath = io / "out", errPath = io / "err";
  pid_t pid = ::fork();
  if (pid == 0) {
    int in = ::open("/dev/null", O_RDONLY);
    int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (!home.empty()) ::setenv("HOME", home.c_str(), 1);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  RunResult result;
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  result.out = Slurp(outPath);
  result.err = Slurp(errPath);
  return result;
}

RunResult RunLumisave(const std::vector<std::string>& args, const std::string& home) {
  std::vector<std::string> argv{LUMISAVE_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  return Run(argv, home);
}

bool Shell(const std::string& command, std::string* output) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return false;
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) text.append(buf, n);
  int status = ::pclose(pipe);
  if (output) *output = text;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace testing_support
