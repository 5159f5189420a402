// Runs on cards that keep time. The program stalls (the card goes on without it): the xruns
// cost only the time they lost, the takes stay on the tracks' timeline and a live input's
// take keeps its timing. The storage stalls (the disk worker waits in its reads and writes):
// a stall shorter than the disk buffer costs nothing; a longer one leaves silence at its
// place and is reported, and the take keeps its timing and its length.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

#include "audio/test_ports.h"
#include "support/run_bench.h"
#include "support/wave_builder.h"
#include "wave/text_file.h"
#include "wave/wave_file.h"

namespace tapeloom::test {
namespace {

constexpr int kPeriod = 256;
constexpr std::int64_t kRecordStart = 49152;
constexpr std::int64_t kTakeFrames = 48000;

// Track sample at position f: never 0, different for every frame.
std::int32_t TrackSample(std::int64_t f) { return static_cast<std::int32_t>((f % 30000 + 1) * 256 + 1); }

std::vector<std::int32_t> TakeSamples(const std::filesystem::path& path) {
  const Bytes bytes = ReadBytes(path);
  EXPECT_GE(bytes.size(), 44u);
  return Unpack24(std::span<const unsigned char>(bytes).subspan(44));
}

class RunTiming : public testing::Test {
 protected:
  void SetUp() override {
    std::vector<std::int32_t> samples;
    for (std::int64_t f = 0; f < kRecordStart + 4 * kTakeFrames; ++f) samples.push_back(TrackSample(f));
    WriteBytes(run / "t1.wav", WaveBuilder().Samples(samples).Build());
    run.dir().Write("play.txt", "t1.wav\n");
    run.dir().Write("record.txt", "loop.wav\nlive.wav\n");
    run.Start(
        "dv\ttapeloom_sim\nsr\t48000\ninputs\t2\noutputs\t2\nch\t2\nbuf\t256\nint\t0\nclock\thc\nmeter\t0\n"
        "mix\t0\ni\t49152\ne\t49152\no\t97152\n");
  }

  // The takes of the last run: input 1 hears output 1, input 2 the card's time.
  std::vector<std::int32_t> Take(int input) const {
    const std::vector<std::string> names = SplitList(const_cast<RunBench&>(run).takes().takeList);
    return TakeSamples(run / names.at(static_cast<std::size_t>(input)));
  }

  // Input 1's take holds the track from the record start on, frame for frame, where it is not
  // silent (it is silent where the card dropped the input, and where the playback ran dry).
  // Input 2's holds the card's time without a jump where it is not silent: the silence stands
  // for exactly the frames the card dropped. Returns the frames of input 2's silence.
  //
  // On a card that keeps real time, the loop's take is held to a steady offset instead of the
  // record start's frame: how the capture falls against the playback at the start depends on
  // whether the program's first transfers fit in one of the card's periods, and under an
  // emulator they need not (a real card needs the calibration for it; the test is of what
  // happens later in the take).
  std::int64_t ExpectTakesOnTheTimeline(bool steadyOffsetOnly = false) {
    const std::vector<std::int32_t> loop = Take(0);
    const std::vector<std::int32_t> live = Take(1);
    EXPECT_EQ(loop.size(), static_cast<std::size_t>(kTakeFrames));
    EXPECT_EQ(live.size(), static_cast<std::size_t>(kTakeFrames));
    if (loop.size() != live.size() || live.empty() || live[0] == 0) {
      ADD_FAILURE() << "no takes to compare";
      return -1;
    }
    std::int64_t first = kRecordStart;  // the track frame heard at take frame 0
    if (steadyOffsetOnly) {
      const auto heard = std::find_if(loop.begin(), loop.end(), [](std::int32_t v) { return v != 0; });
      if (heard != loop.end()) first = ((*heard / 256 - 1 - (heard - loop.begin())) % 30000 + 30000) % 30000;
    }
    std::int64_t silent = 0;
    for (std::size_t j = 0; j < loop.size(); ++j) {
      const bool recorded = live[j] != 0;
      silent += recorded ? 0 : 1;
      const std::int64_t trackFrame = first + static_cast<std::int64_t>(j);
      const bool ok = recorded ? live[j] == live[0] + static_cast<std::int32_t>(j) &&
                                     (loop[j] == 0 || loop[j] == TrackSample(trackFrame))
                               : loop[j] == 0;
      if (!ok) {
        ADD_FAILURE() << "take frame " << j << ": loop " << loop[j] << ", live input " << live[j] << " (from "
                      << live[0] << ")";
        return -1;
      }
    }
    return silent;
  }

