// A session in this process, on the simulated sound card, for tests that reach inside a run:
// the PCM port can be swapped for one that injects faults or models a real card, and the
// run's output is captured. The working directory is a temporary session directory for the
// session's life.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "app/session.h"
#include "support/temp_dir.h"
#include "support/typed_input.h"

namespace tapeloom::test {

class InProcessSession {
 public:
  // param.txt-style settings (at least the simulated card's lines) and the words to type.
  InProcessSession();
  ~InProcessSession();
  InProcessSession(const InProcessSession&) = delete;
  InProcessSession& operator=(const InProcessSession&) = delete;

  const TempDir& dir() const { return dir_; }
  std::filesystem::path operator/(std::string_view name) const { return dir_ / name; }

  // Reads the settings, opens the card and starts the session. Call once, after writing the
  // session's files; `input` is what the console will read.
  Session& Start(const std::string& settingsText, const std::string& input = "");

  Session& session() { return *session_; }

  // Runs the transport with everything it prints captured.
  std::string Run(const RunRequest& request);

 private:
  TempDir dir_;
  WorkingDirectory inDir_{dir_.path()};
  std::unique_ptr<TypedInput> input_;
  std::unique_ptr<SessionSettings> settings_;
  std::unique_ptr<Session> session_;
};

}  // namespace tapeloom::test
