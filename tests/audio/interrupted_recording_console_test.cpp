// A recording that never ended, with the real program on the simulated card: the marker a run
// keeps while it writes takes, and the next start-up setting the headers of the takes it lists
// to all that is on the disk. The card's input is a FIFO that the test feeds, so that the
// program is killed at a known point of its takes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "support/console_harness.h"
#include "support/run_command.h"
#include "support/wave_builder.h"

namespace tapeloom::test {
namespace {

constexpr char kMarker[] = ".tapeloom-recording";
constexpr std::size_t kBlock = 4096;  // frames the disk worker writes at a time
constexpr std::size_t kPeriod = 1024;

std::int32_t InputSample(std::size_t j, int k) { return -static_cast<std::int32_t>((j % 30000 + 1) * 256 + k + 1); }

class InterruptedRecording : public testing::Test {
 protected:
  void SetUp() override {
    session.Write("play.txt", "");
    session.Write("record.txt", "a.wav\nb.wav\n");
    // Ten seconds to record, far more than the card is given.
    session.Write("param.txt", SimCardParams(2, 2, 2, 1024) + "int\t0\nclock\thc\nmeter\t0\no\t480256\n");
  }

  std::vector<std::string> Takes() const {
    std::vector<std::string> names;
    for (const std::string& name : session.Files()) {
      if (name.starts_with("audio_ch_") && name.ends_with(".wav")) names.push_back(name);
    }
    return names;
  }

  // Whether the first take holds `blocks` blocks, and its header announces them when `announced`.
  bool TakeHolds(std::size_t blocks, bool announced) const {
    const std::vector<std::string> takes = Takes();
    if (takes.empty()) return false;
    const Bytes take = ReadBytes(session / takes[0]);
    const std::size_t bytes = blocks * kBlock * 3;
    return take.size() >= 44 + bytes && (!announced || Field32(take, 40) == bytes);
  }

  // Records "R" with the card fed in stages of whole blocks, each once the take holds and
  // announces all before it; `signal` goes once it holds the last. A run stopped by a catchable
  // signal is given one more period, which it may be waiting for.
  RunResult Record(const std::vector<std::size_t>& stages, int signal) {
    std::filesystem::remove(session / "card-in.raw");
    EXPECT_EQ(::mkfifo((session / "card-in.raw").c_str(), 0600), 0);
    std::vector<std::size_t> ends;  // the blocks fed once each stage is given
    for (const std::size_t blocks : stages) ends.push_back((ends.empty() ? 0 : ends.back()) + blocks);
    std::vector<std::int32_t> frames;
    for (std::size_t j = 0; j < ends.back() * kBlock + kPeriod; ++j) {
      frames.push_back(InputSample(j, 0));
      frames.push_back(InputSample(j, 1));
    }
    const Bytes input = Pack24(frames);
    std::size_t stage = 0;
    std::size_t sent = 0;
    int fifo = -1;
    bool signalled = false;
    const RunResult run = session.Run("R\n", std::chrono::seconds(60), std::nullopt, [&](pid_t pid) {
      if (fifo < 0) {
        fifo = ::open((session / "card-in.raw").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fifo >= 0) {
          ASSERT_GE(::fcntl(fifo, F_SETPIPE_SZ, 1 << 20), static_cast<int>(input.size()));
        }
        return;
      }
      const auto give = [&](std::size_t upTo) {
        ASSERT_EQ(::write(fifo, input.data() + sent, upTo - sent), static_cast<ssize_t>(upTo - sent));
        sent = upTo;
      };
      if (signalled) {
        if (signal != SIGKILL && sent < input.size()) give(input.size());
        return;
      }
      if (stage == 0 || (stage < stages.size() && TakeHolds(ends[stage - 1], true))) {
        give(ends[stage++] * kBlock * 6);
      } else if (stage == stages.size() && TakeHolds(ends.back(), false)) {
        // The marker is on the disk while the takes are written.
        EXPECT_TRUE(session.Exists(kMarker));
        ::kill(pid, signal);
        signalled = true;
      }
    });
    if (fifo >= 0) ::close(fifo);
    EXPECT_TRUE(signalled);
    // The next start-up's card reads an ordinary file.
    std::filesystem::remove(session / "card-in.raw");
    session.Write("card-in.raw", "");
    return run;
  }

