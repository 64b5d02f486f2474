// The window's front end on a terminal: every message box is one line
// "CAPTION: TEXT" on stderr, questions are answered by --yes/--no or asked on
// the terminal, and long commands draw a progress bar.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "window/shell.h"

namespace cli {

enum class Preset { kAsk, kYes, kNo };

class ConsoleShell : public app::Shell {
 public:
  explicit ConsoleShell(Preset preset = Preset::kAsk);
  ~ConsoleShell() override;

  app::Answer MessageBox(const std::string& text, const std::string& caption,
                              app::Buttons buttons, app::BoxKind kind) override;
  std::optional<std::string> PickFolder() override;
  void OpenFolder(const std::string& path) override;

  void EndProgress();
  // Progress told by an engine: `total` units of `unitBytes` bytes each,
  // then how many are done (drawn at most every 100 ms).
  void StartProgress(uint64_t total, uint64_t unitBytes);
  void ShowProgress(uint64_t done);

  // Whether a failure message was shown: the command's exit status is then 1.
  bool failed() const { return failed_; }

 private:
  void ClearBar();
  void DrawBar(uint64_t done);

  Preset preset_;
  bool failed_ = false;
  bool barShown_ = false;
  bool terminal_ = false;
  uint64_t total_ = 0;
  uint64_t unitBytes_ = 1;
  std::chrono::steady_clock::time_point started_;
  std::chrono::steady_clock::time_point lastDraw_;
};

// "12.3 MB", "1.5 GB": a byte count for people.
std::string HumanBytes(uint64_t bytes);

}  // namespace cli
