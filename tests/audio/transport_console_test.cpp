// Transport runs of the real program on the simulated card: what reaches the card's outputs,
// what the takes hold, the console texts of the runs and of the commands that start them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <random>
#include <regex>

#include "support/console_harness.h"
#include "support/run_command.h"
#include "support/wave_builder.h"

namespace tapeloom::test {
namespace {

std::int32_t TrackSample(std::int64_t f, int k) { return static_cast<std::int32_t>((f % 30000 + 1) * 256 + k + 1); }

// What the simulated inputs deliver: frame j of input k.
std::int32_t InputSample(std::int64_t j, int k) { return static_cast<std::int32_t>(-((j % 30000 + 1) * 256 + k + 1)); }

std::string Db(double peak) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", -20.0 * std::log10(8388607.0 / peak));
  return text;
}

class TransportConsole : public testing::Test {
 protected:
  void Track(const std::string& name, std::int64_t frames, int k) {
    std::vector<std::int32_t> samples;
    for (std::int64_t f = 0; f < frames; ++f) samples.push_back(TrackSample(f, k));
    WriteBytes(session / name, WaveBuilder().Samples(samples).Build());
  }
  // Capture input for two channels, interleaved as the card delivers it.
  void CardInput(std::int64_t frames) {
    std::vector<std::int32_t> samples;
    for (std::int64_t j = 0; j < frames; ++j) {
      samples.push_back(InputSample(j, 0));
      samples.push_back(InputSample(j, 1));
    }
    WriteBytes(session / "card-in.raw", Pack24(samples));
  }
  // The frames the card played, per output channel.
  std::vector<std::vector<std::int32_t>> CardOutput(int outputs = 2) {
    const std::vector<std::int32_t> all = Unpack24(ReadBytes(session / "card-out.raw"));
    std::vector<std::vector<std::int32_t>> channels(static_cast<std::size_t>(outputs));
    for (std::size_t n = 0; n < all.size(); ++n) channels[n % static_cast<std::size_t>(outputs)].push_back(all[n]);
    return channels;
  }
  // The short status line unless `full`; no clock and no meter, so that runs print only their
  // titles and reports.
  std::string Start(const std::string& settings, const std::string& input, bool full = false) {
    session.Write("param.txt",
                  SimCardParams(2, 2, 2, 1024) + (full ? "" : "int\t0\n") + "clock\thc\nmeter\t0\n" + settings);
    last = session.Run(input);
    EXPECT_EQ(last.status, 0) << last.err;
    return AfterDriverReport(last.out);
  }
  // Files whose names match the pattern.
  std::vector<std::string> Matching(const std::string& pattern) {
    std::vector<std::string> names;
    for (const std::string& name : session.Files()) {
      if (std::regex_match(name, std::regex(pattern))) names.push_back(name);
    }
    return names;
  }
  std::string Saved() { return session.Read("param.txt"); }

