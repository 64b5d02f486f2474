// A run's report in the Digital Forensics XML form: what program made it,
// from which drive, and for every file the scan wrote its name, size and
// the stretches of the drive its bytes came from.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/run_report.h"

namespace scan {

// The drive a report is about.
struct ReportSource {
  std::string path;  // as the run opened it
  uint64_t size = 0;
  std::string model;   // block devices only, else empty
  std::string serial;
};

struct ReportSettings {
  std::string folder;  // where the report goes; file names are relative to it
  std::string program = "Lumisave";
  std::string version;
  std::string commandLine;
  ReportSource source;
  bool hash = false;  // each file's SHA-256, read back after it was written
};

// A file as the report lists it.
struct ReportedFile {
  base::FileRecord record;
  std::string sha256;  // empty without hashing
};

// `text` with &, <, >, " and ' as entities, and control characters other
// than tab, newline and carriage return (which XML cannot carry) as U+FFFD.
std::string XmlEscape(const std::string& text);

// The whole report document.
std::string DfxmlText(const ReportSettings& settings, const std::vector<ReportedFile>& files);

// Collects the files of a run and writes the report once, when the run ends:
// report.xml in the folder, or report_1.xml, report_2.xml ... when that name
// is taken (never replacing anything).
class DfxmlReporter : public base::Reporter {
 public:
  explicit DfxmlReporter(ReportSettings settings) : settings_(std::move(settings)) {}
  void OnFile(const base::FileRecord& f) override;
  void OnEnd(const base::RunEnd& e) override;
  // The files reported so far.
  size_t files() const { return files_.size(); }
  // The report's path once written, else empty.
  const std::string& written() const { return written_; }
  // The errno of a report that could not be written, 0 when none.
  int error() const { return error_; }
  // Writes the report now (OnEnd does it); false with error() set.
  bool Write();

 private:
  ReportSettings settings_;
  std::vector<ReportedFile> files_;
  std::string written_;
  int error_ = 0;
};

// The SHA-256 of the file at `path` as hex, or empty when it cannot be read.
std::string FileSha256(const std::string& path);

}  // namespace scan
