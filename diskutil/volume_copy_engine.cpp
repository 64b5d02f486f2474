#include "diskutil/volume_copy_engine.h"

#include <cerrno>
#include <chrono>

#include "platform/chunk_reads.h"

namespace diskutil {

VolumeCopyEnd RunVolumeCopy(const VolumeCopySettings& s, base::Reporter& reporter) {
  constexpr uint32_t kSector = platform::kSectorSize;
  const auto started = std::chrono::steady_clock::now();
  platform::Device& source = *s.source;
  const base::AlignedBuffer buffer = base::MakeAlignedBuffer(s.chunkBytes);
  base::RunEnd end;
  if (!buffer) {
    end.outcome = base::RunOutcome::kNotStarted;
    end.error = ENOMEM;
    end.why = "no memory for a chunk";
    reporter.OnEnd(end);
    return VolumeCopyEnd::kNoMemory;
  }
  const platform::PassBound bound(source);
  uint64_t length = 0;
  if (!source.Length(&length)) length = 0;
  uint64_t done = 0;
  VolumeCopyEnd result = VolumeCopyEnd::kDone;
  while (!bound.Reached(source.Position())) {
    const uint64_t first = source.Position() / kSector;
    uint32_t got = 0;
    const platform::ChunkRead read =
        platform::ReadZeroedChunk(source, buffer.get(), s.chunkBytes, &got);
    if (read == platform::ChunkRead::kEnd) break;
    if (read == platform::ChunkRead::kFailed) {
      if (!s.retrySectors) {
        reporter.OnUnreadable(first, s.chunkBytes / kSector);
        end.unreadableSectors += s.chunkBytes / kSector;
        result = VolumeCopyEnd::kUnreadable;
        break;
      }
      const uint64_t bad = platform::ReadSectorsOneByOne(
          source, buffer.get(), s.chunkBytes / kSector, [&](uint64_t) {
            // The position has just moved past the unreadable sector.
            reporter.OnUnreadable(source.Position() / kSector - 1, 1);
            ++end.unreadableSectors;
          });
      if (bound.EndsAt(bad, s.chunkBytes)) break;
    }
    if (s.target != nullptr) {
      uint32_t written = 0;
      if (!s.target->Write(buffer.get(), s.chunkBytes, &written) || !s.target->Flush()) {
        result = VolumeCopyEnd::kWriteFailed;
        break;
      }
    }
    done += s.chunkBytes;
    base::Progress p;
    p.done = done;
    p.total = length;
    p.at = first;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    p.rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
    reporter.OnProgress(p);
    if (s.stop != nullptr && *s.stop) {
      end.outcome = base::RunOutcome::kStopped;
      break;
    }
  }
  if (s.target != nullptr && result != VolumeCopyEnd::kWriteFailed) s.target->Flush();
  if (result == VolumeCopyEnd::kWriteFailed) {
    end.outcome = base::RunOutcome::kFailed;
    end.error = EIO;
    end.why = "the target refused a write";
  } else if (result == VolumeCopyEnd::kUnreadable) {
    end.outcome = base::RunOutcome::kFailed;
    end.error = EIO;
    end.why = "an unreadable chunk ends the copy";
  }
  end.resumeSector = source.Position() / kSector;
  reporter.OnEnd(end);
  return result;
}

}  // namespace diskutil
