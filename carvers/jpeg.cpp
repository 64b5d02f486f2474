#include "carvers/jpeg.h"

#include "base/numbers.h"
#include "carvers/photo_video.h"
#include "formats/walk.h"

namespace carvers {
namespace {

const uint8_t kEndOfImage[2] = {0xFF, 0xD9};

bool StartsWith(SectorBytes bytes, uint8_t fourth) {
  const uint8_t* s = bytes.data;
  return s[0] == 0xFF && s[1] == 0xD8 && s[2] == 0xFF && s[3] == fourth;
}

// FF D9 in this pass: the marker's offset + 1, or above `count` when absent.
// A pass of fewer than 2 bytes counts as a find at the first byte.
int32_t SearchEnd(const uint8_t* buffer, uint32_t count) {
  return base::FindMarker(buffer, static_cast<int32_t>(count), kEndOfImage, 2);
}

// EXIF pictures carry a thumbnail with its own end marker near the start,
// so the first FF D9 seen only arms the search; the file ends at the first
// FF D9 of a later pass.
class ExifEnd : public CopyRules {
 public:
  uint32_t EndOfPass(uint8_t* buffer, uint32_t count, uint64_t& remaining) override {
    uint32_t keep = count;
    if (state_ == kArmed) {
      int32_t f = SearchEnd(buffer, count);
      if (static_cast<uint32_t>(f) <= count) {
        state_ = kDone;
        keep = static_cast<uint32_t>(f) + 1;
        remaining = 0;
      }
    }
    if (state_ == kNoMarker) {
      int32_t f = SearchEnd(buffer, count);
      if (static_cast<uint32_t>(f) <= count) state_ = kArmed;
    }
    return keep;
  }

 private:
  enum State { kNoMarker = 0, kArmed = 1, kDone = 3 };
  State state_ = kNoMarker;
};

// Another type's rules, and after the close the picture's EXIF capture time
// (read from the first pass, which holds the header segments) as the file's
// modification time. Bytes and names stay as the other rules make them.
class WithCaptureTime : public CopyRules {
 public:
  explicit WithCaptureTime(CopyRules& rules) : rules_(rules) {}
  uint32_t EndOfPass(uint8_t* buffer, uint32_t count, uint64_t& remaining) override {
    if (first_) {
      first_ = false;
      formats::SpanView view({buffer, count});
      captured_ = formats::JpegCaptureTime(view, count);
    }
    return rules_.EndOfPass(buffer, count, remaining);
  }
  std::string AfterClose(const std::string& path, FileSink& sink) override {
    std::string final = rules_.AfterClose(path, sink);
    if (captured_.known) sink.SetModified(final, CaptureSeconds(captured_));
    return final;
  }

 private:
  CopyRules& rules_;
  bool first_ = true;
  formats::CaptureTime captured_;
};

}  // namespace

int CarveJpeg(uint64_t sector, SectorBytes bytes, const std::string& folder,
              CarveContext& context) {
  if (!StartsWith(bytes, 0xE1)) return 0;
  ExifEnd end;
  WithCaptureTime rules(end);
  return CopyOut(sector, context, folder, "jpg", 10000, rules);
}

int CarveJpeg0(uint64_t sector, SectorBytes bytes, const std::string& folder,
              CarveContext& context) {
  if (!StartsWith(bytes, 0xE0)) return 0;
  // JFIF pictures end at the first FF D9, in any pass.
  MarkerEnd end(kEndOfImage, 2);
  WithCaptureTime rules(end);
  return CopyOut(sector, context, folder, "jpg", 8000, rules);
}

const FileType kJpegType = {"jpeg", "JPEG photos in the EXIF form (always recovered, into OUT/JPEG)",
                           "JPEG", FolderRule::kInside, nullptr, 0xFF, CarveJpeg, true, true};
const FileType kJpeg0Type = {"jpeg0", "JPEG photos in the JFIF form (always recovered, into OUT/JPEG0)",
                            "JPEG0", FolderRule::kInside, nullptr, 0xFF, CarveJpeg0, true, true};

}  // namespace carvers
