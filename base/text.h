// Small text helpers every layer uses.
#pragma once

#include <string>

namespace base {

// ASCII letters lower-cased; other bytes unchanged.
std::string Lower(std::string s);

}  // namespace base
