#include "audio/transport_run.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "audio/metering.h"
#include "audio/peak_reports.h"
#include "console/session_signals.h"
#include "mix/gains.h"
#include "takes/take_naming.h"
#include "time/time_base.h"
#include "tracks/list_files.h"
#include "tracks/run_lists.h"
#include "wave/sample_encoding.h"
#include "wave/wave_file.h"
#include "wave/wave_header.h"
#include "wave/wave_readers.h"

namespace tapeloom {
namespace {

constexpr int kBlockFrames = kMixBlockFrames;  // frames per play and record block
constexpr int kBytesPerFrame = 3;              // one channel, packed 24-bit
constexpr int kMonitorLineFrames = 16384;      // the input monitor redraws after this many frames
// A suspended device is asked to resume this often, this long apart, before it is prepared.
constexpr int kResumeTries = 10;
constexpr int kResumeWaitMs = 100;

class TransportRun {
 public:
  TransportRun(const RunContext& context, const RunRequest& request)
      : context_(context),
        s_(context.settings),
        request_(request),
        port_(context.port),
        buffers_(context.buffers),
        period_(context.port.PeriodFrames()),
        plays_(request.plays()),
        records_(request.records()),
        recordOnly_(records_ && !plays_),
        loop_(request.kind == RunKind::kCalibrate ? request.calibration : nullptr) {}

  void Execute() {
    if (!Prepare()) return;
    Prelude();
    do {
      (this->*cycle_)();
      // Ctrl-C, SIGTERM or SIGHUP: the run stops as if its stop were here.
      if (TakeSignal() != 0) stopNow_ = true;
    } while (!Finished());
    AfterRun();
  }

 private:
  // --- Preparation: lists, takes, files, titles.

  // Returns false when the run is cancelled before it starts.
  bool Prepare() {
    if (loop_ != nullptr) return PrepareCalibration();
    busCount_ = s_.mix == 2 ? s_.outputs / 2 : (s_.mix == 3 ? s_.ch / 2 : 0);
    RunListRequest lists{.plays = plays_,
                         .records = records_,
                         .monitor = request_.monitors(),
                         .solo = request_.kind == RunKind::kPlaySoloed};
    if (request_.kind == RunKind::kAudition) {
      // The audition plays every track, the recorded inputs' takes standing in for their tracks.
      const RunLists current = ResolveRunLists(s_, context_.input, {});
      const TakeState& takes = context_.takes;
      lists.auditionList = Hybridize(current.playText, takes.takeList, takes.recorded, s_.ch);
    }
    lists_ = ResolveRunLists(s_, context_.input, lists);
    played_ = lists.auditionList.value_or(lists_.playText);
    stop_ = StopPosition();
    // A performance is never played to a recorder that writes nothing.
    if (records_ && !Any(lists_.armedInputs)) {
      std::printf("No input is armed in %s, so nothing would be recorded: the recording is cancelled.\n",
                  s_.rec[0].c_str());
      return false;
    }
    if (records_) NameTakes();
    if (plays_) OpenPlayFiles();
    if (records_) {
      OpenTakes();
      if (!Any(recording_)) {
        std::printf("No take could be created for the inputs armed in %s: the recording is cancelled.\n",
                    s_.rec[0].c_str());
        return false;
      }
    }
    PrintTitles();
    if (s_.int_ == 1) PrintPoints();
    return true;
  }

  // A calibration run plays no track and creates no take: its signal goes to one output and one
  // input is captured into memory.
  bool PrepareCalibration() {
    stop_ = s_.o;
    recordLength_ = static_cast<std::int64_t>(s_.o) - s_.e;
    loop_->captured.clear();
    loop_->xruns = 0;
    if (loop_->input < 0 || loop_->input >= s_.inputs || loop_->output < 0 || loop_->output >= s_.outputs) return false;
    const std::size_t input = static_cast<std::size_t>(loop_->input);
    lists_.armedInputs[input] = 1;
    recording_[input] = 1;
    return true;
  }

  static bool Any(const std::array<int, kMaxTracks>& flags) {
    return std::any_of(flags.begin(), flags.end(), [](int flag) { return flag == 1; });
  }

  void NameTakes() {
    recordLength_ = static_cast<std::int64_t>(s_.o) - s_.e;
    NamingPass pass{.inputs = s_.inputs,
                    .armed = &lists_.armedInputs,
                    .recordStart = s_.e,
                    .sr = s_.sr,
                    .takeNameMode = context_.takes.takeNameMode,
                    .takeName = context_.takes.takeName,
                    .recordListText = lists_.recordText,
                    .stamp = NewTime()};
    takes_ = NameAndCreateTakes(pass, context_.input);
  }

