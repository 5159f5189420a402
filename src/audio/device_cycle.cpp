#include "audio/device_cycle.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "audio/metering.h"
#include "core/session_signals.h"
#include "wave/storage_guard.h"

namespace tapeloom {
namespace {

constexpr int kMonitorLineFrames = 16384;  // the input monitor redraws after this many frames
// A suspended device is asked to resume this often, this long apart, before it is prepared.
constexpr int kResumeTries = 10;
constexpr int kResumeWaitMs = 100;
// A card waited for this long at a time, so that a wait without end is seen; one that moved
// nothing for kSilentCardSeconds (no frame taken or given, and no error) is gone.
constexpr int kCardWaitMs = 1000;
constexpr int kSilentCardSeconds = 5;

}  // namespace

DeviceCycle::DeviceCycle(PcmPort& port, TransportBuffers& buffers, PlaySource* source, CaptureSink* sink,
                         RunDisplay& display, RunEvents& events, RealTimeBudget& budget, InputPeaks& peaks,
                         const CycleShape& shape)
    : port_(port),
      buffers_(buffers),
      source_(source),
      sink_(sink),
      display_(display),
      events_(events),
      budget_(budget),
      peaks_(peaks),
      shape_(shape),
      period_(port.PeriodFrames()),
      sr_(shape.sr),
      readPosition_(shape.start),
      captureSkip_(shape.captureSkip),
      lastClockPosition_(shape.start) {
  buffers_.ClearAll();
  playing_ = buffers_.PlaySet(0).data();  // every run that plays begins with a block of silence
  if (shape_.monitors) {
    readPosition_ = 0;
    lastClockPosition_ = 0;
    cycle_ = &DeviceCycle::MonitorCycle;
  } else if (shape_.plays && shape_.records) {
    cycle_ = &DeviceCycle::PlayAndRecordCycle;
  } else if (shape_.records) {
    cycle_ = &DeviceCycle::RecordCycle;
  } else {
    cycle_ = &DeviceCycle::PlayCycle;
  }
}

void DeviceCycle::PrepareDevices() {
  port_.Drain(PcmDirection::Playback);
  port_.Drain(PcmDirection::Capture);
  if (shape_.records || shape_.monitors) port_.Prepare(PcmDirection::Capture);
  if (shape_.plays) port_.Prepare(PcmDirection::Playback);
  // Where the card can, both directions start together, when the playback buffer is full. They
  // are unlinked once the capture runs, so that each recovers from an xrun on its own.
  if (shape_.plays && shape_.records) linked_ = port_.Link() == 0;
}

void DeviceCycle::Unlink() {
  if (!linked_) return;
  port_.Unlink();
  linked_ = false;
}

void DeviceCycle::Run() {
  // From here to the run's end, no file call: a storage stall must never reach the card.
  const NoStorageOnThisThread noStorage;
  // And no wait on the card that a signal cannot end, or that has no end.
  const RunSignals signals;
  lastMoved_ = port_.NowMicroseconds();
  RunSignals::Watch(kSilentCardSeconds);
  do {
    (this->*cycle_)();
    if (source_ != nullptr) source_->Report();
    if (sink_ != nullptr) sink_->Report();
    // Ctrl-C, SIGTERM or SIGHUP: the run stops as if its stop were here.
    if (TakeSignal() != 0) stopNow_ = true;
  } while (!Finished());
  Unlink();
}

bool DeviceCycle::Finished() const {
  if (stopNow_) return true;
  if (shape_.records) return sink_->Done();
  return readPosition_ - (kBlockFrames - 1) > shape_.stop;
}

void DeviceCycle::Moved() { budget_.Moved(std::max(playIndex_, captureIndex_)); }

// A transfer moved frames: the card is there.
void DeviceCycle::CardMoved(std::int64_t now) {
  lastMoved_ = now;
  RunSignals::Watch(kSilentCardSeconds);
}

// Waits until the card can take or give `frames` at once. False when the run stops instead: a
// signal came, or the card has moved nothing for too long.
bool DeviceCycle::AwaitCard(PcmDirection direction, int frames) {
  for (;;) {
    const int ready = port_.WaitReady(direction, static_cast<snd_pcm_uframes_t>(frames), kCardWaitMs);
    if (ready > 0 || (ready < 0 && ready != -EINTR)) return true;
    if (Interrupted(direction)) return false;
  }
}

// A wait or a transfer ended without moving anything. Ctrl-C, SIGTERM or SIGHUP stop the run
// (the loop takes the signal after the cycle); a card that has moved nothing for
// kSilentCardSeconds, without an error, is a card that is gone: a stalled or unplugged card, a
// sound server that died, an input fed by nothing.
bool DeviceCycle::Interrupted(PcmDirection direction) {
  if (PendingSignal() != 0) {
    stopNow_ = true;
    return true;
  }
  if (port_.NowMicroseconds() - lastMoved_ < std::int64_t{kSilentCardSeconds} * 1000000) return false;
  DeviceErrors& errors = direction == PcmDirection::Playback ? playErrors_ : captureErrors_;
  ++errors.count;
  errors.last = -ENODEV;
  std::printf("\n%s on %s stopped working: %s for %i seconds\n",
              direction == PcmDirection::Playback ? "Playback" : "Recording", shape_.device.c_str(),
              direction == PcmDirection::Playback ? "the card took nothing" : "nothing came from the card",
              kSilentCardSeconds);
  stopNow_ = true;
  return true;
}

// The frames to play this cycle: what the device takes (a whole period at most; an error code
// counts as a whole period too), never past the end of the play block.
int DeviceCycle::PlayableFrames(snd_pcm_sframes_t frames) const {
  // Unsigned, so that an error code also becomes a whole period.
  if (static_cast<snd_pcm_uframes_t>(frames) > static_cast<snd_pcm_uframes_t>(period_)) frames = period_;
  return static_cast<int>(std::min<snd_pcm_sframes_t>(frames, kBlockFrames - blockIndex_));
}

void DeviceCycle::PlayCycle() {
  const int frames = PlayableFrames(port_.AvailUpdate(PcmDirection::Playback));
  if (frames == 0) port_.Wait(PcmDirection::Playback, 1);
  ShowPlayProgress(false);
  PlayPeriod(frames);
}

// Until the capture starts, whole periods are written without asking the device; from then on
// one period is captured per cycle. What a cycle writes goes on into the next block when this
// one ends first, so that playback keeps pace with the capture whatever the period.
void DeviceCycle::PlayAndRecordCycle() {
  snd_pcm_sframes_t wanted = countingStarted_ ? period_ : port_.AvailUpdate(PcmDirection::Playback);
  // Unsigned, so that an error code also becomes a whole period.
  if (static_cast<snd_pcm_uframes_t>(wanted) > static_cast<snd_pcm_uframes_t>(period_)) wanted = period_;
  int frames = static_cast<int>(wanted);
  ShowPlayProgress(true);
  do {
    const int piece = std::min(frames, kBlockFrames - blockIndex_);
    PlayPeriod(piece);
    frames -= piece;
  } while (frames > 0 && !stopNow_);
  if (!stopNow_ && playIndex_ >= shape_.captureStart) {
    CapturePeriod();
    countingStarted_ = false;
    Unlink();
  }
}

void DeviceCycle::RecordCycle() {
  if (port_.AvailUpdate(PcmDirection::Capture) == 0) port_.Wait(PcmDirection::Capture, 1);
  CapturePeriod();
  readPosition_ += period_;
  if (readPosition_ - lastClockPosition_ > display_.interval()) {
    display_.Show(readPosition_, true);
    lastClockPosition_ = readPosition_;
  }
}

void DeviceCycle::ShowPlayProgress(bool meter) {
  const std::int64_t clockPosition = readPosition_ + blockIndex_ - kBlockFrames;
  if (clockPosition - lastClockPosition_ >= display_.interval()) {
    display_.Show(clockPosition, meter);
    lastClockPosition_ = clockPosition;
  }
}

void DeviceCycle::PlayPeriod(int frames) {
  const snd_pcm_sframes_t result = WritePlay(frames);
  if (stopNow_) return;
  if (result == -EPIPE) {
    // Once a recording captures, the capture may have overrun in the same stall.
    const bool capture = shape_.records && !countingStarted_ && port_.InXrun(PcmDirection::Capture);
    Xrun(true, capture);
  } else if (result < 0) {
    DeviceFault(PcmDirection::Playback, result);
  }
}

// Writes frames of the block being played, from where it is; the next block is taken from the
// source while this one plays. The frames of a failed write are not written again.
snd_pcm_sframes_t DeviceCycle::WritePlay(int frames) {
  if (!AwaitCard(PcmDirection::Playback, frames)) return 0;
  void** channels = buffers_.PointPlayback(playing_, blockIndex_);
  const snd_pcm_sframes_t result = port_.WriteN(channels, static_cast<snd_pcm_uframes_t>(frames));
  if (result >= 0) {
    lastWrite_ = port_.NowMicroseconds();
    CardMoved(lastWrite_);
  }
  AdvancePlay(frames);
  return result;
}

void DeviceCycle::AdvancePlay(int frames) {
  if (readPending_) {
    next_ = source_->Take(readPosition_);
    readPosition_ += kBlockFrames;
    readPending_ = false;
  }
  blockIndex_ += frames;
  playIndex_ += frames;
  Moved();
  if (blockIndex_ == kBlockFrames) {
    if (playingFromSource_) source_->Release();
    playing_ = next_;
    playingFromSource_ = true;
    blockIndex_ = 0;
    readPending_ = true;
  }
}

// Each read that returns tells when the capture's frames up to its end came: its return less
// the time of that many frames is the moment the stream's frame 0 came, on the system's clock,
// late by however long the program took to be woken. The earliest of the last reads is the
// truest.
void DeviceCycle::NoteCapture(std::int64_t now) {
  lastCapture_ = now;
  origins_[originCount_++ % origins_.size()] = now - captureIndex_ * 1000000 / sr_;
}

// The capture started again: the reads to come tell its new stream's moment.
void DeviceCycle::RestartCaptureClock(std::int64_t now) {
  originCount_ = 0;
  lastCapture_ = now;
}

// The frames the capture missed by now since the last it delivered, in whole periods: a card
// moves its frames a period at a time, and a stream that starts again joins at the next
// period's start, so the periods it missed are those that began since.
std::int64_t DeviceCycle::FramesSinceCapture(std::int64_t now) const {
  std::int64_t origin = lastCapture_ - captureIndex_ * 1000000 / sr_;
  for (std::size_t k = 0; k < std::min<std::size_t>(originCount_, origins_.size()); ++k) {
    origin = std::min(origin, origins_[k]);
  }
  const std::int64_t frames = (now - origin) * static_cast<std::int64_t>(sr_) / 1000000 - captureIndex_;
  return std::max<std::int64_t>(frames / period_, 0) * period_;
}

// An xrun costs only the time it lost. The card went on for a while without the run: the
// capture dropped what it could not hold, the playback played silence. The run goes on at the
// frame the card has reached, so that the takes and the tracks stay on one timeline: the frames
// the capture dropped are silence in the takes, the frames the playback missed are skipped, and
// both directions start again in step, as at the run's start, the playback with its buffer
// full. Where one direction kept running, its position is the card's clock; where both
// stopped, the time since the last transfer is, in whole periods.
void DeviceCycle::Xrun(bool playback, bool capture) {
  Unlink();
  const std::int64_t now = port_.NowMicroseconds();
  const bool inStep = shape_.plays && shape_.records && !countingStarted_;
  if (inStep) {
    // A stall that outlasted a direction's buffer stopped that direction too, whether or not
    // the card says so yet (a sound server's plugin notices only at its next period): after a
    // write the playback had its buffer to play, after a read the capture its buffer to fill.
    const auto microseconds = [this](int frames) { return std::int64_t{frames} * 1000000 / sr_; };
    playback = playback || now - lastWrite_ > microseconds(port_.PlayBufferFrames());
    capture = capture || now - lastCapture_ > microseconds(port_.CaptureBufferFrames());
  }
  if (playback) {
    std::printf("\nPX");
    ++underruns_;
  }
  if (capture) {
    std::printf("\nRX");
    ++overruns_;
  }
  for (const auto& [stopped, direction] :
       {std::pair{playback, PcmDirection::Playback}, {capture, PcmDirection::Capture}}) {
    if (!stopped) continue;
    port_.Drop(direction);
    port_.Prepare(direction);
  }
  if (!inStep) {
    // Playback alone goes on where it stopped; a recording alone goes on at the card's time.
    if (playback) events_.Add(RunEventKind::kUnderrun, PlayPosition(), 0);
    if (capture) {
      const std::int64_t lost = FramesSinceCapture(now);
      events_.Add(RunEventKind::kOverrun, TakePosition(), lost);
      InsertCaptureGap(lost);
      port_.Start(PcmDirection::Capture);
      RestartCaptureClock(now);
    }
    return;
  }
  std::int64_t resume = 0;  // the stream index both directions go on from
  if (!capture) {
    resume = captureIndex_ + std::max<snd_pcm_sframes_t>(port_.Delay(PcmDirection::Capture), 0);
  } else if (!playback) {
    port_.Start(PcmDirection::Capture);
    resume = playIndex_ - std::max<snd_pcm_sframes_t>(port_.Delay(PcmDirection::Playback), 0);
  } else {
    resume = captureIndex_ + FramesSinceCapture(now);
  }
  // Neither stream can go back: what the capture kept is kept, what was written has played.
  if (playback) resume = std::max(resume, playIndex_);
  resume = std::max(resume, captureIndex_);
  if (playback) events_.Add(RunEventKind::kUnderrun, PlayPosition(), resume - playIndex_);
  if (capture) {
    events_.Add(RunEventKind::kOverrun, TakePosition(), resume - captureIndex_);
    InsertCaptureGap(resume - captureIndex_);
  }
  if (playback) {
    SkipPlay(resume - playIndex_);
    FillPlayback();
    if (capture) port_.Start(PcmDirection::Capture);
  }
  RestartCaptureClock(port_.NowMicroseconds());
}

// Frames the card dropped: silence at their place in the takes (or, before the take begins,
// frames that needed no dropping).
void DeviceCycle::InsertCaptureGap(std::int64_t frames) {
  const std::int64_t skipped = std::min(frames, captureSkip_);
  captureSkip_ -= skipped;
  captureIndex_ += skipped;
  frames -= skipped;
  while (frames > 0 && !sink_->Done()) {
    const int n = static_cast<int>(std::min<std::int64_t>(frames, kBlockFrames - recordIndex_));
    SilenceRecordFrames(recordIndex_, n);
    recordIndex_ += n;
    captureIndex_ += n;
    frames -= n;
    if (recordIndex_ == kBlockFrames) RecordBlockFull();
  }
  captureIndex_ += frames;
  Moved();
}

// Frames of the play stream that the card had no time to play.
void DeviceCycle::SkipPlay(std::int64_t frames) {
  while (frames > 0) {
    const int n = static_cast<int>(std::min<std::int64_t>(frames, kBlockFrames - blockIndex_));
    AdvancePlay(n);
    frames -= n;
  }
}

// A whole buffer written at once: the playback starts again when it is full.
void DeviceCycle::FillPlayback() {
  const std::int64_t target = playIndex_ + std::max(port_.PlayBufferFrames(), period_);
  while (playIndex_ < target) {
    const int frames =
        static_cast<int>(std::min<std::int64_t>({period_, kBlockFrames - blockIndex_, target - playIndex_}));
    const snd_pcm_sframes_t result = WritePlay(frames);
    if (stopNow_) return;
    if (result < 0) {
      if (result != -EPIPE) DeviceFault(PcmDirection::Playback, result);
      return;
    }
  }
}

// A transfer that failed with something other than an xrun: counted, its reason kept for the
// report after the run, and the device made ready again, resumed after a suspend and prepared
// otherwise. A device that cannot be made ready is gone (a card unplugged): the run stops at
// once, with its takes finished as they are.
void DeviceCycle::DeviceFault(PcmDirection direction, snd_pcm_sframes_t error) {
  DeviceErrors& errors = direction == PcmDirection::Playback ? playErrors_ : captureErrors_;
  ++errors.count;
  errors.last = static_cast<int>(error);
  // An interrupted call (the program stopped and continued) lost its period, but the device is
  // as it was.
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
                shape_.device.c_str(), snd_strerror(ready));
    stopNow_ = true;
  }
}

