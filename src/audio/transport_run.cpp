#include "audio/transport_run.h"

#include <cstdio>
#include <memory>

#include "audio/capture_sink.h"
#include "audio/device_cycle.h"
#include "audio/disk_buffers.h"
#include "audio/disk_worker.h"
#include "audio/peak_reports.h"
#include "audio/play_source.h"
#include "audio/recording_marker.h"
#include "audio/run_display.h"
#include "audio/run_events.h"
#include "audio/run_plan.h"
#include "audio/run_report.h"

namespace tapeloom {
namespace {

// The play ring holds this much before the card starts (or all of it, when it is smaller), so
// that the first blocks never wait on the disk; the worker fills the rest while the run goes
// on. Past this long the run starts anyway.
constexpr double kPrefillSeconds = 2.0;
constexpr double kLongestPrefillWait = 10.0;

class Run {
 public:
  Run(const RunContext& context, const RunRequest& request, RunPlan& plan)
      : context_(context),
        s_(context.settings),
        request_(request),
        plan_(plan),
        calibration_(request.kind == RunKind::kCalibrate ? request.calibration : nullptr),
        budget_(s_.sr, context.port.PlayBufferFrames()) {}

  void Perform() {
    if (plan_.records && calibration_ == nullptr) MarkRecording();
    PrepareDisk();
    const DisplaySettings display{
        .clock = s_.clock, .sr = s_.sr, .tmode = s_.tmode, .tempo = s_.tempo, .sig = s_.sig, .inputs = s_.inputs};
    RunDisplay view(display, context_.meterState, context_.meterScale, peaks_, calibration_ != nullptr);
    MakeSourceAndSink();
    DeviceCycle cycle(context_.port, context_.buffers, source_.get(), sink_.get(), view, events_, budget_, peaks_,
                      Shape());
    cycle.PrepareDevices();
    if (worker_ && plan_.plays) {
      const auto blocks = static_cast<std::size_t>(kPrefillSeconds * s_.sr / kBlockFrames) + 1;
      worker_->WaitForBlocks(blocks, kLongestPrefillWait);
    }
    cycle.Run();

    // The peaks as the run ends: a block captured after a stop goes to the takes, not to the report.
    const InputPeaks reported = peaks_;
    cycle.HandOverPartialBlock();
    if (worker_) {
      if (plan_.records) worker_->FinishTakes(sink_->Frames());
      worker_->Stop();
    }
    // The takes' final headers are written and flushed: nothing is left to repair.
    marker_.Remove();
    if (source_) source_->Report();
    if (sink_) sink_->Report();
    Reports(cycle, reported);
    if (sink_) sink_->ReportClosing();
    PrintRunEvents(events_, Channels(), s_);
    for (FileDescriptor& file : plan_.trackFiles) file.Close();
    if (plan_.records && calibration_ == nullptr) HandOverTakes();
  }

 private:
  // On the disk before the card starts, so that a power cut during the recording finds it:
  // the next start-up then repairs the takes' headers, which lag their data by up to a second.
  void MarkRecording() {
    std::vector<MarkedTake> takes;
    for (std::size_t k = 0; k < plan_.takeFiles.size(); ++k) {
      if (plan_.recording[k] != 1 || !plan_.takeFiles[k]) continue;
      MarkedTake take{.name = plan_.takes.names[k],
                      .dataOffset = static_cast<std::uint32_t>(plan_.takeDataOffsets[k]),
                      .sampleRate = s_.sr};
      if (IdentifyTake(plan_.takeFiles[k], take).ok()) takes.push_back(std::move(take));
    }
    if (takes.empty()) return;
    FileStatus status;
    marker_ = RecordingMarker::Write(takes, status);
    if (!status.ok()) {
      std::printf("%s (recording all the same; a power cut would cost the takes their last second)\n",
                  status.Message().c_str());
    }
  }

