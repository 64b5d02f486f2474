#include "cli/arguments.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/drives.h"

namespace cli {

bool ParseDecimal64(const std::string& text, uint64_t* value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  uint64_t n = 0;
  for (char c : text) {
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (n > (UINT64_MAX - digit) / 10) return false;
    n = n * 10 + digit;
  }
  *value = n;
  return true;
}

const CLI::Validator& DecimalNumber() {
  static const CLI::Validator check(
      [](std::string& text) {
        uint64_t value = 0;
        if (ParseDecimal64(text, &value)) return std::string();
        return "'" + text + "' is not a number of decimal digits (0 to 18446744073709551615)";
      },
      "NUMBER");
  return check;
}

const CLI::Validator& SurveyByteCount() {
  static const CLI::Validator check(
      [](std::string& text) {
        uint64_t value = 0;
        if (!ParseDecimal64(text, &value)) {
          return "'" + text + "' is not a number of decimal digits (0 to 18446744073709551615)";
        }
        if (value < kSurveyChunkBytes) {
          return text + " bytes is less than one chunk: give at least " +
                 std::to_string(kSurveyChunkBytes);
        }
        return std::string();
      },
      "BYTES");
  return check;
}

std::string DriveProblem(const std::string& drive, bool allowMissing) {
  const std::string name = platform::StripDevicePrefix(drive);
  const std::string file = platform::DeviceOpener().Resolve(name);
  if (file.empty()) return "there is no drive " + drive + " (see 'lumisave drives')";
  struct stat st;
  if (::stat(file.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      return allowMissing ? "" : file + " does not exist";
    }
    return "";  // cannot be looked at (permissions): the open says why
  }
  const std::string what = file == drive ? drive : drive + " (" + file + ")";
  if (S_ISBLK(st.st_mode) || S_ISREG(st.st_mode)) return "";
  if (S_ISDIR(st.st_mode)) return what + " is a folder, not a drive or an image file";
  if (S_ISFIFO(st.st_mode)) return what + " is a pipe, not a drive or an image file";
  if (S_ISSOCK(st.st_mode)) return what + " is a socket, not a drive or an image file";
  if (S_ISCHR(st.st_mode)) {
    return what + " is a character device, not a drive or an image file";
  }
  return what + " is not a drive or an image file";
}

const CLI::Validator& SourceDrive() {
  static const CLI::Validator check([](std::string& text) { return DriveProblem(text); },
                                    "DRIVE");
  return check;
}

const CLI::Validator& TargetDrive() {
  static const CLI::Validator check([](std::string& text) { return DriveProblem(text, true); },
                                    "DRIVE");
  return check;
}

void RequireEndNotBeforeStart(CLI::App& command, const std::string& start,
                              const std::string& end) {
  command.parse_complete_callback([&start, &end] {
    uint64_t first = 0, last = 0;
    if (ParseDecimal64(start, &first) && ParseDecimal64(end, &last) && last < first) {
      throw CLI::ValidationError("--end", "end sector " + end + " is before start sector " + start);
    }
  });
}

}  // namespace cli