  ConsoleSession session;
};

TEST_F(InterruptedRecording, AKilledTakeIsRepairedAtTheNextStartToAllItHolds) {
  // 12 blocks reach the disk and the header says so (past a second of audio); 4 more follow
  // and the header stays behind them when the program is killed.
  const RunResult killed = Record({12, 4}, SIGKILL);
  EXPECT_EQ(killed.status, 128 + SIGKILL);
  const std::vector<std::string> takes = Takes();
  ASSERT_EQ(takes.size(), 2u);
  const Bytes before = ReadBytes(session / takes[0]);
  const std::size_t held = (before.size() - 44) / 3;
  ASSERT_EQ(held, 16 * kBlock);
  ASSERT_EQ(Field32(before, 40), 12 * kBlock * 3) << "the header lags";
  ASSERT_TRUE(session.Exists(kMarker));
  EXPECT_NE(session.Read(kMarker).find(" " + takes[1] + "\n"), std::string::npos);

  // The second take was replaced since by another file of its name (as a re-recording would).
  const Bytes other = WaveBuilder().Samples(PositionCoded(100)).Build();
  WriteBytes(session / "other.wav", other);
  std::filesystem::rename(session / "other.wav", session / takes[1]);

  const RunResult restarted = session.Run("x\n");
  EXPECT_EQ(restarted.status, 0);
  const std::string said = takes[0] + " was not finished: repaired, 65536 frames (1.37 s)\n" + takes[1] +
                           " was not finished, but it is gone or was changed since: left as it is\n";
  const std::size_t at = restarted.out.find(said);
  EXPECT_NE(at, std::string::npos) << restarted.out;
  EXPECT_LT(at, restarted.out.find("Requested Parameters:")) << "before the session starts";
  EXPECT_FALSE(session.Exists(kMarker));

  // The header announces every frame on the disk; not one sample changed.
  const Bytes after = ReadBytes(session / takes[0]);
  ASSERT_EQ(after.size(), before.size());
  EXPECT_EQ(Field32(after, 40), held * 3);
  EXPECT_EQ(Field32(after, 4), held * 3 + 36);
  EXPECT_TRUE(std::equal(after.begin() + 44, after.end(), before.begin() + 44));
  const std::vector<std::int32_t> samples = Unpack24(std::span<const unsigned char>(after).subspan(44));
  for (std::size_t j = 0; j < samples.size(); ++j) ASSERT_EQ(samples[j], InputSample(j, 0)) << j;
  const CommandResult sox = RunCommand({"sox", (session / takes[0]).string(), "-t", "s24", "-"});
  EXPECT_EQ(sox.status, 0) << sox.err;
  EXPECT_EQ(sox.err.find("WARN"), std::string::npos) << sox.err;
  EXPECT_TRUE(std::string(after.begin() + 44, after.end()) == sox.out) << "sox reads every frame";
  EXPECT_EQ(ReadBytes(session / takes[1]), other);

  // Said once: the start after that has nothing to say.
  EXPECT_EQ(session.Run("x\n").out.find("was not finished"), std::string::npos);
}

TEST_F(InterruptedRecording, ARunThatEndsLeavesNoMarker) {
  // A recording to its stop, one stopped by Ctrl-C, and one whose marker cannot be written (a
  // folder has its name): that one records all the same, and the start-up names the folder.
  std::vector<std::int32_t> frames;
  for (std::size_t j = 0; j < 3 * 48000; ++j) {
    frames.push_back(InputSample(j, 0));
    frames.push_back(InputSample(j, 1));
  }
  for (const bool blocked : {false, true}) {
    SCOPED_TRACE(blocked ? "a folder of the marker's name" : "to its stop");
    WriteBytes(session / "card-in.raw", Pack24(frames));
    if (blocked) std::filesystem::create_directory(session / kMarker);
    session.Write("param.txt", SimCardParams(2, 2, 2, 1024) + "int\t0\nclock\thc\nmeter\t0\no\t96000\n");
    const RunResult run = session.Run("R\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("Recording..."), std::string::npos) << run.out;
    EXPECT_EQ(session.Exists(kMarker), blocked);
    if (blocked) {
      EXPECT_NE(run.out.find(".tapeloom-recording is not a recording marker Tapeloom can read: left as it is\n"),
                std::string::npos)
          << run.out;
      EXPECT_NE(run.out.find("Can't rename .tapeloom-recording.tmp to .tapeloom-recording: Is a directory (recording "
                             "all the same; a power cut would cost the takes their last second)\n"),
                std::string::npos)
          << run.out;
      EXPECT_TRUE(std::filesystem::is_directory(session / kMarker));
      EXPECT_FALSE(session.Exists(".tapeloom-recording.tmp"));
    }
    const std::vector<std::string> takes = Takes();
    EXPECT_EQ(takes.size(), 2u);
    for (const std::string& take : takes) {
      const Bytes bytes = ReadBytes(session / take);
      EXPECT_GE(bytes.size(), 44 + 96000u * 3);
      EXPECT_EQ(Field32(bytes, 40), bytes.size() - 44);
      std::filesystem::remove(session / take);
    }
  }
  std::filesystem::remove(session / kMarker);
  const RunResult stopped = Record({2}, SIGINT);
  EXPECT_EQ(stopped.status, 0);
  EXPECT_FALSE(session.Exists(kMarker));
}

}  // namespace
}  // namespace tapeloom::test
