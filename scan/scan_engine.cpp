#include "scan/scan_engine.h"

#include <chrono>
#include <cstring>

#include "base/chunk.h"

namespace scan {
namespace {

constexpr uint64_t kSector = base::kSectorBytes;

}  // namespace

FirstByteFilter BuildFirstByteFilter(const std::vector<TypeToScan>& types) {
  FirstByteFilter filter{};
  for (size_t i = 0; i < types.size() && i < 32; ++i) {
    if (types[i].type->carve == nullptr) continue;
    for (int b = 0; b < 256; ++b) {
      const carvers::FileType& t = *types[i].type;
      const bool any = t.firstByte < 0 && (t.mayStartWith == nullptr || t.mayStartWith(b));
      if (any || t.firstByte == b) filter[b] |= 1u << i;
    }
  }
  return filter;
}

base::RunEnd RunScan(const ScanSettings& settings, base::Reporter& reporter) {
  base::RunEnd end;
  end.resumeSector = settings.start;
  carvers::SourceReader source(*settings.source);
  carvers::FileSink plainSink;
  carvers::FileSink& sink = settings.sink != nullptr ? *settings.sink : plainSink;
  base::AlignedBuffer chunk = base::MakeAlignedBuffer(base::kChunkBytes);
  base::AlignedBuffer copy = base::MakeAlignedBuffer(base::kChunkBytes);
  carvers::CarveContext context{source, sink, reporter, "", 0, copy.get()};
  const FirstByteFilter filter = BuildFirstByteFilter(settings.types);
  if (!chunk || !copy) {
    end.outcome = base::RunOutcome::kFailed;
    end.why = "out of memory";
    reporter.OnEnd(end);
    return end;
  }
  const uint64_t last =
      settings.loopEnd == LoopEnd::kOneChunkPastEnd ? settings.end + base::kChunkSectors : settings.end;
  const uint64_t total = settings.end > settings.start ? settings.end - settings.start : 0;
  const auto began = std::chrono::steady_clock::now();
  uint64_t c = settings.start;
  for (;;) {
    // The buffer is offered as if zeroed before the read: the bytes a short
    // read did not fill, or all of them after a failed read, are zeros.
    // Zeroing only those keeps a full read to one copy of the data.
    uint32_t got = 0;
    bool ok = source.ReadAt(c * kSector, chunk.get(), base::kChunkBytes, &got);
    if (!ok) got = 0;
    std::memset(chunk.get() + got, 0, base::kChunkBytes - got);
    if (ok && got == 0) {
      end.outcome = base::RunOutcome::kEndOfDrive;
      end.resumeSector = c;
      reporter.OnNotice(base::Notice::kEndOfDrive, "");
      break;
    }
    // A chunk that cannot be read is offered as zeros, and the scan goes on
    // with the next one.
    for (uint32_t i = 0; i < base::kChunkSectors; ++i) {
      const uint8_t* sector = chunk.get() + i * kSector;
      uint32_t candidates = filter[sector[0]];
      while (candidates != 0) {
        unsigned t = static_cast<unsigned>(__builtin_ctz(candidates));
        candidates &= candidates - 1;
        const TypeToScan& type = settings.types[t];
        carvers::SectorBytes bytes{sector, base::kChunkBytes - i * kSector};
        context.type = type.type->name;
        type.type->carve(c + i, bytes, type.folder, context);
      }
    }
    base::Progress progress;
    progress.at = c;
    progress.total = total;
    const uint64_t done = c + base::kChunkSectors - settings.start;
    progress.done = done < total ? done : total;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    progress.rate = seconds > 0 ? static_cast<double>(progress.done) / seconds : 0;
    reporter.OnProgress(progress);
    c += base::kChunkSectors;
    end.resumeSector = c;
    if (!(c <= last)) break;
    if (settings.stop != nullptr && settings.stop->load()) {
      end.outcome = base::RunOutcome::kStopped;
      break;
    }
  }
  reporter.OnEnd(end);
  return end;
}

}  // namespace scan
