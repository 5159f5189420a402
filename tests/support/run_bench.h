// A transport run in this process on a port the test gives it (tests/audio/test_ports.h): the settings, typed input
// and what a session gives a run, in a temporary working directory.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "audio/transport_run.h"
#include "core/derived_values.h"
#include "support/temp_dir.h"
#include "support/typed_input.h"

namespace tapeloom::test {

class RunBench {
 public:
  const TempDir& dir() const { return dir_; }
  std::filesystem::path operator/(std::string_view name) const { return dir_ / name; }

  // Reads the settings and allocates what a session would, once; `input` is what the console will read.
  void Start(const std::string& settingsText, const std::string& input = "");

  // The period and playback buffer that the simulated card grants for the settings' `buf`.
  int period() const { return settings_->buf; }
  int playBuffer() const { return 4 * period(); }

  // Runs the transport on the port with everything it prints captured.
  std::string Run(PcmPort& port, const RunRequest& request);

  SessionSettings& settings() { return *settings_; }
  TakeState& takes() { return takes_; }
  TransportBuffers& buffers() { return *buffers_; }

 private:
  TempDir dir_;
  WorkingDirectory inDir_{dir_.path()};
  std::unique_ptr<TypedInput> input_;
  std::unique_ptr<SessionSettings> settings_;
  std::unique_ptr<TransportBuffers> buffers_;
  MixEngine mixer_;
  TrackGains gains_;
  MeterState meterState_;
  MeterScale meterScale_;
  TakeState takes_;

  RunContext Context(PcmPort& port);
};

}  // namespace tapeloom::test