void DeviceCycle::CapturePeriod() {
  // Reads are split at the end of a record block, so any period size records.
  int remaining = period_;
  bool lost = false;
  snd_pcm_sframes_t fault = 0;
  if (captureSkip_ > 0) {
    // Frames captured before the take begins: read into the block's start, where the next
    // frames are read over them.
    const int skip = static_cast<int>(std::min<std::int64_t>(captureSkip_, period_));
    remaining -= skip;
    const int got = ReadCapture(recordIndex_, skip, lost, fault);
    captureSkip_ -= got;
    if (stopNow_) return;
    if (lost) {
      Xrun(shape_.plays && port_.InXrun(PcmDirection::Playback), true);
      return;
    }
    if (fault < 0) {
      // A failed transfer's frames count as dropped, in their place.
      captureSkip_ -= skip - got;
      captureIndex_ += skip - got;
      DeviceFault(PcmDirection::Capture, fault);
      if (stopNow_) return;
    }
  }
  while (remaining > 0) {
    const int frames = std::min(remaining, kBlockFrames - recordIndex_);
    const int at = recordIndex_;
    int captured = 0;
    if (fault == 0) {
      captured = ReadCapture(at, frames, lost, fault);
      // A run that stops here keeps what was captured, as when the device is gone.
      if (stopNow_) {
        recordIndex_ = at + captured;
        return;
      }
      if (lost) break;
      if (fault < 0) {
        DeviceFault(PcmDirection::Capture, fault);
        // A device that is gone ends the run with what it captured: the rest of the period was
        // never recorded and has no place in the takes.
        if (stopNow_) {
          recordIndex_ = at + captured;
          return;
        }
      }
    }
    recordIndex_ += frames;
    remaining -= frames;
    // What a failed transfer did not capture holds silence in its place, never what the block
    // held from an earlier pass.
    if (captured < frames) {
      SilenceRecordFrames(at + captured, frames - captured);
      captureIndex_ += frames - captured;
    }
    if (recordIndex_ == kBlockFrames) RecordBlockFull();
  }
  if (lost) Xrun(shape_.plays && port_.InXrun(PcmDirection::Playback), true);
}

