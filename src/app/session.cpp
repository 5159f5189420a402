#include "app/session.h"

#include <utility>

#include "app/settings_file.h"
#include "console/command_loop.h"
#include "mix/gains.h"
#include "time/time_base.h"

namespace tapeloom {

Session::Session(SessionSettings& sessionSettings, ConsoleInput& consoleInput, AudioDevices audioDevices)
    : settings(sessionSettings), input(consoleInput), devices(std::move(audioDevices)) {}

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

void StartSession(Session& session) {
  SessionSettings& s = session.settings;
  session.port = std::make_unique<AlsaPcmPort>(session.devices.play.get(), session.devices.rec.get());
  session.buffers = std::make_unique<TransportBuffers>(s.ch, s.inputs, s.outputs);
  session.derived = DeriveSessionValues(s, session.devices.periodFrames);
  SetSessionBusGains(s);
  RoundStoredPositions(s, session.devices.periodFrames);
}

void PLAY_REC(SessionSettings& settings, ConsoleInput& input) {
  settings.buf = ClampPeriodRequest(settings.buf);
  Session session(settings, input,
                  SetUpAudioDevices({settings.dv, settings.sr, settings.inputs, settings.outputs, settings.buf}));
  if (settings.firstRun == 1) MAKE_PARAM_FILE(settings);
  StartSession(session);
  RunCommandLoop(session);
  CloseAudioDevices(session.devices);
}

}  // namespace tapeloom
