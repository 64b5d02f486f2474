// The dispatch table: which carvers a recovery scan offers each sector to,
// in which order, behind which type flag, with which folder. This table is
// the one place where the carvers of a scan are listed.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "window/window_model.h"
#include "carvers/carver.h"

namespace scan {

struct DispatchRow {
  const char* type;
  // The type flag that enables the row; every row is behind one. The JPEG
  // rows run whatever their flag says and set it to 1 (`always`).
  int app::WindowModel::*flag;
  bool always;
  carvers::CarveFn carve;
  std::string* folder;
  // The byte every signature of this carver starts with, or -1 when its
  // signature is not at the sector's first byte. Only a pre-filter: the
  // carver makes its own full test.
  int firstByte;
};

const DispatchRow* DispatchTable();
size_t DispatchRowCount();

// Whether a scan offers sectors to `row`: its flag is 1, or it always runs.
bool RowEnabled(const app::WindowModel& w, const DispatchRow& row);

// The folder texts of the rows a scan would run, each once, in table order.
std::vector<std::string> EnabledFolders(const app::WindowModel& w);

// For each value of a sector's first byte, the rows (bit i = row i) whose
// carver may match it.
using FirstByteFilter = std::array<uint32_t, 256>;
const FirstByteFilter& DispatchFilter();

}  // namespace scan