  void OpenPlayFiles() {
    const std::vector<std::string> played = SplitList(played_);
    for (std::size_t t = 0; t < played.size() && t < lists_.activeTracks.size(); ++t) {
      if (lists_.activeTracks[t] != 1) continue;
      FileStatus status;
      playFiles_[t] = OpenForReading(played[t], status);
      if (!playFiles_[t]) {
        std::printf("Can't open %s for playback\n", played[t].c_str());
        lists_.activeTracks[t] = 0;
      }
    }
  }

  void OpenTakes() {
    for (int k = 0; k < s_.inputs && k < kMaxTracks; ++k) {
      const std::size_t ki = static_cast<std::size_t>(k);
      if (lists_.armedInputs[ki] != 1) continue;
      const std::string& name = takes_.names[ki];
      WaveAttributes attributes;
      // A take whose header could not be written is left out: nothing is recorded into it,
      // and take handling leaves its name alone.
      if (takes_.failures[ki].ok() && GET_ATTRIBUTES(name, attributes) == 1) {
        FileStatus status;
        takeFiles_[ki] = OpenForUpdate(name, status);
        takeDataOffsets_[ki] = attributes.dataOffset;
      }
      if (takeFiles_[ki]) {
        recording_[ki] = 1;
      } else {
        std::printf("Can't open %s for recording\n", name.c_str());
      }
    }
  }

  void PrintTitles() const {
    switch (request_.kind) {
      case RunKind::kPlay: std::puts("Playing..."); break;
      case RunKind::kPlaySoloed:
        std::puts("Playing...");
        std::puts("Tracks are soloed");
        break;
      case RunKind::kPlayAndRecord: std::puts("Playing and Recording..."); break;
      case RunKind::kRecord: std::puts("Recording..."); break;
      case RunKind::kAudition:
        std::puts("Playing...");
        std::puts("Auditioning...");
        break;
      case RunKind::kMonitorArmed:
      case RunKind::kMonitorAll: std::puts("Monitoring Input Peaks..."); break;
      case RunKind::kCalibrate: break;  // the calibration prints its own lines
    }
  }

  void PrintPoints() const {
    if (request_.monitors()) return;
    const SamplePosition start = StartPosition();
    const SamplePosition stop = stop_;
    if (s_.tmode == 1) {
      const auto at = [this](SamplePosition p) { return SampleToMeasures(s_.sig, s_.tempo, p, s_.sr); };
      if (plays_) {
        std::printf("playback start = %i.%.2f\n", at(start).measure, static_cast<double>(at(start).beat));
      }
      if (records_) std::printf("record start   = %i.%.2f\n", at(s_.e).measure, static_cast<double>(at(s_.e).beat));
      const MusicalPosition end = at(stop);
      if (plays_ && records_) {
        std::printf("play/rec stop  = %i.%.2f\n", end.measure, static_cast<double>(end.beat));
      } else if (recordOnly_) {
        std::printf("record stop    = %i.%.2f\n", end.measure, static_cast<double>(end.beat));
      } else {
        std::printf("playback stop  = %i.%.2f\n", end.measure, static_cast<double>(end.beat));
      }
      return;
    }
    const auto seconds = [this](SamplePosition p) { return static_cast<double>(PositionToSeconds(p, s_.sr)); };
    if (plays_) std::printf("playback start = %.2f sec\n", seconds(start));
    if (records_) std::printf("record start   = %.2f sec\n", seconds(s_.e));
    if (plays_ && records_) {
      std::printf("play/rec stop  = %.2f sec\n", seconds(stop));
    } else if (recordOnly_) {
      std::printf("record stop    = %.2f sec\n", seconds(stop));
    } else {
      std::printf("playback stop  = %.2f sec\n", seconds(stop));
    }
  }

  SamplePosition StartPosition() const {
    if (request_.monitors()) return 0;
    // An audition plays the takes from where they were recorded, whatever the points are now.
    if (request_.kind == RunKind::kAudition) {
      return MovePosition(context_.takes.recordStart, request_.auditionStartOffset, 1);
    }
    if (recordOnly_) return s_.e;
    return s_.i;
  }

  SamplePosition StopPosition() const {
    if (request_.monitors()) return request_.monitorFrames;
    if (request_.kind == RunKind::kAudition) {
      const TakeState& takes = context_.takes;
      return MovePosition(takes.recordStart, static_cast<std::int64_t>(takes.recordLength) - request_.auditionStopCut,
                          1);
    }
    return s_.o;
  }

