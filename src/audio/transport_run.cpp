#include "audio/transport_run.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/session.h"
#include "audio/metering.h"
#include "audio/peak_reports.h"
#include "mix/gains.h"
#include "takes/take_naming.h"
#include "time/time_base.h"
#include "tracks/list_files.h"
#include "tracks/run_lists.h"
#include "wave/wave_file.h"
#include "wave/wave_readers.h"

namespace tapeloom {
namespace {

constexpr int kBlockFrames = kMixBlockFrames;  // frames per play and record block
constexpr int kBytesPerFrame = 3;              // one channel, packed 24-bit
constexpr int kMonitorLineFrames = 16384;      // the input monitor redraws after this many frames

class TransportRun {
 public:
  TransportRun(Session& session, const RunRequest& request)
      : session_(session),
        s_(session.settings),
        request_(request),
        port_(*session.port),
        buffers_(*session.buffers),
        period_(session.devices.periodFrames),
        playOnly_(request.plays && !request.records),
        recordOnly_(request.records && !request.plays) {}

  void Execute() {
    if (!Prepare()) return;
    Prelude();
    do {
      Cycle();
    } while (!Finished());
    AfterRun();
  }

 private:
  // --- Preparation: lists, takes, files, titles.

  // Returns false when the run is cancelled before it starts.
  bool Prepare() {
    busCount_ = s_.mix == 2 ? s_.outputs / 2 : (s_.mix == 3 ? s_.ch / 2 : 0);
    RunListRequest lists{
        .plays = request_.plays, .records = request_.records, .monitor = request_.monitor, .solo = request_.solo};
    if (request_.takeAudition) {
      // The audition plays every track, the recorded inputs' takes standing in for their tracks.
      const RunLists current = ResolveRunLists(s_, session_.input, {});
      const TakeState& takes = session_.takes;
      lists.auditionList = Hybridize(current.playText, takes.takeList, takes.recorded, s_.ch);
    }
    lists_ = ResolveRunLists(s_, session_.input, lists);
    played_ = lists.auditionList.value_or(lists_.playText);
    stop_ = StopPosition();
    // A performance is never played to a recorder that writes nothing.
    if (request_.records && !Any(lists_.armedInputs)) {
      std::printf("No input is armed in %s, so nothing would be recorded: the recording is cancelled.\n",
                  s_.rec[0].c_str());
      return false;
    }
    if (request_.records) NameTakes();
    if (request_.plays) OpenPlayFiles();
    if (request_.records) {
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

  static bool Any(const std::array<int, kMaxTracks>& flags) {
    return std::any_of(flags.begin(), flags.end(), [](int flag) { return flag == 1; });
  }

  void NameTakes() {
    recordLength_ = static_cast<std::int64_t>(s_.o) - s_.e;
    NamingPass pass{.inputs = s_.inputs,
                    .armed = &lists_.armedInputs,
                    .recordStart = s_.e,
                    .stop = s_.o,
                    .sr = s_.sr,
                    .takeNameMode = session_.takes.takeNameMode,
                    .takeName = session_.takes.takeName,
                    .recordListText = lists_.recordText,
                    .stamp = NewTime()};
    takes_ = NameAndCreateTakes(pass, session_.input);
  }

  void OpenPlayFiles() {
    const std::vector<std::string> played = SplitList(played_);
    for (std::size_t t = 0; t < played.size() && t < lists_.activeTracks.size(); ++t) {
      if (lists_.activeTracks[t] != 1) continue;
      playNames_[t] = played[t];
      playFiles_[t] = OpenForReading(played[t]);
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
      if (takes_.failures[ki].empty() && GET_ATTRIBUTES(name, attributes) == 1) {
        takeFiles_[ki] = OpenForUpdate(name);
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
    if (request_.plays && request_.records) std::puts("Playing and Recording...");
    if (playOnly_) std::puts("Playing...");
    if (request_.solo) std::puts("Tracks are soloed");
    if (recordOnly_) std::puts("Recording...");
    if (request_.takeAudition) std::puts("Auditioning...");
    if (request_.monitor) std::puts("Monitoring Input Peaks...");
  }

  void PrintPoints() const {
    if (request_.monitor) return;
    const SamplePosition start = StartPosition();
    const SamplePosition stop = stop_;
    if (s_.tmode == 1) {
      const auto at = [this](SamplePosition p) { return SampleToMeasures(s_.sig, s_.tempo, p, s_.sr); };
      if (request_.plays) {
        std::printf("playback start = %i.%.2f\n", at(start).measure, static_cast<double>(at(start).beat));
      }
      if (request_.records)
        std::printf("record start   = %i.%.2f\n", at(s_.e).measure, static_cast<double>(at(s_.e).beat));
      const MusicalPosition end = at(stop);
      if (request_.plays && request_.records) {
        std::printf("play/rec stop  = %i.%.2f\n", end.measure, static_cast<double>(end.beat));
      } else if (recordOnly_) {
        std::printf("record stop    = %i.%.2f\n", end.measure, static_cast<double>(end.beat));
      } else {
        std::printf("playback stop  = %i.%.2f\n", end.measure, static_cast<double>(end.beat));
      }
      return;
    }
    const auto seconds = [this](SamplePosition p) { return static_cast<double>(PositionToSeconds(p, s_.sr)); };
    if (request_.plays) std::printf("playback start = %.2f sec\n", seconds(start));
    if (request_.records) std::printf("record start   = %.2f sec\n", seconds(s_.e));
    if (request_.plays && request_.records) {
      std::printf("play/rec stop  = %.2f sec\n", seconds(stop));
    } else if (recordOnly_) {
      std::printf("record stop    = %.2f sec\n", seconds(stop));
    } else {
      std::printf("playback stop  = %.2f sec\n", seconds(stop));
    }
  }

  SamplePosition StartPosition() const {
    if (request_.monitor) return 0;
    // An audition plays the takes from where they were recorded, whatever the points are now.
    if (request_.takeAudition) return MovePosition(session_.takes.recordStart, request_.auditionStartOffset, 1);
    if (recordOnly_) return s_.e;
    return s_.i;
  }

  SamplePosition StopPosition() const {
    if (request_.monitor) return request_.monitorFrames;
    if (request_.takeAudition) {
      const TakeState& takes = session_.takes;
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
    if (s_.mix >= 1 && s_.mix <= 3) {
      SetVolume(s_.p, s_.v, session_.gainL, session_.gainR, s_.ch, lists_.activeTracks, kTrackGainScale);
    }
    port_.Drain(PcmDirection::Playback);
    port_.Drain(PcmDirection::Capture);
    if (request_.records || request_.monitor) port_.Prepare(PcmDirection::Capture);
    if (request_.plays) port_.Prepare(PcmDirection::Playback);
    clockInterval_ = ClockInterval(s_.clock, s_.sr);
    // The latency to cover before what is captured lines up with what is heard: the playback
    // buffer, the silent block every run starts with, and the output delay compensation when
    // playback starts before the record start.
    captureDelay_ =
        static_cast<std::int64_t>(session_.devices.playBufferFrames / period_ + (s_.i != s_.e ? s_.odcomp : 0)) *
            period_ +
        kBlockFrames;
    captureCounter_ = request_.plays ? 0 : captureDelay_;
    if (request_.takeAudition) {
      lists_.replacedTracks.fill(0);
      trackStartOffset_ = request_.trackStartOffsets;
    } else {
      trackStartOffset_.fill(0);
    }
    meterReset_ = 1;
    lastClockPosition_ = startPosition_;
  }

  // --- The cycle.

  void Cycle() {
    snd_pcm_sframes_t frames =
        (request_.plays && request_.records && countingStarted_) ? period_ : port_.AvailUpdate(PcmDirection::Playback);
    const snd_pcm_sframes_t captureAvail = port_.AvailUpdate(PcmDirection::Capture);
    if (recordOnly_ && captureAvail == 0) port_.Wait(PcmDirection::Capture, 1);
    // Unsigned, so that an error code also becomes a whole period.
    if (static_cast<snd_pcm_uframes_t>(frames) > static_cast<snd_pcm_uframes_t>(period_)) frames = period_;
    if (frames > kBlockFrames - blockIndex_) frames = kBlockFrames - blockIndex_;
    if (playOnly_ && frames == 0) port_.Wait(PcmDirection::Playback, 1);

    if (request_.plays) {
      const std::int64_t clockPosition = readPosition_ + blockIndex_ - kBlockFrames;
      if (clockPosition - lastClockPosition_ >= clockInterval_) {
        ShowProgress(clockPosition, request_.records);
        lastClockPosition_ = clockPosition;
      }
      PlayPeriod(static_cast<int>(frames));
    }
    if (request_.records && captureCounter_ >= captureDelay_) {
      CapturePeriod();
      if (request_.plays) countingStarted_ = false;
      if (recordOnly_) {
        readPosition_ += period_;
        if (readPosition_ - lastClockPosition_ > clockInterval_) {
          ShowProgress(readPosition_, true);
          lastClockPosition_ = readPosition_;
        }
      }
    }
    if (request_.monitor) MonitorPeriod();
  }

  void ShowProgress(std::int64_t position, bool meter) {
    if (s_.clock != 0) {
      UpdateClock(s_.clock, ClampPosition(position), 0, s_.sr, s_.tmode, s_.tempo, s_.sig);
    }
    if (meter && session_.derived.meter.range != 0.0f) {
      Meter(session_.meterState, loudest_, session_.derived.meter.range, &meterReset_, s_.clock == 0 ? 1 : 0,
            loudestChannel_, session_.derived.meter.fall);
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
    if (countingStarted_ && readPosition_ + blockIndex_ >= s_.e) captureCounter_ += frames;
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
    }
  }

  void ReadPlayBlock() {
    const int set = 1 - currentPlaySet_;
    const std::int64_t punchFrame = s_.e > readPosition_ ? s_.e - readPosition_ : 0;
    for (int t = 0; t < s_.ch && t < kMaxTracks; ++t) {
      const std::size_t ti = static_cast<std::size_t>(t);
      if (lists_.activeTracks[ti] != 1) continue;
      unsigned char* row = buffers_.PlayRow(set, t);
      ReadTrackBlock(ti, row);
      // A track being re-recorded is silent from the record start on.
      if (request_.records && lists_.replacedTracks[ti] == 1 && s_.e <= readPosition_ + (kBlockFrames - 1)) {
        std::memset(row + punchFrame * kBytesPerFrame, 0,
                    static_cast<std::size_t>(kBlockFrames - punchFrame) * kBytesPerFrame);
      }
    }
    readPosition_ += kBlockFrames;

    std::span<unsigned char> block = buffers_.PlaySet(set);
    if (s_.mix == 1) {
      session_.mixer.Mix(block, s_.ch, lists_.activeTracks, session_.gainL, session_.gainR, mixPeaks_, s_.busGain[0]);
    } else if (s_.mix == 2 || s_.mix == 3) {
      session_.mixer.MixMultiple(block, s_.ch, lists_.activeTracks, session_.gainL, session_.gainR, mixPeaks_,
                                 s_.busActive, s_.busAssign, busCount_, s_.busGain, s_.mix);
    }
  }

  // One track's frames of the block starting at readPosition_: the file's frames where it has
  // them, silence before its start and after its end.
  void ReadTrackBlock(std::size_t t, unsigned char* row) {
    const WaveAttributes& file = lists_.attributes[t];
    const std::int64_t firstFrame = readPosition_ - trackStartOffset_[t];  // the file frame at row frame 0
    const std::int64_t from = std::max<std::int64_t>(firstFrame, 0);
    const std::int64_t to = std::min<std::int64_t>(firstFrame + kBlockFrames, file.length);
    std::memset(row, 0, kMixRegionBytes);
    if (to <= from) return;
    const std::size_t rowOffset = static_cast<std::size_t>(from - firstFrame) * kBytesPerFrame;
    std::string failure;
    const std::int64_t got = ReadAt(
        playFiles_[t], static_cast<std::uint64_t>(file.dataOffset + from * kBytesPerFrame),
        std::span<unsigned char>(row + rowOffset, static_cast<std::size_t>(to - from) * kBytesPerFrame), failure);
    if (got < 0) {
      // The file went bad while playing: leave it out for the rest of the run.
      std::printf("\nCan't read %s: %s\n", playNames_[t].c_str(), failure.c_str());
      lists_.activeTracks[t] = 0;
      std::memset(row, 0, kMixRegionBytes);
    }
  }

  void CapturePeriod() {
    // Reads are split at the end of a record block, so any period size records.
    int remaining = period_;
    bool lost = false;
    while (remaining > 0) {
      const int frames = std::min(remaining, kBlockFrames - recordIndex_);
      const int at = recordIndex_;
      recordIndex_ += frames;
      remaining -= frames;
      const int captured = lost ? 0 : ReadCapture(at, frames, lost);
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
  // captured; an overrun sets `lost`, and any other error ends the read.
  int ReadCapture(int at, int frames, bool& lost) {
    int done = 0;
    while (done < frames) {
      const snd_pcm_sframes_t got = port_.ReadN(buffers_.PointCapture(currentRecordSet_, at + done),
                                                static_cast<snd_pcm_uframes_t>(frames - done));
      if (got == -EPIPE) {
        lost = true;
        return 0;  // the whole period is lost; its place stays in the take
      }
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

  void WriteRecordBlock() {
    const std::int64_t n = std::min<std::int64_t>(recordLength_ - framesWritten_, kBlockFrames);
    bool anyWorking = false;
    bool anyRecording = false;
    for (int k = 0; k < s_.inputs && k < kMaxTracks; ++k) {
      const std::size_t ki = static_cast<std::size_t>(k);
      if (recording_[ki] != 1) continue;
      anyRecording = true;
      const unsigned char* row = buffers_.RecordRow(currentRecordSet_, k);
      if (s_.peak == 1) CheckPeak(k, kBlockFrames, inputPeaks_, row, loudest_, loudestChannel_);
      if (n > 0 && takeFailures_[ki].empty()) {
        const std::uint64_t offset = static_cast<std::uint64_t>(framesWritten_ * kBytesPerFrame + takeDataOffsets_[ki]);
        const std::string failure = WriteAt(
            takeFiles_[ki], offset, std::span<const unsigned char>(row, static_cast<std::size_t>(n) * kBytesPerFrame));
        if (!failure.empty()) {
          std::printf("\nCan't write to %s: %s\n", takes_.names[ki].c_str(), failure.c_str());
          takeFailures_[ki] = failure;
        }
      }
      anyWorking = anyWorking || takeFailures_[ki].empty();
    }
    if (n <= 0) {
      recordingDone_ = true;
      return;
    }
    framesWritten_ += n;
    // A recording goes on after a take fails only while another take still works.
    if (anyRecording && !anyWorking) recordingDone_ = true;
  }

  void MonitorPeriod() {
    const snd_pcm_sframes_t got = port_.ReadN(buffers_.PointCapture(0, 0), static_cast<snd_pcm_uframes_t>(period_));
    readPosition_ += period_;
    monitorCounter_ += period_;
    if (got == -EPIPE) {
      std::printf("\nRX");
      ++overruns_;
      port_.Prepare(PcmDirection::Capture);
    }
    if (got < period_) {
      const int captured = static_cast<int>(std::clamp<snd_pcm_sframes_t>(got, 0, period_));
      for (int k = 0; k < s_.inputs && k < buffers_.rows(); ++k) {
        std::memset(buffers_.RecordRow(0, k, captured), 0,
                    static_cast<std::size_t>(period_ - captured) * kBytesPerFrame);
      }
    }
    for (int k = 0; k < s_.inputs && k < kMaxTracks; ++k) {
      if (request_.monitorAll || lists_.armedInputs[static_cast<std::size_t>(k)] == 1) {
        CheckPeak(k, period_, inputPeaks_, buffers_.RecordRow(0, k), loudest_, loudestChannel_);
      }
    }
    if (monitorCounter_ > kMonitorLineFrames - 1) {
      std::printf("\r");
      for (int k = 0; k < s_.inputs && k < kMaxTracks; ++k) {
        const std::size_t ki = static_cast<std::size_t>(k);
        if (request_.monitorAll || lists_.armedInputs[ki] == 1) {
          std::printf("(%i/%.0f) ", k + 1, -20.0 * std::log10(kReportFullScale / inputPeaks_[ki]));
        }
      }
      for (int k = 0; k < s_.inputs; ++k) std::printf(" ");
      monitorCounter_ = 0;
      std::fflush(stdout);
    }
  }

  bool Finished() const {
    if (request_.records) return recordingDone_;
    return readPosition_ - (kBlockFrames - 1) > stop_;
  }

  // --- After the run.

  void AfterRun() {
    std::printf("\n");
    if (request_.restoreIn) s_.i = *request_.restoreIn;
    if (request_.restoreOut) s_.o = *request_.restoreOut;
    if (request_.records && s_.peak == 1) PrintInputPeaks(inputPeaks_, recording_, s_.inputs);
    if (request_.plays) PrintOutputPeaks(s_.mix, mixPeaks_, s_.busActive);
    if (underruns_ != 0) std::printf("\nPlay Underruns = %i\n", underruns_);
    if (overruns_ != 0) std::printf("\nRecord Overruns = %i\n", overruns_);
    for (FileDescriptor& file : playFiles_) file.Close();
    if (request_.records) HandOverTakes();
  }

  void HandOverTakes() {
    TakeState& takes = session_.takes;
    takes.recorded.fill(0);
    for (std::size_t k = 0; k < takeFiles_.size(); ++k) {
      if (!takeFiles_[k]) continue;
      if (const int error = takeFiles_[k].Close(); error != 0 && takeFailures_[k].empty()) {
        std::printf("Can't write to %s: %s\n", takes_.names[k].c_str(), std::strerror(error));
        takeFailures_[k] = std::strerror(error);
      }
      // A take that lost audio to a failed write keeps what was written under its own name;
      // the take menu never puts it in place of another file.
      takes.recorded[k] = recording_[k] == 1 && takeFailures_[k].empty() ? 1 : 0;
    }
    takes.writeFailures = takeFailures_;
    takes.takeList = takes_.takeList;
    takes.recordListText = lists_.recordText;
    takes.stamp = takes_.stamp;
    takes.recordStart = s_.e;
    takes.recordLength = static_cast<SamplePosition>(recordLength_);
    takes.pending = !takes.takeNameMode;
    takes.auditionStartOffset = 0;
    takes.auditionStopCut = 0;
  }

  Session& session_;
  SessionSettings& s_;
  const RunRequest& request_;
  PcmPort& port_;
  TransportBuffers& buffers_;
  const int period_;
  const bool playOnly_;
  const bool recordOnly_;
  int busCount_ = 0;

  RunLists lists_;
  NamedTakes takes_;
  std::array<FileDescriptor, kMaxTracks> playFiles_;
  std::array<std::string, kMaxTracks> playNames_;
  std::array<FileDescriptor, kMaxTracks> takeFiles_;
  std::array<std::int32_t, kMaxTracks> takeDataOffsets_{};
  std::array<int, kMaxTracks> recording_{};           // armed inputs whose take is open
  std::array<std::string, kMaxTracks> takeFailures_;  // why a write to the take failed
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
  std::int64_t captureDelay_ = 0;
  std::int64_t captureCounter_ = 0;
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
  int meterReset_ = 1;
  int monitorCounter_ = 0;
  std::string played_;  // the list the run plays: the playlist, or the audition's list
  SamplePosition stop_ = 0;
};

}  // namespace

void RunTransport(Session& session, const RunRequest& request) {
  // The run's state is large (per-track tables); it lives for one run only.
  auto run = std::make_unique<TransportRun>(session, request);
  run->Execute();
}

}  // namespace tapeloom
