#include "window/progress_strip.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "base/numbers.h"

namespace app {
namespace {

// The folder part of a path, by its last name: "JPEG" for /home/ann/Lumisave/JPEG/64.jpg.
std::string FolderNameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return path.empty() ? "" : "/";
  const size_t before = path.rfind('/', slash - 1);
  return path.substr(before == std::string::npos ? 0 : before + 1,
                     slash - (before == std::string::npos ? 0 : before + 1));
}

int PercentOf(const base::Progress& p) {
  if (p.total == 0) return 0;
  const double share = static_cast<double>(p.done) / static_cast<double>(p.total);
  return static_cast<int>(std::floor(std::min(share, 1.0) * 100.0));
}

}  // namespace

std::string TimeLeftText(double seconds) {
  if (!(seconds >= 0)) return "";
  const auto total = static_cast<uint64_t>(std::ceil(std::min(seconds, 1e12)));
  if (total < 60) return std::to_string(total) + " s";
  const uint64_t minutes = (total + 59) / 60;
  if (minutes < 60) return std::to_string(minutes) + " min";
  return std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) + " min";
}

std::string RunFactsText(const base::Progress& p, uint64_t unitBytes,
                         std::optional<uint64_t> files) {
  std::string text = std::to_string(PercentOf(p)) + " %";
  if (p.rate > 0 && std::isfinite(p.rate)) {
    const double bytesPerSecond = p.rate * static_cast<double>(unitBytes);
    text += " · " + base::HumanSize(static_cast<uint64_t>(std::min(bytesPerSecond, 1e18))) + "/s";
    const uint64_t left = p.total > p.done ? p.total - p.done : 0;
    text += " · " + TimeLeftText(static_cast<double>(left) / p.rate) + " left";
  }
  if (files) text += " · " + std::to_string(*files) + (*files == 1 ? " file" : " files") + " found";
  return text;
}

StripReporter::StripReporter(WindowModel& w, uint64_t unitBytes, bool countsFiles)
    : w_(w), unitBytes_(unitBytes), countsFiles_(countsFiles) {
  w_.runStop = false;
  w_.SetText(id::kRunBar, "0");
  w_.SetText(id::kRunFacts, "");
  w_.SetText(id::kStatusLine, "");
}

void StripReporter::OnProgress(const base::Progress& p) {
  const int percent = PercentOf(p);
  if (percent != shownPercent_) {
    shownPercent_ = percent;
    w_.SetText(id::kRunBar, std::to_string(percent));
  }
  w_.SetText(id::kRunFacts,
             RunFactsText(p, unitBytes_, countsFiles_ ? std::optional<uint64_t>(files_) : std::nullopt));
}

void StripReporter::OnFile(const base::FileRecord& f) {
  ++files_;
  ++perFolder_[FolderNameOf(f.path)];
}

void StripReporter::OnEnd(const base::RunEnd& e) {
  if (!countsFiles_) return;
  std::string text;
  switch (e.outcome) {
    case base::RunOutcome::kStopped:
      text = "Stopped. ";
      break;
    case base::RunOutcome::kFailed:
      text = "Failed" + (e.why.empty() ? std::string() : ": " + e.why) + ". ";
      break;
    default:
      break;
  }
  if (files_ == 0) {
    text += "No files found";
  } else {
    text += "Found ";
    bool first = true;
    for (const auto& [folder, count] : perFolder_) {
      text += (first ? "" : ", ") + std::to_string(count) + " in " + folder;
      first = false;
    }
  }
  text += "; " + std::to_string(e.unreadableSectors) +
          (e.unreadableSectors == 1 ? " sector" : " sectors") + " could not be read.";
  w_.SetText(id::kStatusLine, text);
}

}  // namespace app