  // --- Prelude: devices, counters, gains.

  void Prelude() {
    mixPeaks_.Clear();
    inputPeaks_.fill(0);
    buffers_.ClearAll();
    startPosition_ = StartPosition();
    readPosition_ = startPosition_;
    if (loop_ == nullptr && s_.mix >= 1 && s_.mix <= 3) {
      SetVolume(s_.p, s_.v, context_.gains.left, context_.gains.right, s_.ch, lists_.activeTracks, kTrackGainScale);
    }
    port_.Drain(PcmDirection::Playback);
    port_.Drain(PcmDirection::Capture);
    if (records_ || request_.monitors()) port_.Prepare(PcmDirection::Capture);
    if (plays_) port_.Prepare(PcmDirection::Playback);
    clockInterval_ = ClockInterval(s_.clock, s_.sr);
    if (plays_ && records_) PlaceCaptureStart();
    if (request_.kind == RunKind::kAudition) {
      lists_.replacedTracks.fill(0);
      trackStartOffset_ = request_.trackStartOffsets;
    } else {
      trackStartOffset_.fill(0);
    }
    meterReset_ = 1;
    lastClockPosition_ = startPosition_;
    ChooseCycle();
  }

  // Where the take of a run that plays begins in what the inputs capture, so that it holds what
  // was heard at the record start from its first frame on. The frame of the record start is
  // the record start's distance from the play start into the stream, after the silent block
  // every run begins with. It reaches the inputs once the playback buffer is played out before
  // it, plus what the card itself adds (its converters, its transport), which the session knows
  // only as `latcomp`, measured by "cal". A run whose playback starts before the record start
  // also waits the output delay compensation, `odcomp` periods, less the silent block and one
  // period: with the values before any calibration, the take begins where it always did.
  //
  // The capture starts right after the write that fills the playback buffer, before any write
  // has had to wait for the device: only there does its first frame stand in a fixed relation
  // to the frames played. (Started after a write that waited, it can fall into either of two
  // periods of a card whose playback and capture run on separate clocks or callbacks, and takes
  // land a period off from one run to the next.) The frames it captures before the take
  // begins are dropped; the take keeps its length.
  void PlaceCaptureStart() {
    const std::int64_t period = period_;
    const std::int64_t bufferFrames = std::max<std::int64_t>(port_.PlayBufferFrames() / period_, 1) * period;
    const std::int64_t recordStartFrame = static_cast<std::int64_t>(s_.e) - startPosition_ + kBlockFrames;
    std::int64_t target = recordStartFrame + bufferFrames + s_.latcomp;
    if (s_.i != s_.e) target += (std::int64_t{s_.odcomp} - 1 - (kBlockFrames + period - 1) / period) * period;
    // Never before the capture starts, and never so late that a mistyped setting keeps the run
    // from ever recording (ten seconds).
    target = std::min(target, recordStartFrame + bufferFrames + std::int64_t{s_.sr} * 10);
    captureStart_ = bufferFrames;
    captureSkip_ = std::max<std::int64_t>(target - bufferFrames, 0);
  }

  // --- The cycles, one for each kind of run, chosen once.

  void ChooseCycle() {
    switch (request_.kind) {
      case RunKind::kPlay:
      case RunKind::kPlaySoloed:
      case RunKind::kAudition: cycle_ = &TransportRun::PlayCycle; break;
      case RunKind::kPlayAndRecord:
      case RunKind::kCalibrate: cycle_ = &TransportRun::PlayAndRecordCycle; break;
      case RunKind::kRecord: cycle_ = &TransportRun::RecordCycle; break;
      case RunKind::kMonitorArmed:
      case RunKind::kMonitorAll: cycle_ = &TransportRun::MonitorPeriod; break;
    }
  }

  // The frames to play this cycle: what the device takes (a whole period at most; an error
  // code counts as a whole period too), never past the end of the play block.
  int PlayableFrames(snd_pcm_sframes_t frames) const {
    // Unsigned, so that an error code also becomes a whole period.
    if (static_cast<snd_pcm_uframes_t>(frames) > static_cast<snd_pcm_uframes_t>(period_)) frames = period_;
    return static_cast<int>(std::min<snd_pcm_sframes_t>(frames, kBlockFrames - blockIndex_));
  }

  void PlayCycle() {
    const int frames = PlayableFrames(port_.AvailUpdate(PcmDirection::Playback));
    if (frames == 0) port_.Wait(PcmDirection::Playback, 1);
    ShowPlayProgress(false);
    PlayPeriod(frames);
  }

