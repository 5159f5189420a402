// A transport run in this process without a sound card: the settings read from param.txt-style
// text, typed input, and the buffers, mixer, gains, meter and take state a session gives a run,
// in a temporary working directory. The test gives each run a port of its own
// (tests/audio/test_ports.h) and so reaches inside it: what it played, what it captured, which
// transfers failed.
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
  RunBench() = default;
  RunBench(const RunBench&) = delete;
  RunBench& operator=(const RunBench&) = delete;

  const TempDir& dir() const { return dir_; }
  std::filesystem::path operator/(std::string_view name) const { return dir_ / name; }

  // Reads the settings (at least the channel counts and the period) and allocates what a
  // session would. Call once, after writing the session's files; `input` is what the console
  // will read.
  void Start(const std::string& settingsText, const std::string& input = "");

  // The period and playback buffer that the simulated card grants for the settings' `buf`.
  int period() const;
  int playBuffer() const { return 4 * period(); }

  // Runs the transport on the port with everything it prints captured.
  std::string Run(PcmPort& port, const RunRequest& request);

  // Runs "cal" on the port with these answers typed, with everything it prints captured.
  std::string Calibrate(PcmPort& port, const std::string& answers);

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
