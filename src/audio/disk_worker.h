// The disk worker: the one thread besides the console's. During a transport run (and an
// export) it does every file call the run needs, so that a storage stall never reaches the
// card: it reads the tracks ahead into the play ring, block by block, and writes the takes
// behind from the capture ring. The device loop only takes blocks from one ring and puts
// blocks into the other.
//
// Transfers are long, for flash: at least 128 KiB per call and file (several blocks of one
// track in one read, several blocks of one take in one write), the tracks read with the
// kernel's read-ahead, the takes' space reserved ahead of their writes. While a take is
// written its header grows with its audio, once a second of audio (a take cut off by a crash
// or a power cut is a valid wave file of what it held a second before at the latest); at the
// end its header gets its final length and the take is flushed to the disk, the one fsync of
// the run.
//
// What the worker cannot do it says through the failures it keeps (a track that cannot be
// read plays silence from there; a take that cannot be written keeps what it holds), for the
// device loop to report.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <optional>
#include <thread>
#include <vector>

#include "audio/block_ring.h"
#include "core/session_settings.h"
#include "wave/file_status.h"
#include "wave/wave_file.h"

namespace tapeloom {

inline constexpr int kBlockFrames = 4096;  // frames per play and record block
inline constexpr int kSampleBytes = 3;     // one channel, packed 24-bit
inline constexpr std::size_t kRowBytes = kBlockFrames * kSampleBytes;

// One track the worker reads: its row in a play slot and where its frames are.
struct TrackToRead {
  int row = 0;
  const FileDescriptor* file = nullptr;
  std::int64_t dataOffset = 0;   // bytes
  std::int64_t length = 0;       // frames
  std::int64_t startOffset = 0;  // the play position of the file's first frame
};

// One take the worker writes: its row in a capture slot and its file.
struct TakeToWrite {
  int row = 0;
  const FileDescriptor* file = nullptr;
  std::int64_t dataOffset = 0;  // bytes
};

struct DiskWorkerPlan {
  // Blocks from firstPosition on, one every 4096 frames, each with the frames of every track
  // in its row (silence before a file's start and after its end).
  std::vector<TrackToRead> tracks;
  // Rows of a slot that no track fills but that are played or mixed into: cleared each time
  // a slot is filled (its memory is not zeroed beforehand, and mixing in place writes some).
  std::vector<int> rowsToClear;
  std::int64_t firstPosition = 0;
  // No frame at or past this position is read (a run that only plays, an export): the blocks
  // beyond it hold silence.
  std::int64_t lastPosition = INT64_MAX;
  std::vector<TakeToWrite> takes;
  std::uint32_t sr = 0;            // for the take headers
  std::int64_t plannedFrames = 0;  // the takes' planned length; no space is reserved beyond it
};

// Per-call times of the worker's reads and writes, for the storage check.
struct TransferTimes {
  // Counts of calls by their time: tenths of a millisecond up to 100 ms, then milliseconds up
  // to about 3 s; the last bucket holds everything longer.
  static constexpr int kBuckets = 4096;
  using Histogram = std::array<std::uint32_t, kBuckets>;
  static int Bucket(double milliseconds);
  // The time within which the given share of the calls (0..1) ended, in milliseconds: the
  // upper end of the bucket where that share is reached.
  static double Within(const Histogram& calls, double share);

  Histogram reads{};
  Histogram writes{};
  double worstReadMs = 0.0;
  double worstWriteMs = 0.0;
  double worstFlushMs = 0.0;  // the flush at the end
  std::uint64_t bytesRead = 0;
  std::uint64_t bytesWritten = 0;
  double busySeconds = 0.0;  // time spent in reads and writes
};

// A failure the worker met: which track or take (its place in the plan) and the status.
struct WorkerFailure {
  bool take = false;
  int index = 0;
  bool closing = false;  // the final header, the flush: after the audio was written
  FileStatus status;
};

class DiskWorker {
 public:
  // The rings must be allocated; the play ring's slots hold the rows the tracks name, the
  // capture ring's slots the rows the takes name.
  DiskWorker(const DiskWorkerPlan& plan, BlockRing& play, BlockRing& capture);
  ~DiskWorker();  // stops the thread
  DiskWorker(const DiskWorker&) = delete;
  DiskWorker& operator=(const DiskWorker&) = delete;

