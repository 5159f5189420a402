// "disk", the storage check: the verdict from what it measured, and the real program checking
// this machine's disk as a recording of the session would use it, leaving no file behind
// whatever happens.
#include <gtest/gtest.h>

#include <csignal>

#include "audio/storage_check.h"
#include "support/console_harness.h"
#include "support/wave_builder.h"

namespace tapeloom::test {
namespace {

TEST(StorageVerdict, FromWhatTheCheckMeasured) {
  struct Case {
    const char* what;
    double worstSeconds;
    double busy;
    std::int64_t lost;
    StorageVerdict verdict;
    const char* says;
  };
  // clang-format off
  const Case cases[] = {
      {"quick and idle",                     0.05, 0.10, 0,    StorageVerdict::kHolds,       "its longest stall (0.05 s) is 0 % of the disk buffer (10.0 s), and it was busy 10 % of the time."},
      {"a stall of half the buffer",         5.00, 0.10, 0,    StorageVerdict::kHoldsBarely, "with little margin: its longest stall (5.00 s) is 50 % of"},
      {"busy half the time",                 0.05, 0.50, 0,    StorageVerdict::kHoldsBarely, "it was busy 50 % of the time."},
      {"a stall as long as the buffer",     10.00, 0.10, 0,    StorageVerdict::kFails,       "its longest stall (10.00 s) is as long as the disk buffer (10.0 s)."},
      {"busy nearly all the time",           0.05, 0.95, 0,    StorageVerdict::kFails,       "it was busy 95 % of the time and barely keeps up."},
      {"a ring ran out",                     0.05, 0.10, 4800, StorageVerdict::kFails,       "a recording would have lost 0.10 s."},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const StorageFigures figures{.seconds = 30.0,
                                 .bufferSeconds = 10.0,
                                 .worstSeconds = c.worstSeconds,
                                 .busyFraction = c.busy,
                                 .lostFrames = c.lost,
                                 .sr = 48000};
    EXPECT_EQ(Judge(figures), c.verdict);
    const std::string text = VerdictText(figures);
    EXPECT_NE(text.find(c.says), std::string::npos) << text;
    EXPECT_EQ(text.find("will not hold") != std::string::npos, c.verdict == StorageVerdict::kFails) << text;
  }
}

class StorageCheckConsole : public ConsoleTest {
 protected:
  void SetUp() override {
    ConsoleTest::SetUp();
    std::vector<std::int32_t> samples(48000 * 4, 4096);
    for (const char* name : {"t1.wav", "t2.wav"}) WriteBytes(session / name, WaveBuilder().Samples(samples).Build());
    session.Write("play.txt", "t1.wav\nt2.wav\n");
    session.Write("record.txt", "a.wav\n-\nc.wav\n");
    session.Write("param.txt", SimCardParams(3, 2, 3, 1024));
  }
};

TEST_F(StorageCheckConsole, ReportsWhatItMeasuredAndLeavesNothingBehind) {
  // Ended by its time, by Ctrl-C, or by a disk that refuses its files: afterwards the session's
  // folder holds what it held before.
  struct Case {
    const char* what;
    const char* typed;
    std::optional<long> fileSizeLimit;
    int signalAfterMs;  // 0: none
    std::vector<std::string> said;
  };
  const Case cases[] = {
      {"a check of one second",
       "disk\n1\n",
       std::nullopt,
       0,
       {"Writing 2 streams and reading 2 tracks at 48000 Hz for 1 s; Ctrl-C stops.\n",
        "This session moves 0.58 MB/s: 2 streams written and 2 tracks read at 48000 Hz.\n",
        "\nWritten: ", "\nRead: ", "The disk buffer holds ", "\nVerdict: this storage holds this session"}},
      {"Ctrl-C", "disk\n20\n", std::nullopt, 1500, {"The storage check was stopped; its files are removed.\n"}},
      {"a disk that takes no file",
       "disk\n1\n",
       10,
       0,
       {"Can't write to ./tapeloom_disk_check.wav: File too large\n",
        "The storage check could not write into this folder: a recording could not either.\n"}},
  };
  const std::vector<std::string> before = session.Files();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto started = std::chrono::steady_clock::now();
    bool signalled = false;
    const RunResult run = session.Run(c.typed, std::chrono::seconds(60), c.fileSizeLimit, [&](pid_t pid) {
      if (c.signalAfterMs > 0 && !signalled &&
          std::chrono::steady_clock::now() - started > std::chrono::milliseconds(c.signalAfterMs)) {
        ::kill(pid, SIGINT);
        signalled = true;
      }
    });
    EXPECT_EQ(run.status, 0) << run.err;
    std::size_t at = 0;
    for (const std::string& line : c.said) {
      at = run.out.find(line, at);
      ASSERT_NE(at, std::string::npos) << "missing \"" << line << "\" in\n" << run.out;
    }
    std::vector<std::string> after = session.Files();
    std::erase(after, "card-out.raw");
    EXPECT_EQ(after, before);
  }
}

}  // namespace
}  // namespace tapeloom::test