  // Until the capture starts, whole periods are written without asking the device; from then
  // on one period is captured per cycle. What a cycle writes goes on into the next block when
  // this one ends first, so that playback keeps pace with the capture whatever the period.
  void PlayAndRecordCycle() {
    snd_pcm_sframes_t wanted = countingStarted_ ? period_ : port_.AvailUpdate(PcmDirection::Playback);
    // Unsigned, so that an error code also becomes a whole period.
    if (static_cast<snd_pcm_uframes_t>(wanted) > static_cast<snd_pcm_uframes_t>(period_)) wanted = period_;
    int frames = static_cast<int>(wanted);
    if (loop_ == nullptr) ShowPlayProgress(true);
    do {
      const int piece = std::min(frames, kBlockFrames - blockIndex_);
      PlayPeriod(piece);
      frames -= piece;
    } while (frames > 0);
    if (framesPlayed_ >= captureStart_) {
      CapturePeriod();
      countingStarted_ = false;
    }
  }

  void RecordCycle() {
    if (port_.AvailUpdate(PcmDirection::Capture) == 0) port_.Wait(PcmDirection::Capture, 1);
    CapturePeriod();
    readPosition_ += period_;
    if (readPosition_ - lastClockPosition_ > clockInterval_) {
      ShowProgress(readPosition_, true);
      lastClockPosition_ = readPosition_;
    }
  }

  void ShowPlayProgress(bool meter) {
    const std::int64_t clockPosition = readPosition_ + blockIndex_ - kBlockFrames;
    if (clockPosition - lastClockPosition_ >= clockInterval_) {
      ShowProgress(clockPosition, meter);
      lastClockPosition_ = clockPosition;
    }
  }

  void ShowProgress(std::int64_t position, bool meter) {
    if (s_.clock != 0) {
      UpdateClock(s_.clock, ClampPosition(position), 0, s_.sr, s_.tmode, s_.tempo, s_.sig);
    }
    if (meter && context_.meterScale.range != 0.0f) {
      Meter(context_.meterState, loudest_, context_.meterScale.range, &meterReset_, s_.clock == 0 ? 1 : 0,
            loudestChannel_, context_.meterScale.fall);
    }
    loudest_ = 0;
  }

  static SamplePosition ClampPosition(std::int64_t position) {
    return static_cast<SamplePosition>(std::clamp<std::int64_t>(position, INT32_MIN, INT32_MAX));
  }

  void PlayPeriod(int frames) {
    void** channels = buffers_.PointPlayback(currentPlaySet_, blockIndex_);
    // The next block is read and mixed into the other set while this one plays.
    if (readPending_) ReadPlayBlock();
    const snd_pcm_sframes_t result = port_.WriteN(channels, static_cast<snd_pcm_uframes_t>(frames));
    blockIndex_ += frames;
    framesPlayed_ += frames;
    if (blockIndex_ == kBlockFrames) {
      currentPlaySet_ = 1 - currentPlaySet_;
      blockIndex_ = 0;
      readPending_ = true;
    } else {
      readPending_ = false;
    }
    if (result == -EPIPE) {
      std::printf("\nPX");
      ++underruns_;
      port_.Prepare(PcmDirection::Playback);
    } else if (result < 0) {
      DeviceFault(PcmDirection::Playback, result);
    }
  }

  // A transfer that failed with something other than an xrun: counted, its reason kept for the
  // report after the run, and the device made ready again, resumed after a suspend and
  // prepared otherwise. A device that cannot be made ready is gone (a card unplugged): the run
  // stops at once, with its takes finished as they are.
  void DeviceFault(PcmDirection direction, snd_pcm_sframes_t error) {
    DeviceErrors& errors = direction == PcmDirection::Playback ? playErrors_ : captureErrors_;
    ++errors.count;
    errors.last = static_cast<int>(error);
    // An interrupted call (the program stopped and continued) lost its period, but the device
    // is as it was.
    if (error == -EINTR) return;
    int ready = -1;
    if (error == -ESTRPIPE) {
      for (int tries = 0; tries < kResumeTries && (ready = port_.Resume(direction)) == -EAGAIN; ++tries) {
        port_.Wait(direction, kResumeWaitMs);
      }
    }
    if (ready < 0) ready = port_.Prepare(direction);
    if (ready < 0) {
      std::printf("\n%s on %s stopped working: %s\n", direction == PcmDirection::Playback ? "Playback" : "Recording",
                  s_.dv.c_str(), snd_strerror(ready));
      stopNow_ = true;
    }
  }

