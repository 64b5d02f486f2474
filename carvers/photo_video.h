// Today's photo and video formats: each type finds its file's true end from
// the file's own structure (formats/), so a file comes back byte-exact,
// without trailing bytes, and with its capture time as its modification time.
#pragma once

#include "carvers/carver.h"
#include "formats/walk.h"

namespace carvers {

extern const FileType kPngType;
extern const FileType kGifType;
extern const FileType kTiffType;
extern const FileType kRawType;
extern const FileType kHeicType;
extern const FileType kVideoType;
extern const FileType kJpegxType;
extern const FileType kWebpType;

// Seconds since 1970 of a capture time read from a file: a camera's wall-clock
// time is taken as the machine's local time.
int64_t CaptureSeconds(const formats::CaptureTime& t);

}  // namespace carvers