void DeviceCycle::RecordBlockFull() {
  sink_->Block(buffers_.RecordSet(currentRecordSet_).data(), kBlockFrames);
  currentRecordSet_ = 1 - currentRecordSet_;
  recordIndex_ = 0;
}

void DeviceCycle::HandOverPartialBlock() {
  // A run stopped before its end keeps in its takes every frame that was captured.
  if (stopNow_ && shape_.records && recordIndex_ > 0) {
    sink_->Block(buffers_.RecordSet(currentRecordSet_).data(), recordIndex_);
  }
}

// Reads frames into the record block at a frame. A short read is continued: the frames not yet
// delivered are still to come and belong right after the ones that were. Returns the frames
// captured; an overrun sets `lost`, any other error is kept in `fault` and ends the read.
int DeviceCycle::ReadCapture(int at, int frames, bool& lost, snd_pcm_sframes_t& fault) {
  int done = 0;
  while (done < frames) {
    if (!AwaitCard(PcmDirection::Capture, frames - done)) return done;
    const unsigned alarms = RunSignals::Alarms();
    snd_pcm_sframes_t got =
        port_.ReadN(buffers_.PointCapture(currentRecordSet_, at + done), static_cast<snd_pcm_uframes_t>(frames - done));
    // The alarm rang during the read: a card whose read it cut short may say it delivered
    // frames it never wrote. The run is stopping (or the card is gone); nothing of this read is
    // kept.
    if (got > 0 && RunSignals::Alarms() != alarms) got = -EINTR;
    if (got == -EINTR && RunSignals::Alarms() != alarms) {
      if (Interrupted(PcmDirection::Capture)) return done;
      continue;
    }
    if (got == -EPIPE) {
      lost = true;  // what the card dropped is measured when it goes on
      return done;
    }
    if (got < 0) fault = got;
    if (got <= 0) break;
    const int n = static_cast<int>(std::min<snd_pcm_sframes_t>(got, frames - done));
    done += n;
    captureIndex_ += n;
    const std::int64_t now = port_.NowMicroseconds();
    NoteCapture(now);
    CardMoved(now);
    Moved();
  }
  return done;
}

