#include "diskutil/rescue_map.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <iterator>

namespace diskutil {

namespace {

size_t IndexOf(AreaStatus status) {
  switch (status) {
    case AreaStatus::kNotTried: return 0;
    case AreaStatus::kSkipped: return 1;
    case AreaStatus::kBad: return 2;
    case AreaStatus::kCopied: return 3;
  }
  return 0;
}

// `text` fit for one line of a message or a comment: control characters become
// '?', and a long text is cut at `limit` bytes with "..." after it.
std::string Printable(std::string_view text, size_t limit) {
  std::string out;
  for (const char c : text.substr(0, limit)) {
    const auto u = static_cast<unsigned char>(c);
    out += (u < 0x20 || u == 0x7f) ? '?' : c;
  }
  if (text.size() > limit) out += "...";
  return out;
}

std::string Hex(uint64_t value) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%08" PRIX64, value);
  return buf;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// The fields of a mapfile line, without its comment ('#' at the start or
// after a blank runs to the end of the line).
std::vector<std::string_view> Fields(std::string_view line) {
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '#' && (i == 0 || IsBlank(line[i - 1]))) {
      line = line.substr(0, i);
      break;
    }
  }
  std::vector<std::string_view> fields;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    const size_t start = i;
    while (i < line.size() && !IsBlank(line[i])) ++i;
    if (i > start) fields.push_back(line.substr(start, i - start));
  }
  return fields;
}

// A non-negative integer written as a C++ literal: decimal, 0x hexadecimal
// or 0 octal; nothing when it is not one or does not fit 64 bits.
std::optional<uint64_t> ParseNumber(std::string_view s, bool decimalOnly = false) {
  unsigned base = 10;
  if (!decimalOnly && s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  } else if (!decimalOnly && s.size() > 1 && s[0] == '0') {
    base = 8;
    s.remove_prefix(1);
  }
  if (s.empty()) return std::nullopt;
  uint64_t value = 0;
  for (const char c : s) {
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    if (digit >= base) return std::nullopt;
    if (__builtin_mul_overflow(value, uint64_t{base}, &value) ||
        __builtin_add_overflow(value, uint64_t{digit}, &value)) {
      return std::nullopt;
    }
  }
  return value;
}

// An area's status character; '/' (failed, not yet scraped) counts as skipped.
std::optional<AreaStatus> ParseAreaStatus(std::string_view s) {
  if (s.size() != 1) return std::nullopt;
  switch (s[0]) {
    case '?': return AreaStatus::kNotTried;
    case '*':
    case '/': return AreaStatus::kSkipped;
    case '-': return AreaStatus::kBad;
    case '+': return AreaStatus::kCopied;
    default: return std::nullopt;
  }
}

std::optional<MapPhase> ParsePhase(std::string_view s) {
  if (s.size() != 1) return std::nullopt;
  switch (s[0]) {
    case '?': return MapPhase::kCopying;
    case '*':
    case '/': return MapPhase::kSectorBySector;
    case '-': return MapPhase::kRetrying;
    case '+': return MapPhase::kFinished;
    default: return std::nullopt;
  }
}

}  // namespace

std::string MapTime(std::time_t t) {
  std::tm tm{};
  if (!::localtime_r(&t, &tm)) return "";
  char buf[32];
  if (std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm) == 0) return "";
  return buf;
}

RescueMap::RescueMap(uint64_t size) : size_(size) {
  if (size_ > 0) {
    areas_.emplace(0, Area{size_, AreaStatus::kNotTried});
    Add(AreaStatus::kNotTried, size_, 1);
  }
}

void RescueMap::Add(AreaStatus status, uint64_t bytes, int areas) {
  const size_t i = IndexOf(status);
  if (areas >= 0) {
    totals_[i] += bytes;
    counts_[i] += static_cast<size_t>(areas);
  } else {
    totals_[i] -= bytes;
    counts_[i] -= static_cast<size_t>(-areas);
  }
}

void RescueMap::SplitAt(uint64_t pos) {
  if (pos == 0 || pos >= size_) return;
  auto it = std::prev(areas_.upper_bound(pos));
  if (it->first == pos) return;
  const Area tail{it->second.end, it->second.status};
  it->second.end = pos;
  areas_.emplace_hint(std::next(it), pos, tail);
  counts_[IndexOf(tail.status)] += 1;
}

void RescueMap::MergeAround(uint64_t pos) {
  auto it = areas_.find(pos);
  if (it == areas_.end()) return;
  if (auto next = std::next(it); next != areas_.end() && next->second.status == it->second.status) {
    it->second.end = next->second.end;
    areas_.erase(next);
    counts_[IndexOf(it->second.status)] -= 1;
  }
  if (it != areas_.begin()) {
    if (auto prev = std::prev(it); prev->second.status == it->second.status) {
      prev->second.end = it->second.end;
      areas_.erase(it);
      counts_[IndexOf(prev->second.status)] -= 1;
    }
  }
}