  ConsoleSession session;
  RunResult last;
};

// A play run ends after the cycle that reads the block starting past the stop; every cycle
// writes one period of 1024 frames, four to a block, and the first block is silence.
std::size_t FramesPlayed(std::int64_t in, std::int64_t out) {
  const std::int64_t blocks = (out - in + 4095) / 4096 + 1;
  return static_cast<std::size_t>((4 * (blocks - 1) + 1) * 1024);
}

TEST_F(TransportConsole, PlayPutsEachTrackOnItsOutputAfterASilentBlock) {
  Track("t1.wav", 50000, 0);
  Track("t2.wav", 10000, 1);
  session.Write("play.txt", "t1.wav\nt2.wav\n");
  session.Write("record.txt", "");
  const std::string status = "Play: 0.00   Rec: 0.00   Stop: 1.00   Mem: 0.00\n";
  EXPECT_EQ(Start("o\t48128\n", "p\n"), status + "Playing...\n\n\nOutput Channel Peaks:\n\n" + status);
  const auto out = CardOutput();
  ASSERT_EQ(out[0].size(), FramesPlayed(0, 48128));
  for (std::size_t f = 0; f < out[0].size(); ++f) {
    const std::int64_t position = static_cast<std::int64_t>(f) - 4096;
    ASSERT_EQ(out[0][f], position < 0 ? 0 : TrackSample(position, 0)) << f;
    ASSERT_EQ(out[1][f], position < 0 || position >= 10000 ? 0 : TrackSample(position, 1)) << f;
  }
}

TEST_F(TransportConsole, SomethingThatIsNoFileInThePlaylistIsRefusedAndTheRestPlays) {
  // A FIFO nobody writes would otherwise hold the run forever.
  Track("t2.wav", 10000, 1);
  ASSERT_EQ(::mkfifo((session / "pipe.wav").c_str(), 0600), 0);
  session.Write("play.txt", "pipe.wav\nt2.wav\n");
  session.Write("record.txt", "");
  const std::string status = "Play: 0.00   Rec: 0.00   Stop: 0.21   Mem: 0.00\n";
  EXPECT_EQ(Start("o\t10240\n", "p\n"), status + "Can't read pipe.wav: Not a regular file\n" +
                                            "Playing...\n\n\nOutput Channel Peaks:\n\n" + status);
  const auto out = CardOutput();
  ASSERT_GT(out[1].size(), 4096u + 9000u);
  EXPECT_EQ(out[1][4096 + 9000], TrackSample(9000, 1));
}

TEST_F(TransportConsole, PlayFromThePlayStart) {
  Track("t1.wav", 200000, 0);
  session.Write("play.txt", "t1.wav\n");
  session.Write("record.txt", "");
  Start("i\t95232\no\t120832\n", "p\n");
  const auto out = CardOutput();
  ASSERT_EQ(out[0].size(), FramesPlayed(95232, 120832));
  for (std::size_t f = 4096; f < out[0].size(); ++f)
    ASSERT_EQ(out[0][f], TrackSample(95232 + static_cast<std::int64_t>(f) - 4096, 0));
}

TEST_F(TransportConsole, StopAtOrBeforeTheStartPlaysOnePeriodOfSilence) {
  Track("t1.wav", 200000, 0);
  session.Write("play.txt", "t1.wav\n");
  session.Write("record.txt", "");
  Start("i\t95232\no\t95232\n", "p\n");
  EXPECT_EQ(CardOutput()[0], std::vector<std::int32_t>(1024, 0));
}

TEST_F(TransportConsole, MixModeOneSumsToTheFirstPair) {
  WriteBytes(session / "a.wav", WaveBuilder().Samples(std::vector<std::int32_t>(8192, 1000)).Build());
  WriteBytes(session / "b.wav", WaveBuilder().Samples(std::vector<std::int32_t>(8192, -3000)).Build());
  session.Write("play.txt", "a.wav\nb.wav\n");
  session.Write("record.txt", "");
  const std::string out = Start("mix\t1\no\t4096\n", "p\n");
  // Centre pan at 0 dB is a gain of 181; the master at 0 dB divides by 256:
  // (1000 - 3000) × 181 / 256 = -1414.06, truncated toward zero.
  EXPECT_NE(out.find("Playing...\n\n\nOutput Channel Peaks:\nchannel 1: " + Db(1414) + " dBFS\nchannel 2: " + Db(1414) +
                     " dBFS\n\n"),
            std::string::npos)
      << out;
  const auto played = CardOutput();
  EXPECT_EQ(played[0][4095], 0);
  EXPECT_EQ(played[0][4096], -1414);
  ASSERT_EQ(played[1].size(), FramesPlayed(0, 4096));
  EXPECT_EQ(played[1].back(), -1414);
}

TEST_F(TransportConsole, SoloedPlay) {
  Track("t1.wav", 20000, 0);
  Track("t2.wav", 20000, 1);
  session.Write("play.txt", "t1.wav\nt2.wav\n");
  session.Write("record.txt", "");
  const std::string out = Start("o\t8192\nsolo\t2\n", "sp\n");
  EXPECT_NE(out.find("Playing...\nTracks are soloed\n"), std::string::npos);
  const auto played = CardOutput();
  EXPECT_EQ(played[0][5000], 0);
  EXPECT_EQ(played[1][5000], TrackSample(5000 - 4096, 1));
}

TEST_F(TransportConsole, RecordOnlyTakesHoldTheCapturedFramesExactly) {
  CardInput(40000);
  session.Write("play.txt", "");
  session.Write("record.txt", "one.wav\ntwo.wav\n");
  const std::string out = Start("e\t10240\no\t15240\n", "R\n");
  const std::vector<std::string> takes = Matching("audio_ch_[12]_[0-9]+_stp_10240\\.wav");
  ASSERT_EQ(takes.size(), 2u);
  // The take is 5120 frames (the stop is rounded up to 15360); two blocks and one more are
  // captured, so the peaks cover frames up to 12287.
  EXPECT_NE(out.find("Recording...\n\n\n\nInput Channel Peaks:\n\tchannel 1: " + Db(12288 * 256 + 1) +
                     " dBFS\n\tchannel 2: " + Db(12288 * 256 + 2) + " dBFS\n"),
            std::string::npos)
      << out;
  for (int k = 0; k < 2; ++k) {
    const Bytes take = ReadBytes(session / takes[static_cast<std::size_t>(k)]);
    ASSERT_EQ(take.size(), 44u + 5120 * 3);
    EXPECT_EQ(Field32(take, 4), 36u + 5120 * 3);
    EXPECT_EQ(Field32(take, 40), 5120u * 3);
    const std::vector<std::int32_t> samples = Unpack24(std::span<const unsigned char>(take).subspan(44));
    for (std::size_t j = 0; j < samples.size(); ++j)
      ASSERT_EQ(samples[j], InputSample(static_cast<std::int64_t>(j), k));
    // An independent reader sees the same samples.
    const CommandResult sox =
        RunCommand({"sox", (session / takes[static_cast<std::size_t>(k)]).string(), "-t", "s24", "-"});
    ASSERT_EQ(sox.status, 0) << sox.err;
    EXPECT_EQ(Unpack24(std::span<const unsigned char>(reinterpret_cast<const unsigned char*>(sox.out.data()),
                                                      sox.out.size())),
              samples);
  }
}

TEST_F(TransportConsole, PeriodsThatDoNotDivideTheBlockRecordToo) {
  CardInput(40000);
  session.Write("play.txt", "");
  session.Write("record.txt", "one.wav\n");
  session.Write("param.txt", SimCardParams(2, 2, 2, 1000) + "int\t0\nclock\thc\nmeter\t0\no\t9000\n");
  const RunResult run = session.Run("R\n");
  ASSERT_EQ(run.status, 0);
  const std::vector<std::string> takes = Matching("audio_ch_1_[0-9]+\\.wav");
  ASSERT_EQ(takes.size(), 1u);
  const std::vector<std::int32_t> samples =
      Unpack24(std::span<const unsigned char>(ReadBytes(session / takes[0])).subspan(44));
  ASSERT_EQ(samples.size(), 9000u);
  for (std::size_t j = 0; j < samples.size(); ++j) ASSERT_EQ(samples[j], InputSample(static_cast<std::int64_t>(j), 0));
}

TEST_F(TransportConsole, StopTimeChecksCancelTheRecording) {
  session.Write("play.txt", "");
  session.Write("record.txt", "one.wav\n");
  const std::string zero = "Play: 0.00   Rec: 0.00   Stop: 0.00   Mem: 0.00\n";
  EXPECT_EQ(Start("", "R\nx\nc\nc\n"),
            zero + ">> Stop time is not set!\nEnter 'c' to continue and fix\n" +
                "\n>> Stop time is the same as record start!\nEnter 'c' to continue and fix\n" + zero);
  const std::string before = "Play: 0.00   Rec: 1.00   Stop: 0.00   Mem: 0.00\n";
  EXPECT_EQ(Start("e\t48000\n", "r\nc\nc\n"),
            before + ">> Stop time is not set!\nEnter 'c' to continue and fix\n" +
                "\n>> Stop time is set before record start!\nEnter 'c' to continue and fix\n" + before);
  // A stop further than a take can hold: whole periods beyond 1431655753 frames.
  const std::string far = "Play: 0.00   Rec: 0.00   Stop: 29826.18   Mem: 0.00\n";
  EXPECT_EQ(Start("o\t1431656448\n", "R\nc\n"),
            far + "\n>> Stop time is too far after record start: a take holds at most 8:17:06.16 at 48000 Hz " +
                "(1431655753 frames)!\nEnter 'c' to continue and fix\n" + far);
  EXPECT_TRUE(Matching(".*\\.wav").empty()) << "no take was made";
}

TEST_F(TransportConsole, RecordWithPlaybackRaisesTheRecordStartForGood) {
  CardInput(100000);
  Track("t1.wav", 100000, 0);
  session.Write("play.txt", "t1.wav\n");
  session.Write("record.txt", "one.wav\n-\n");
  Start("i\t20480\ne\t10240\no\t30720\n", "r\nstp\ns\n");
  EXPECT_NE(Saved().find("\ni\t20480\no\t30720\ne\t20480\n"), std::string::npos);
  ASSERT_EQ(Matching("audio_ch_1_[0-9]+_stp_20480\\.wav").size(), 1u);
  EXPECT_TRUE(Matching("audio_ch_2_.*").empty()) << "a skipped input records nothing";
}

TEST_F(TransportConsole, RunTitlesAndPointsInBothTimeModes) {
  CardInput(100000);
  Track("t1.wav", 100000, 0);
  session.Write("play.txt", "t1.wav\n");
  session.Write("record.txt", "one.wav\n");
  // "stp" answers the take menu after each recording and keeps the takes as they are.
  std::string out = Start("i\t24576\ne\t49152\no\t98304\n", "p\nR\nstp\nr\nstp\n", true);
  EXPECT_NE(out.find("Playing...\nplayback start = 0.51 sec\nplayback stop  = 2.05 sec\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Recording...\nrecord start   = 1.02 sec\nrecord stop    = 2.05 sec\n"), std::string::npos);
  EXPECT_NE(out.find("Playing and Recording...\nplayback start = 0.51 sec\nrecord start   = 1.02 sec\n"
                     "play/rec stop  = 2.05 sec\n"),
            std::string::npos);
  out = Start("tmode\t1\ni\t48000\ne\t96000\no\t144000\nbuf\t128\n", "p\nR\n", true);
  EXPECT_NE(out.find("Playing...\nplayback start = 1.3.00\nplayback stop  = 2.3.00\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Recording...\nrecord start   = 2.1.00\nrecord stop    = 2.3.00\n"), std::string::npos);
}

TEST_F(TransportConsole, RecordFromThePlayStartWithPreroll) {
  CardInput(200000);
  Track("t1.wav", 200000, 0);
  session.Write("play.txt", "t1.wav\n");
  session.Write("record.txt", "one.wav\n");
  // One second of preroll is 47 periods (48128 frames) before the play start.
  const std::string out = Start("proll\t1.0\ni\t98304\ne\t4096\no\t108544\n", "ri\nstp\ns\n", true);
  EXPECT_NE(out.find("Playing and Recording...\nplayback start = 1.05 sec\nrecord start   = 2.05 sec\n"
                     "play/rec stop  = 2.26 sec\n"),
            std::string::npos)
      << out;
  EXPECT_NE(Saved().find("\ni\t98304\no\t108544\ne\t4096\n"), std::string::npos) << "both points come back";
  const std::vector<std::string> takes = Matching("audio_ch_1_[0-9]+_stp_98304\\.wav");
  ASSERT_EQ(takes.size(), 1u);
  EXPECT_EQ(ReadBytes(session / takes[0]).size(), 44u + 10240 * 3);
}

TEST_F(TransportConsole, PrerollLongerThanThePlayStartPlaysFromZero) {
  CardInput(100000);
  session.Write("play.txt", "");
  session.Write("record.txt", "one.wav\n");
  const std::string out = Start("proll\t2.0\ni\t24576\no\t49152\n", "ri\n", true);
  EXPECT_NE(out.find("playback start = 0.00 sec\nrecord start   = 0.51 sec\n"), std::string::npos) << out;
}

TEST_F(TransportConsole, RecordFromThePlayStartPutsPointsBackWhenCancelled) {
  session.Write("play.txt", "");
  session.Write("record.txt", "one.wav\n");
  // No stop: both checks are shown, each waiting for "c".
  Start("proll\t0.5\ni\t98304\ne\t4096\n", "ri\nc\nc\ns\n");
  EXPECT_NE(Saved().find("\ni\t98304\no\t0\ne\t4096\n"), std::string::npos) << Saved();
}

TEST_F(TransportConsole, AuditionsPutThePointsBack) {
  Track("t1.wav", 200000, 0);
  session.Write("play.txt", "t1.wav\n");
  session.Write("record.txt", "");
  const std::string out = Start("aud\t0.5\ni\t49152\ne\t73728\no\t98304\n", "ai\nao\nae\ns\n", true);
  EXPECT_NE(out.find("Playing...\nplayback start = 1.02 sec\nplayback stop  = 1.52 sec\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Playing...\nplayback start = 2.05 sec\nplayback stop  = 2.55 sec\n"), std::string::npos);
  EXPECT_NE(out.find("Playing...\nplayback start = 1.54 sec\nplayback stop  = 2.04 sec\n"), std::string::npos);
  EXPECT_NE(Saved().find("\ni\t49152\no\t98304\ne\t73728\n"), std::string::npos);
}

TEST_F(TransportConsole, InputMonitor) {
  CardInput(200000);
  session.Write("play.txt", "");
  session.Write("record.txt", "-\ntwo.wav\n");
  const std::string zero = "Play: 0.00   Rec: 0.00   Stop: 0.00   Mem: 0.00\n";
  // One second: 51 periods, a line after every 16 periods (16384 frames). Each shows the loudest
  // sample of each input since the monitor began.
  const auto heldDb = [](std::int64_t lastFrame, int k) {
    std::int64_t loudest = 0;
    for (std::int64_t j = 0; j <= lastFrame; ++j) loudest = std::max<std::int64_t>(loudest, -InputSample(j, k));
    return std::to_string(static_cast<int>(std::lround(-20.0 * std::log10(8388607.0 / static_cast<double>(loudest)))));
  };
  std::string lines;
  for (int line = 1; line <= 3; ++line) {
    lines += "\r(1/" + heldDb(line * 16384 - 1, 0) + ") (2/" + heldDb(line * 16384 - 1, 1) + ")   ";
  }
  EXPECT_EQ(Start("", "ma\n1\ns\n"), zero + "Enter monitor time in seconds.\n\nMonitoring Input Peaks...\n" + lines +
                                         "\n" + zero + "\nStored Settings\n" + zero);
  EXPECT_NE(Saved().find("\no\t0\n"), std::string::npos) << "the stop comes back after the monitor";
}

TEST_F(TransportConsole, MonitorOfTheArmedInputsOnly) {
  CardInput(200000);
  session.Write("play.txt", "");
  session.Write("record.txt", "-\ntwo.wav\n");
  const std::string out = Start("", "mr\n0.3\n");
  // 0.3 s: 18 periods; one line, with input 2 only, then a space per input channel.
  EXPECT_NE(out.find("Monitoring Input Peaks...\n\r(2/-6)   \n"), std::string::npos) << out;
}

TEST_F(TransportConsole, MonitorWithNoArmedInput) {
  CardInput(200000);
  session.Write("play.txt", "");
  session.Write("record.txt", "");
  const std::string out = Start("", "mr\n0.3\n");
  EXPECT_NE(out.find("Monitoring Input Peaks...\n\r  \n"), std::string::npos) << out;
}

TEST_F(TransportConsole, NoXrunsNoCounts) {
  Track("t1.wav", 20000, 0);
  session.Write("play.txt", "t1.wav\n");
  session.Write("record.txt", "");
  const std::string out = Start("o\t8192\n", "p\n");
  EXPECT_EQ(out.find("Underruns"), std::string::npos);
  EXPECT_EQ(out.find("Overruns"), std::string::npos);
}

TEST_F(TransportConsole, TakeNamesFromTheRecordListAndTheirConflicts) {
  CardInput(200000);
  session.Write("play.txt", "");
  session.Write("record.txt", "guitar.wav\nbass\n");
  const std::string conflict =
      "Enter a different take name or 'w' to overwrite this file\n"
      "or 'W' to overwrite all similar conflicts\n";
  std::string out = Start("o\t4096\n", "R_take1\nR_take1\nw\nsecond\nR_take1\nW\nR_\nR\n");
  EXPECT_NE(out.find("Recording...\n\n\n\nInput Channel Peaks:"), std::string::npos);
  EXPECT_NE(out.find("The file named guitar_take1.wav already exists!\n" + conflict +
                     "The file named bass_take1.wav "
                     "already exists!\n" +
                     conflict + "Recording...\n"),
            std::string::npos)
      << out;
  // After "W" no question is asked for the second file of the same pass.
  EXPECT_NE(out.find("The file named guitar_take1.wav already exists!\n" + conflict + "Recording...\n"),
            std::string::npos);
  for (const char* name : {"guitar_take1.wav", "bass_take1.wav", "bass_second.wav", "guitar_.wav", "bass_.wav"}) {
    EXPECT_TRUE(session.Exists(name)) << name;
  }
  EXPECT_FALSE(session.Exists("guitar_second.wav")) << "a new take name is for that channel and those after it";
  // The take name was for its command only: the last "R" names its takes automatically.
  EXPECT_EQ(Matching("audio_ch_[12]_[0-9]+\\.wav").size(), 2u);
}

TEST_F(TransportConsole, TakeNamesCarryTheRecordStart) {
  CardInput(200000);
  session.Write("play.txt", "");
  session.Write("record.txt", "vox.wav\n-\n");
  Start("e\t10240\no\t20480\n", "R_v2\nr_v3\n");
  EXPECT_TRUE(session.Exists("vox_v2_stp_10240.wav"));
  EXPECT_TRUE(session.Exists("vox_v3_stp_10240.wav"));
}

TEST_F(TransportConsole, AutomaticNamesNeverReplaceAnEarlierTake) {
  CardInput(200000);
  session.Write("play.txt", "");
  session.Write("record.txt", "one.wav\n");
  // "pad" keeps takes recorded from 0 under their names.
  Start("o\t4096\n", "R\npad\nR\npad\nR\npad\n");
  EXPECT_EQ(Matching("audio_ch_1_[0-9]+\\.wav").size(), 3u) << "three runs within a second or two keep three takes";
}

TEST_F(TransportConsole, TakeThatCannotBeCreatedIsLeftOut) {
  CardInput(200000);
  session.Write("play.txt", "");
  session.Write("record.txt", "missing-folder/a.wav\nb.wav\n");
  const std::string out = Start("o\t4096\n", "R_x\n");
  EXPECT_NE(out.find("Can't open missing-folder/a_x.wav for recording\nRecording...\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Input Channel Peaks:\n\tchannel 2: "), std::string::npos);
  EXPECT_EQ(out.find("\tchannel 1: "), std::string::npos);
  EXPECT_TRUE(session.Exists("b_x.wav"));
}

TEST_F(TransportConsole, FailedTakeWritesAreReportedOnceAndTheAudioKept) {
  CardInput(200000);
  session.Write("play.txt", "");
  session.Write("record.txt", "a.wav\nb.wav\n");
  session.Write("param.txt", SimCardParams(2, 2, 2, 1024) + "int\t0\nclock\thc\nmeter\t0\no\t40960\n");
  const RunResult run = session.Run("R_t\n", std::chrono::seconds(120), 20000);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("\nCan't write to a_t.wav: File too large\n\nCan't write to b_t.wav: File too large\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("Can't write to a_t.wav", run.out.find("Can't write to a_t.wav") + 1), std::string::npos)
      << "reported once";
  // What was written before the limit is kept.
  EXPECT_EQ(ReadBytes(session / "a_t.wav").size(), 20000u);
  const std::vector<std::int32_t> kept =
      Unpack24(std::span<const unsigned char>(ReadBytes(session / "a_t.wav")).subspan(44));
  for (std::size_t j = 0; j < kept.size(); ++j) ASSERT_EQ(kept[j], InputSample(static_cast<std::int64_t>(j), 0));
}

TEST_F(TransportConsole, ARecordingThatWouldRecordNothingIsCancelledBeforeItStarts) {
  CardInput(50000);
  Track("t1.wav", 20000, 0);
  session.Write("play.txt", "t1.wav\n");
  session.Write("card-out.raw", "");
  struct Case {
    const char* recordList;
    const char* word;
    std::optional<long> fileSizeLimit;  // room for no take header
    std::string message;
  };
  const std::string nothingArmed =
      "No input is armed in record.txt, so nothing would be recorded: the recording is cancelled.\n";
  const std::string noTakes =
      "No take could be created for the inputs armed in record.txt: the recording is cancelled.\n";
  const Case cases[] = {
      {"-\n-\n", "R", std::nullopt, nothingArmed},
      {"", "r", std::nullopt, nothingArmed},
      {"-\n-\nbeyond-the-inputs.wav\n", "ri", std::nullopt, nothingArmed},
      {"no-dir/a.wav\n-\n", "R_x", std::nullopt, "Can't open no-dir/a_x.wav for recording\n" + noTakes},
      {"a.wav\nb.wav\n", "r", 40, "Can't open audio_ch_1_"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.word) + " with " + c.recordList);
    session.Write("record.txt", c.recordList);
    session.Write("param.txt", SimCardParams(2, 2, 2, 1024) + "int\t0\nclock\thc\nmeter\t0\no\t8192\n");
    const std::vector<std::string> before = session.Files();
    last = session.Run(std::string(c.word) + "\n", std::chrono::seconds(120), c.fileSizeLimit);
    EXPECT_EQ(last.status, 0) << last.err;
    const std::string out = AfterDriverReport(last.out);
    const std::string status = "Play: 0.00   Rec: 0.00   Stop: 0.17   Mem: 0.00\n";
    EXPECT_TRUE(out.starts_with(status + c.message)) << out;
    EXPECT_TRUE(out.ends_with(noTakes + status) || out.ends_with(nothingArmed + status)) << "the prompt returns";
    EXPECT_EQ(out.find("Recording"), std::string::npos) << "no run and no take menu";
    EXPECT_EQ(ReadBytes(session / "card-out.raw").size(), 0u) << "nothing played";
    EXPECT_EQ(session.Files(), before) << "no take left behind";
  }
}

TEST_F(TransportConsole, ARecordingFromACardThatDeliversNothingEndsAtASignalOrAfterFiveSeconds) {
  // The card's input is a FIFO that nobody feeds: the capture waits for ever. Ctrl-C, SIGTERM
  // and SIGHUP end the run within a second all the same; without a signal the card is gone
  // after five silent seconds. The take is a valid, empty wave file either way.
  struct Case {
    int signal;  // 0: none
    std::string ends;
  };
  const Case cases[] = {
      {SIGINT, "Recording finished.  Enter a take handling command."},
      {SIGTERM, "Session ended by signal 15 (Terminated)\n"},
      {SIGHUP, "Session ended by signal 1 (Hangup)\n"},
      {0, "\nRecording on tapeloom_sim stopped working: nothing came from the card for 5 seconds\n"},
  };
  session.Write("play.txt", "");
  session.Write("record.txt", "a.wav\n");
  session.Write("param.txt", SimCardParams(2, 2, 2, 1024) + "int\t0\nclock\thc\nmeter\t0\no\t480256\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "signal " << c.signal);
    for (const std::string& name : Matching("audio_ch_.*")) std::filesystem::remove(session / name);
    std::filesystem::remove(session / "card-in.raw");
    ASSERT_EQ(::mkfifo((session / "card-in.raw").c_str(), 0600), 0);
    int fifo = -1;
    using Clock = std::chrono::steady_clock;
    std::optional<Clock::time_point> recording;
    std::optional<Clock::time_point> signalled;
    std::optional<Clock::time_point> ended;
    const RunResult run = session.RunLive("R\n", [&](pid_t pid, const std::string& out) {
      if (fifo < 0) fifo = ::open((session / "card-in.raw").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      // The take exists once the run is set up; the capture is waiting soon after.
      if (!recording && !Matching("audio_ch_1_[0-9]+\\.wav").empty()) recording = Clock::now();
      if (recording && !signalled && c.signal != 0 && Clock::now() - *recording > std::chrono::milliseconds(500)) {
        signalled = Clock::now();
        ::kill(pid, c.signal);
      }
      if (!ended && out.find(c.ends) != std::string::npos) {
        ended = Clock::now();
        if (c.signal == SIGINT || c.signal == 0) ::kill(pid, SIGTERM);  // the take menu waits
      }
    });
    // The program may have ended between two looks at what it printed.
    if (!ended && run.out.find(c.ends) != std::string::npos) ended = Clock::now();
    if (fifo >= 0) ::close(fifo);
    ASSERT_TRUE(ended) << run.out;
    if (c.signal != 0) {
      ASSERT_TRUE(signalled);
      EXPECT_LT(*ended - *signalled, std::chrono::seconds(1)) << "the run ends within a second";
      EXPECT_EQ(run.out.find("stopped working"), std::string::npos) << run.out;
    }
    EXPECT_EQ(run.status, 128 + SIGTERM + (c.signal == SIGHUP ? SIGHUP - SIGTERM : 0));
    const std::vector<std::string> takes = Matching("audio_ch_1_[0-9]+\\.wav");
    ASSERT_EQ(takes.size(), 1u);
    const Bytes take = ReadBytes(session / takes[0]);
    ASSERT_EQ(take.size(), 44u) << "nothing captured";
    EXPECT_EQ(Field32(take, 40), 0u);
    EXPECT_EQ(RunCommand({"sox", (session / takes[0]).string(), "-n", "stat"}).status, 0);
  }
}

TEST_F(TransportConsole, ATakeStoppedByASignalIsAValidWaveFileOfWhatItHolds) {
  // The card's input is a FIFO that the test feeds: the recording runs as far as the frames
  // given, the test waits until the take holds them and signals the program there. A kill
  // leaves a valid wave file whose header is at most a second behind. Ctrl-C, SIGTERM and
  // SIGHUP stop the run as if its stop were there: one more period is fed (the run may be
  // waiting for it), and the take holds exactly the frames the program read and says so.
  // After Ctrl-C the take menu follows; the other two end the session, the take kept as it is.
  struct Case {
    int signal;
    int periods;
  };
  const Case cases[] = {{SIGKILL, 4}, {SIGKILL, 24}, {SIGKILL, 64}, {SIGINT, 8}, {SIGTERM, 12}, {SIGHUP, 4}};
  session.Write("play.txt", "");
  session.Write("record.txt", "a.wav\n-\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "signal " << c.signal << " after " << c.periods << " periods");
    for (const std::string& name : Matching("audio_ch_.*")) std::filesystem::remove(session / name);
    std::filesystem::remove(session / "card-in.raw");
    ASSERT_EQ(::mkfifo((session / "card-in.raw").c_str(), 0600), 0);
    std::vector<std::int32_t> frames;
    for (std::int64_t j = 0; j < (c.periods + 1) * 1024; ++j) {
      frames.push_back(InputSample(j, 0));
      frames.push_back(InputSample(j, 1));
    }
    const Bytes input = Pack24(frames);
    const std::size_t blocks = static_cast<std::size_t>(c.periods * 1024 / 4096);
    const std::size_t given = static_cast<std::size_t>(c.periods) * 1024 * 2 * 3;
    std::size_t sent = 0;
    int fifo = -1;
    bool signalled = false;
    session.Write("param.txt", SimCardParams(2, 2, 2, 1024) + "int\t0\nclock\thc\nmeter\t0\no\t480256\n");
    const RunResult run = session.Run("R\n", std::chrono::seconds(60), std::nullopt, [&](pid_t pid) {
      if (fifo < 0) {
        fifo = ::open((session / "card-in.raw").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        // Room for all the frames, written at once: the card reads whole periods, never a
        // part of one that is still being written.
        if (fifo >= 0) {
          ASSERT_GE(::fcntl(fifo, F_SETPIPE_SZ, 1 << 20), static_cast<int>(input.size()));
        }
      }
      if (fifo < 0) return;
      if (sent < given) {
        ASSERT_EQ(::write(fifo, input.data(), given), static_cast<ssize_t>(given));
        sent = given;
        return;
      }
      if (signalled) {
        // One more period, once: the run may be waiting for it.
        if (c.signal != SIGKILL && sent < input.size()) {
          ASSERT_EQ(::write(fifo, input.data() + sent, input.size() - sent), static_cast<ssize_t>(input.size() - sent));
          sent = input.size();
        }
        return;
      }
      const std::vector<std::string> takes = Matching("audio_ch_1_[0-9]+\\.wav");
      if (!takes.empty() && std::filesystem::file_size(session / takes[0]) >= 44 + blocks * 4096 * 3) {
        ::kill(pid, c.signal);
        signalled = true;
      }
    });
    // What the card was given and the program did not read is still in the FIFO: the signal
    // may come while the run waits for the next period (which is then fed and captured) or
    // just before it reads it.
    std::size_t unread = 0;
    if (const int reader = ::open((session / "card-in.raw").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); reader >= 0) {
      char buffer[65536];
      for (ssize_t n = 0; (n = ::read(reader, buffer, sizeof buffer)) > 0;) unread += static_cast<std::size_t>(n);
      ::close(reader);
    }
    if (fifo >= 0) ::close(fifo);
    ASSERT_TRUE(signalled);
    EXPECT_EQ(run.status, c.signal == SIGINT ? 0 : 128 + c.signal);
    const std::vector<std::string> takes = Matching("audio_ch_1_[0-9]+\\.wav");
    ASSERT_EQ(takes.size(), 1u);
    const Bytes take = ReadBytes(session / takes[0]);
    const std::uint32_t announced = Field32(take, 40);
    EXPECT_EQ(Field32(take, 4), announced + 36);
    const std::vector<std::int32_t> held = Unpack24(std::span<const unsigned char>(take).subspan(44));
    if (c.signal == SIGKILL) {
      // The header says what the take held at its last update, at most a second of audio ago;
      // never more than it holds.
      EXPECT_LE(announced, take.size() - 44);
      EXPECT_LT(take.size() - 44 - announced, 48000u * 3 + 4096 * 3) << announced;
      EXPECT_EQ(announced % (4096 * 3), 0u) << "whole blocks";
      ASSERT_EQ(held.size(), blocks * 4096);
    } else {
      // Exactly the frames captured.
      ASSERT_EQ(unread % 6, 0u);
      ASSERT_EQ(held.size(), (sent - unread) / 6);
      EXPECT_GE(held.size(), static_cast<std::size_t>(c.periods) * 1024);
      EXPECT_EQ(announced, held.size() * 3);
      const bool menu = run.out.find("Enter a take handling command.") != std::string::npos;
      EXPECT_EQ(menu, c.signal == SIGINT) << run.out;
      if (c.signal != SIGINT) {
        EXPECT_TRUE(run.out.ends_with("The takes of the last recording stay on disk as they are:\n   " + takes[0] +
                                      "\n\nSession ended by signal " + std::to_string(c.signal) + " (" +
                                      strsignal(c.signal) + ")\n"))
            << run.out;
      }
    }
    for (std::size_t j = 0; j < held.size(); ++j) ASSERT_EQ(held[j], InputSample(static_cast<std::int64_t>(j), 0));
    const CommandResult sox = RunCommand({"sox", (session / takes[0]).string(), "-n", "stat"});
    EXPECT_EQ(sox.status, 0);
    EXPECT_EQ(sox.err.find("WARN"), std::string::npos) << sox.err;
  }
}

TEST_F(TransportConsole, ATakeKilledAtRandomMomentsOfAPacedRecordingIsAlwaysAValidWaveFile) {
  // The FIFO card is fed one period per tick of the test (about a millisecond), as a card
  // paces a recording, and the program is killed at a random tick: in the middle of a block,
  // of a header update, or before the take exists. Whatever is on disk then is a wave file
  // that announces no more than it holds, at most a second (and a block) behind it, of the
  // frames captured in order.
  session.Write("play.txt", "");
  session.Write("record.txt", "a.wav\n");
  std::mt19937 random(20261207);
  const int ticks[] = {1, 3, 9, 17, 29, 41, 60, 75, 90, 120, 150, 200};
  for (const int base : ticks) {
    const int killAt = base + static_cast<int>(random() % 7);
    SCOPED_TRACE(testing::Message() << "killed at tick " << killAt);
    for (const std::string& name : Matching("audio_ch_.*")) std::filesystem::remove(session / name);
    std::filesystem::remove(session / "card-in.raw");
    ASSERT_EQ(::mkfifo((session / "card-in.raw").c_str(), 0600), 0);
    std::vector<std::int32_t> frames;
    for (std::int64_t j = 0; j < 1024; ++j) frames.push_back(InputSample(j, 0));
    session.Write("param.txt", SimCardParams(1, 1, 1, 1024) + "int\t0\nclock\thc\nmeter\t0\no\t480256\n");
    int fifo = -1;
    int tick = 0;
    std::int64_t fed = 0;
    const RunResult run = session.Run("R\n", std::chrono::seconds(60), std::nullopt, [&](pid_t pid) {
      if (fifo < 0) fifo = ::open((session / "card-in.raw").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (fifo < 0 || tick > killAt) return;
      if (++tick > killAt) {
        ::kill(pid, SIGKILL);
        return;
      }
      // The next period, its frames numbered on from the last.
      for (std::int64_t j = 0; j < 1024; ++j) frames[static_cast<std::size_t>(j)] = InputSample(fed + j, 0);
      const Bytes period = Pack24(frames);
      if (::write(fifo, period.data(), period.size()) == static_cast<ssize_t>(period.size())) fed += 1024;
    });
    if (fifo >= 0) ::close(fifo);
    EXPECT_EQ(run.status, 128 + SIGKILL);
    const std::vector<std::string> takes = Matching("audio_ch_1_[0-9]+\\.wav");
    ASSERT_LE(takes.size(), 1u);
    if (takes.empty()) continue;  // killed before the take was made
    const Bytes take = ReadBytes(session / takes[0]);
    ASSERT_GE(take.size(), 44u);
    const std::uint32_t announced = Field32(take, 40);
    EXPECT_EQ(Field32(take, 4), announced + 36);
    EXPECT_LE(announced, take.size() - 44);
    EXPECT_LT(take.size() - 44 - announced, 48000u * 3 + 4096 * 3);
    const std::vector<std::int32_t> held = Unpack24(std::span<const unsigned char>(take).subspan(44, announced));
    EXPECT_LE(static_cast<std::int64_t>(held.size()), fed);
    for (std::size_t j = 0; j < held.size(); ++j) ASSERT_EQ(held[j], InputSample(static_cast<std::int64_t>(j), 0));
    const CommandResult sox = RunCommand({"sox", (session / takes[0]).string(), "-n", "stat"});
    EXPECT_EQ(sox.status, 0);
    EXPECT_EQ(sox.err.find("WARN"), std::string::npos) << sox.err;
  }
}

TEST_F(TransportConsole, ExitAsksForAListThatHasGoneMissing) {
  session.Write("play.txt", "");
  session.Write("record.txt", "");
  const std::string zero = "Play: 0.00   Rec: 0.00   Stop: 0.00   Mem: 0.00\n";
  EXPECT_EQ(Start("rec\t1\ttakes.txt\n", "x\nstill-missing.txt\nrecord.txt\n"),
            zero + "Cannot find recordlist file called takes.txt\nCreate the file or enter a different name\n" +
                "Cannot find recordlist file called still-missing.txt\nCreate the file or enter a different name\n");
  EXPECT_EQ(last.status, 0);
  Start("rec\t1\ttakes.txt\n", "x\n");
  EXPECT_EQ(last.status, 0) << "the end of input ends the question too";
}

TEST_F(TransportConsole, TheThreadThatDrivesTheCardTouchesNoWaveFileDuringARun) {
  // Seen from outside: the program traced, each thread's calls in a file of their own. From the
  // run's first capture to its last, the thread that drives the card makes no call on a wave
  // file, by descriptor or by name; the tracks' reads and the takes' writes are all the disk
  // worker's, in another thread.
  if (ConsoleSession::Emulated()) GTEST_SKIP() << "a tracer sees the emulator's calls, not the program's";
  if (RunCommand({"strace", "-V"}).status != 0) GTEST_SKIP() << "strace is not installed";
  Track("t1.wav", 300000, 0);
  Track("t2.wav", 300000, 1);
  CardInput(400000);
  session.Write("play.txt", "t1.wav\nt2.wav\n");
  session.Write("record.txt", "a.wav\nb.wav\n");
  session.Write("param.txt", SimCardParams(2, 2, 2, 1024) + "int\t0\nclock\thc\nmeter\t0\ne\t48000\no\t240000\n");
  const std::filesystem::path trace = session.dir().parent_path() / "trace";
  // A leak check cannot run under a tracer; this run is about the calls, not the leaks.
  const RunResult run =
      session.RunUnder({"env", "ASAN_OPTIONS=detect_leaks=0", "strace", "-f", "-ff", "-y", "-qq", "-s", "64", "-e",
                        "trace=%file,%desc,fsync,fdatasync,sync_file_range", "-o", trace.string(), "--"},
                       "r_t\n");
  if (run.status != 0 && run.err.find("ptrace") != std::string::npos) GTEST_SKIP() << "no tracing here: " << run.err;
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_NE(run.out.find("Input Channel Peaks:"), std::string::npos) << run.out;
  const std::regex waveFile("<[^>]*\\.wav>|\"[^\"]*\\.wav\"");
  const std::regex cardTransfer("read\\([0-9]+<[^>]*card-in\\.raw>");
  int threads = 0;
  int workerWaveCalls = 0;
  for (const auto& entry : std::filesystem::directory_iterator(trace.parent_path())) {
    if (entry.path().filename().string().rfind("trace.", 0) != 0) continue;
    ++threads;
    const std::string calls = ReadFileBytes(entry.path());
    // The run's captures: the simulated card reads what it captures from a file (and writes
    // what it plays into another, also when the session ends).
    std::vector<std::size_t> transfers;
    for (std::sregex_iterator it(calls.begin(), calls.end(), cardTransfer), end; it != end; ++it) {
      transfers.push_back(static_cast<std::size_t>(it->position()));
    }
    if (transfers.empty()) {
      for (std::sregex_iterator it(calls.begin(), calls.end(), waveFile), end; it != end; ++it) ++workerWaveCalls;
      continue;
    }
    EXPECT_GT(transfers.size(), 100u);
    const std::string during = calls.substr(transfers.front(), transfers.back() - transfers.front());
    std::smatch call;
    EXPECT_FALSE(std::regex_search(during, call, waveFile)) << "the card's thread called: " << call.str();
  }
  EXPECT_EQ(threads, 2) << "the console's thread and the disk worker";
  EXPECT_GT(workerWaveCalls, 4) << "the worker read the tracks and wrote the takes";
}

}  // namespace
}  // namespace tapeloom::test
