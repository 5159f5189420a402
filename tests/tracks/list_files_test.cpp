// List files: the bus check, the overwrite question, the tracks a run plays; "lr" and "lp" in every mix mode at the
// real prompt, and tracks at another rate: named, yet played sample for sample.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/console_harness.h"
#include "support/typed_input.h"
#include "support/wave_builder.h"
#include "tracks/list_files.h"
#include "tracks/overwrite_check.h"
#include "tracks/run_lists.h"

namespace tapeloom::test {
namespace {

std::string Rate(const std::string& name, std::uint32_t rate = 44100) {
  return name + " is a " + std::to_string(rate) +
         " Hz file; the session runs at 48000 Hz, so it plays at the wrong speed\n";
}

// A track feeding no bus loses its flag, the last track too; one feeding any bus, the last among them, keeps it.
TEST(ListFiles, TracksFeedingNoBusAreLeftOut) {
  std::array<std::array<int, kMaxTracks>, kMaxBusses> assign{};
  std::array<int, kMaxTracks> flags{};
  assign[0][0] = assign[63][254] = flags[0] = flags[1] = flags[254] = flags[255] = 1;
  VerifyChannels(assign, flags);
  EXPECT_EQ(flags[0] + 2 * flags[1] + 4 * flags[254] + 8 * flags[255], 5);
}

// Counts the files that exist among the first n entries ("-" names no file; "-c.wav" counts) and asks until answered.
TEST(OverwriteCheck, CountsTheFilesThatExistAmongTheFirstNAndAsksUntilAnswered) {
  TempDir dir;
  for (const char* name : {"a.wav", "b.wav", "-", "-c.wav"}) dir.Write(name, "x");
  const WorkingDirectory inDir(dir.path());  // the lists' relative names resolve there
  const std::string asked = "-------------------------\n",
                    question =
                        "Enter 'w' to overwrite\nEnter 'W' to overwrite "
                        "and don't ask again.\nEnter 'r' to return to previous menu.\n";
  // n, the list, the answers; the result, dontAskAgain and what was printed.
  const std::tuple<int, std::string, std::string, std::string> cases[] = {
      {3, "x.wav\n-\ny.wav\n", "", "1 0 "},
      {-1, "a.wav\n", "", "1 0 "},
      {1, "a.wav\nb.wav\n", "w", "1 0 " + asked + "1 file exists!\n" + question},
      {2, "a.wav\nb.wav\n", "W", "1 1 " + asked + "2 files exists!\n" + question},
      {4, "a.wav\n-\nb.wav\n-c.wav\n", "what r", "0 0 " + asked + "3 files exists!\n" + question + question}};
  for (const auto& [n, list, answers, said] : cases) {
    TypedInput input(answers);
    int dontAskAgain = 0;
    testing::internal::CaptureStdout();
    const int result = FILE_CHECK(n, list, dontAskAgain, input);
    EXPECT_EQ(
        std::to_string(result) + " " + std::to_string(dontAskAgain) + " " + testing::internal::GetCapturedStdout(),
        said)
        << list;
  }
}

// What each kind of run plays, arms and replaces, and names for another rate. Play list entries: a (44.1 kHz),
// b, "-", "-x", a stereo file, and beyond the 5 tracks a missing one. The record list: t (44.1 kHz), b, "-",
// "-x", and beyond the 4 inputs z. A list that cannot be read is asked for until one is, and stays in use.
TEST(RunLists, TracksEachKindOfRunPlaysArmsAndReplaces) {
  TempDir dir;
  const WorkingDirectory inDir(dir.path());
  for (const auto& [name, rate, channels] :
       {std::tuple{"a.wav", 44100u, 1}, {"b.wav", 48000u, 1}, {"s.wav", 48000u, 2}, {"t.wav", 44100u, 1}}) {
    WriteBytes(dir / name, WaveBuilder().SampleRate(rate).Channels(channels).Build());
  }
  dir.Write("play.txt", "a.wav\nb.wav\n\n-\n-x\ns.wav\nmissing.wav\n");
  dir.Write("record.txt", "t.wav\nb.wav\n-\n-x\nz.wav\n");
  const std::string stereo = "s.wav is not a mono file and will not be played\n",
                    ask = "\nCreate the file or enter a different name\n";
  const std::string asked = "Cannot find playlist file called gone.txt" + ask +
                            "Cannot find playlist file called still-gone.txt" + ask +
                            "Cannot find recordlist file called " + ask;
  // Flags: the active tracks 1-6, the armed inputs 1-5, the replaced tracks 1-5. Where names are typed, the run
  // starts with the lists gone.txt and ""; the audition list apart (an optional string in a row: GCC 12 warns).
  const struct {
    RunListRequest request;
    int tracks, soloed;  // the track count; the track soloed (from 1), or 0
    std::string answers, flags, printed;
    const char* audition = nullptr;
  } cases[] = {{{.plays = true}, 5, 0, "", "110000 00000 00000", Rate("a.wav") + stereo},
               {{.plays = true}, -1, 0, "", "000000 00000 00000", ""},
               {{.plays = true, .records = true}, 5, 0, "", "110000 11000 01010", Rate("a.wav") + stereo},
               {{.monitor = true}, 5, 0, "", "000000 11000 00000", ""},
               {{.plays = true, .solo = true}, 5, 2, "", "010000 00000 00000", stereo},
               {{.plays = true, .solo = true}, 5, 1, "", "100000 00000 00000", Rate("a.wav") + stereo},
               {{.plays = true}, 5, 0, "", "110000 00000 00000", Rate("t.wav"), "b.wav\nt.wav\n"},
               {{.records = true}, 5, 0, "still-gone.txt play.txt record.txt", "000000 11000 01010", asked}};
  for (const auto& c : cases) {
    SessionSettings settings;
    std::tie(settings.ch, settings.inputs, settings.sr) = std::tuple(c.tracks, 4, 48000);
    settings.play[0] = c.answers.empty() ? "play.txt" : "gone.txt";
    settings.rec[0] = c.answers.empty() ? "record.txt" : "";
    if (c.soloed > 0) settings.solo[static_cast<std::size_t>(c.soloed - 1)] = 1;
    TypedInput input(c.answers);
    testing::internal::CaptureStdout();
    RunListRequest request = c.request;
    if (c.audition != nullptr) request.auditionList = c.audition;
    const RunLists lists = ResolveRunLists(settings, input, request);
    std::string flags = testing::internal::GetCapturedStdout();
    for (const auto& [list, n] :
         {std::pair{&lists.activeTracks, 6u}, {&lists.armedInputs, 5u}, {&lists.replacedTracks, 5u}}) {
      for (std::size_t t = 0; t < n; ++t) flags += std::to_string((*list)[t]);
      flags += " ";
    }
    EXPECT_EQ(flags + settings.play[0] + " " + settings.rec[0], c.printed + c.flags + " play.txt record.txt");
  }
}

// Position-coded samples with the playlist line in the channel byte: each output shows whose they are.
Bytes Mono(std::uint32_t rate, int line, int bits = 24) {
  std::vector<std::int32_t> samples;
  for (std::int64_t f = 0; f < 1000; ++f) samples.push_back(PositionCode(f, line));
  return WaveBuilder().SampleRate(rate).Bits(bits).Samples(samples).Build();
}

// Each row: the listing shown by "lp" (or "lr" with a record list; the words before "c" are passed over), and for a
// "p" run what the run says. Bus 2 (outputs 3 4, beyond the card) has tracks 1 and 5; an unused bus 1 leaves tracks 1
// and 2 their own. What the run refuses is listed without a word; what is no regular file is never waited on.
TEST(ListingsConsole, ListsInEveryMixModeAndTracksAtOtherRates) {
  const std::string off = "\t\toff\tOut ", fast = Rate("fast.wav", 96000);
  // clang-format off
  const struct {
    std::string settings, records, plays;
    int outputs;
    std::string listing;        // after "Source ... Destination"
    std::vector<int> heard;     // outputs that play the samples of their line, for a "p" run
  } cases[] = {
      {"", "x.wav\n-\n\ny.wav\nz.wav\nbeyond.wav\n", "", 2, "In 1\t\tARMED\t\tx.wav\nIn 3\t\tARMED\t\ty.wav\nIn 4\t\tARMED\t\tz.wav\n"}, {"solo\t2\n", "", "a.wav\n\nb.wav\n-drums.wav\nverylongfilename.wav\n", 2, "a.wav" + off +
      "1\nb.wav\t\tON\tOut 2\nverylongfile" + off + "(4)\n"}, {"mix\t1\n", "", "a.wav\nb.wav\nc.wav\nd.wav\n", 3, "a.wav" + off + "1 2\nb.wav" + off + "1 2\nc.wav" + off + "1 2 3\nd.wav" + off + "1 2 (4)\n"}, {"mix\t2\nbus\t2\t1,5,\n", "",
      "t1.wav\nt2.wav\nt3.wav\nt4.wav\nt5.wav\n", 2, "t1.wav" + off + "1 (3 4) \nt2.wav" + off + "2 \nt3.wav" + off + "\nt4.wav" + off + "\nt5.wav" + off + "(3 4) (5) \n"}, {"mix\t3\nbus\t1\t1,\nbus\t3\t1,2,\n", "",
      "t1.wav\nt2.wav\nt3.wav\n", 2, "t1.wav" + off + "1 2 Bus 3 -> Out 1 2 \nt2.wav\t\toff\tBus 3 -> Out 1 2 \nt3.wav\t\toff\t\n"}, {"o\t8192\n", "", "slow.wav\nfast.wav\nwide.wav\nempty.wav\nshort.wav\ngone.wav\neven.wav\n", 2,
      "slow.wav" + off + "1\n" + Rate("slow.wav") + "fast.wav" + off + "2\n" + fast + "wide.wav" + off + "(3)\nempty.wav" + off + "(4)\nshort.wav" + off + "(5)\ngone.wav" + off + "(6)\n", {1, 2}}, {"o\t8192\n", "",
      "-slow.wav\neven.wav\npipe.wav\nfolder.wav\n", 2, "even.wav" + off + "2\npipe.wav" + off + "(3)\nfolder.wav" + off + "(4)\n", {2}}};
  // clang-format on
  for (const auto& c : cases) {
    const std::string status =
        "Play: 0.00   Rec: 0.00   Stop: " + std::string(c.heard.empty() ? "0.00" : "0.17") + "   Mem: 0.00\n";
    const std::string head = c.records.empty() ? "File: play.txt\nSource\t\t\tSolo\tDestination\n"
                                               : "File: record.txt\nSource\t\tStatus\t\tDestination\n";
    const std::string shown = status + head + c.listing + "-------------------------\nEnter 'c' to continue\n" + status;
    SCOPED_TRACE(c.settings + c.plays);
    ConsoleSession session;
    session.Write("param.txt", SimCardParams(4, c.outputs, 6) + "int\t0\nclock\thc\nmeter\t0\n" + c.settings);
    session.Write("record.txt", c.records);
    session.Write("play.txt", c.plays);
    // clang-format off
    for (const auto& [name, bytes] : {std::pair{"slow.wav", Mono(44100, 1)}, {"-slow.wav", Mono(44100, 1)},
         {"fast.wav", Mono(96000, 2)}, {"even.wav", Mono(48000, 2)}, {"short.wav", Mono(44100, 5, 16)},
         {"wide.wav", WaveBuilder().SampleRate(44100).Channels(2).Samples(PositionCoded(1000, 2)).Build()},
         {"empty.wav", WaveBuilder().SampleRate(44100).WithoutDataChunk().Build()}}) WriteBytes(session / name, bytes);
    // clang-format on
    ASSERT_EQ(::mkfifo((session / "pipe.wav").c_str(), 0600), 0);
    std::filesystem::create_directory(session / "folder.wav");
    const RunResult run = session.Run(c.records.size() ? "lr\ns\nc\n" : c.heard.size() ? "lp\nc\np\n" : "lp\nc\n");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string out = AfterDriverReport(run.out);  // a run goes on to say what it refuses and to play
    EXPECT_EQ(c.heard.empty() ? out : out.substr(0, shown.size()), shown);
    if (c.heard.empty()) continue;
    // The first block is silence; frame 4096 + f plays sample f, at the session rate.
    const std::vector<std::int32_t> played = Unpack24(ReadBytes(session / "card-out.raw"));
    ASSERT_GE(played.size(), 2u * 5096);
    for (int output = 1; output <= 2; ++output) {
      const bool heard = std::find(c.heard.begin(), c.heard.end(), output) != c.heard.end();
      for (std::int64_t f = 0; f < 1000; ++f) {
        ASSERT_EQ(played[static_cast<std::size_t>((4096 + f) * 2 + output - 1)], heard ? PositionCode(f, output) : 0)
            << "output " << output << ", frame " << f;
      }
    }
  }
}

}  // namespace
}  // namespace tapeloom::test