void RescueMap::Set(uint64_t pos, uint64_t length, AreaStatus status) {
  if (pos >= size_ || length == 0) return;
  const uint64_t end = length > size_ - pos ? size_ : pos + length;
  SplitAt(pos);
  SplitAt(end);
  auto it = areas_.find(pos);
  while (it != areas_.end() && it->first < end) {
    Add(it->second.status, it->second.end - it->first, -1);
    it = areas_.erase(it);
  }
  areas_.emplace_hint(it, pos, Area{end, status});
  Add(status, end - pos, 1);
  MergeAround(pos);
}

void RescueMap::NoteCopied(uint64_t pos, uint64_t length) {
  if (pos >= size_ || length == 0) return;
  const uint64_t end = length > size_ - pos ? size_ : pos + length;
  if (!pending_.empty() && pending_.back().second == pos) {
    pending_.back().second = end;
  } else {
    pending_.emplace_back(pos, end);
  }
}

void RescueMap::CommitCopied() {
  for (const auto& [pos, end] : pending_) Set(pos, end - pos, AreaStatus::kCopied);
  pending_.clear();
}

uint64_t RescueMap::PendingBytes() const {
  uint64_t bytes = 0;
  for (const auto& [pos, end] : pending_) bytes += end - pos;
  return bytes;
}

AreaStatus RescueMap::StatusAt(uint64_t pos) const {
  if (pos >= size_) return AreaStatus::kNotTried;
  return std::prev(areas_.upper_bound(pos))->second.status;
}

std::vector<MapArea> RescueMap::Areas() const {
  std::vector<MapArea> out;
  out.reserve(areas_.size());
  for (const auto& [pos, area] : areas_) out.push_back({pos, area.end - pos, area.status});
  return out;
}

std::vector<MapArea> RescueMap::Areas(AreaStatus status) const {
  std::vector<MapArea> out;
  for (const auto& [pos, area] : areas_) {
    if (area.status == status) out.push_back({pos, area.end - pos, area.status});
  }
  return out;
}

uint64_t RescueMap::Total(AreaStatus status) const { return totals_[IndexOf(status)]; }

size_t RescueMap::Count(AreaStatus status) const { return counts_[IndexOf(status)]; }

void RescueMap::SetPosition(uint64_t pos, MapPhase phase, unsigned pass) {
  position_ = std::min(pos, size_);
  phase_ = phase;
  pass_ = std::max(pass, 1u);
}

std::string RescueMap::Serialize(const MapHeader& header) const {
  std::string out;
  out.reserve(256 + areas_.size() * 26);
  out += "# Mapfile. Created by Lumisave\n";
  out += "# Command line: " + Printable(header.commandLine, 4096) + "\n";
  out += "# Start time:   " + Printable(header.startTime, 64) + "\n";
  if (!header.currentTime.empty()) {
    out += "# Current time: " + Printable(header.currentTime, 64) + "\n";
  }
  out += "# current_pos  current_status  current_pass\n";
  char line[80];
  std::snprintf(line, sizeof line, "0x%08" PRIX64 "     %c               %u\n", position_,
                static_cast<char>(phase_), pass_);
  out += line;
  out += "#      pos        size  status\n";
  for (const auto& [pos, area] : areas_) {
    std::snprintf(line, sizeof line, "0x%08" PRIX64 "  0x%08" PRIX64 "  %c\n", pos, area.end - pos,
                  static_cast<char>(area.status));
    out += line;
  }
  return out;
}

bool RescueMap::operator==(const RescueMap& other) const {
  return size_ == other.size_ && position_ == other.position_ && phase_ == other.phase_ &&
         pass_ == other.pass_ && Areas() == other.Areas();
}

