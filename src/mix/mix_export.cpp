#include "mix/mix_export.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <span>
#include <system_error>

#include "audio/block_ring.h"
#include "audio/disk_buffers.h"
#include "audio/disk_worker.h"
#include "audio/metering.h"
#include "audio/play_source.h"
#include "audio/real_time_budget.h"
#include "audio/run_events.h"
#include "core/session_signals.h"
#include "core/time_base.h"
#include "tracks/list_files.h"
#include "wave/file_creation.h"
#include "wave/file_status.h"
#include "wave/text_file.h"
#include "wave/wave_file.h"
#include "wave/wave_header.h"
#include "wave/wave_readers.h"

namespace tapeloom {
namespace {

constexpr int kBits = 24;

// Blocks mixed before the outputs are written, in one long write each.
constexpr std::int64_t kStagedBlocks = 16;

// Which tracks exist in the playlist under a name: an output must never replace a track of
// the mix, which may be the only copy of a recording.
int TrackNamed(const std::string& name, const std::vector<std::string>& entries) {
  for (std::size_t t = 0; t < entries.size(); ++t) {
    std::error_code error;
    if (!IsSkipLine(entries[t]) && std::filesystem::equivalent(name, entries[t], error)) return static_cast<int>(t);
  }
  return -1;
}

// An output name is refused when it names a directory, a FIFO, a device or a socket (through a
// link too), or a file that is a track of the playlist. A symbolic link is replaced by the
// output, never written through.
bool RefuseUnsafeName(const std::string& name, const std::vector<std::string>& entries) {
  if (!Report(CheckReplaceable(name, "create"))) return true;
  if (const int track = TrackNamed(name, entries); track >= 0) {
    std::printf("%s is track %i of the playlist; the mix needs another name\n", name.c_str(), track + 1);
    return true;
  }
  return false;
}

std::string Listed(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t k = 0; k < names.size(); ++k) text += (k == 0 ? "" : " and ") + names[k];
  return text;
}

void PrintNotWritten(const char* why, const std::vector<std::string>& names) {
  std::printf("%s: %s %s not written\n", why, Listed(names).c_str(), names.size() == 1 ? "was" : "were");
}

// The export's report: mode 3 shows the busses that feed the master and the master as the
// outputs; every other mode mixes as mode 1 and shows its two outputs.
void PrintExportPeaks(MixMode mix, const MixPeaks& peaks, const std::array<int, kMaxBusses>& busActive) {
  if (mix == MixMode::kMaster) {
    std::puts("\n\nBus Peaks:");
    for (int n = 2; n <= kMaxBusses; ++n) {
      const auto b = static_cast<std::size_t>(n - 1);
      if (busActive[b] != 1) continue;
      ShowPeaks(peaks.busLeft[b], n, PeakKind::BusLeft);
      ShowPeaks(peaks.busRight[b], n, PeakKind::BusRight);
    }
    std::puts("\nOutput Peaks:");
    ShowPeaks(peaks.busLeft[0], 1, PeakKind::Channel);
    ShowPeaks(peaks.busRight[0], 2, PeakKind::Channel);
  } else {
    std::puts("\n\nOutput Peaks:");
    ShowPeaks(peaks.left, 1, PeakKind::Channel);
    ShowPeaks(peaks.right, 2, PeakKind::Channel);
  }
  std::printf("\n");
}

// One output file while it is written: a temporary beside its final name.
struct Output {
  std::string name;
  TemporaryFile temp;
  std::span<unsigned char> staged;  // the samples of the blocks mixed since the last write
  std::uint64_t written = 0;        // bytes of samples in the file
};

// One export from its first block to the renaming of its outputs. The tracks are read by the
// disk worker, ahead, in long reads, while this thread mixes; the blocks come through the
// playlist's source, mixed as a run mixes them. Every buffer is made once, before the first
// block.
class Render {
 public:
  Render(ExportPlan& plan, const SessionSettings& s, MixEngine& mixer, const TrackGains& gains, MixPeaks& peaks)
      : plan_(plan),
        s_(s),
        mixer_(mixer),
        gains_(gains),
        peaks_(peaks),
        tracks_(static_cast<std::size_t>(std::clamp(s.ch, 0, kMaxTracks))),
        // Regions 0 and 1 take the mix even when there are fewer tracks.
        rows_(static_cast<int>(std::max<std::size_t>(tracks_, 2))),
        channels_(static_cast<int>(plan.kind)) {}