  void ReadPlayBlock() {
    const int set = 1 - currentPlaySet_;
    if (loop_ != nullptr) {
      ReadSignalBlock(set);
      return;
    }
    const std::int64_t punchFrame = s_.e > readPosition_ ? s_.e - readPosition_ : 0;
    for (int t = 0; t < s_.ch && t < kMaxTracks; ++t) {
      const std::size_t ti = static_cast<std::size_t>(t);
      if (lists_.activeTracks[ti] != 1) continue;
      unsigned char* row = buffers_.PlayRow(set, t);
      ReadTrackBlock(ti, row);
      // A track being re-recorded is silent from the record start on.
      if (lists_.replacedTracks[ti] == 1 && s_.e <= readPosition_ + (kBlockFrames - 1)) {
        std::memset(row + punchFrame * kBytesPerFrame, 0,
                    static_cast<std::size_t>(kBlockFrames - punchFrame) * kBytesPerFrame);
      }
    }
    readPosition_ += kBlockFrames;

    std::span<unsigned char> block = buffers_.PlaySet(set);
    if (s_.mix == 1) {
      context_.mixer.Mix(block, s_.ch, lists_.activeTracks, context_.gains.left, context_.gains.right, mixPeaks_,
                         s_.busGain[0]);
    } else if (s_.mix == 2 || s_.mix == 3) {
      context_.mixer.MixMultiple(block, s_.ch, lists_.activeTracks, context_.gains.left, context_.gains.right,
                                 mixPeaks_, s_.busActive, s_.busAssign, busCount_, s_.busGain, s_.mix);
    }
  }

  // The calibration signal's frames of the block starting at readPosition_, on its output;
  // every other output is silent.
  void ReadSignalBlock(int set) {
    for (int c = 0; c < s_.outputs && c < buffers_.rows(); ++c)
      std::memset(buffers_.PlayRow(set, c), 0, kMixRegionBytes);
    unsigned char* row = buffers_.PlayRow(set, loop_->output);
    const std::int64_t length = static_cast<std::int64_t>(loop_->signal.size());
    for (int f = 0; f < kBlockFrames; ++f) {
      const std::int64_t at = readPosition_ + f - loop_->signalStart;
      if (at >= 0 && at < length) PackSample24(loop_->signal[static_cast<std::size_t>(at)], row + f * kBytesPerFrame);
    }
    readPosition_ += kBlockFrames;
  }

  // One track's frames of the block starting at readPosition_: the file's frames where it has
  // them, silence before its start and after its end.
  void ReadTrackBlock(std::size_t t, unsigned char* row) {
    const WaveAttributes& file = lists_.attributes[t];
    const std::int64_t firstFrame = readPosition_ - trackStartOffset_[t];  // the file frame at row frame 0
    const std::int64_t from = std::max<std::int64_t>(firstFrame, 0);
    const std::int64_t to = std::min<std::int64_t>(firstFrame + kBlockFrames, file.length);
    if (to <= from) {
      std::memset(row, 0, kMixRegionBytes);
      return;
    }
    // Only what the file does not fill is zeroed: the frames before its start, and after its
    // end or what a short read left.
    const std::size_t rowOffset = static_cast<std::size_t>(from - firstFrame) * kBytesPerFrame;
    std::memset(row, 0, rowOffset);
    std::uint64_t got = 0;
    const FileStatus status =
        ReadAt(playFiles_[t], static_cast<std::uint64_t>(file.dataOffset + from * kBytesPerFrame),
               std::span<unsigned char>(row + rowOffset, static_cast<std::size_t>(to - from) * kBytesPerFrame), got);
    if (!status.ok()) {
      // The file went bad while playing: leave it out for the rest of the run.
      std::printf("\n%s\n", status.Message().c_str());
      lists_.activeTracks[t] = 0;
      std::memset(row, 0, kMixRegionBytes);
      return;
    }
    const std::size_t filled = rowOffset + static_cast<std::size_t>(got);
    std::memset(row + filled, 0, kMixRegionBytes - filled);
  }

