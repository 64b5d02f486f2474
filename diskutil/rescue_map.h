// The map of a clone's source: which bytes were copied, which sectors could
// not be read, which areas are still to do. It is kept in the GNU ddrescue
// mapfile format, so other rescue tools can read it and a stopped clone can
// go on where it left off:
//
//   # comment lines (program, command line, start time)
//   0xPOS  S  PASS                 the current position, phase and pass
//   0xPOS  0xSIZE  S               areas, sorted, contiguous and merged
//
// Pure bookkeeping: reading and writing the file is the caller's business
// (platform::ReplaceFileAtomically writes it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace diskutil {

// The state of an area of the source.
enum class AreaStatus : char {
  kNotTried = '?',  // not read yet
  kSkipped = '*',   // stepped over by a mode, not yet read sector by sector
  kBad = '-',       // unreadable sectors
  kCopied = '+',    // read, written and the target flushed
};

// What a run is doing, shown on the map's current-position line.
enum class MapPhase : char {
  kCopying = '?',         // copying areas not tried
  kSectorBySector = '*',  // reading skipped areas sector by sector
  kRetrying = '-',        // retrying unreadable sectors
  kFinished = '+',
};

struct MapArea {
  uint64_t pos = 0;
  uint64_t size = 0;
  AreaStatus status = AreaStatus::kNotTried;
  uint64_t end() const { return pos + size; }
  bool operator==(const MapArea&) const = default;
};

// The comment lines at the head of a written map.
struct MapHeader {
  std::string commandLine;  // control characters are written as '?'
  std::string startTime;    // as MapTime gives it
  std::string currentTime;  // left out when empty
};

// `t` in local time as "YYYY-MM-DD hh:mm:ss".
std::string MapTime(std::time_t t);

class RescueMap {
 public:
  // A source of `size` bytes, all of it not tried, position 0, copying, pass 1.
  explicit RescueMap(uint64_t size);

  uint64_t size() const { return size_; }

  // Gives [pos, pos + length) the status `status`, splitting and merging areas
  // around it; the part of the range past the source's end is ignored.
  void Set(uint64_t pos, uint64_t length, AreaStatus status);

  // Notes [pos, pos + length) as written to the target but not yet flushed:
  // the map keeps its old status until CommitCopied.
  void NoteCopied(uint64_t pos, uint64_t length);
  // After the target was flushed: every range noted since the last commit
  // becomes kCopied.
  void CommitCopied();
  // Bytes noted as written and waiting for a flush.
  uint64_t PendingBytes() const;

  // The status of the byte at `pos` (which must be below size()).
  AreaStatus StatusAt(uint64_t pos) const;

  // Every area in order of position, or only those of one status.
  std::vector<MapArea> Areas() const;
  std::vector<MapArea> Areas(AreaStatus status) const;

  // Bytes of a status, and the number of areas of it.
  uint64_t Total(AreaStatus status) const;
  size_t Count(AreaStatus status) const;

  // The current-position line: where the run is, what it does, which pass.
  void SetPosition(uint64_t pos, MapPhase phase, unsigned pass = 1);
  uint64_t position() const { return position_; }
  MapPhase phase() const { return phase_; }
  unsigned pass() const { return pass_; }

  // The whole map as a mapfile's text.
  std::string Serialize(const MapHeader& header) const;

  // Whether two maps have the same areas, position, phase and pass.
  bool operator==(const RescueMap& other) const;

 private:
  struct Area {
    uint64_t end;
    AreaStatus status;
  };
  // Cuts the area holding `pos` in two, so that an area starts at `pos`.
  void SplitAt(uint64_t pos);
  // Joins the area starting at `pos` with its neighbours of the same status.
  void MergeAround(uint64_t pos);
  void Add(AreaStatus status, uint64_t bytes, int areas);

  uint64_t size_;
  std::map<uint64_t, Area> areas_;  // by first byte; contiguous from 0 to size_
  uint64_t totals_[4] = {};
  size_t counts_[4] = {};
  std::vector<std::pair<uint64_t, uint64_t>> pending_;  // [pos, end) written, not flushed
  uint64_t position_ = 0;
  MapPhase phase_ = MapPhase::kCopying;
  unsigned pass_ = 1;
};

// A mapfile read back, or why it was refused.
struct MapParseResult {
  std::optional<RescueMap> map;
  size_t line = 0;    // 1-based line of the fault, 0 when the map was read
  std::string error;  // "mapfile line N: what is wrong: the line's text"
};

// Reads a mapfile's text for a source of `sourceSize` bytes. Comment lines
// ('#' at the start or after a blank, to the end of the line) and blank lines
// are skipped; numbers are decimal, 0x hexadecimal or 0 octal. Refused:
// an area that overlaps or comes before the one above it, a gap, an empty
// area, a current position past the end, an unknown status character, a
// missing or extra field, a last line without its newline, and areas that do
// not end at `sourceSize`. A '/' area (failed, not yet scraped, written by
// other rescue tools) is read as kSkipped.
MapParseResult ParseRescueMap(std::string_view text, uint64_t sourceSize);

// One step of a resumed clone.
enum class WorkKind {
  kCopy,            // copy as the clone mode does
  kSectorBySector,  // read one sector at a time
  kRetryBad,        // read once more each sector that is still unreadable
};

struct WorkItem {
  WorkKind kind;
  uint64_t pos;
  uint64_t size;
  unsigned attempt;  // for kRetryBad: 1 .. retries; else 0
  bool operator==(const WorkItem&) const = default;
};

// The order of work for a map: every area not tried, then every skipped area,
// then, `retries` times over, every unreadable area. A retry pass reads only
// the sectors that the map still shows unreadable when it gets there.
std::vector<WorkItem> PlanResume(const RescueMap& map, unsigned retries);

// The phase a step is shown with on the current-position line.
MapPhase PhaseOf(WorkKind kind);

}  // namespace diskutil
