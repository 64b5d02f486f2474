// The whole command line in one place: `lumisave` parses it, and
// lumisave-docgen walks it to write the manual page and the shell completion,
// so that both always describe the options the program really takes.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"

namespace cli {

// The version printed by --version ("0.1"), from the build's project version.
const char* Version();

// The top-level app with --help-all, --version and every subcommand; parsing
// it runs the chosen command, which leaves its exit status in `context`.
std::unique_ptr<CLI::App> MakeApp(Context& context);

// The names `recover --type` accepts, in the order its help lists them.
std::vector<std::string> TypeNames();

}  // namespace cli