  RunBench run;
};

TEST_F(RunTiming, AnXrunCostsOnlyTheTimeItLostAndTheTakesStayOnTheTimeline) {
  // Writes and reads alternate, a period each, after the four writes that fill the buffer:
  // transfer 100 comes about 25000 frames into the run, inside the take. A stall of the program
  // before a write finds the playback's buffer full and the capture's empty; before a read,
  // the capture's holds the period that has come.
  struct Case {
    const char* what;
    std::map<int, std::int64_t> lateBeforeWrite;
    std::map<int, std::int64_t> lateBeforeRead;
    int playBuffer;
    int captureBuffer;
    int underruns;
    int overruns;
  };
  // clang-format off
  const Case cases[] = {
      {"no stall",                                       {},                          {},            1024, 1024, 0, 0},
      {"a stall longer than both buffers",               {{100, 5000}},               {},            1024, 1024, 1, 1},
      {"a stall only the capture's buffer cannot hold",  {},                          {{100, 1300}}, 2048, 1024, 0, 1},
      {"a stall only the playback's buffer cannot hold", {{100, 1400}},               {},            1024, 2048, 1, 0},
      {"later stalls within the margin cost nothing",    {{100, 5000}, {200, 700}},   {{150, 700}},  1024, 1024, 1, 1},
      {"two long stalls",                                {{100, 5000}, {180, 20000}}, {},            1024, 1024, 2, 2},
  };
  // clang-format on
  // Each on a card whose stopped stream says so in its delay, and on one where only its state
  // does (a sound server's plugin).
  for (const bool plugin : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << c.what << (plugin ? ", a plugin's card" : ""));
      run.takes() = TakeState{};
      ClockedCard card(2, kPeriod, c.playBuffer, 48000, 0, 0, ClockedCard::Pace::kVirtual, c.captureBuffer);
      card.counterOnSecondInput = true;
      card.staleDelayInXrun = plugin;
      card.lateBeforeWrite = c.lateBeforeWrite;
      card.lateBeforeRead = c.lateBeforeRead;
      const std::string out = run.Run(card, {.kind = RunKind::kPlayAndRecord});
      EXPECT_EQ(card.underruns, c.underruns) << out;
      EXPECT_EQ(card.overruns, c.overruns) << out;
      // The counts and the marks as they always were; then where each xrun was and what it cost.
      EXPECT_EQ(out.find("Play Underruns = ") != std::string::npos, c.underruns > 0) << out;
      EXPECT_EQ(out.find("Record Overruns = ") != std::string::npos, c.overruns > 0) << out;
      const std::int64_t silent = ExpectTakesOnTheTimeline();
      EXPECT_EQ(silent > 0, c.overruns > 0) << out;
      if (c.overruns == 1) {
        char said[64];
        std::snprintf(said, sizeof said, ": %.2f s of input were not recorded", static_cast<double>(silent) / 48000);
        EXPECT_NE(out.find(std::string("record overrun at ")), std::string::npos) << out;
        EXPECT_NE(out.find(said), std::string::npos) << out;
      }
    }
  }
}

// The disk worker's calls (not the test's own, on this thread) stall once: the nth read or
// write from the moment the stall is armed sleeps for a while, as a card writing back to slow
// flash does.
class StorageStall {
 public:
  StorageStall(StorageCall call, int nth, std::chrono::milliseconds pause) {
    call_ = call;
    countdown_ = nth;
    pause_ = pause;
    owner_ = std::this_thread::get_id();
    SetStorageDelayHook(&Hook);
  }
  StorageStall(const StorageStall&) = delete;
  StorageStall& operator=(const StorageStall&) = delete;
  ~StorageStall() { SetStorageDelayHook(nullptr); }

