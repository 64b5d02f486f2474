#include "scan/scan_engine.h"

#include <chrono>
#include <cstring>
#include <string>

#include "base/chunk.h"
#include "base/unreadable_tally.h"
#include "carvers/read_cache.h"

namespace scan {
namespace {

constexpr uint64_t kSector = base::kSectorBytes;

// After this many bytes of chunks in a row that fail whole, the scan stops
// retrying them sector by sector until a chunk reads whole again.
constexpr uint64_t kRetryPause = 16u << 20;

// A copy was cut short (its file removed): a stop asked for, or a write that
// failed. A later run from the file's sector gives the files this run did not.
void Halted(const carvers::CopyHalt& halt, base::RunEnd& end) {
  end.resumeSector = halt.sector;
  if (halt.error == 0) {
    end.outcome = base::RunOutcome::kStopped;
  } else {
    end.outcome = base::RunOutcome::kFailed;
    end.error = halt.error;
    end.why = "could not write " + halt.path + ": " + std::strerror(halt.error);
  }
}

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
  // One cache for the run: the scan's chunks, the carvers' copies and their
  // look-ahead read each block of the drive once, and a sector found
  // unreadable is not asked of the drive again.
  carvers::CachedReader source(*settings.source);
  carvers::FileSink plainSink;
  carvers::FileSink& sink = settings.sink != nullptr ? *settings.sink : plainSink;
  base::AlignedBuffer chunk = base::MakeAlignedBuffer(base::kChunkBytes);
  base::AlignedBuffer copy = base::MakeAlignedBuffer(base::kChunkBytes);
  carvers::CarveContext context{source,       sink, reporter, "", 0, copy.get(), settings.stop, {},
                                UINT64_MAX, {},   false};
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
  base::UnreadableTally unreadable(reporter);
  // Bytes of the chunks in a row whose read failed whole.
  uint64_t failedInARow = 0;
  // The copies still waiting when the scan ends: copied to their ends, or
  // removed when the run was stopped or failed (a later run then goes on
  // from the first of them).
  auto settle = [&](bool abandon) {
    const uint64_t removed = carvers::SettleCopies(context, abandon);
    if (!abandon && context.halt.halted) Halted(context.halt, end);
    if (removed < end.resumeSector) end.resumeSector = removed;
  };
  uint64_t c = settings.start;
  for (;;) {
    // The buffer is offered as if zeroed before the read: the bytes a short
    // read did not fill, or the unreadable sectors of a failed read, are
    // zeros. Zeroing only those keeps a full read to one copy of the data.
    source.SetFloor(c * kSector);
    // A whole chunk in the cache is scanned where it lies.
    const uint8_t* data = source.Borrow(c * kSector, base::kChunkBytes);
    uint32_t got = data != nullptr ? base::kChunkBytes : 0;
    bool ok = data != nullptr || source.ReadAt(c * kSector, chunk.get(), base::kChunkBytes, &got);
    if (data == nullptr) data = chunk.get();
    if (ok) {
      failedInARow = 0;
      if (got > 0) unreadable.Readable();
    } else if (source.gone()) {
      end.resumeSector = c;
      unreadable.Gone(c);
      break;
    } else if (failedInARow >= kRetryPause) {
      // A long run of dead chunks: no sector by sector retry until a chunk
      // reads whole again.
      failedInARow += base::kChunkBytes;
      got = 0;
      source.MarkUnreadable(c, base::kChunkSectors);
      unreadable.Add(c, base::kChunkSectors);
    } else {
      failedInARow += base::kChunkBytes;
      std::vector<uint32_t> bad;
      got = source.ReadSectors(c * kSector, chunk.get(), base::kChunkSectors, &bad);
      size_t i = 0;
      uint32_t next = 0;  // the first sector not yet counted either way
      while (i < bad.size()) {
        size_t j = i + 1;
        while (j < bad.size() && bad[j] == bad[j - 1] + 1) ++j;
        if (bad[i] > next) unreadable.Readable();
        unreadable.Add(c + bad[i], bad[j - 1] - bad[i] + 1);
        next = bad[j - 1] + 1;
        i = j;
      }
      const uint32_t gotSectors = (got + kSector - 1) / kSector;
      if (gotSectors > next) unreadable.Readable();
      if (source.gone()) {
        end.resumeSector = c;
        unreadable.Gone(c + (bad.empty() ? 0 : bad.front()));
        break;
      }
    }
    if (got < base::kChunkBytes) std::memset(chunk.get() + got, 0, base::kChunkBytes - got);
    if (ok && got == 0) {
      end.resumeSector = c;
      settle(false);
      if (!context.halt.halted) {
        end.outcome = base::RunOutcome::kEndOfDrive;
        reporter.OnNotice(base::Notice::kEndOfDrive, "");
      }
      break;
    }
    // Copies that wait for the scan read on as far as it now is.
    context.copyHorizon = c * kSector + carvers::kCopyLead;
    context.retriesPaused = failedInARow >= kRetryPause;
    const bool copiesOn = carvers::ResumeCopies(context);
    for (uint32_t i = 0; copiesOn && i < base::kChunkSectors; ++i) {
      const uint8_t* sector = data + i * kSector;
      uint32_t candidates = filter[sector[0]];
      while (candidates != 0) {
        unsigned t = static_cast<unsigned>(__builtin_ctz(candidates));
        candidates &= candidates - 1;
        const TypeToScan& type = settings.types[t];
        carvers::SectorBytes bytes{sector, base::kChunkBytes - i * kSector};
        context.type = type.type->name;
        type.type->carve(c + i, bytes, type.folder, context);
        if (context.halt.halted) break;
      }
      if (context.halt.halted) break;
    }
    if (context.halt.halted) {
      Halted(context.halt, end);
      break;
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
  settle(context.halt.halted || end.outcome == base::RunOutcome::kStopped);
  unreadable.Finish(end, source.lastError());
  reporter.OnEnd(end);
  return end;
}

}  // namespace scan
