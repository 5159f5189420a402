#include "support/run_bench.h"

#include <gtest/gtest.h>

#include "app/settings_file.h"
#include "app/startup.h"
#include "audio/alsa_port.h"
#include "mix/gains.h"
#include "wave/storage_guard.h"

namespace tapeloom::test {

void RunBench::Start(const std::string& settingsText, const std::string& input) {
  input_ = std::make_unique<TypedInput>(input);
  settings_ = std::make_unique<SessionSettings>();
  GET_PARAMS(settingsText, *settings_);
  ResolveChannelCounts(*settings_);
  settings_->buf = ClampPeriodRequest(settings_->buf);
  buffers_ = std::make_unique<TransportBuffers>(settings_->ch, settings_->inputs, settings_->outputs);
  meterScale_ = MeterScaleAtStart(settings_->meter);
  SetSessionBusGains(*settings_);
}

RunContext RunBench::Context(PcmPort& port) {
  return {.settings = *settings_,
          .input = input_->get(),
          .port = port,
          .buffers = *buffers_,
          .mixer = mixer_,
          .gains = gains_,
          .meterState = meterState_,
          .meterScale = meterScale_,
          .takes = takes_};
}

std::string RunBench::Run(PcmPort& port, const RunRequest& request) {
  const std::uint64_t forbidden = ForbiddenStorageCalls();
  testing::internal::CaptureStdout();
  RunTransport(Context(port), request);
  std::string out = testing::internal::GetCapturedStdout();
  // Every run of every test: the device loop made no file call.
  EXPECT_EQ(ForbiddenStorageCalls(), forbidden) << "the device loop called " << FirstForbiddenStorageCall();
  return out;
}

}  // namespace tapeloom::test