MapParseResult ParseRescueMap(std::string_view text, uint64_t sourceSize) {
  MapParseResult result;
  auto refuse = [&result](size_t line, const std::string& what, std::string_view lineText) {
    result.map.reset();
    result.line = line;
    result.error = "mapfile line " + std::to_string(line) + ": " + what;
    if (!lineText.empty()) result.error += ": " + Printable(lineText, 100);
    return result;
  };
  if (text.empty()) return refuse(1, "the mapfile is empty", "");

  bool haveStatus = false;
  size_t statusLine = 0;
  std::string_view statusText;
  uint64_t position = 0;
  MapPhase phase = MapPhase::kCopying;
  unsigned pass = 1;
  std::vector<MapArea> areas;
  uint64_t expected = 0;  // where the next area must start
  size_t lastAreaLine = 0;
  std::string_view lastAreaText;

  size_t number = 0;
  size_t start = 0;
  while (start < text.size()) {
    ++number;
    const size_t newline = text.find('\n', start);
    const bool cut = newline == std::string_view::npos;
    const std::string_view line =
        text.substr(start, cut ? std::string_view::npos : newline - start);
    start = cut ? text.size() : newline + 1;
    if (cut) return refuse(number, "the last line is cut short (no newline at its end)", line);

    const std::vector<std::string_view> fields = Fields(line);
    if (fields.empty()) continue;
    if (fields.size() < 3) return refuse(number, "a field is missing", line);
    if (fields.size() > 3) return refuse(number, "a field too many", line);

    if (!haveStatus) {
      const auto pos = ParseNumber(fields[0]);
      if (!pos) return refuse(number, "the current position is not a number", line);
      const auto ph = ParsePhase(fields[1]);
      if (!ph) return refuse(number, "unknown status character", line);
      const auto p = ParseNumber(fields[2], true);
      if (!p || *p == 0 || *p > 0xFFFFFFFFu) {
        return refuse(number, "the pass is not a positive decimal number", line);
      }
      haveStatus = true;
      statusLine = number;
      statusText = line;
      position = *pos;
      phase = *ph;
      pass = static_cast<unsigned>(*p);
      continue;
    }

    const auto pos = ParseNumber(fields[0]);
    if (!pos) return refuse(number, "the area's position is not a number", line);
    const auto size = ParseNumber(fields[1]);
    if (!size) return refuse(number, "the area's size is not a number", line);
    const auto status = ParseAreaStatus(fields[2]);
    if (!status) return refuse(number, "unknown status character", line);
    if (*size == 0) return refuse(number, "an empty area", line);
    if (*pos < expected) {
      return refuse(number, "the area overlaps the one above it or is out of order", line);
    }
    if (*pos > expected) {
      return refuse(number, "a gap between " + Hex(expected) + " and " + Hex(*pos), line);
    }
    uint64_t end = 0;
    if (__builtin_add_overflow(*pos, *size, &end)) {
      return refuse(number, "the area ends past the largest size a drive can have", line);
    }
    if (end > sourceSize) {
      return refuse(number,
                    "the areas reach " + std::to_string(end) + " bytes but the source has " +
                        std::to_string(sourceSize) + " bytes: the mapfile is of another drive",
                    line);
    }
    areas.push_back({*pos, *size, *status});
    expected = end;
    lastAreaLine = number;
    lastAreaText = line;
  }

  if (!haveStatus) return refuse(number, "no current-position line", "");
  if (expected != sourceSize) {
    const bool none = areas.empty();
    return refuse(none ? statusLine : lastAreaLine,
                  "the areas end at " + std::to_string(expected) + " bytes but the source has " +
                      std::to_string(sourceSize) + " bytes: the mapfile is of another drive",
                  none ? statusText : lastAreaText);
  }
  if (position > sourceSize) {
    return refuse(
        statusLine,
        "the current position lies past the end (" + std::to_string(sourceSize) + " bytes)",
        statusText);
  }

  RescueMap map(sourceSize);
  for (const MapArea& a : areas) {
    if (a.status != AreaStatus::kNotTried) map.Set(a.pos, a.size, a.status);
  }
  map.SetPosition(position, phase, pass);
  result.map = std::move(map);
  return result;
}

std::vector<WorkItem> PlanResume(const RescueMap& map, unsigned retries) {
  std::vector<WorkItem> plan;
  for (const MapArea& a : map.Areas(AreaStatus::kNotTried)) {
    plan.push_back({WorkKind::kCopy, a.pos, a.size, 0});
  }
  for (const MapArea& a : map.Areas(AreaStatus::kSkipped)) {
    plan.push_back({WorkKind::kSectorBySector, a.pos, a.size, 0});
  }
  const std::vector<MapArea> bad = map.Areas(AreaStatus::kBad);
  for (unsigned attempt = 1; attempt <= retries; ++attempt) {
    for (const MapArea& a : bad) plan.push_back({WorkKind::kRetryBad, a.pos, a.size, attempt});
  }
  return plan;
}

MapPhase PhaseOf(WorkKind kind) {
  switch (kind) {
    case WorkKind::kCopy: return MapPhase::kCopying;
    case WorkKind::kSectorBySector: return MapPhase::kSectorBySector;
    case WorkKind::kRetryBad: return MapPhase::kRetrying;
  }
  return MapPhase::kCopying;
}

}  // namespace diskutil
