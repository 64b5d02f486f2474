// The type check boxes: one per file type. Ticking a box turns its type on
// for the recovery scan and creates the type's folder, named by plain
// concatenation of the output root and the type's name ("/home/ann/Lumisave"
// gives "/home/ann/LumisaveQBB").
#pragma once

#include <cstddef>
#include <string>

#include "window/window_model.h"

namespace scan {

struct TypeBox {
  int boxId;
  const char* name;        // the type's name on the command line
  const char* folderName;  // appended to the output root; null: no folder (WAV)
  std::string* folder;     // the folder text the box sets; null for WAV
  int app::WindowModel::*flag;
  const char* recovers;  // what the type recovers, for people
};

// The 17 boxes in the order of their identifiers.
const TypeBox* TypeBoxes();
size_t TypeBoxCount();
// Null when no box has that identifier or name.
const TypeBox* FindTypeBox(int boxId);
const TypeBox* FindTypeBox(const std::string& name);

// The command of a type check box, after the click has toggled its mark.
void OnTypeCheckBox(app::WindowModel& w, int boxId);

}  // namespace scan
