// "cal" in the real program on the simulated card. That card hears nothing of what it plays:
// its inputs deliver card-in.raw from the start of the session's capture stream on, so the
// test places the clicks where each of the calibration's two captures will read them and
// checks the report, the question and what "s" then saves.
#include <gtest/gtest.h>

#include "audio/latency_probe.h"
#include "support/console_harness.h"
#include "support/wave_builder.h"

namespace tapeloom::test {
namespace {

// With 1024-frame periods at 48 kHz and the settings before any calibration, each capture
// keeps 37657 frames, in which the clicks land 6496 frames after the start when the take is
// on its exact frame. A capture starts when the playback buffer is full and drops what comes
// before the take: 4 periods in the first (the play start at the record start), 27 in the
// second (the play start 24 periods earlier). The first reads 4096 + 45056 frames (eleven
// blocks of 4096) from the card; the second starts where it stopped.
constexpr std::int64_t kLead = 6496;
constexpr std::int64_t kFirstTake = 4096;
constexpr std::int64_t kSecondTake = 4096 + 45056 + 27648;

// Two inputs, interleaved; the clicks on input 1 at these stream frames.
void CardInputWithClicksAt(const ConsoleSession& session, std::initializer_list<std::int64_t> starts, int level) {
  const ClickTrain train = MakeClickTrain(48000);
  std::vector<std::int32_t> samples(static_cast<std::size_t>(2 * (kSecondTake + 45056)), 0);
  for (const std::int64_t start : starts) {
    for (const int click : train.clicks) samples[static_cast<std::size_t>(2 * (start + click))] = level;
  }
  WriteBytes(session / "card-in.raw", Pack24(samples));
}

class CalibrationConsole : public ConsoleTest {
 protected:
  std::string Calibrate(const std::string& input) {
    return Prompt(SimCardParams(2, 2, 2, 1024) + "int\t0\nclock\thc\nmeter\t0\n", input);
  }
};

TEST_F(CalibrationConsole, MeasuresAsksAndStoresWhatSSaves) {
  // The first take lands 100 frames late, the second 1124: one period more.
  CardInputWithClicksAt(session, {kFirstTake + kLead + 100, kSecondTake + kLead + 1124}, kClickLevel / 2);
  const std::string out = Calibrate("cal\n1\n1\ny\ns\nx\n");
  EXPECT_NE(out.find("Round-trip latency: 4196 frames (87.42 ms at 48000 Hz)\n"
                     "With odcomp 4 and latcomp 0 a take lands:\n"
                     "  play start at the record start:      100 frames late (2.08 ms)\n"
                     "  play start before the record start:  1124 frames late (23.42 ms)\n"
                     "Correction: odcomp 5, latcomp 100. Store it for this session? (y,n) "
                     "odcomp is now 5 and latcomp 100; \"s\" saves them in param.txt.\n"),
            std::string::npos)
      << out;
  EXPECT_NE(Saved().find("\nodcomp\t5\n"), std::string::npos) << Saved();
  EXPECT_NE(Saved().find("\nlatcomp\t100\n"), std::string::npos) << Saved();
}

TEST_F(CalibrationConsole, NothingChangesWhenTheSignalIsNotThereOrTheAnswerIsNo) {
  struct Case {
    const char* name;
    std::initializer_list<std::int64_t> clicks;
    int level;
    const char* input;
    const char* says;
  };
  const Case cases[] = {
      {"no cable", {}, 0, "cal\n1\n1\ns\nx\n", "No test signal came back on input 1"},
      {"clipped", {kFirstTake + kLead}, 8388607, "cal\n1\n1\ns\nx\n", "Input 1 clipped"},
      {"answered no",
       {kFirstTake + kLead + 5, kSecondTake + kLead + 5},
       kClickLevel,
       "cal\n-\nd\nn\ns\nx\n",
       "Store it for this session? (y,n) Nothing was changed.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CardInputWithClicksAt(session, c.clicks, c.level);
    const std::string out = Calibrate(c.input);
    EXPECT_NE(out.find(c.says), std::string::npos) << out;
    EXPECT_NE(Saved().find("\nodcomp\t4\n"), std::string::npos) << Saved();
    EXPECT_NE(Saved().find("\nlatcomp\t0\n"), std::string::npos) << Saved();
  }
}

}  // namespace
}  // namespace tapeloom::test
