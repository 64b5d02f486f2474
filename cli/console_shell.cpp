#include "cli/console_shell.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace cli {

using Clock = std::chrono::steady_clock;

std::string HumanBytes(uint64_t bytes) {
  static const char* kUnits[] = {"B", "kB", "MB", "GB", "TB", "PB"};
  double v = static_cast<double>(bytes);
  int u = 0;
  while (v >= 1000 && u < 5) {
    v /= 1000;
    ++u;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, u == 0 ? "%.0f %s" : "%.1f %s", v, kUnits[u]);
  return buf;
}

ConsoleShell::ConsoleShell(Preset preset)
    : preset_(preset), terminal_(::isatty(STDERR_FILENO) == 1) {}

ConsoleShell::~ConsoleShell() { ClearBar(); }

app::Answer ConsoleShell::MessageBox(const std::string& text, const std::string& caption,
                                          app::Buttons buttons, app::BoxKind kind) {
  ClearBar();
  if (kind == app::BoxKind::kError) failed_ = true;
  if (buttons == app::Buttons::kOk) {
    std::cerr << caption << ": " << text << std::endl;
    return app::Answer::kOk;
  }
  if (preset_ != Preset::kAsk || ::isatty(STDIN_FILENO) != 1) {
    bool yes = preset_ == Preset::kYes;
    std::cerr << caption << ": " << text << (yes ? " [yes]" : " [no]") << std::endl;
    return yes ? app::Answer::kYes : app::Answer::kNo;
  }
  std::cerr << caption << ": " << text << " [y/N] " << std::flush;
  std::string line;
  std::getline(std::cin, line);
  bool yes = !line.empty() && (line[0] == 'y' || line[0] == 'Y');
  return yes ? app::Answer::kYes : app::Answer::kNo;
}

std::optional<std::string> ConsoleShell::PickFolder() {
  if (::isatty(STDIN_FILENO) != 1) return std::nullopt;
  ClearBar();
  std::cerr << "Folder: " << std::flush;
  std::string line;
  if (!std::getline(std::cin, line) || line.empty()) return std::nullopt;
  return line;
}

void ConsoleShell::OpenFolder(const std::string& path) { std::cout << path << std::endl; }

void ConsoleShell::EndProgress() {
  ClearBar();
  total_ = 0;
}

void ConsoleShell::StartProgress(uint64_t total, uint64_t unitBytes) {
  total_ = total;
  unitBytes_ = unitBytes;
  started_ = Clock::now();
  lastDraw_ = Clock::time_point{};
}

void ConsoleShell::ShowProgress(uint64_t done) {
  if (!terminal_ || total_ == 0) return;
  auto now = Clock::now();
  if (now - lastDraw_ < std::chrono::milliseconds(100)) return;
  lastDraw_ = now;
  DrawBar(done);
}

void ConsoleShell::DrawBar(uint64_t done) {
  if (done > total_) done = total_;
  const double fraction = static_cast<double>(done) / static_cast<double>(total_);
  const double seconds = std::chrono::duration<double>(Clock::now() - started_).count();
  const double bytes = static_cast<double>(done) * static_cast<double>(unitBytes_);
  const double rate = seconds > 0 ? bytes / seconds : 0;
  constexpr int kWidth = 30;
  int filled = static_cast<int>(fraction * kWidth);
  std::string bar(static_cast<size_t>(filled), '#');
  bar.resize(kWidth, '.');
  char eta[32] = "--:--";
  if (rate > 0) {
    double left = (static_cast<double>(total_ - done) * static_cast<double>(unitBytes_)) / rate;
    unsigned s = static_cast<unsigned>(left);
    std::snprintf(eta, sizeof eta, "%u:%02u:%02u", s / 3600, s / 60 % 60, s % 60);
  }
  std::fprintf(stderr, "\r[%s] %5.1f%%  %s/s  %s left ", bar.c_str(), fraction * 100,
               HumanBytes(static_cast<uint64_t>(rate)).c_str(), eta);
  std::fflush(stderr);
  barShown_ = true;
}

void ConsoleShell::ClearBar() {
  if (!barShown_) return;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
  barShown_ = false;
}

}  // namespace cli
