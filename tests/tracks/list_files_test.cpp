// List files: the overwrite question; "lr" and "lp" in every mix mode, and what a run plays of them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "support/console_harness.h"
#include "support/typed_input.h"
#include "support/wave_builder.h"
#include "tracks/list_files.h"
#include "tracks/overwrite_check.h"

namespace tapeloom::test {
namespace {

std::string Rate(const std::string& name, std::uint32_t rate = 44100) {
  return name + " is a " + std::to_string(rate) +
         " Hz file; the session runs at 48000 Hz, so it plays at the wrong speed\n";
}

// clang-format off
// A track feeding no bus loses its flag, the last too; one feeding any bus, the last bus too, keeps it.
TEST(ListFiles, TracksFeedingNoBusAreLeftOut) {
  BusAssignTable assign{}; TrackFlags flags{}; assign[0][0] = assign[63][254] = flags[0] = flags[1] = flags[254] = flags[255] = 1;
  VerifyChannels(assign, flags); EXPECT_EQ(flags[0] + 2 * flags[1] + 4 * flags[254] + 8 * flags[255], 5);
}

// Counts the files among the first n entries ("-" is none, "-c.wav" counts) and asks until answered.
TEST(OverwriteCheck, CountsTheFilesThatExistAmongTheFirstNAndAsksUntilAnswered) {
  TempDir dir; const WorkingDirectory inDir(dir.path());
  for (const char* name : {"a.wav", "b.wav", "-", "-c.wav"}) dir.Write(name, "x");
  const std::string q = "\nEnter 'w' to overwrite\nEnter 'W' to overwrite and don't ask again.\nEnter 'r' to return to previous menu.\n", asked = "-------------------------\n";
  // n, the list, the answers; the result, dontAskAgain, what was printed.
  const std::tuple<int, std::string, std::string, std::string> cases[] = {
      {-1, "a.wav\n", "", "1 0 "}, {2, "a.wav\nb.wav\n", "W", "1 1 " + asked + "2 files exists!" + q},
      {1, "a.wav\n", "w", "1 0 " + asked + "1 file exists!" + q},
      {4, "a.wav\n-\nb.wav\n-c.wav\n", "what r", "0 0 " + asked + "3 files exists!" + q + q.substr(1)}};
  for (const auto& [n, list, answers, said] : cases) {
    TypedInput input(answers); int dontAskAgain = 0, result = 0;
    const std::string out = Printed([&] { result = FILE_CHECK(n, list, dontAskAgain, input); });
    EXPECT_EQ(std::to_string(result) + " " + std::to_string(dontAskAgain) + " " + out, said) << list;
  }
}

// Position-coded samples with the playlist line in the channel byte.
Bytes Mono(std::uint32_t rate, int line, int bits = 24) {
  Samples samples;
  for (std::int64_t f = 0; f < 1000; ++f) samples.push_back(PositionCode(f, line));
  return WaveBuilder().SampleRate(rate).Bits(bits).Samples(samples).Build();
}

// "lp" and "lr" listings; a "p" run plays its tracks at the session rate, refuses files silently, waits on no FIFO.
TEST(ListingsConsole, ListsInEveryMixModeAndTracksAtOtherRates) {
  const std::string off = "\t\toff\tOut ", fast = Rate("fast.wav", 96000);
  const struct {
    std::string settings, records, plays; int outputs; std::string listing;  // after "Source ... Destination"
    std::vector<int> heard;  // outputs that play the samples of their line, for a "p" run
  } cases[] = {
      {"", "x.wav\n-\n\ny.wav\nz.wav\nbeyond.wav\n", "", 2, "In 1\t\tARMED\t\tx.wav\nIn 3\t\tARMED\t\ty.wav\nIn 4\t\tARMED\t\tz.wav\n"}, {"solo\t2\n", "", "a.wav\n\nb.wav\n-drums.wav\nverylongfilename.wav\n", 2, "a.wav" + off +       "1\nb.wav\t\tON\tOut 2\nverylongfile" + off + "(4)\n"},
      {"mix\t1\n", "", "a.wav\nb.wav\nc.wav\nd.wav\n", 3, "a.wav" + off + "1 2\nb.wav" + off + "1 2\nc.wav" + off + "1 2 3\nd.wav" + off + "1 2 (4)\n"}, {"mix\t2\nbus\t2\t1,5,\n", "",       "t1.wav\nt2.wav\nt3.wav\nt4.wav\nt5.wav\n", 2, "t1.wav" + off + "1 (3 4) \nt2.wav" + off + "2 \nt3.wav" + off + "\nt4.wav" + off + "\nt5.wav" + off + "(3 4) (5) \n"},
      {"mix\t3\nbus\t1\t1,\nbus\t3\t1,2,\n", "",       "t1.wav\nt2.wav\nt3.wav\n", 2, "t1.wav" + off + "1 2 Bus 3 -> Out 1 2 \nt2.wav\t\toff\tBus 3 -> Out 1 2 \nt3.wav\t\toff\t\n"}, {"o\t8192\n", "", "slow.wav\nfast.wav\nwide.wav\nempty.wav\nshort.wav\ngone.wav\neven.wav\n", 2,       "slow.wav" + off + "1\n" + Rate("slow.wav") + "fast.wav" + off + "2\n" + fast + "wide.wav" + off + "(3)\nempty.wav" + off + "(4)\nshort.wav" + off + "(5)\ngone.wav" + off + "(6)\n", {1, 2}},
      {"o\t8192\n", "",       "-slow.wav\neven.wav\npipe.wav\nfolder.wav\n", 2, "even.wav" + off + "2\npipe.wav" + off + "(3)\nfolder.wav" + off + "(4)\n", {2}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.settings + c.plays);
    const std::string status = "Play: 0.00   Rec: 0.00   Stop: " + std::string(c.heard.empty() ? "0.00" : "0.17") + "   Mem: 0.00\n";
    const std::string head = c.records.empty() ? "File: play.txt\nSource\t\t\tSolo\tDestination\n" : "File: record.txt\nSource\t\tStatus\t\tDestination\n";
    const std::string shown = status + head + c.listing + "-------------------------\nEnter 'c' to continue\n" + status;
    ConsoleSession session;
    session.Write("param.txt", SimCardParams(4, c.outputs, 6) + "int\t0\nclock\thc\nmeter\t0\n" + c.settings);
    session.Write("record.txt", c.records); session.Write("play.txt", c.plays);
    for (const auto& [name, bytes] : {std::pair{"slow.wav", Mono(44100, 1)}, {"-slow.wav", Mono(44100, 1)}, {"fast.wav", Mono(96000, 2)}, {"even.wav", Mono(48000, 2)}, {"short.wav", Mono(44100, 5, 16)},
         {"wide.wav", WaveBuilder().SampleRate(44100).Channels(2).Samples(PositionCoded(1000, 2)).Build()}, {"empty.wav", WaveBuilder().SampleRate(44100).WithoutDataChunk().Build()}})
      WriteBytes(session / name, bytes);
    ASSERT_TRUE(::mkfifo((session / "pipe.wav").c_str(), 0600) == 0 && std::filesystem::create_directory(session / "folder.wav"));
    const RunResult run = session.Run(c.records.size() ? "lr\ns\nc\n" : c.heard.size() ? "lp\nc\np\n" : "lp\nc\n");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string out = AfterDriverReport(run.out);  // a run goes on to say what it refuses and to play
    EXPECT_EQ(c.heard.empty() ? out : out.substr(0, shown.size()), shown);
    if (c.heard.empty()) continue;
    const Samples played = Unpack24(ReadBytes(session / "card-out.raw")); ASSERT_GE(played.size(), 10192u);
    for (int output = 1; output <= 2; ++output)  // after a silent first block
      for (std::int64_t f = 0; f < 1000; ++f)
        ASSERT_EQ(played[static_cast<std::size_t>((4096 + f) * 2 + output - 1)], std::ranges::count(c.heard, output) ? PositionCode(f, output) : 0) << output << ", frame " << f;
  }
}
// clang-format on

}  // namespace
}  // namespace tapeloom::test
