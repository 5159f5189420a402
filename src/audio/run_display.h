// What the console shows while a run goes on: the running clock, the meter of the loudest input
// while recording, and the input monitor's line. The device loop says where the run is; the
// display decides, from the settings, what that shows. A run that shows nothing (the
// calibration) has a quiet display.
#pragma once

#include <cstdint>

#include "audio/capture_sink.h"
#include "audio/metering.h"
#include "core/derived_values.h"
#include "core/session_settings.h"

namespace tapeloom {

struct DisplaySettings {
  int clock = 0;  // 0 hidden, 1 rewritten, 2 streamed
  std::uint32_t sr = 0;
  int tmode = 0;
  float tempo = 120.0f;
  int sig = 4;
  int inputs = 0;
};

class RunDisplay {
 public:
  RunDisplay(const DisplaySettings& settings, MeterState& meterState, const MeterScale& meterScale, InputPeaks& peaks,
             bool quiet);

  // Frames between two updates of the clock and the meter.
  int interval() const { return interval_; }
  // The clock at a position, and the meter of the loudest input since the last update when
  // `meter` (the run records); the loudest value starts again.
  void Show(std::int64_t position, bool meter);
  // The input monitor's line: the held peak of each input shown.
  void MonitorLine(const TrackFlags& shown);

 private:
  DisplaySettings s_;
  MeterState& meterState_;
  const MeterScale& meterScale_;
  InputPeaks& peaks_;
  bool quiet_;
  int interval_;
  int meterReset_ = 1;  // the first meter update of a run starts afresh
};

}  // namespace tapeloom
