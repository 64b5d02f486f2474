// Checks of the command line's arguments, made while it is parsed: a wrong
// argument ends the program with status 2 and a usage message before
// anything is asked, opened or created.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>

#include "base/chunk.h"

namespace cli {

// The survey reads whole chunks of this many bytes.
constexpr uint64_t kSurveyChunkBytes = base::kChunkBytes;

// `text` as a number of decimal digits only (no sign, no blanks, not empty)
// that fits 64 bits.
bool ParseDecimal64(const std::string& text, uint64_t* value);

// A number option: decimal digits only, at most 2^64 - 1.
const CLI::Validator& DecimalNumber();

// survey --bytes: a decimal number of at least one chunk.
const CLI::Validator& SurveyByteCount();

// A drive to read: a drive name of a present drive (physicaldriveN, a
// volume), a block device or a regular file. A missing path, a folder, a
// FIFO, a socket or a character device (/dev/zero) is refused.
const CLI::Validator& SourceDrive();

// A drive to write: as SourceDrive, except that a missing path passes (the
// command says itself that it cannot open it).
const CLI::Validator& TargetDrive();

// Why `drive` cannot be read as a drive, in plain words; empty when it can.
// `allowMissing` lets a path that does not exist pass.
std::string DriveProblem(const std::string& drive, bool allowMissing = false);

// After `command` is parsed: an end sector before the start sector (both
// given) is a usage error. `start` and `end` are the options' variables.
void RequireEndNotBeforeStart(CLI::App& command, const std::string& start,
                              const std::string& end);

}  // namespace cli
