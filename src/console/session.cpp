#include "console/session.h"

#include <utility>

namespace tapeloom {

Session::Session(SessionSettings& sessionSettings, ConsoleInput& consoleInput, std::unique_ptr<PcmPort> pcmPort)
    : settings(sessionSettings), input(consoleInput), port(std::move(pcmPort)) {}

RunContext Session::ForRun() {
  return {.settings = settings,
          .input = input,
          .port = *port,
          .buffers = *buffers,
          .mixer = mixer,
          .gains = gains,
          .meterState = meterState,
          .meterScale = derived.meter,
          .takes = takes};
}

}  // namespace tapeloom
