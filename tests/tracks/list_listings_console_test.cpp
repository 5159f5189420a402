// "lr" and "lp" in every mix mode, and tracks at another rate: named, yet played sample for sample.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/console_harness.h"
#include "support/wave_builder.h"

namespace tapeloom::test {
namespace {

// Position-coded samples with the playlist line in the channel byte: each output shows whose they are.
Bytes Mono(std::uint32_t rate, int line, int bits = 24) {
  std::vector<std::int32_t> samples;
  for (std::int64_t f = 0; f < 1000; ++f) samples.push_back(PositionCode(f, line));
  return WaveBuilder().SampleRate(rate).Bits(bits).Samples(samples).Build();
}

std::string Rate(const std::string& name, std::uint32_t rate) {
  return name + " is a " + std::to_string(rate) +
         " Hz file; the session runs at 48000 Hz, so it plays at the wrong speed\n";
}

TEST(ListingsConsole, ListsInEveryMixModeAndTracksAtOtherRates) {
  const std::string lp = "File: play.txt\nSource\t\t\tSolo\tDestination\n", end = "-------------------------\n";
  const std::string lr = "File: record.txt\nSource\t\tStatus\t\tDestination\n", off = "\t\toff\tOut ";
  const std::string status = "Play: 0.00   Rec: 0.00   Stop: 0.00   Mem: 0.00\n", more = "Enter 'c' to continue\n";
  const std::string stop = "Play: 0.00   Rec: 0.00   Stop: 0.17   Mem: 0.00\n",
                    played = "Playing...\n\n\nOutput Channel Peaks:\n\n";
  const struct {
    std::string settings, records, plays;
    int outputs;
    std::string typed, printed;  // after the driver report
    std::vector<int> heard;      // outputs that play the samples of their line, for a "p" run
  } cases[] = {
      // clang-format off
      // Words before "c" are passed over: "s" would save the settings.
      {"", "x.wav\n-\n\ny.wav\nz.wav\nbeyond.wav\n", "", 2, "lr\ns\nc\n", status + lr + "In 1\t\tARMED\t\tx.wav\n"
       "In 3\t\tARMED\t\ty.wav\nIn 4\t\tARMED\t\tz.wav\n" + end + more + status},
      {"solo\t2\n", "", "a.wav\n\nb.wav\n-drums.wav\nverylongfilename.wav\n", 2, "lp\nc\n", status + lp +
       "a.wav" + off + "1\nb.wav\t\tON\tOut 2\nverylongfile" + off + "(4)\n" + end + more + status},
      {"mix\t1\n", "", "a.wav\nb.wav\nc.wav\nd.wav\n", 3, "lp\nc\n", status + lp + "a.wav" + off + "1 2\nb.wav" + off +
       "1 2\nc.wav" + off + "1 2 3\nd.wav" + off + "1 2 (4)\n" + end + more + status},
      // Bus 2 (outputs 3 4, beyond the card) has tracks 1 and 5; unused bus 1 leaves 1 and 2 their own.
      {"mix\t2\nbus\t2\t1,5,\n", "", "t1.wav\nt2.wav\nt3.wav\nt4.wav\nt5.wav\n", 2, "lp\nc\n", status + lp + "t1.wav" +
       off + "1 (3 4) \nt2.wav" + off + "2 \nt3.wav" + off + "\nt4.wav" + off + "\nt5.wav" + off + "(3 4) (5) \n" +
       end + more + status},
      {"mix\t3\nbus\t1\t1,\nbus\t3\t1,2,\n", "", "t1.wav\nt2.wav\nt3.wav\n", 2, "lp\nc\n", status + lp + "t1.wav" +
       off + "1 2 Bus 3 -> Out 1 2 \nt2.wav\t\toff\tBus 3 -> Out 1 2 \nt3.wav\t\toff\t\n" + end + more + status},
      // What the run refuses is listed without a word; what is no regular file is never waited on.
      {"o\t8192\n", "", "slow.wav\nfast.wav\nwide.wav\nempty.wav\nshort.wav\ngone.wav\neven.wav\n", 2, "lp\nc\np\n",
       stop + lp + "slow.wav" + off + "1\n" + Rate("slow.wav", 44100) + "fast.wav" + off + "2\n" +
       Rate("fast.wav", 96000) + "wide.wav" + off + "(3)\nempty.wav" + off + "(4)\nshort.wav" + off + "(5)\ngone.wav" +
       off + "(6)\n" + end + more + stop + Rate("slow.wav", 44100) + Rate("fast.wav", 96000) + "wide.wav is not a "
       "mono file and will not be played\nCannot find data block in file empty.wav!\nshort.wav is not a 24 bit file "
       "and will not be played\nCannot find file in track list called gone.wav!!\n" + played + stop, {1, 2}},
      {"o\t8192\n", "", "-slow.wav\neven.wav\npipe.wav\nfolder.wav\n", 2, "lp\nc\np\n", stop + lp + "even.wav" + off +
       "2\npipe.wav" + off + "(3)\nfolder.wav" + off + "(4)\n" + end + more + stop + "Can't read pipe.wav: Not a "
       "regular file\nCan't read folder.wav: Is a directory\n" + played + stop, {2}}};
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.settings + c.plays);
    ConsoleSession session;
    session.Write("param.txt", SimCardParams(4, c.outputs, 6) + "int\t0\nclock\thc\nmeter\t0\n" + c.settings);
    session.Write("record.txt", c.records);
    session.Write("play.txt", c.plays);
    for (const auto& [name, bytes] :
         {std::pair{"slow.wav", Mono(44100, 1)},
          {"-slow.wav", Mono(44100, 1)},
          {"fast.wav", Mono(96000, 2)},
          {"even.wav", Mono(48000, 2)},
          {"short.wav", Mono(44100, 5, 16)},
          {"wide.wav", WaveBuilder().SampleRate(44100).Channels(2).Samples(PositionCoded(1000, 2)).Build()},
          {"empty.wav", WaveBuilder().SampleRate(44100).WithoutDataChunk().Build()}}) {
      WriteBytes(session / name, bytes);
    }
    ASSERT_EQ(::mkfifo((session / "pipe.wav").c_str(), 0600), 0);
    std::filesystem::create_directory(session / "folder.wav");
    const RunResult run = session.Run(c.typed, std::chrono::seconds(30));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(AfterDriverReport(run.out), c.printed);
    if (c.heard.empty()) continue;
    // The first block is silence; frame 4096 + f plays sample f, at the session rate.
    const std::vector<std::int32_t> out = Unpack24(ReadBytes(session / "card-out.raw"));
    ASSERT_GE(out.size(), 2u * 5096);
    for (int output = 1; output <= 2; ++output) {
      const bool heard = std::find(c.heard.begin(), c.heard.end(), output) != c.heard.end();
      for (std::int64_t f = 0; f < 1000; ++f) {
        ASSERT_EQ(out[static_cast<std::size_t>((4096 + f) * 2 + output - 1)], heard ? PositionCode(f, output) : 0)
            << "output " << output << ", frame " << f;
      }
    }
  }
}

}  // namespace
}  // namespace tapeloom::test
