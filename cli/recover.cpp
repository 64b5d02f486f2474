#include <filesystem>
#include <iostream>
#include <unistd.h>

#include "cli/commands.h"
#include "scan/numbers.h"

namespace cli {
namespace {

struct RecoverOptions {
  std::string source;
  std::string out;
  std::string start;
  std::string end;
};

// One line per output folder that received files: count and bytes.
void PrintSummary(const std::string& root) {
  std::error_code ec;
  for (const char* sub : {"/JPEG", "/JPEG0"}) {
    uint64_t files = 0, bytes = 0;
    for (const auto& e : std::filesystem::directory_iterator(root + sub, ec)) {
      if (!e.is_regular_file(ec)) continue;
      ++files;
      bytes += e.file_size(ec);
    }
    if (files > 0) {
      std::cerr << root << sub << ": " << files << (files == 1 ? " file, " : " files, ")
                << HumanBytes(bytes) << std::endl;
    }
  }
}

int Recover(const RecoverOptions& o, const Context& context) {
  Window window(context.preset());
  app::CMainDlg& dlg = window.dlg;
  dlg.SetText(app::id::kOutputFolder, o.out);
  SelectSource(window, o.source);
  if (!o.start.empty()) dlg.SetText(app::id::kStartSector, o.start);
  if (!o.end.empty()) dlg.SetText(app::id::kEndSector, o.end);

  // Progress: field 1040 holds the first sector of the chunk just scanned.
  const uint64_t start = scan::ParseDecimal(dlg.Text(app::id::kStartSector));
  uint64_t end = scan::ParseDecimal(dlg.Text(app::id::kEndSector));
  const uint64_t n = dlg.m_sourceCapacity / platform::kSectorSize;
  if (end > n) end = n;
  if (end > start) {
    window.shell.TrackProgress(app::id::kSectorNum, end - start, platform::kSectorSize,
                               [start](const std::string& text) {
                                 return scan::ParseDecimal(text) + 512 - start;
                               });
  }
  dlg.Press(app::id::kStartRe);
  window.shell.EndProgress();
  if (::isatty(STDERR_FILENO) == 1) PrintSummary(o.out);
  return StatusOf(window);
}

}  // namespace

void RegisterRecover(CLI::App& app, Context& context) {
  auto options = std::make_shared<RecoverOptions>();
  CLI::App* cmd = app.add_subcommand(
      "recover",
      "Recover pictures from a drive or an image: every sector is searched for the start of a "
      "picture, and each picture found is copied into OUT/JPEG (EXIF) or OUT/JPEG0 (JFIF), "
      "named by its sector number.");
  cmd->add_option("--source", options->source,
                  "The drive to read: physicaldriveN (see 'lumisave drives'), a block device "
                  "such as /dev/sdb, or an image file")
      ->required();
  cmd->add_option("--out", options->out, "The output folder (created when missing)")->required();
  cmd->add_option("--start", options->start, "First sector to scan (default 0)");
  cmd->add_option("--end", options->end, "Sector to stop at (default: the end of the drive)");
  AddAnswerFlags(*cmd, context);
  cmd->callback([options, &context] { context.status = Recover(*options, context); });
}

}  // namespace cli
