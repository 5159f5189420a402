#include "audio/disk_worker.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "core/session_signals.h"
#include "wave/wave_header.h"

namespace tapeloom {
namespace {

using Clock = std::chrono::steady_clock;

// Blocks per read of a track and per write of a take: 11 blocks are 132 KiB, the least a
// transfer to flash should be; up to 32 when the worker has fallen behind.
constexpr std::size_t kTransferBlocks = 11;
constexpr std::size_t kMostTransferBlocks = 32;
// Space reserved ahead of a take's writes, in seconds of audio, renewed when half is used.
constexpr std::int64_t kReserveSeconds = 30;
// Blocks that wait longer than this are written even when they make a short transfer: when the
// input stalls (a card that stopped), what it gave is on the disk soon all the same.
constexpr auto kLongestWait = std::chrono::seconds(2);
// Nothing to do: the worker looks again after this long.
constexpr auto kIdle = std::chrono::milliseconds(1);
constexpr int kBits = 24;

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The fewest slots a transfer waits for: a whole flash-sized transfer, or half the ring when
// the ring is smaller than two of those.
std::size_t LeastTransfer(const BlockRing& ring) {
  return std::clamp<std::size_t>(std::min(kTransferBlocks, ring.slots() / 2), 1, kTransferBlocks);
}

// Frames from..to of a file are read into frames from..to of a run of blocks; everything
// else of the rows is silence.
void ClearOutside(unsigned char* row, std::int64_t blockStart, std::int64_t from, std::int64_t to) {
  const std::int64_t a = std::clamp<std::int64_t>(from - blockStart, 0, kBlockFrames);
  const std::int64_t b = std::clamp<std::int64_t>(to - blockStart, a, kBlockFrames);
  std::memset(row, 0, static_cast<std::size_t>(a) * kSampleBytes);
  std::memset(row + b * kSampleBytes, 0, static_cast<std::size_t>(kBlockFrames - b) * kSampleBytes);
}

}  // namespace

DiskWorker::DiskWorker(const DiskWorkerPlan& plan, BlockRing& play, BlockRing& capture)
    : plan_(plan),
      play_(play),
      capture_(capture),
      takeState_(plan.takes.size()),
      trackFailures_(plan.tracks.size()),
      failures_(plan.tracks.size() + plan.takes.size()) {
  readPieces_.reserve(kMostTransferBlocks);
  writePieces_.reserve(kMostTransferBlocks);
}

DiskWorker::~DiskWorker() {
  stopRequested_.store(true, std::memory_order_release);
  if (thread_.joinable()) thread_.join();
}

void DiskWorker::Start() {
  // The worker is started with the signals blocked, so that every signal reaches the thread
  // that drives the card and the console, and its waits end.
  const sigset_t blocked = RunSignals::Set();
  sigset_t previous;
  ::pthread_sigmask(SIG_BLOCK, &blocked, &previous);
  thread_ = std::thread([this] { Loop(); });
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void DiskWorker::FinishTakes(std::int64_t frames) {
  finalFrames_ = frames;
  finishRequested_.store(true, std::memory_order_release);
}

void DiskWorker::WaitForBlocks(std::size_t blocks, double seconds) const {
  const Clock::time_point start = Clock::now();
  blocks = std::min(blocks, play_.slots());
  // Ctrl-C stops the run before it starts as well.
  while (play_.Ready() < blocks && MillisecondsSince(start) < seconds * 1000.0 && PendingSignal() == 0) {
    std::this_thread::sleep_for(kIdle);
  }
}

void DiskWorker::Stop() {
  stopRequested_.store(true, std::memory_order_release);
  if (thread_.joinable()) thread_.join();
}

void DiskWorker::Loop() {
  for (const TrackToRead& track : plan_.tracks) AdviseSequential(*track.file);
  for (;;) {
    const bool finishing = finishRequested_.load(std::memory_order_acquire);
    if (finishing) {
      Finish();
      finished_.store(true, std::memory_order_release);
      return;
    }
    if (stopRequested_.load(std::memory_order_acquire)) return;
    // The ring nearer its end goes first: a full capture ring loses live input, an empty play
    // ring plays silence.
    const double captureFill =
        capture_.slots() == 0 ? 0.0 : static_cast<double>(capture_.Ready()) / static_cast<double>(capture_.slots());
    const double playFill =
        play_.slots() == 0 ? 1.0 : static_cast<double>(play_.Ready()) / static_cast<double>(play_.slots());
    bool did = false;
    if (captureFill >= 1.0 - playFill) {
      did = WriteSome(false) || ReadSome();
    } else {
      did = ReadSome() || WriteSome(false);
    }
    if (!did) std::this_thread::sleep_for(kIdle);
  }
}

bool DiskWorker::ReadSome() {
  if (play_.slots() == 0) return false;
  const std::uint32_t wanted = wantedBlock_.load(std::memory_order_relaxed);
  if (nextBlock_ < wanted) nextBlock_ = wanted;  // the device loop went on without these
  const std::size_t free = play_.Free();
  if (free < LeastTransfer(play_)) return false;
  const std::size_t count = std::min(free, kMostTransferBlocks);
  const std::int64_t first = plan_.firstPosition + nextBlock_ * kBlockFrames;  // the first block's position
  for (std::size_t s = 0; s < count; ++s) {
    play_.ProducerNote(s) =
        SlotNote{.position = first + static_cast<std::int64_t>(s) * kBlockFrames, .frames = kBlockFrames};
    for (const int row : plan_.rowsToClear) {
      std::memset(play_.ProducerSlot(s) + static_cast<std::size_t>(row) * kRowBytes, 0, kRowBytes);
    }
  }
  const std::int64_t span = static_cast<std::int64_t>(count) * kBlockFrames;
  for (std::size_t t = 0; t < plan_.tracks.size(); ++t) {
    const TrackToRead& track = plan_.tracks[t];
    const auto rowAt = [&](std::size_t s) {
      return play_.ProducerSlot(s) + static_cast<std::size_t>(track.row) * kRowBytes;
    };
    // The file's frames from..to fall into these blocks; before and after them, silence.
    const std::int64_t firstFrame = first - track.startOffset;
    const std::int64_t from = std::clamp<std::int64_t>(-firstFrame, 0, span);  // frames into the run of blocks
    const std::int64_t fileEnd = std::min(track.length, plan_.lastPosition - track.startOffset);
    std::int64_t to = std::clamp<std::int64_t>(fileEnd - firstFrame, from, span);
    if (!trackFailures_[t].ok()) to = from;
    readPieces_.clear();
    for (std::size_t s = static_cast<std::size_t>(from / kBlockFrames);
         to > from && static_cast<std::int64_t>(s) * kBlockFrames < to; ++s) {
      const std::int64_t start = std::max<std::int64_t>(from, static_cast<std::int64_t>(s) * kBlockFrames);
      const std::int64_t end = std::min<std::int64_t>(to, static_cast<std::int64_t>(s + 1) * kBlockFrames);
      readPieces_.emplace_back(rowAt(s) + (start - static_cast<std::int64_t>(s) * kBlockFrames) * kSampleBytes,
                               static_cast<std::size_t>((end - start) * kSampleBytes));
    }
    std::int64_t read = from;
    if (!readPieces_.empty()) {
      const std::uint64_t offset = static_cast<std::uint64_t>(track.dataOffset + (firstFrame + from) * kSampleBytes);
      std::uint64_t got = 0;
      const Clock::time_point start = Clock::now();
      const FileStatus status = ReadAtInto(*track.file, offset, readPieces_, got);
      Timed(true, got, MillisecondsSince(start));
      if (status.ok()) {
        // A file cut short since it was measured reads as silence from where it ends.
        read = from + static_cast<std::int64_t>(got / kSampleBytes);
        AdviseWillNeed(*track.file, offset + got, static_cast<std::uint64_t>(span) * kSampleBytes);
      } else {
        trackFailures_[t] = status;
        Note(false, static_cast<int>(t), status);
      }
    }
    for (std::size_t s = 0; s < count; ++s)
      ClearOutside(rowAt(s), static_cast<std::int64_t>(s) * kBlockFrames, from, read);
  }
  play_.Publish(count);
  nextBlock_ += static_cast<std::int64_t>(count);
  return true;
}

bool DiskWorker::WriteSome(bool finishing) {
  const std::size_t ready = capture_.Ready();
  if (ready == 0) {
    waitingSince_.reset();
    return false;
  }
  if (!finishing && ready < LeastTransfer(capture_)) {
    if (!waitingSince_) waitingSince_ = Clock::now();
    if (Clock::now() - *waitingSince_ < kLongestWait) return false;
  }
  waitingSince_.reset();
  WriteSlots(std::min(ready, kMostTransferBlocks));
  return true;
}

void DiskWorker::WriteSlots(std::size_t count) {
  for (std::size_t k = 0; k < plan_.takes.size(); ++k) {
    TakeProgress& take = takeState_[k];
    if (!take.failure.ok()) continue;
    const TakeToWrite& file = plan_.takes[k];
    std::size_t s = 0;
    while (s < count && take.failure.ok()) {
      // A part that never came (the disk fell behind and the device loop could not hand it
      // over) is silence at its place.
      const SlotNote& first = capture_.ConsumerNote(s);
      if (first.position > take.written) WriteSilence(k, first.position);
      if (!take.failure.ok()) break;
      // The slots from s on that follow each other without a gap, in one write.
      writePieces_.clear();
      std::int64_t frames = 0;
      std::int64_t expected = first.position;
      for (; s < count && capture_.ConsumerNote(s).position == expected; ++s) {
        const SlotNote& note = capture_.ConsumerNote(s);
        writePieces_.emplace_back(capture_.ConsumerSlot(s) + static_cast<std::size_t>(file.row) * kRowBytes,
                                  static_cast<std::size_t>(note.frames) * kSampleBytes);
        frames += note.frames;
        expected += note.frames;
      }
      const std::uint64_t bytes = static_cast<std::uint64_t>(frames) * kSampleBytes;
      const Clock::time_point start = Clock::now();
      std::uint64_t done = 0;
      const FileStatus status = WriteAtFrom(
          *file.file, static_cast<std::uint64_t>(file.dataOffset + first.position * kSampleBytes), writePieces_, &done);
      Timed(false, bytes, MillisecondsSince(start));
      // A full disk can take the first part of a write: its whole frames are the take's, and
      // the final header counts them.
      take.written = first.position + static_cast<std::int64_t>(done / kSampleBytes);
      take.framesOnDisk = take.written;
      if (!status.ok()) {
        TakeFailed(k, status);
        break;
      }
    }
    // Space on the disk for what comes next, reserved in long runs while there is time.
    const std::uint64_t end = static_cast<std::uint64_t>(file.dataOffset + take.written * kSampleBytes);
    const std::uint64_t ahead = static_cast<std::uint64_t>(plan_.sr) * kSampleBytes * kReserveSeconds;
    const std::uint64_t planned = static_cast<std::uint64_t>(file.dataOffset + plan_.plannedFrames * kSampleBytes);
    if (take.failure.ok() && take.reserving && end + ahead / 2 > take.reservedTo && take.reservedTo < planned) {
      const std::uint64_t from = std::max(take.reservedTo, end);
      const std::uint64_t to = std::min(end + ahead, planned);
      if (to > from) {
        take.reserving = ReserveSpace(*file.file, from, to - from);
        if (take.reserving) take.reservedTo = to;
      }
    }
  }
  capture_.Release(count);
  UpdateHeaders(false);
}

void DiskWorker::WriteSilence(std::size_t k, std::int64_t to) {
  static const std::array<unsigned char, kMostTransferBlocks * kRowBytes> kSilence{};
  TakeProgress& take = takeState_[k];
  const TakeToWrite& file = plan_.takes[k];
  while (take.written < to && take.failure.ok()) {
    const std::int64_t frames =
        std::min<std::int64_t>(to - take.written, static_cast<std::int64_t>(kSilence.size() / kSampleBytes));
    const Clock::time_point start = Clock::now();
    std::uint64_t done = 0;
    const FileStatus status =
        WriteAt(*file.file, static_cast<std::uint64_t>(file.dataOffset + take.written * kSampleBytes),
                std::span(kSilence.data(), static_cast<std::size_t>(frames) * kSampleBytes), &done);
    Timed(false, static_cast<std::uint64_t>(frames) * kSampleBytes, MillisecondsSince(start));
    take.written += static_cast<std::int64_t>(done / kSampleBytes);
    take.framesOnDisk = take.written;
    if (!status.ok()) {
      TakeFailed(k, status);
      return;
    }
  }
}

// Once a second of audio the headers catch up with it, never ahead of what is written: a take
// cut off at any moment is a valid wave file of what it held a second before at the latest.
// More often would cost the disk time for nothing a reader could use.
void DiskWorker::UpdateHeaders(bool final) {
  for (std::size_t k = 0; k < plan_.takes.size(); ++k) {
    TakeProgress& take = takeState_[k];
    if (!take.failure.ok() && !final) continue;
    if (!final && take.framesOnDisk - take.atHeader < static_cast<std::int64_t>(plan_.sr)) continue;
    const FileStatus status = WriteWaveHeader(*plan_.takes[k].file, plan_.sr, kBits, take.framesOnDisk, 1);
    if (status.ok()) {
      take.atHeader = take.framesOnDisk;
    } else {
      TakeFailed(k, status);
    }
  }
}

void DiskWorker::Finish() {
  while (WriteSome(true)) {
  }
  for (std::size_t k = 0; k < plan_.takes.size(); ++k) {
    if (takeState_[k].failure.ok()) WriteSilence(k, finalFrames_);
  }
  // The header says what the take holds (the planned length, when nothing went wrong), and the
  // take goes to the disk once, now: an fsync during the run would stall the disk's writes.
  closing_ = true;
  UpdateHeaders(true);
  for (std::size_t k = 0; k < plan_.takes.size(); ++k) {
    TakeProgress& take = takeState_[k];
    const FileDescriptor& file = *plan_.takes[k].file;
    FileStatus status = take.reservedTo > 0 ? ReleaseReservedSpace(file) : FileStatus::Done();
    const Clock::time_point start = Clock::now();
    FileStatus synced = SyncToDisk(file);
    times_.worstFlushMs = std::max(times_.worstFlushMs, MillisecondsSince(start));
    if (status.ok()) status = synced;
    if (!status.ok()) TakeFailed(k, status);
  }
}

void DiskWorker::TakeFailed(std::size_t k, const FileStatus& status) {
  // Reported once: the take keeps what it holds and the recording goes on with the others.
  if (!takeState_[k].failure.ok()) return;
  takeState_[k].failure = status;
  Note(true, static_cast<int>(k), status);
  const bool all =
      std::all_of(takeState_.begin(), takeState_.end(), [](const TakeProgress& t) { return !t.failure.ok(); });
  if (all) allTakesFailed_.store(true, std::memory_order_release);
}

void DiskWorker::Note(bool take, int index, const FileStatus& status) {
  const std::uint32_t count = failureCount_.load(std::memory_order_relaxed);
  if (count >= failures_.size()) return;
  failures_[count] = WorkerFailure{.take = take, .index = index, .closing = closing_, .status = status};
  failureCount_.store(count + 1, std::memory_order_release);
}

void DiskWorker::Timed(bool read, std::uint64_t bytes, double milliseconds) {
  const auto bucket = static_cast<std::size_t>(TransferTimes::Bucket(milliseconds));
  if (read) {
    ++times_.reads[bucket];
    times_.worstReadMs = std::max(times_.worstReadMs, milliseconds);
    times_.bytesRead += bytes;
  } else {
    ++times_.writes[bucket];
    times_.worstWriteMs = std::max(times_.worstWriteMs, milliseconds);
    times_.bytesWritten += bytes;
  }
  times_.busySeconds += milliseconds / 1000.0;
}

int TransferTimes::Bucket(double milliseconds) {
  constexpr double kFine = 100.0;  // below it, tenths of a millisecond
  const double bucket = milliseconds < kFine ? milliseconds * 10.0 : kFine * 10.0 + (milliseconds - kFine);
  return static_cast<int>(std::clamp(bucket, 0.0, kBuckets - 1.0));
}

double TransferTimes::Within(const Histogram& calls, double share) {
  std::uint64_t total = 0;
  for (const std::uint32_t count : calls) total += count;
  if (total == 0) return 0.0;
  std::uint64_t seen = 0;
  for (int b = 0; b < kBuckets; ++b) {
    seen += calls[static_cast<std::size_t>(b)];
    if (static_cast<double>(seen) >= share * static_cast<double>(total)) {
      return b < 1000 ? (b + 1) / 10.0 : 100.0 + (b - 1000 + 1);
    }
  }
  return 100.0 + (kBuckets - 1000);
}

}  // namespace tapeloom