  void Start();

  // The device loop's side, all without waiting.
  // The block index (from firstPosition, in blocks) the consumer of the play ring needs next:
  // blocks before it are not read any more.
  void SkipTo(std::uint32_t block) { wantedBlock_.store(block, std::memory_order_relaxed); }
  // The recording is over at `frames` frames of take: what is in the capture ring is written,
  // silence where a part never came, the headers finished and the takes flushed.
  void FinishTakes(std::int64_t frames);
  // Failures so far: the first `count` of failures() may be read.
  std::uint32_t FailureCount() const { return failureCount_.load(std::memory_order_acquire); }
  const WorkerFailure& Failure(std::uint32_t k) const { return failures_[k]; }
  // Every take has failed: a recording that goes on would record nothing.
  bool AllTakesFailed() const { return allTakesFailed_.load(std::memory_order_acquire); }

  // Waits (the console's thread, before the card starts) until `blocks` blocks are ready in
  // the play ring, `seconds` have passed or a session signal (Ctrl-C) has come.
  void WaitForBlocks(std::size_t blocks, double seconds) const;
  // Waits until FinishTakes is done, then stops and joins the thread. Without FinishTakes it
  // stops at once.
  void Stop();

  // After Stop: each take's frames on disk and why it failed (ok when it did not).
  std::int64_t TakeFrames(std::size_t take) const { return takeState_[take].framesOnDisk; }
  const FileStatus& TakeStatus(std::size_t take) const { return takeState_[take].failure; }
  const TransferTimes& Times() const { return times_; }

 private:
  struct TakeProgress {
    std::int64_t written = 0;       // frames of take written, silence for what never came included
    std::int64_t framesOnDisk = 0;  // what the header may say: frames written whole
    std::int64_t atHeader = 0;      // the frames the header last said
    std::uint64_t reservedTo = 0;   // bytes reserved from the start of the file
    bool reserving = true;          // the file system takes reservations
    FileStatus failure;
  };

  void Loop();
  bool ReadSome();
  bool WriteSome(bool finishing);
  void WriteSlots(std::size_t count);
  void WriteSilence(std::size_t take, std::int64_t to);
  void UpdateHeaders(bool final);
  void Finish();
  void TakeFailed(std::size_t take, const FileStatus& status);
  void Note(bool take, int index, const FileStatus& status);
  bool closing_ = false;                                               // Finish is past the audio
  std::optional<std::chrono::steady_clock::time_point> waitingSince_;  // the capture ring has held blocks since
  void Timed(bool read, std::uint64_t bytes, double milliseconds);

  DiskWorkerPlan plan_;
  BlockRing& play_;
  BlockRing& capture_;
  std::thread thread_;
  std::int64_t nextBlock_ = 0;  // the next block to read, from firstPosition
  std::vector<TakeProgress> takeState_;
  std::vector<FileStatus> trackFailures_;  // a track whose read failed plays silence from there
  std::vector<std::span<unsigned char>> readPieces_;
  std::vector<std::span<const unsigned char>> writePieces_;
  std::int64_t finalFrames_ = 0;
  TransferTimes times_;
  std::vector<WorkerFailure> failures_;  // room for one per track and take, made before the run

  std::atomic<std::uint32_t> wantedBlock_{0};
  std::atomic<bool> finishRequested_{false};
  std::atomic<bool> finished_{false};
  std::atomic<bool> stopRequested_{false};
  std::atomic<std::uint32_t> failureCount_{0};
  std::atomic<bool> allTakesFailed_{false};
};

}  // namespace tapeloom
