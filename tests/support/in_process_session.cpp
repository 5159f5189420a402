#include "support/in_process_session.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "app/settings_file.h"
#include "app/startup.h"

namespace tapeloom::test {

InProcessSession::InProcessSession() {
  // alsa-lib reads its configuration once per process; every in-process session uses the
  // same simulated card definitions.
  ::setenv("XDG_CONFIG_HOME", TAPELOOM_SIMCARD_DIR, 1);
  dir_.Write("card-in.raw", "");
}

InProcessSession::~InProcessSession() { session_.reset(); }

Session& InProcessSession::Start(const std::string& settingsText, const std::string& input) {
  input_ = std::make_unique<TypedInput>(input);
  settings_ = std::make_unique<SessionSettings>();
  GET_PARAMS(settingsText, *settings_);
  ResolveChannelCounts(*settings_);
  settings_->buf = ClampPeriodRequest(settings_->buf);
  testing::internal::CaptureStdout();
  AudioDevices devices =
      SetUpAudioDevices({settings_->dv, settings_->sr, settings_->inputs, settings_->outputs, settings_->buf});
  testing::internal::GetCapturedStdout();
  session_ = std::make_unique<Session>(*settings_, input_->get(), std::move(devices));
  StartSession(*session_);
  return *session_;
}

std::string InProcessSession::Run(const RunRequest& request) {
  testing::internal::CaptureStdout();
  RunTransport(*session_, request);
  return testing::internal::GetCapturedStdout();
}

}  // namespace tapeloom::test
