// lumisave survey: where NTFS and FAT32 volumes begin or once began on a
// drive.
#include <iostream>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "base/numbers.h"

namespace cli {
namespace {

constexpr uint64_t kChunk = kSurveyChunkBytes;

struct SurveyOptions {
  std::string source;
  std::string bytes;
};

void PrintRows(const app::Control& list) {
  std::cout << list.columns.at(0).header << "\t" << list.columns.at(1).header << "\n";
  for (const auto& row : list.rows) std::cout << row.at(0) << "\t" << row.at(1) << "\n";
}

int Survey(const SurveyOptions& o) {
  Window window(Preset::kNo, ImageFiles({o.source}));
  app::CMainDlg& dlg = window.dlg;
  SelectSource(window, o.source);
  // The survey takes its byte count from the progress field; an empty field
  // surveys the whole drive.
  dlg.SetText(app::id::kProgress, o.bytes);
  const uint64_t count = base::ParseDecimal(o.bytes);
  uint64_t total = dlg.m_sourceCapacity;
  if (count >= kChunk && (total == 0 || count / kChunk * kChunk < total)) {
    total = count / kChunk * kChunk;
  }
  // The field counts down from the count; what it has lost is done.
  if (total > 0) {
    window.shell.TrackProgress(app::id::kProgress, total, 1, [count](const std::string& text) {
      return count - base::ParseDecimal(text);
    });
  }
  dlg.Press(app::id::kSearchForSuspects);
  window.shell.EndProgress();
  PrintRows(dlg.bootList());
  PrintRows(dlg.fatList());
  std::cout << std::flush;
  return StatusOf(window);
}

}  // namespace

void RegisterSurvey(CLI::App& app, Context& context) {
  auto options = std::make_shared<SurveyOptions>();
  CLI::App* cmd = app.add_subcommand(
      "survey",
      "Search a drive from its first sector for NTFS and FAT32 boot sectors and FAT32 "
      "allocation tables, and print them with their sector numbers (an empty number is "
      "sector 0).");
  cmd->add_option("--source", options->source,
                  "The drive to read: physicaldriveN (see 'lumisave drives'), a volume (D:), a "
                  "block device such as /dev/sdb, or an image file")
      ->required()
      ->check(SourceDrive());
  cmd->add_option("--bytes", options->bytes,
                  "How many bytes to survey, in whole chunks of 262144 bytes (default: the "
                  "whole drive)")
      ->check(SurveyByteCount());
  cmd->callback([options, &context] { context.status = Survey(*options); });
}

}  // namespace cli