  void CapturePeriod() {
    // Reads are split at the end of a record block, so any period size records.
    int remaining = period_;
    bool lost = false;
    snd_pcm_sframes_t fault = 0;
    if (captureSkip_ > 0) {
      // Frames captured before the take begins: read into the block's start, where the next
      // frames are read over them. A period lost to an overrun counts as dropped, in its place.
      const int skip = static_cast<int>(std::min<std::int64_t>(captureSkip_, period_));
      remaining -= skip;
      ReadCapture(recordIndex_, skip, lost, fault);
      captureSkip_ -= skip;
      if (fault < 0) {
        DeviceFault(PcmDirection::Capture, fault);
        if (stopNow_) return;
      }
    }
    while (remaining > 0) {
      const int frames = std::min(remaining, kBlockFrames - recordIndex_);
      const int at = recordIndex_;
      int captured = 0;
      if (!lost && fault == 0) {
        captured = ReadCapture(at, frames, lost, fault);
        if (fault < 0) {
          DeviceFault(PcmDirection::Capture, fault);
          // A device that is gone ends the run with what it captured: the rest of the period
          // was never recorded and has no place in the takes.
          if (stopNow_) {
            recordIndex_ = at + captured;
            return;
          }
        }
      }
      recordIndex_ += frames;
      remaining -= frames;
      // What was not captured holds silence, never what the block held from an earlier pass.
      if (captured < frames) SilenceRecordFrames(at + captured, frames - captured);
      if (recordIndex_ == kBlockFrames) {
        WriteRecordBlock();
        currentRecordSet_ = 1 - currentRecordSet_;
        recordIndex_ = 0;
      }
    }
    if (lost) {
      std::printf("\nRX");
      ++overruns_;
      port_.Prepare(PcmDirection::Capture);
    }
  }

  // Reads frames into the record block at a frame. A short read is continued: the frames not yet
  // delivered are still to come and belong right after the ones that were. Returns the frames
  // captured; an overrun sets `lost`, any other error is kept in `fault` and ends the read.
  int ReadCapture(int at, int frames, bool& lost, snd_pcm_sframes_t& fault) {
    int done = 0;
    while (done < frames) {
      const snd_pcm_sframes_t got = port_.ReadN(buffers_.PointCapture(currentRecordSet_, at + done),
                                                static_cast<snd_pcm_uframes_t>(frames - done));
      if (got == -EPIPE) {
        lost = true;
        return 0;  // the whole period is lost; its place stays in the take
      }
      if (got < 0) fault = got;
      if (got <= 0) break;
      done += static_cast<int>(std::min<snd_pcm_sframes_t>(got, frames - done));
    }
    return done;
  }

  void SilenceRecordFrames(int from, int frames) {
    for (int k = 0; k < s_.inputs && k < buffers_.rows(); ++k) {
      std::memset(buffers_.RecordRow(currentRecordSet_, k, from), 0, static_cast<std::size_t>(frames) * kBytesPerFrame);
    }
  }

  // Writes the record block being filled into the takes: its first `frames` frames, and never
  // more than the planned length.
  void WriteRecordBlock(int frames = kBlockFrames) {
    const std::int64_t n = std::min<std::int64_t>(recordLength_ - framesWritten_, frames);
    if (loop_ != nullptr) {
      KeepCapturedBlock(n);
      return;
    }
    bool anyWorking = false;
    bool anyRecording = false;
    for (int k = 0; k < s_.inputs && k < kMaxTracks; ++k) {
      const std::size_t ki = static_cast<std::size_t>(k);
      if (recording_[ki] != 1) continue;
      anyRecording = true;
      const unsigned char* row = buffers_.RecordRow(currentRecordSet_, k);
      if (s_.peak == 1) CheckPeak(k, kBlockFrames, inputPeaks_, row, loudest_, loudestChannel_);
      if (n > 0 && takeFailures_[ki].ok()) {
        const std::uint64_t offset = static_cast<std::uint64_t>(framesWritten_ * kBytesPerFrame + takeDataOffsets_[ki]);
        FileStatus status = WriteAt(takeFiles_[ki], offset,
                                    std::span<const unsigned char>(row, static_cast<std::size_t>(n) * kBytesPerFrame));
        if (status.ok()) {
          takeFrames_[ki] += n;
        } else {
          TakeFailed(ki, status);
        }
      }
      anyWorking = anyWorking || takeFailures_[ki].ok();
    }
    if (n <= 0) {
      recordingDone_ = true;
      return;
    }
    framesWritten_ += n;
    // Once a second of audio the headers catch up with it: a take cut off at any moment (a
    // crash, a kill, a power cut) is a valid wave file of what it held a second before at the
    // latest, and never announces audio it does not hold. More often would cost the run time
    // for nothing a reader could use.
    if (framesWritten_ - framesAtHeaderUpdate_ >= static_cast<std::int64_t>(s_.sr)) {
      for (std::size_t k = 0; k < takeFiles_.size(); ++k) {
        if (recording_[k] != 1 || !takeFailures_[k].ok()) continue;
        if (FileStatus status = SetTakeSizes(k); !status.ok()) TakeFailed(k, status);
      }
      framesAtHeaderUpdate_ = framesWritten_;
    }
    // A recording goes on after a take fails only while another take still works.
    if (anyRecording && !anyWorking) recordingDone_ = true;
  }

