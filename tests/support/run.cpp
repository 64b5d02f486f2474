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

int RunCommand(const std::string& command, std::string* output) {
  output->clear();
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return -1;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output->append(buffer, n);
  const int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool Shell(const std::string& command, std::string* output) {
  std::string text;
  const bool ok = RunCommand(command, &text) == 0;
  if (output) *output = text;
  return ok;
}

std::string Quote(const std::string& text) {
  std::string q = "'";
  for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

ShellResult ShellIn(const std::string& folder, const std::string& line) {
  ShellResult r;
  r.status = RunCommand("cd " + Quote(folder) + " && " + line + " </dev/null 2>&1", &r.output);
  return r;
}

}  // namespace testing_support
