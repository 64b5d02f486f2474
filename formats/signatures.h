// What a sector must start with for each walker to be worth calling, and the
// walker and byte bound that go with it: the rows a type table is built from.
#pragma once

#include <cstddef>
#include <cstdint>

#include "formats/walk.h"

namespace formats {

// `length` bytes that must sit at `offset` from the sector's start.
struct SignaturePart {
  uint32_t offset = 0;
  uint8_t length = 0;
  uint8_t bytes[8] = {};
};

struct Signature {
  const char* type;                      // the type the file belongs to: png gif tiff raw heic video jpegx webp
  SignaturePart parts[2];                // every part must match
  uint8_t partCount;
  Walk (*walk)(ByteView&, uint64_t);     // the walker to call on a match
  uint64_t bound;                        // the byte bound to pass it
};

// TIFF-family signatures serve both types: WalkTiff takes the plain TIFFs, WalkTiffRaw the RAWs.
// ISO-BMFF files are told apart only by the walk: Walk::family says still (heic), raw (cr3) or
// movie (video), and the walker keeps each family within its own bound.
inline constexpr Signature kSignatures[] = {
    {"png", {{0, 8, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}}}, 1, WalkPng, kPictureBound},
    {"gif", {{0, 6, {'G', 'I', 'F', '8', '7', 'a'}}}, 1, WalkGif, kPictureBound},
    {"gif", {{0, 6, {'G', 'I', 'F', '8', '9', 'a'}}}, 1, WalkGif, kPictureBound},
    {"tiff", {{0, 4, {'I', 'I', '*', 0}}}, 1, WalkTiff, kPictureBound},
    {"tiff", {{0, 4, {'M', 'M', 0, '*'}}}, 1, WalkTiff, kPictureBound},
    {"raw", {{0, 4, {'I', 'I', '*', 0}}}, 1, WalkTiffRaw, kRawBound},
    {"raw", {{0, 4, {'M', 'M', 0, '*'}}}, 1, WalkTiffRaw, kRawBound},
    {"raw", {{0, 4, {'I', 'I', 'R', 'O'}}}, 1, WalkTiffRaw, kRawBound},
    {"raw", {{0, 4, {'I', 'I', 'R', 'S'}}}, 1, WalkTiffRaw, kRawBound},
    {"raw", {{0, 4, {'M', 'M', 'O', 'R'}}}, 1, WalkTiffRaw, kRawBound},
    {"raw", {{0, 4, {'I', 'I', 'U', 0}}}, 1, WalkTiffRaw, kRawBound},
    {"heic", {{4, 4, {'f', 't', 'y', 'p'}}}, 1, WalkIsoBmff, kVideoBound},  // also raw (cr3) and video
    {"video", {{0, 1, {0x47}}, {188, 1, {0x47}}}, 2, WalkTransportStream, kVideoBound},
    {"video", {{4, 1, {0x47}}, {196, 1, {0x47}}}, 2, WalkTransportStream, kVideoBound},
    {"video", {{0, 4, {0x1A, 0x45, 0xDF, 0xA3}}}, 1, WalkMatroska, kVideoBound},
    {"jpegx", {{0, 3, {0xFF, 0xD8, 0xFF}}}, 1, WalkJpeg, kPictureBound},
    {"raw", {{0, 8, {'F', 'U', 'J', 'I', 'F', 'I', 'L', 'M'}}, {8, 8, {'C', 'C', 'D', '-', 'R', 'A', 'W', ' '}}}, 2,
     WalkRaf, kRawBound},
    {"webp", {{0, 4, {'R', 'I', 'F', 'F'}}, {8, 4, {'W', 'E', 'B', 'P'}}}, 2, WalkWebp, kPictureBound},
};

// True when `sector` (of `size` bytes) starts as the signature says.
constexpr bool Matches(const Signature& s, const uint8_t* sector, size_t size) {
  for (uint8_t i = 0; i < s.partCount; ++i) {
    const SignaturePart& p = s.parts[i];
    if (p.offset + p.length > size) return false;
    for (uint8_t k = 0; k < p.length; ++k)
      if (sector[p.offset + k] != p.bytes[k]) return false;
  }
  return true;
}

}  // namespace formats