  // A calibration run keeps its input's frames in memory, as a take would hold them.
  void KeepCapturedBlock(std::int64_t n) {
    if (n <= 0) {
      recordingDone_ = true;
      return;
    }
    const unsigned char* row = buffers_.RecordRow(currentRecordSet_, loop_->input);
    for (std::int64_t f = 0; f < n; ++f) loop_->captured.push_back(UnpackSample24(row + f * kBytesPerFrame));
    framesWritten_ += n;
  }

  // Takes have the canonical header they were created with: it is written anew, whole.
  FileStatus SetTakeSizes(std::size_t k) { return WriteWaveHeader(takeFiles_[k], s_.sr, 24, takeFrames_[k], 1); }

  // Reported once: the take keeps what it holds and the recording goes on with the others.
  void TakeFailed(std::size_t k, const FileStatus& status) {
    std::printf("\n%s\n", status.Message().c_str());
    takeFailures_[k] = status;
  }

  void MonitorPeriod() {
    const snd_pcm_sframes_t got = port_.ReadN(buffers_.PointCapture(0, 0), static_cast<snd_pcm_uframes_t>(period_));
    readPosition_ += period_;
    monitorCounter_ += period_;
    if (got == -EPIPE) {
      std::printf("\nRX");
      ++overruns_;
      port_.Prepare(PcmDirection::Capture);
    } else if (got < 0) {
      DeviceFault(PcmDirection::Capture, got);
    }
    if (got < period_) {
      const int captured = static_cast<int>(std::clamp<snd_pcm_sframes_t>(got, 0, period_));
      for (int k = 0; k < s_.inputs && k < buffers_.rows(); ++k) {
        std::memset(buffers_.RecordRow(0, k, captured), 0,
                    static_cast<std::size_t>(period_ - captured) * kBytesPerFrame);
      }
    }
    for (int k = 0; k < s_.inputs && k < kMaxTracks; ++k) {
      if (request_.kind == RunKind::kMonitorAll || lists_.armedInputs[static_cast<std::size_t>(k)] == 1) {
        CheckPeak(k, period_, inputPeaks_, buffers_.RecordRow(0, k), loudest_, loudestChannel_);
      }
    }
    if (monitorCounter_ > kMonitorLineFrames - 1) {
      std::printf("\r");
      for (int k = 0; k < s_.inputs && k < kMaxTracks; ++k) {
        const std::size_t ki = static_cast<std::size_t>(k);
        if (request_.kind == RunKind::kMonitorAll || lists_.armedInputs[ki] == 1) {
          std::printf("(%i/%.0f) ", k + 1, -20.0 * std::log10(kReportFullScale / inputPeaks_[ki]));
        }
      }
      for (int k = 0; k < s_.inputs; ++k) std::printf(" ");
      monitorCounter_ = 0;
      std::fflush(stdout);
    }
  }

  bool Finished() const {
    if (stopNow_) return true;
    if (records_) return recordingDone_;
    return readPosition_ - (kBlockFrames - 1) > stop_;
  }

  // --- After the run.

  void AfterRun() {
    std::printf("\n");
    if (loop_ != nullptr) {
      loop_->xruns = underruns_ + overruns_ + playErrors_.count + captureErrors_.count;
    } else {
      if (records_ && s_.peak == 1) PrintInputPeaks(inputPeaks_, recording_, s_.inputs);
      if (plays_) PrintOutputPeaks(s_.mix, mixPeaks_, s_.busActive);
    }
    if (underruns_ != 0) std::printf("\nPlay Underruns = %i\n", underruns_);
    if (overruns_ != 0) std::printf("\nRecord Overruns = %i\n", overruns_);
    if (playErrors_.count != 0) {
      std::printf("\nPlayback errors = %i (%s)\n", playErrors_.count, snd_strerror(playErrors_.last));
    }
    if (captureErrors_.count != 0) {
      std::printf("\nRecording errors = %i (%s)\n", captureErrors_.count, snd_strerror(captureErrors_.last));
    }
    // A run stopped before its end keeps in its takes every frame that was captured.
    if (stopNow_ && records_ && recordIndex_ > 0) WriteRecordBlock(recordIndex_);
    for (FileDescriptor& file : playFiles_) file.Close();
    if (records_ && loop_ == nullptr) HandOverTakes();
  }

