// Runs a shell command line and collects its standard output.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace testing_support {

// The exit status (-1 when it did not exit normally).
inline int RunCommand(const std::string& command, std::string* output) {
  output->clear();
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return -1;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output->append(buffer, n);
  const int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// `text` in single quotes for the shell.
inline std::string Quote(const std::string& text) {
  std::string q = "'";
  for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

}  // namespace testing_support