  ExportOutcome Run() {
    for (const std::string& name : ExportNames(plan_.kind, plan_.baseName)) {
      if (RefuseUnsafeName(name, plan_.entries)) return ExportOutcome::kFailed;
      outputs_.push_back(Output{.name = name});
    }
    if (const ExportOutcome outcome = RenderAndPublish(); outcome != ExportOutcome::kDone) return outcome;
    PrintExportPeaks(s_.mix, peaks_, s_.busActive);
    return ExportOutcome::kDone;
  }

 private:
  // Ctrl-C, SIGTERM and SIGHUP are looked for between two blocks and before the outputs are
  // renamed into place: any of them stops the export there (SIGTERM and SIGHUP then end the
  // session too, which TakeSignal notes).
  ExportOutcome RenderAndPublish() {
    OpenTracks();
    if (!CreateOutputs()) return Failed();
    DiskWorkerPlan work;
    work.firstPosition = plan_.start;
    work.lastPosition = plan_.start + plan_.length;
    for (std::size_t t = 0; t < tracks_; ++t) {
      if (plan_.flags[t] != 1) continue;
      work.tracks.push_back(TrackToRead{.row = static_cast<int>(t),
                                        .file = &files_[t],
                                        .dataOffset = plan_.attributes[t].dataOffset,
                                        .length = plan_.attributes[t].length});
    }
    // The mix goes into regions 0 and 1 in place; where no track fills them they are cleared.
    for (int r = 0; r < 2; ++r) {
      if (static_cast<std::size_t>(r) >= tracks_ || plan_.flags[static_cast<std::size_t>(r)] != 1) {
        work.rowsToClear.push_back(r);
      }
    }
    // The disk worker reads the tracks as far ahead of the mix as a run does, in long reads.
    const DiskBufferSize size = SizeDiskBuffers(s_.sr, rows_, 0, AvailableMemory());
    ring_.Allocate(size.playSlots, static_cast<std::size_t>(rows_) * kMixRegionBytes);
    DiskWorker worker(work, ring_, noCapture_);
    worker.Start();
    RealTimeBudget unpaced = RealTimeBudget::Unpaced();
    RunEvents events;
    const MixChoice mix{.mode = s_.mix == MixMode::kMaster ? MixMode::kMaster : MixMode::kStereo,
                        .tracks = static_cast<int>(tracks_),
                        .busCount = static_cast<int>(tracks_) / 2,
                        .flags = &plan_.flags,
                        .gains = &gains_,
                        .busActive = &s_.busActive,
                        .busAssign = &s_.busAssign,
                        .busGain = &s_.busGain};
    PlaylistSource source(ring_, worker, plan_.start, rows_, unpaced, mixer_, mix, peaks_, Punch{}, events);
    const std::int64_t staged = StagedBlocks();
    for (std::int64_t first = 0; first < plan_.length; first += staged * kBlockFrames) {
      const std::int64_t blocks = std::min(staged, (plan_.length - first - 1) / kBlockFrames + 1);
      for (std::int64_t b = 0; b < blocks; ++b) {
        if (TakeSignal() != 0) return Stopped();
        const unsigned char* block = source.Take(plan_.start + first + b * kBlockFrames);
        // A track that could not be read fails the export: a mix without it is not the mix.
        if (worker.FailureCount() > 0) {
          Check(worker.Failure(0).status);
          return Failed();
        }
        Stage(block, b);
        source.Release();
        std::printf("\rExport Progress: %.0f %%",
                    static_cast<double>(first + b * kBlockFrames) / static_cast<double>(plan_.length) * 100.0);
        std::fflush(stdout);
        progressShown_ = true;
      }
      // The last block is cut at the stop: the files hold what their headers declare.
      if (!WriteStaged(std::min(blocks * kBlockFrames, plan_.length - first))) return Failed();
    }
    worker.Stop();
    if (TakeSignal() != 0) return Stopped();
    return Publish();
  }

