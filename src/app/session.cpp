#include "app/session.h"

#include <utility>

#include "app/settings_file.h"
#include "console/command_loop.h"
#include "mix/gains.h"
#include "time/time_base.h"

namespace tapeloom {

void RoundStoredPositions(SessionSettings& s, int periodFrames) {
  s.i = QUANTIZE_SAMPLES(periodFrames, s.i);
  s.o = QUANTIZE_SAMPLES(periodFrames, s.o);
  s.e = QUANTIZE_SAMPLES(periodFrames, s.e);
  for (TimeRange& range : s.range) {
    range.in = QUANTIZE_SAMPLES(periodFrames, range.in);
    range.out = QUANTIZE_SAMPLES(periodFrames, range.out);
  }
  for (LocatePoint& point : s.loc) point.position = QUANTIZE_SAMPLES(periodFrames, point.position);
}

void PLAY_REC(SessionSettings& settings, ConsoleInput& input) {
  settings.buf = ClampPeriodRequest(settings.buf);
  AudioDevices devices = SetUpAudioDevices({settings.dv, settings.sr, settings.inputs, settings.outputs, settings.buf});
  Session session{settings, input, std::move(devices), {}};
  if (settings.firstRun == 1) MAKE_PARAM_FILE(settings);
  session.derived = DeriveSessionValues(settings, session.devices.periodFrames);
  SetSessionBusGains(settings);
  RoundStoredPositions(settings, session.devices.periodFrames);

  try {
    RunCommandLoop(session);
  } catch (const InputEnded&) {
    // The end of input ends the session as "x" does.
  }
  CloseAudioDevices(session.devices);
}

}  // namespace tapeloom
