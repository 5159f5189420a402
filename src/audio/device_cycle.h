// The device loop of a transport run: from the first transfer to the run's end it moves blocks
// between the card and the run's source and sink, one period per cycle, and makes no file call
// (its thread is marked, storage_guard.h). A run that plays takes each block from the source
// while the one before plays; one that records hands each full record block to the sink; the
// input monitor shows the inputs' peaks. Xruns and failed transfers are counted, noted where
// they happened and the card made ready again; a card that cannot be made ready ends the run.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "audio/capture_sink.h"
#include "audio/pcm_port.h"
#include "audio/play_source.h"
#include "audio/real_time_budget.h"
#include "audio/run_display.h"
#include "audio/run_events.h"
#include "audio/transport_buffers.h"
#include "core/session_settings.h"

namespace tapeloom {

// What the loop needs to know of the run.
struct CycleShape {
  bool plays = false;
  bool records = false;
  bool monitors = false;
  std::int64_t start = 0;         // the position playback starts at (or the recording without it)
  std::int64_t recordStart = 0;   // the take's first frame on the tracks' timeline
  std::int64_t stop = 0;          // a run that neither records nor monitors ends once it has read past it
  std::int64_t captureStart = 0;  // frames played before a run that plays starts capturing
  std::int64_t captureSkip = 0;   // captured frames dropped before the take begins
  TrackFlags shown{};             // the monitor: the inputs it shows
  std::string device;             // for the message of a card that is gone
  std::uint32_t sr = 0;
};

struct DeviceErrors {
  int count = 0;
  int last = 0;  // the ALSA error of the last one
};

class DeviceCycle {
 public:
  // The source for a run that plays, the sink for one that records (null otherwise).
  DeviceCycle(PcmPort& port, TransportBuffers& buffers, PlaySource* source, CaptureSink* sink, RunDisplay& display,
              RunEvents& events, RealTimeBudget& budget, InputPeaks& peaks, const CycleShape& shape);

  // Drains what the last run left playing and prepares the directions this run uses.
  void PrepareDevices();
  // Cycles until the run ends: its end reached, Ctrl-C (or SIGTERM, SIGHUP), or a card that is gone.
  void Run();
  // After a run that was stopped: the record block captured so far goes to the sink.
  void HandOverPartialBlock();

  bool stopped() const { return stopNow_; }
  int underruns() const { return underruns_; }
  int overruns() const { return overruns_; }
  const DeviceErrors& playErrors() const { return playErrors_; }
  const DeviceErrors& captureErrors() const { return captureErrors_; }

 private:
  void PlayCycle();
  void PlayAndRecordCycle();
  void RecordCycle();
  void MonitorCycle();
  bool Finished() const;

  int PlayableFrames(snd_pcm_sframes_t frames) const;
  void ShowPlayProgress(bool meter);
  void PlayPeriod(int frames);
  snd_pcm_sframes_t WritePlay(int frames);
  void AdvancePlay(int frames);
  void CapturePeriod();
  int ReadCapture(int at, int frames, bool& lost, snd_pcm_sframes_t& fault);
  void SilenceRecordFrames(int from, int frames);
  void RecordBlockFull();
  void Xrun(bool playback, bool capture);
  void InsertCaptureGap(std::int64_t frames);
  void SkipPlay(std::int64_t frames);
  void FillPlayback();
  std::int64_t PlayPosition() const { return shape_.start + playIndex_ - kBlockFrames; }
  std::int64_t TakePosition() const { return shape_.recordStart + captureIndex_ - shape_.captureSkip; }
  void NoteCapture(std::int64_t now);
  void RestartCaptureClock(std::int64_t now);
  std::int64_t FramesSinceCapture(std::int64_t now) const;
  void DeviceFault(PcmDirection direction, snd_pcm_sframes_t error);
  void Moved();
  void CardMoved(std::int64_t now);
  bool AwaitCard(PcmDirection direction, int frames);
  bool Interrupted(PcmDirection direction);
  void Unlink();

  PcmPort& port_;
  TransportBuffers& buffers_;
  PlaySource* source_;
  CaptureSink* sink_;
  RunDisplay& display_;
  RunEvents& events_;
  RealTimeBudget& budget_;
  InputPeaks& peaks_;
  CycleShape shape_;
  const int period_;
  const std::uint32_t sr_;
  void (DeviceCycle::*cycle_)() = nullptr;

  std::int64_t readPosition_ = 0;  // just past the last block taken from the source
  int blockIndex_ = 0;             // frame in the play block being played
  const unsigned char* playing_ = nullptr;
  const unsigned char* next_ = nullptr;
  bool playingFromSource_ = false;  // the first block of a run is silence of its own
  bool readPending_ = true;
  int recordIndex_ = 0;  // frame in the record block being filled
  int currentRecordSet_ = 0;
  // The play stream's index of the next frame to write, and the capture stream's of the next
  // frame to read, from the run's start: frames transferred, and after an xrun the frames the
  // card went on without.
  std::int64_t playIndex_ = 0;
  std::int64_t captureIndex_ = 0;
  std::int64_t lastCapture_ = 0;  // when the last read returned, on the port's clock (µs)
  // When the capture's frame 0 came, as each of the last reads tells it (µs).
  std::array<std::int64_t, 64> origins_{};
  std::size_t originCount_ = 0;
  std::int64_t lastWrite_ = 0;    // when the last write returned
  std::int64_t lastMoved_ = 0;    // when the last transfer moved frames either way
  std::int64_t captureSkip_ = 0;  // captured frames still to drop before the take begins
  bool countingStarted_ = true;   // a run that plays and records has not captured yet
  std::int64_t lastClockPosition_ = 0;
  int monitorCounter_ = 0;
  int underruns_ = 0;
  int overruns_ = 0;
  DeviceErrors playErrors_;
  DeviceErrors captureErrors_;
  bool stopNow_ = false;  // the run ends with this cycle
  bool linked_ = false;   // the directions start together
};

}  // namespace tapeloom
