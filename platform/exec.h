// Starting the window's program from the command-line program.
#pragma once

#include <string>

namespace platform {

// The path of a program in the folder of the running executable.
std::string SiblingProgram(const std::string& name);

// Replaces this process with `program`, passing it argv[1..] of this one.
// Returns only on failure, with errno set.
void ExecProgram(const std::string& program, int argc, char** argv);

}  // namespace platform
