#include "support/run_bench.h"

#include <gtest/gtest.h>

#include "app/settings_file.h"
#include "app/startup.h"
#include "audio/alsa_port.h"
#include "mix/gains.h"

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

int RunBench::period() const { return settings_->buf; }

std::string RunBench::Run(PcmPort& port, const RunRequest& request) {
  const RunContext context{.settings = *settings_,
                           .input = input_->get(),
                           .port = port,
                           .buffers = *buffers_,
                           .mixer = mixer_,
                           .gains = gains_,
                           .meterState = meterState_,
                           .meterScale = meterScale_,
                           .takes = takes_};
  testing::internal::CaptureStdout();
  RunTransport(context, request);
  return testing::internal::GetCapturedStdout();
}

}  // namespace tapeloom::test
