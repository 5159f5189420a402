#include "app/play_rec.h"

#include <utility>

#include "app/settings_file.h"
#include "audio/alsa_port.h"
#include "console/command_loop.h"
#include "core/time_base.h"
#include "mix/gains.h"

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

void StartSession(Session& session) {
  SessionSettings& s = session.settings;
  const int period = session.port->PeriodFrames();
  session.buffers = std::make_unique<TransportBuffers>(s.ch, s.inputs, s.outputs);
  session.derived = DeriveSessionValues(s, period);
  SetSessionBusGains(s);
  RoundStoredPositions(s, period);
}

void PLAY_REC(SessionSettings& settings, ConsoleInput& input) {
  settings.buf = ClampPeriodRequest(settings.buf);
  std::unique_ptr<AlsaPcmPort> card =
      AlsaPcmPort::Open({settings.dv, settings.sr, settings.inputs, settings.outputs, settings.buf});
  AlsaPcmPort& device = *card;
  Session session(settings, input, std::move(card));
  if (settings.firstRun == 1) MAKE_PARAM_FILE(settings);
  StartSession(session);
  RunCommandLoop(session);
  device.Close();
}

}  // namespace tapeloom
