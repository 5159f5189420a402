#include "audio/storage_check.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "audio/block_ring.h"
#include "audio/disk_buffers.h"
#include "audio/disk_worker.h"
#include "core/session_signals.h"
#include "tracks/list_files.h"
#include "tracks/run_lists.h"
#include "wave/file_creation.h"
#include "wave/text_file.h"
#include "wave/wave_header.h"

namespace tapeloom {
namespace {

using Clock = std::chrono::steady_clock;

constexpr double kDefaultSeconds = 30.0;
constexpr double kLongestCheck = 3600.0;
constexpr double kPrefillSeconds = 2.0;  // as a run fills its play ring before it starts
// Busier than this, the disk barely keeps up: the next slower stretch of the card overruns.
constexpr double kBusyLimit = 0.9;
constexpr double kBusyMargin = 0.5;

double Percent(double fraction) { return 100.0 * fraction; }

// What the check's streams hold: noise, so that no layer below (a controller that spares
// zeros) writes less than a recording would.
void FillWithNoise(BlockRing& ring) {
  std::uint32_t state = 2463534242u;
  for (std::size_t s = 0; s < ring.slots(); ++s) {
    unsigned char* slot = ring.ProducerSlot(s);
    for (std::size_t b = 0; b < ring.slotBytes(); ++b) {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      slot[b] = static_cast<unsigned char>(state);
    }
  }
}

struct CheckFiles {
  std::vector<FileDescriptor> tracks;
  std::vector<TemporaryFile> streams;
};

class Check {
 public:
  Check(SessionSettings& s, ConsoleInput& input) : s_(s), input_(input) {}

  void Run() {
    std::puts("\nStorage check: the disk is written and read as a recording of this session would do it.");
    const RunLists lists = ResolveRunLists(s_, input_, {.plays = true, .records = true});
    int armed = 0;
    for (int k = 0; k < s_.inputs && k < kMaxTracks; ++k) armed += lists.armedInputs[static_cast<std::size_t>(k)];
    if (!OpenTracks(lists) || !CreateStreams(armed)) return;
    if (files_.tracks.empty() && files_.streams.empty()) {
      std::printf("No input is armed in %s and no track plays from %s: there is nothing to check.\n", s_.rec[0].c_str(),
                  s_.play[0].c_str());
      return;
    }
    std::printf("Seconds to check (a word that is no number: %.0f): ", kDefaultSeconds);
    const double seconds = std::clamp<double>(input_.ReadFloat().value_or(kDefaultSeconds), 1.0, kLongestCheck);
    std::printf("\nWriting %zu streams and reading %zu tracks at %u Hz for %.0f s; Ctrl-C stops.\n",
                files_.streams.size(), files_.tracks.size(), s_.sr, seconds);
    Measure(seconds);
  }

 private:
  bool OpenTracks(const RunLists& lists) {
    const std::vector<std::string> names = SplitList(lists.playText);
    for (std::size_t t = 0; t < names.size() && t < static_cast<std::size_t>(std::clamp(s_.ch, 0, kMaxTracks)); ++t) {
      if (lists.activeTracks[t] != 1) continue;
      FileStatus status;
      FileDescriptor file = OpenForReading(names[t], status);
      if (!Report(status)) continue;
      // Read from the disk, as after a while of other work, not from what the kernel keeps.
      AdviseDontNeed(file);
      tracks_.push_back(TrackToRead{.row = static_cast<int>(files_.tracks.size()),
                                    .dataOffset = lists.attributes[t].dataOffset,
                                    .length = lists.attributes[t].length});
      files_.tracks.push_back(std::move(file));
    }
    for (std::size_t t = 0; t < tracks_.size(); ++t) tracks_[t].file = &files_.tracks[t];
    return true;
  }

  // Temporaries in the session's folder, as takes are made there; they go when the check ends.
  bool CreateStreams(int count) {
    for (int k = 0; k < count; ++k) {
      FileStatus status;
      TemporaryFile stream = TemporaryFile::Create(".", "tapeloom_disk_check.wav", status);
      if (status.ok()) status = WriteWaveHeader(stream.file(), s_.sr, 24, 0, 1);
      if (!Report(status)) {
        std::puts("The storage check could not write into this folder: a recording could not either.");
        return false;
      }
      files_.streams.push_back(std::move(stream));
    }
    return true;
  }

