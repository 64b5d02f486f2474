// Runs one carver the way a scan does: through a source reader over a
// device and plain output files, with its notices shown as the window
// shows them.
#pragma once

#include <string>
#include <vector>

#include "base/run_report.h"
#include "carvers/carver.h"
#include "window/shell.h"

namespace testing_support {

class ShellReporter : public base::Reporter {
 public:
  explicit ShellReporter(app::Shell& shell) : shell_(shell) {}
  void OnNotice(base::Notice notice, const std::string& detail) override {
    if (notice == base::Notice::kCreateFailed) {
      shell_.MessageBox(detail, "Create File failed !", app::Buttons::kOk,
                        app::BoxKind::kError);
    }
  }
  void OnFile(const base::FileRecord& f) override { files.push_back(f); }
  std::vector<base::FileRecord> files;

 private:
  app::Shell& shell_;
};

inline int Carve(carvers::CarveFn carve, uint64_t sector, platform::Device& device,
                 carvers::SectorBytes bytes, const std::string& folder, app::Shell& shell) {
  carvers::SourceReader source(device);
  carvers::FileSink sink;
  ShellReporter reporter(shell);
  base::AlignedBuffer copy = base::MakeAlignedBuffer(carvers::kChunkBytes);
  carvers::CarveContext context{source, sink, reporter, "",    0, copy.get(), nullptr,
                                {},     UINT64_MAX, {},   false};
  return carve(sector, bytes, folder, context);
}

}  // namespace testing_support