 private:
  static void Hook(int, StorageCall call, std::uint64_t) {
    if (call != call_ || std::this_thread::get_id() == owner_) return;
    if (countdown_.fetch_sub(1) == 1) std::this_thread::sleep_for(pause_);
  }
  static inline StorageCall call_ = StorageCall::kWrite;
  static inline std::atomic<int> countdown_{0};
  static inline std::chrono::milliseconds pause_{0};
  static inline std::thread::id owner_;
};

TEST_F(RunTiming, AStorageStallShorterThanTheBufferCostsNothingALongerOneIsSilenceAtItsPlace) {
  // On a card that keeps real time, with output 1 looped to input 1 and input 2 hearing the
  // card's time. The disk buffer holds ten seconds, or a third of a second where the case makes
  // it small.
  struct Case {
    const char* what;
    StorageCall call;
    int nth;  // of the worker's reads (one per batch of blocks) or writes (one per take and batch)
    int pauseMs;
    double diskSeconds;  // 0: as a session has it
    const char* said;    // the line after the run; null: none
  };
  // clang-format off
  const Case cases[] = {
      {"a write stall shorter than the buffer", StorageCall::kWrite, 1, 600,  0.0,  nullptr},
      {"a read stall shorter than the buffer",  StorageCall::kRead,  4, 600,  0.0,  nullptr},
      {"a write stall longer than the buffer",  StorageCall::kWrite, 1, 1200, 0.25, "were not recorded"},
      {"a read stall longer than the buffer",   StorageCall::kRead,  4, 1200, 0.25, "could not be read in time"},
  };
  // clang-format on
  run.dir().Write("play.txt", "t1.wav\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    run.takes() = TakeState{};
    run.buffers().diskSeconds = c.diskSeconds;
    // Eight periods of buffer: a busy machine running other tests beside this one is not the
    // storage stalling.
    ClockedCard card(2, 1024, 8192, 48000, 0, 0, ClockedCard::Pace::kReal);
    card.counterOnSecondInput = true;
    std::string out;
    {
      const StorageStall stall(c.call, c.nth, std::chrono::milliseconds(c.pauseMs));
      out = run.Run(card, {.kind = RunKind::kPlayAndRecord});
    }
    EXPECT_EQ(card.underruns + card.overruns, 0) << "the card never waited on the disk\n" << out;
    const std::int64_t silent = ExpectTakesOnTheTimeline(true);
    if (c.said == nullptr) {
      EXPECT_EQ(out.find("the disk fell behind"), std::string::npos) << out;
      EXPECT_EQ(silent, 0);
      const std::vector<std::int32_t> loop = Take(0);
      EXPECT_EQ(std::count(loop.begin(), loop.end(), 0), 0) << "every frame of the loop was played and recorded";
      continue;
    }
    const std::size_t at = out.find("the disk fell behind at ");
    ASSERT_NE(at, std::string::npos) << out;
    EXPECT_NE(out.find(c.said, at), std::string::npos) << out;
    // One worker reads and writes: a long stall of either kind holds up both, and with a
    // small buffer both fall behind.
    if (c.call == StorageCall::kWrite) {
      // The stretch the worker could not take is silence in both takes, at its place.
      EXPECT_GT(silent, 0);
      EXPECT_NE(out.find(" of inputs 1 and 2 were not recorded\n", at), std::string::npos) << out;
    } else {
      // The track played silence where it was not read in time, and the loop heard it.
      const std::vector<std::int32_t> loop = Take(0);
      EXPECT_GT(std::count(loop.begin(), loop.end(), 0), 0);
      EXPECT_GE(std::count(loop.begin(), loop.end(), 0), silent);
      EXPECT_NE(out.find(" of track 1 could not be read in time\n", at), std::string::npos) << out;
    }
  }
}

}  // namespace
}  // namespace tapeloom::test