  // The rings and the worker, for a run that reads tracks or writes takes.
  void PrepareDisk() {
    const bool tracks = plan_.plays && calibration_ == nullptr;
    const bool takes = plan_.records && calibration_ == nullptr;
    if (!tracks && !takes) return;
    const int playRows = tracks ? plan_.PlayRows(s_.outputs) : 0;
    recordingInputs_ = takes ? plan_.RecordingInputs() : std::vector<int>{};
    const auto captureRows = static_cast<int>(recordingInputs_.size());
    const DiskBufferSize size =
        SizeDiskBuffers(s_.sr, playRows, captureRows, AvailableMemory(), context_.buffers.diskSeconds);
    if (context_.buffers.diskSeconds <= 0.0 && size.seconds < kLeastDiskBufferSeconds) {
      std::printf("Memory is short: the disk buffer holds %.1f s, and a longer storage stall will cost audio.\n",
                  size.seconds);
    }
    context_.buffers.playRing().Allocate(size.playSlots, static_cast<std::size_t>(playRows) * kRowBytes);
    context_.buffers.captureRing().Allocate(size.captureSlots, static_cast<std::size_t>(captureRows) * kRowBytes, true);

    DiskWorkerPlan work;
    work.firstPosition = plan_.start;
    // A run that only plays ends while the block that holds its stop plays: no frame two
    // blocks past the stop reaches the card.
    if (!plan_.records) work.lastPosition = plan_.stop + 2 * kBlockFrames;
    work.sr = s_.sr;
    work.plannedFrames = plan_.recordLength;
    for (int t = 0; t < playRows; ++t) {
      const auto ti = static_cast<std::size_t>(t);
      if (plan_.lists.activeTracks[ti] == 1) {
        work.tracks.push_back(TrackToRead{.row = t,
                                          .file = &plan_.trackFiles[ti],
                                          .dataOffset = plan_.lists.attributes[ti].dataOffset,
                                          .length = plan_.lists.attributes[ti].length,
                                          .startOffset = plan_.trackStartOffsets[ti]});
      } else {
        work.rowsToClear.push_back(t);  // played (or mixed into) as silence
      }
    }
    for (std::size_t r = 0; r < recordingInputs_.size(); ++r) {
      const auto k = static_cast<std::size_t>(recordingInputs_[r]);
      work.takes.push_back(
          TakeToWrite{.row = static_cast<int>(r), .file = &plan_.takeFiles[k], .dataOffset = plan_.takeDataOffsets[k]});
    }
    worker_ = std::make_unique<DiskWorker>(work, context_.buffers.playRing(), context_.buffers.captureRing());
    worker_->Start();
  }

  void MakeSourceAndSink() {
    mixPeaks_.Clear();
    if (calibration_ != nullptr) {
      source_ = std::make_unique<SignalSource>(calibration_->signal, calibration_->signalStart, calibration_->output,
                                               context_.buffers.rows());
      sink_ = std::make_unique<MemorySink>(calibration_->input, plan_.recordLength, calibration_->captured);
      return;
    }
    if (plan_.plays) {
      mix_ = MixChoice{.mode = s_.mix,
                       .tracks = s_.ch,
                       .busCount = plan_.busCount,
                       .flags = &plan_.lists.activeTracks,
                       .gains = &context_.gains,
                       .busActive = &s_.busActive,
                       .busAssign = &s_.busAssign,
                       .busGain = &s_.busGain};
      const Punch punch{.replaced = plan_.records ? &plan_.lists.replacedTracks : nullptr,
                        .recordStart = plan_.recordStart};
      source_ = std::make_unique<PlaylistSource>(context_.buffers.playRing(), *worker_, plan_.start,
                                                 plan_.PlayRows(s_.outputs), budget_, context_.mixer, mix_, mixPeaks_,
                                                 punch, events_);
    }
    if (plan_.records) {
      sink_ = std::make_unique<TakeSink>(recordingInputs_, plan_.recordLength, plan_.recordStart, s_.peak == 1,
                                         context_.buffers.captureRing(), *worker_, budget_, peaks_, events_);
    }
  }

  CycleShape Shape() const {
    CycleShape shape{.plays = plan_.plays,
                     .records = plan_.records,
                     .monitors = plan_.monitors,
                     .start = plan_.start,
                     .recordStart = plan_.recordStart,
                     .stop = plan_.stop,
                     .captureStart = plan_.captureStart,
                     .captureSkip = plan_.captureSkip,
                     .device = s_.dv,
                     .sr = s_.sr};
    if (plan_.monitors) {
      for (int k = 0; k < s_.inputs && k < kMaxTracks; ++k) {
        const auto ki = static_cast<std::size_t>(k);
        shape.shown[ki] = request_.kind == RunKind::kMonitorAll || plan_.lists.armedInputs[ki] == 1 ? 1 : 0;
      }
    }
    return shape;
  }

