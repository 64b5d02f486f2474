// Runs a program (usually the lumisave binary) and collects what it says.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct RunResult {
  int status = -1;  // exit status, or -1 when it did not exit normally
  std::string out;
  std::string err;
};

// Runs `argv` with stdin from /dev/null and HOME set to `home` when given.
RunResult Run(const std::vector<std::string>& argv, const std::string& home = "");

// Runs the lumisave binary that was built with the tests.
RunResult RunLumisave(const std::vector<std::string>& args, const std::string& home = "");

// Runs a shell command line, true when it exits 0.
bool Shell(const std::string& command, std::string* output = nullptr);

// Runs a shell command line and collects its standard output; the exit
// status (-1 when it did not exit normally).
int RunCommand(const std::string& command, std::string* output);

// What a command line run in a folder said (stdout and stderr together) and
// its exit status (-1 when it did not exit normally).
struct ShellResult {
  int status = -1;
  std::string output;
};

// Runs a shell command line in `folder`, with stdin from /dev/null.
ShellResult ShellIn(const std::string& folder, const std::string& line);

// `text` in single quotes for the shell.
std::string Quote(const std::string& text);

}  // namespace testing_support
