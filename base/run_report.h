// How an engine (a scan, a clone, a volume copy, a survey) tells its caller
// what it does: progress, each file written, each unreadable area, and how
// the run ended. Every call comes on the caller's thread, in the order the
// events happen, so a caller may show a message box from inside one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace base {

// How far a run is: `done` of `total` units (sectors or bytes, as the engine
// says), `at` the engine's position (the first sector of the chunk just
// handled), `rate` in units per second since the run started.
struct Progress {
  uint64_t done = 0;
  uint64_t total = 0;
  uint64_t at = 0;
  double rate = 0;
};

// A stretch of a recovered file: `length` bytes at `fileOffset` in the file
// came from `driveOffset` on the drive, or, for a hole, are zeros written in
// place of sectors that could not be read.
struct ByteRun {
  uint64_t fileOffset = 0;
  uint64_t driveOffset = 0;
  uint64_t length = 0;
  bool hole = false;
};

// A file an engine wrote, under the name it has once the run let go of it.
struct FileRecord {
  std::string path;
  std::string type;  // the file type's command-line name
  uint64_t firstSector = 0;
  uint64_t length = 0;
  std::vector<ByteRun> runs;
};

enum class RunOutcome {
  kEndOfDrive,   // read to the end of the drive (or of the range)
  kStopped,      // the caller asked it to stop
  kFailed,       // a failure ended it; `error` and `why` say which
  kNotStarted,   // refused before anything was read
};

struct RunEnd {
  RunOutcome outcome = RunOutcome::kEndOfDrive;
  int error = 0;                // errno of the failure, 0 for none
  std::string why;              // the failure in words
  uint64_t resumeSector = 0;    // the first sector not fully handled
  uint64_t unreadableSectors = 0;
  bool sourceLost = false;      // kFailed because the drive could no longer be read
};

// Events the engines know that a front end words for itself.
enum class Notice {
  kCreateFailed,  // an output file could not be created; detail: its path
  kEndOfDrive,    // a scan read 0 bytes: the end of the drive
};

class Reporter {
 public:
  virtual ~Reporter() = default;
  virtual void OnProgress(const Progress&) {}
  virtual void OnFile(const FileRecord&) {}
  // `sectors` sectors from `firstSector` could not be read.
  virtual void OnUnreadable(uint64_t /*firstSector*/, uint64_t /*sectors*/) {}
  virtual void OnNotice(Notice, const std::string& /*detail*/) {}
  virtual void OnEnd(const RunEnd&) {}
};

// Passes every event on to a second reporter after the first (a window's
// fields, then a command line's progress bar).
class TeeReporter : public Reporter {
 public:
  TeeReporter(Reporter& first, Reporter* second) : first_(first), second_(second) {}
  void OnProgress(const Progress& p) override {
    first_.OnProgress(p);
    if (second_) second_->OnProgress(p);
  }
  void OnFile(const FileRecord& f) override {
    first_.OnFile(f);
    if (second_) second_->OnFile(f);
  }
  void OnUnreadable(uint64_t s, uint64_t n) override {
    first_.OnUnreadable(s, n);
    if (second_) second_->OnUnreadable(s, n);
  }
  void OnNotice(Notice n, const std::string& d) override {
    first_.OnNotice(n, d);
    if (second_) second_->OnNotice(n, d);
  }
  void OnEnd(const RunEnd& e) override {
    first_.OnEnd(e);
    if (second_) second_->OnEnd(e);
  }

 private:
  Reporter& first_;
  Reporter* second_;
};

}  // namespace base