  void Reports(const DeviceCycle& cycle, const InputPeaks& peaks) {
    std::printf("\n");
    if (calibration_ != nullptr) {
      calibration_->xruns =
          cycle.underruns() + cycle.overruns() + cycle.playErrors().count + cycle.captureErrors().count;
    } else {
      if (plan_.records && s_.peak == 1) PrintInputPeaks(peaks.peak, plan_.recording, s_.inputs);
      if (plan_.plays) PrintOutputPeaks(s_.mix, mixPeaks_, s_.busActive);
    }
    if (cycle.underruns() != 0) std::printf("\nPlay Underruns = %i\n", cycle.underruns());
    if (cycle.overruns() != 0) std::printf("\nRecord Overruns = %i\n", cycle.overruns());
    if (cycle.playErrors().count != 0) {
      std::printf("\nPlayback errors = %i (%s)\n", cycle.playErrors().count, snd_strerror(cycle.playErrors().last));
    }
    if (cycle.captureErrors().count != 0) {
      std::printf("\nRecording errors = %i (%s)\n", cycle.captureErrors().count,
                  snd_strerror(cycle.captureErrors().last));
    }
  }

  // The channels a disk shortfall concerns: the tracks that play, the inputs that record.
  ListedChannels Channels() const {
    ListedChannels channels;
    if (calibration_ != nullptr) return channels;
    for (int t = 0; t < kMaxTracks; ++t) {
      if (plan_.plays && plan_.lists.activeTracks[static_cast<std::size_t>(t)] == 1) channels.tracks.push_back(t + 1);
    }
    for (const int k : recordingInputs_) channels.inputs.push_back(k + 1);
    return channels;
  }

  void HandOverTakes() {
    TakeState& takes = context_.takes;
    takes.recorded.fill(0);
    std::array<FileStatus, kMaxTracks> failures;
    for (std::size_t r = 0; r < recordingInputs_.size(); ++r) {
      failures[static_cast<std::size_t>(recordingInputs_[r])] = worker_->TakeStatus(r);
    }
    for (std::size_t k = 0; k < plan_.takeFiles.size(); ++k) {
      if (!plan_.takeFiles[k]) continue;
      if (FileStatus closed = plan_.takeFiles[k].Close(); !closed.ok() && failures[k].ok()) {
        Report(closed);
        failures[k] = closed;
      }
      // A take that lost audio to a failed write keeps what was written under its own name;
      // the take menu never puts it in place of another file.
      takes.recorded[k] = plan_.recording[k] == 1 && failures[k].ok() ? 1 : 0;
    }
    takes.writeFailures = failures;
    takes.takeList = plan_.takes.takeList;
    takes.recordListText = plan_.lists.recordText;
    takes.stamp = plan_.takes.stamp;
    takes.recordStart = s_.e;
    // What was recorded: the planned length, or less when the run was stopped early.
    takes.recordLength = static_cast<SamplePosition>(sink_->Frames());
    takes.pending = !takes.takeNameMode;
    takes.auditionStartOffset = 0;
    takes.auditionStopCut = 0;
  }

  const RunContext& context_;
  SessionSettings& s_;
  const RunRequest& request_;
  RunPlan& plan_;
  CalibrationLoop* calibration_;
  RealTimeBudget budget_;
  RunEvents events_;
  InputPeaks peaks_;
  MixPeaks mixPeaks_;
  MixChoice mix_;
  std::vector<int> recordingInputs_;
  RecordingMarker marker_;
  std::unique_ptr<DiskWorker> worker_;
  std::unique_ptr<PlaySource> source_;
  std::unique_ptr<CaptureSink> sink_;
};

}  // namespace

bool RunRequest::plays() const {
  return kind == RunKind::kPlay || kind == RunKind::kPlaySoloed || kind == RunKind::kPlayAndRecord ||
         kind == RunKind::kAudition || kind == RunKind::kCalibrate;
}

bool RunRequest::records() const {
  return kind == RunKind::kPlayAndRecord || kind == RunKind::kRecord || kind == RunKind::kCalibrate;
}

bool RunRequest::monitors() const { return kind == RunKind::kMonitorArmed || kind == RunKind::kMonitorAll; }

void RunTransport(const RunContext& context, const RunRequest& request) {
  // The run's state is large (per-track tables); it lives for one run only.
  if (std::unique_ptr<RunPlan> plan = MakeRunPlan(context, request)) {
    auto run = std::make_unique<Run>(context, request, *plan);
    run->Perform();
  }
  SessionSettings& s = context.settings;
  if (request.restore.in) s.i = *request.restore.in;
  if (request.restore.out) s.o = *request.restore.out;
  if (request.restore.enter) s.e = *request.restore.enter;
}

}  // namespace tapeloom