  void OpenTracks() {
    std::printf("Mixing channels ");
    for (std::size_t t = 0; t < tracks_ && t < plan_.entries.size(); ++t) {
      if (plan_.flags[t] != 1) continue;
      FileStatus status;
      files_[t] = OpenForReading(plan_.entries[t], status);
      if (files_[t]) {
        std::printf(" %i", static_cast<int>(t) + 1);
      } else {
        std::printf("Can't open %s for Mixing\n", plan_.entries[t].c_str());
        plan_.flags[t] = 0;
      }
    }
    std::printf("\n");
  }

  // Blocks mixed between two writes of the outputs: the writes are long, for the disk.
  std::int64_t StagedBlocks() const {
    return std::clamp<std::int64_t>((plan_.length - 1) / kBlockFrames + 1, 1, kStagedBlocks);
  }

  bool CreateOutputs() {
    const auto stagedBytes = static_cast<std::size_t>(StagedBlocks() * kBlockFrames * kSampleBytes);
    // One stereo file, or two mono files with half as much each.
    staged_.assign(2 * stagedBytes, 0);
    const std::size_t share = staged_.size() / outputs_.size();
    for (std::size_t k = 0; k < outputs_.size(); ++k) {
      Output& out = outputs_[k];
      out.staged = std::span(staged_).subspan(k * share, share);
      const std::filesystem::path path(out.name);
      FileStatus status;
      out.temp = TemporaryFile::Create(path.parent_path(), path.filename().string() + ".tmp", status);
      if (!out.temp) status.file = out.name;
      if (status.ok()) status = WriteWaveHeader(out.temp.file(), s_.sr, kBits, plan_.length, channels_);
      if (!Check(AsOutput(status, out))) return false;
    }
    return true;
  }

  // The mixed outputs of a block into the staged samples: the left and right files, or the
  // frames of the stereo file.
  void Stage(const unsigned char* block, std::int64_t b) {
    const unsigned char* left = block;
    const unsigned char* right = block + kMixRegionBytes;
    const auto at = static_cast<std::size_t>(b * kBlockFrames * kSampleBytes);
    if (plan_.kind == ExportKind::kSplit) {
      std::memcpy(outputs_[0].staged.data() + at, left, kMixRegionBytes);
      std::memcpy(outputs_[1].staged.data() + at, right, kMixRegionBytes);
      return;
    }
    unsigned char* frames = outputs_[0].staged.data() + 2 * at;
    for (std::size_t i = 0; i < kMixBlockFrames; ++i) {
      std::memcpy(frames + 6 * i, left + 3 * i, 3);
      std::memcpy(frames + 6 * i + 3, right + 3 * i, 3);
    }
  }

  bool WriteStaged(std::int64_t frames) {
    for (Output& out : outputs_) {
      const auto bytes = static_cast<std::size_t>(frames * kSampleBytes * channels_);
      if (!Check(AsOutput(WriteAt(out.temp.file(), kWaveHeaderBytes + out.written, out.staged.first(bytes)), out))) {
        return false;
      }
      // The disk works while the next blocks are mixed; the flush before publishing then
      // has little left to wait for.
      StartWriteBack(out.temp.file(), kWaveHeaderBytes + out.written, bytes);
      out.written += bytes;
    }
    return true;
  }

  // Every output on the disk before any takes its name, and the outputs put in place as one:
  // when one cannot take its name, the ones before it are put back, so that a split export
  // never leaves a new left file beside an old right one.
  ExportOutcome Publish() {
    std::vector<TemporaryFile::Destination> destinations;
    for (Output& out : outputs_) {
      if (!Check(AsOutput(out.temp.Complete(), out))) return Failed();
      destinations.push_back({.file = &out.temp, .finalName = out.name});
    }
    if (!Check(TemporaryFile::PublishAll(destinations))) return Failed();
    return ExportOutcome::kDone;
  }

