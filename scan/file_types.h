// The one table of file types: every type a scan can look for, in the order
// a sector is offered to them, with the window's check box for it. The
// first-byte filter, the type boxes, the folder table, the command line's
// --type and its help are all derived from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "carvers/carver.h"

namespace scan {

struct TypeEntry {
  const carvers::FileType* type;
  int boxId;  // the window's check box, 0 for none
};

// Every type, in scan order.
std::span<const TypeEntry> FileTypes();
// The index of a type by its command-line name or its check box; -1 for none.
int FindType(const std::string& name);
int FindTypeOfBox(int boxId);
// The index whose folder type `index` writes into (its own, or the one it shares).
size_t FolderSlot(size_t index);

// The type indices that have a check box, in the order of their identifiers.
std::span<const size_t> TypesInBoxOrder();

}  // namespace scan
