// Tracks at another sample rate than the session's: they still play, sample for sample, and
// both the "lp" listing and every run that plays them say so in one line.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/console_harness.h"
#include "support/wave_builder.h"

namespace tapeloom::test {
namespace {

constexpr std::int64_t kFrames = 1000;

// Sample f of the track on playlist line k: position-coded, with the line in the channel byte,
// so that each output shows whose samples it carries.
std::vector<std::int32_t> TrackSamples(int k) {
  std::vector<std::int32_t> samples;
  for (std::int64_t f = 0; f < kFrames; ++f) samples.push_back(PositionCode(f, k));
  return samples;
}

Bytes Mono(std::uint32_t rate, int k) { return WaveBuilder().SampleRate(rate).Samples(TrackSamples(k)).Build(); }

// The simulated card runs at 48000 Hz.
std::string RateLine(const std::string& name, std::uint32_t rate) {
  return name + " is a " + std::to_string(rate) +
         " Hz file; the session runs at 48000 Hz, so it plays at the wrong speed\n";
}

std::string Row(const std::string& name, int output) {
  const std::string number = std::to_string(output);
  return name + "\t\toff\tOut " + (output <= 2 ? number : "(" + number + ")") + "\n";
}

const std::string kPlayHeader = "File: play.txt\nSource\t\t\tSolo\tDestination\n";
const std::string kDashes = "-------------------------\n";
const std::string kStatus = "Play: 0.00   Rec: 0.00   Stop: 0.17   Mem: 0.00\n";

struct TrackFile {
  std::string name;
  Bytes bytes;
};

struct RateCase {
  const char* what;
  std::string playlist;  // four tracks, two outputs
  std::vector<TrackFile> files;
  std::string listingRows;  // "lp" between its header and the dashes
  std::string runChecks;    // what a "p" run prints before it starts playing
  std::vector<int> heard;   // playlist lines (from 1) whose samples reach their output
};

TEST(TrackRatesConsole, OtherRatesAreNamedInTheListingAndAtEveryPlayRunAndStillPlay) {
  const std::vector<RateCase> cases = {
      {"a 44.1 kHz track",
       "slow.wav\n",
       {{"slow.wav", Mono(44100, 1)}},
       Row("slow.wav", 1) + RateLine("slow.wav", 44100),
       RateLine("slow.wav", 44100),
       {1}},
      {"a track at the session rate", "even.wav\n", {{"even.wav", Mono(48000, 1)}}, Row("even.wav", 1), "", {1}},
      {"each line follows its own track",
       "even.wav\nfast.wav\nslow.wav\n",
       {{"even.wav", Mono(48000, 1)}, {"fast.wav", Mono(96000, 2)}, {"slow.wav", Mono(44100, 3)}},
       Row("even.wav", 1) + Row("fast.wav", 2) + RateLine("fast.wav", 96000) + Row("slow.wav", 3) +
           RateLine("slow.wav", 44100),
       RateLine("fast.wav", 96000) + RateLine("slow.wav", 44100),
       {1, 2}},
      {"a skipped track",
       "-slow.wav\neven.wav\n",
       {{"-slow.wav", Mono(44100, 1)}, {"even.wav", Mono(48000, 2)}},
       Row("even.wav", 2),
       "",
       {2}},
      {"a missing track",
       "gone.wav\n",
       {},
       Row("gone.wav", 1),
       "Cannot find file in track list called gone.wav!!\n",
       {}},
      {"a stereo track is refused",
       "wide.wav\n",
       {{"wide.wav", WaveBuilder().SampleRate(44100).Channels(2).Samples(PositionCoded(kFrames, 2)).Build()}},
       Row("wide.wav", 1),
       "wide.wav is not a mono file and will not be played\n",
       {}},
      {"a 16-bit track is refused",
       "short.wav\n",
       {{"short.wav", WaveBuilder().SampleRate(44100).Bits(16).Samples(TrackSamples(1)).Build()}},
       Row("short.wav", 1),
       "short.wav is not a 24 bit file and will not be played\n",
       {}},
      {"a track without data is refused",
       "empty.wav\n",
       {{"empty.wav", WaveBuilder().SampleRate(44100).WithoutDataChunk().Build()}},
       Row("empty.wav", 1),
       "Cannot find data block in file empty.wav!\n",
       {}},
      {"a line beyond the track count",
       "even.wav\n-\n-\n-\nslow.wav\n",
       {{"even.wav", Mono(48000, 1)}, {"slow.wav", Mono(44100, 5)}},
       Row("even.wav", 1),
       "",
       {1}},
  };
  for (const RateCase& c : cases) {
    SCOPED_TRACE(c.what);
    ConsoleSession session;
    session.Write("param.txt", SimCardParams(2, 2, 4, 1024) + "int\t0\nclock\thc\nmeter\t0\no\t8192\n");
    session.Write("record.txt", "");
    session.Write("play.txt", c.playlist);
    for (const TrackFile& file : c.files) WriteBytes(session / file.name, file.bytes);

    const RunResult run = session.Run("lp\nc\np\n");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(AfterDriverReport(run.out), kStatus + kPlayHeader + c.listingRows + kDashes + "Enter 'c' to continue\n" +
                                              kStatus + c.runChecks + "Playing...\n\n\nOutput Channel Peaks:\n\n" +
                                              kStatus);

    const std::vector<std::int32_t> played = Unpack24(ReadBytes(session / "card-out.raw"));
    for (int output = 1; output <= 2; ++output) {
      const bool heard = std::find(c.heard.begin(), c.heard.end(), output) != c.heard.end();
      // The first block is silence; frame 4096 + f plays sample f, at the session rate.
      for (std::int64_t f = 0; f < kFrames; ++f) {
        const std::size_t at = static_cast<std::size_t>((4096 + f) * 2 + output - 1);
        ASSERT_LT(at, played.size());
        ASSERT_EQ(played[at], heard ? PositionCode(f, output) : 0) << "output " << output << ", frame " << f;
      }
    }
  }
}

// The listing opens each file to read its rate: a name that is no regular file is listed as
// before, without a word and without waiting on a FIFO that nobody writes.
TEST(TrackRatesConsole, TheListingPassesOverWhatIsNoRegularFile) {
  ConsoleSession session;
  session.Write("param.txt", SimCardParams(2, 2, 4, 1024) + "int\t0\n");
  session.Write("record.txt", "");
  session.Write("play.txt", "pipe.wav\nfolder.wav\nslow.wav\n");
  ASSERT_EQ(::mkfifo((session / "pipe.wav").c_str(), 0600), 0);
  std::filesystem::create_directory(session / "folder.wav");
  WriteBytes(session / "slow.wav", Mono(44100, 3));

  const RunResult run = session.Run("lp\nc\n", std::chrono::seconds(30));
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string shortStatus = "Play: 0.00   Rec: 0.00   Stop: 0.00   Mem: 0.00\n";
  EXPECT_EQ(AfterDriverReport(run.out), shortStatus + kPlayHeader + Row("pipe.wav", 1) + Row("folder.wav", 2) +
                                            Row("slow.wav", 3) + RateLine("slow.wav", 44100) + kDashes +
                                            "Enter 'c' to continue\n" + shortStatus);
}

}  // namespace
}  // namespace tapeloom::test