  // The temporary's name means nothing to the user: a failure to write it is a failure to write
  // the output.
  static FileStatus AsOutput(FileStatus status, const Output& out) {
    if (status.file == out.temp.name() && status.target.empty()) status.file = out.name;
    return status;
  }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const Output& out : outputs_) names.push_back(out.name);
    return names;
  }

  // The progress line is rewritten in place; a message after it starts a line of its own.
  void EndProgressLine() {
    if (progressShown_) std::printf("\n");
    progressShown_ = false;
  }

  // Prints a failure, on a line of its own. Returns status.ok().
  bool Check(const FileStatus& status) {
    if (status.ok()) return true;
    EndProgressLine();
    return Report(status);
  }

  ExportOutcome Failed() {
    EndProgressLine();
    PrintNotWritten("The export failed", Names());
    return ExportOutcome::kFailed;
  }

  ExportOutcome Stopped() {
    EndProgressLine();
    PrintNotWritten("Export stopped", Names());
    return ExportOutcome::kStopped;
  }

  ExportPlan& plan_;
  const SessionSettings& s_;
  MixEngine& mixer_;
  const TrackGains& gains_;
  MixPeaks& peaks_;
  const std::size_t tracks_;
  const int rows_;
  const int channels_;
  std::array<FileDescriptor, kMaxTracks> files_;
  std::vector<Output> outputs_;
  BlockRing ring_;
  BlockRing noCapture_;  // an export records nothing
  std::vector<unsigned char> staged_;
  bool progressShown_ = false;
};

}  // namespace

std::vector<std::string> ExportNames(ExportKind kind, const std::string& baseName) {
  if (kind == ExportKind::kSplit) return {baseName + "_L.wav", baseName + "_R.wav"};
  return {baseName + ".wav"};
}

std::int64_t LongestExport(ExportKind kind) { return LongestWaveFrames(static_cast<int>(kind)); }

ExportOutcome ExportMix(ExportPlan& plan, const SessionSettings& settings, MixEngine& mixer, const TrackGains& gains,
                        MixPeaks& peaks) {
  peaks.Clear();
  if (plan.length < 1 || plan.length > LongestExport(plan.kind)) return ExportOutcome::kFailed;
  return Render(plan, settings, mixer, gains, peaks).Run();
}

void ExportCommand(SessionSettings& s, ConsoleInput& input, MixEngine& mixer, TrackGains& gains,
                   const std::string& word) {
  ExportPlan plan;
  plan.kind = word == "exp-s" ? ExportKind::kSplit : ExportKind::kInterleaved;
  std::string playText;
  if (!Report(ReadWholeFile(s.play[0], playText))) return;

  // Tracks 1..ch take part, as in a run; the playlist's further lines do not.
  plan.entries = SplitList(playText);
  plan.entries.resize(std::min(plan.entries.size(), static_cast<std::size_t>(std::clamp(s.ch, 0, kMaxTracks))));
  for (std::size_t t = 0; t < plan.entries.size(); ++t) {
    if (IsSkipLine(plan.entries[t])) continue;
    plan.flags[t] = GET_ATTRIBUTES(plan.entries[t], plan.attributes[t]);
    if (plan.flags[t] == 1) WarnOfOtherRate(plan.entries[t], plan.attributes[t].sampleRate, s.sr);
  }
  SetVolume(s.p, s.v, gains.left, gains.right, s.ch, plan.flags, kTrackGainScale);

  plan.start = s.i;
  plan.length = static_cast<std::int64_t>(s.o) - s.i;
  if (plan.length < 1) {
    std::puts("Cannot export until in and out points are set incorrectly.");
    return;
  }
  if (const std::int64_t longest = LongestExport(plan.kind); plan.length > longest) {
    std::printf("Cannot export %s: a %s wave file holds at most %s at %u Hz (%lld frames)\n",
                DurationText(plan.length, s.sr).c_str(), plan.kind == ExportKind::kSplit ? "mono" : "stereo",
                DurationText(longest, s.sr).c_str(), static_cast<unsigned>(s.sr), static_cast<long long>(longest));
    return;
  }

  std::puts("Enter mix filename");
  plan.baseName = input.ReadWord();
  // Through the busses only tracks routed to one are heard; the others are not even opened.
  if (s.mix == MixMode::kMaster) VerifyChannels(s.busAssign, plan.flags);

  MixPeaks peaks;
  if (ExportMix(plan, s, mixer, gains, peaks) != ExportOutcome::kDone) return;
  do {
    std::puts("Enter 'c' to continue");
  } while (input.ReadWord().front() != 'c');
}

}  // namespace tapeloom