  void Measure(double seconds) {
    const auto frames = static_cast<std::int64_t>(seconds * s_.sr);
    const auto playRows = static_cast<int>(tracks_.size());
    const auto captureRows = static_cast<int>(files_.streams.size());
    const DiskBufferSize size = SizeDiskBuffers(s_.sr, playRows, captureRows, AvailableMemory());
    BlockRing play;
    BlockRing capture;
    play.Allocate(size.playSlots, static_cast<std::size_t>(playRows) * kRowBytes);
    capture.Allocate(size.captureSlots, static_cast<std::size_t>(captureRows) * kRowBytes);
    FillWithNoise(capture);
    DiskWorkerPlan plan{.tracks = tracks_, .firstPosition = s_.i, .sr = s_.sr, .plannedFrames = frames};
    for (std::size_t k = 0; k < files_.streams.size(); ++k) {
      plan.takes.push_back(TakeToWrite{.row = static_cast<int>(k),
                                       .file = &files_.streams[k].file(),
                                       .dataOffset = static_cast<std::int64_t>(kWaveHeaderBytes)});
    }
    DiskWorker worker(plan, play, capture);
    worker.Start();
    if (playRows > 0) worker.WaitForBlocks(static_cast<std::size_t>(kPrefillSeconds * s_.sr / kBlockFrames) + 1, 10.0);

    // The device loop's part, without a card: a block each way every 4096 frames of time.
    std::int64_t lost = 0;
    std::int64_t done = 0;
    bool stopped = false;
    const Clock::time_point start = Clock::now();
    for (std::int64_t block = 0; done < frames; ++block) {
      if (TakeSignal() != 0) {
        stopped = true;
        break;
      }
      const std::int64_t position = s_.i + block * kBlockFrames;
      if (playRows > 0) {
        if (play.Ready() > 0 && play.ConsumerNote(0).position == position) {
          play.Release(1);
        } else {
          while (play.Ready() > 0 && play.ConsumerNote(0).position < position) play.Release(1);
          worker.SkipTo(static_cast<std::uint32_t>(block + 1));
          lost += kBlockFrames;
        }
      }
      const int n = static_cast<int>(std::min<std::int64_t>(kBlockFrames, frames - done));
      if (captureRows > 0) {
        if (capture.Free() > 0) {
          capture.ProducerNote(0) = SlotNote{.position = done, .frames = n};
          capture.Publish(1);
        } else {
          lost += n;
        }
      }
      done += n;
      std::this_thread::sleep_until(start + std::chrono::microseconds(done * 1000000 / s_.sr));
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    worker.FinishTakes(done);
    worker.Stop();
    for (std::uint32_t k = 0; k < worker.FailureCount(); ++k) Report(worker.Failure(k).status);
    if (stopped) {
      std::puts("\nThe storage check was stopped; its files are removed.");
      return;
    }
    if (worker.FailureCount() > 0) {
      std::puts("\nThe storage failed: a recording on it would fail too. The check's files are removed.");
      return;
    }
    PrintFigures(worker.Times(), size, elapsed, lost);
  }

  void PrintFigures(const TransferTimes& times, const DiskBufferSize& size, double elapsed, std::int64_t lost) {
    const double needed =
        static_cast<double>(tracks_.size() + files_.streams.size()) * s_.sr * kSampleBytes / 1e6;  // MB/s
    const double moved = static_cast<double>(times.bytesRead + times.bytesWritten) / 1e6;
    std::printf("\nThis session moves %.2f MB/s: %zu streams written and %zu tracks read at %u Hz.\n", needed,
                files_.streams.size(), tracks_.size(), s_.sr);
    if (!files_.streams.empty()) {
      std::printf("Written: %.2f MB; worst write %.1f ms, 99 in 100 within %.1f ms; the flush at the end %.1f ms.\n",
                  static_cast<double>(times.bytesWritten) / 1e6, times.worstWriteMs,
                  TransferTimes::Within(times.writes, 0.99), times.worstFlushMs);
    }
    if (!tracks_.empty()) {
      std::printf("Read: %.2f MB; worst read %.1f ms, 99 in 100 within %.1f ms.\n",
                  static_cast<double>(times.bytesRead) / 1e6, times.worstReadMs,
                  TransferTimes::Within(times.reads, 0.99));
    }
    if (times.busySeconds > 0.0) {
      std::printf("The storage moved %.2f MB/s while it was busy, %.0f %% of the time.\n", moved / times.busySeconds,
                  Percent(times.busySeconds / elapsed));
    }
    std::printf("The disk buffer holds %.1f s each way for this session.\n", size.seconds);
    const StorageFigures figures{.seconds = elapsed,
                                 .bufferSeconds = size.seconds,
                                 .worstSeconds = std::max(times.worstReadMs, times.worstWriteMs) / 1000.0,
                                 .busyFraction = times.busySeconds / elapsed,
                                 .lostFrames = lost,
                                 .sr = s_.sr};
    std::printf("%s\n", VerdictText(figures).c_str());
  }

  SessionSettings& s_;
  ConsoleInput& input_;
  CheckFiles files_;
  std::vector<TrackToRead> tracks_;
};

}  // namespace

StorageVerdict Judge(const StorageFigures& f) {
  if (f.lostFrames > 0 || f.busyFraction >= kBusyLimit || f.worstSeconds >= f.bufferSeconds) {
    return StorageVerdict::kFails;
  }
  if (f.busyFraction >= kBusyMargin || f.worstSeconds >= f.bufferSeconds / 2) return StorageVerdict::kHoldsBarely;
  return StorageVerdict::kHolds;
}

std::string VerdictText(const StorageFigures& f) {
  std::string text;
  switch (Judge(f)) {
    case StorageVerdict::kFails:
      text = "Verdict: this storage will not hold this session: ";
      if (f.lostFrames > 0) {
        AppendFormat(text, "the disk fell behind for longer than the buffer, and a recording would have lost %.2f s.",
                     f.sr == 0 ? 0.0 : static_cast<double>(f.lostFrames) / f.sr);
      } else if (f.worstSeconds >= f.bufferSeconds) {
        AppendFormat(text, "its longest stall (%.2f s) is as long as the disk buffer (%.1f s).", f.worstSeconds,
                     f.bufferSeconds);
      } else {
        AppendFormat(text, "it was busy %.0f %% of the time and barely keeps up.", Percent(f.busyFraction));
      }
      text += " Record fewer inputs or play fewer tracks, or record to faster storage.";
      return text;
    case StorageVerdict::kHoldsBarely: text = "Verdict: this storage holds this session, with little margin: "; break;
    case StorageVerdict::kHolds: text = "Verdict: this storage holds this session: "; break;
  }
  AppendFormat(
      text, "its longest stall (%.2f s) is %.0f %% of the disk buffer (%.1f s), and it was busy %.0f %% of the time.",
      f.worstSeconds, Percent(f.worstSeconds / f.bufferSeconds), f.bufferSeconds, Percent(f.busyFraction));
  return text;
}

void StorageCheckCommand(SessionSettings& settings, ConsoleInput& input) { Check(settings, input).Run(); }

}  // namespace tapeloom