  void HandOverTakes() {
    TakeState& takes = context_.takes;
    takes.recorded.fill(0);
    for (std::size_t k = 0; k < takeFiles_.size(); ++k) {
      if (!takeFiles_[k]) continue;
      // The header says what the take holds (the planned length, when nothing went wrong), and
      // the take goes to the disk once, now: an fsync during the run would stall it.
      FileStatus status = SetTakeSizes(k);
      if (status.ok()) status = SyncToDisk(takeFiles_[k]);
      if (FileStatus closed = takeFiles_[k].Close(); status.ok()) status = closed;
      if (!status.ok() && takeFailures_[k].ok()) {
        Report(status);
        takeFailures_[k] = status;
      }
      // A take that lost audio to a failed write keeps what was written under its own name;
      // the take menu never puts it in place of another file.
      takes.recorded[k] = recording_[k] == 1 && takeFailures_[k].ok() ? 1 : 0;
    }
    takes.writeFailures = takeFailures_;
    takes.takeList = takes_.takeList;
    takes.recordListText = lists_.recordText;
    takes.stamp = takes_.stamp;
    takes.recordStart = s_.e;
    // What was recorded: the planned length, or less when the run was stopped early.
    takes.recordLength = static_cast<SamplePosition>(framesWritten_);
    takes.pending = !takes.takeNameMode;
    takes.auditionStartOffset = 0;
    takes.auditionStopCut = 0;
  }

  const RunContext& context_;
  SessionSettings& s_;
  const RunRequest& request_;
  PcmPort& port_;
  TransportBuffers& buffers_;
  const int period_;
  const bool plays_;
  const bool records_;
  const bool recordOnly_;
  CalibrationLoop* const loop_;  // a calibration run's signal and capture; null for every other run
  void (TransportRun::*cycle_)() = nullptr;
  int busCount_ = 0;

  RunLists lists_;
  NamedTakes takes_;
  std::array<FileDescriptor, kMaxTracks> playFiles_;
  std::array<FileDescriptor, kMaxTracks> takeFiles_;
  std::array<std::int32_t, kMaxTracks> takeDataOffsets_{};
  std::array<int, kMaxTracks> recording_{};          // armed inputs whose take is open
  std::array<FileStatus, kMaxTracks> takeFailures_;  // why a write to the take failed
  std::array<SamplePosition, kMaxTracks> trackStartOffset_{};

  std::int64_t startPosition_ = 0;
  std::int64_t readPosition_ = 0;  // just past the last block read
  int blockIndex_ = 0;             // frame in the play block being played
  int currentPlaySet_ = 0;
  bool readPending_ = true;
  int recordIndex_ = 0;  // frame in the record block being filled
  int currentRecordSet_ = 0;
  std::int64_t recordLength_ = 0;
  std::int64_t framesWritten_ = 0;
  std::array<std::int64_t, kMaxTracks> takeFrames_{};  // the frames each take holds
  std::int64_t framesAtHeaderUpdate_ = 0;
  std::int64_t framesPlayed_ = 0;  // frames written to the playback device in this run
  std::int64_t captureStart_ = 0;  // a run that plays captures once it has played this many
  std::int64_t captureSkip_ = 0;   // frames captured before the take begins, still to drop
  bool countingStarted_ = true;
  bool recordingDone_ = false;
  int clockInterval_ = 0;
  std::int64_t lastClockPosition_ = 0;
  std::array<int, kMaxTracks> inputPeaks_{};
  int loudest_ = 0;
  int loudestChannel_ = 0;
  MixPeaks mixPeaks_;
  int underruns_ = 0;
  int overruns_ = 0;
  struct DeviceErrors {
    int count = 0;
    int last = 0;  // the ALSA error of the last one
  };
  DeviceErrors playErrors_;
  DeviceErrors captureErrors_;
  bool stopNow_ = false;  // the run ends with this cycle
  int meterReset_ = 1;
  int monitorCounter_ = 0;
  std::string played_;  // the list the run plays: the playlist, or the audition's list
  SamplePosition stop_ = 0;
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
  auto run = std::make_unique<TransportRun>(context, request);
  run->Execute();
  SessionSettings& s = context.settings;
  if (request.restore.in) s.i = *request.restore.in;
  if (request.restore.out) s.o = *request.restore.out;
  if (request.restore.enter) s.e = *request.restore.enter;
}

}  // namespace tapeloom
