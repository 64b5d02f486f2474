#include "platform/exec.h"

#include <unistd.h>

#include <climits>
#include <vector>

namespace platform {

std::string SiblingProgram(const std::string& name) {
  char self[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return name;
  std::string path(self, static_cast<size_t>(n));
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? name : path.substr(0, slash + 1) + name;
}

void ExecProgram(const std::string& program, int argc, char** argv) {
  std::vector<char*> args;
  args.push_back(const_cast<char*>(program.c_str()));
  for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
  args.push_back(nullptr);
  ::execv(program.c_str(), args.data());
}

}  // namespace platform
