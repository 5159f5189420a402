#include "support/in_process_session.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include "app/settings_file.h"
#include "app/startup.h"

namespace tapeloom::test {

InProcessSession::InProcessSession() : previous_(std::filesystem::current_path()) {
  // alsa-lib reads its configuration once per process; every in-process session uses the
  // same simulated card definitions.
  ::setenv("XDG_CONFIG_HOME", TAPELOOM_SIMCARD_DIR, 1);
  std::filesystem::current_path(dir_.path());
  dir_.Write("card-in.raw", "");
}

InProcessSession::~InProcessSession() {
  session_.reset();
  std::filesystem::current_path(previous_);
  if (inputFile_ != nullptr) std::fclose(inputFile_);
}

Session& InProcessSession::Start(const std::string& settingsText, const std::string& input) {
  inputText_ = input;
  inputFile_ = fmemopen(inputText_.data(), inputText_.size(), "r");
  input_ = std::make_unique<ConsoleInput>(inputFile_);
  settings_ = std::make_unique<SessionSettings>();
  GET_PARAMS(settingsText, *settings_);
  ResolveChannelCounts(*settings_);
  settings_->buf = ClampPeriodRequest(settings_->buf);
  testing::internal::CaptureStdout();
  AudioDevices devices =
      SetUpAudioDevices({settings_->dv, settings_->sr, settings_->inputs, settings_->outputs, settings_->buf});
  testing::internal::GetCapturedStdout();
  session_ = std::make_unique<Session>(*settings_, *input_, std::move(devices));
  StartSession(*session_);
  return *session_;
}

std::string InProcessSession::Run(const RunRequest& request) {
  testing::internal::CaptureStdout();
  RunTransport(*session_, request);
  return testing::internal::GetCapturedStdout();
}

}  // namespace tapeloom::test