void DeviceCycle::SilenceRecordFrames(int from, int frames) {
  for (int k = 0; k < buffers_.rows(); ++k) {
    std::memset(buffers_.RecordRow(currentRecordSet_, k, from), 0, static_cast<std::size_t>(frames) * kSampleBytes);
  }
}

void DeviceCycle::MonitorCycle() {
  if (!AwaitCard(PcmDirection::Capture, period_)) return;
  const unsigned alarms = RunSignals::Alarms();
  const snd_pcm_sframes_t got = port_.ReadN(buffers_.PointCapture(0, 0), static_cast<snd_pcm_uframes_t>(period_));
  if (RunSignals::Alarms() != alarms && (got > 0 || got == -EINTR) && Interrupted(PcmDirection::Capture)) return;
  readPosition_ += period_;
  monitorCounter_ += period_;
  if (got > 0) {
    captureIndex_ += got;
    CardMoved(port_.NowMicroseconds());
    Moved();
  }
  if (got == -EPIPE) {
    std::printf("\nRX");
    ++overruns_;
    events_.Add(RunEventKind::kOverrun, readPosition_ - period_, 0);
    port_.Prepare(PcmDirection::Capture);
  } else if (got < 0) {
    DeviceFault(PcmDirection::Capture, got);
  }
  if (got < period_) {
    const int captured = static_cast<int>(std::clamp<snd_pcm_sframes_t>(got, 0, period_));
    for (int k = 0; k < buffers_.rows(); ++k) {
      std::memset(buffers_.RecordRow(0, k, captured), 0, static_cast<std::size_t>(period_ - captured) * kSampleBytes);
    }
  }
  for (int k = 0; k < kMaxTracks && k < buffers_.rows(); ++k) {
    if (shape_.shown[static_cast<std::size_t>(k)] == 1) {
      CheckPeak(k, period_, peaks_.peak, buffers_.RecordRow(0, k), peaks_.loudest, peaks_.loudestChannel);
    }
  }
  if (monitorCounter_ > kMonitorLineFrames - 1) {
    display_.MonitorLine(shape_.shown);
    monitorCounter_ = 0;
  }
}

}  // namespace tapeloom
