// The settings dialogues and the list and solo commands at the real prompt: their texts, their
// limits, what they leave saved, and their effect on the next run.
#include <gtest/gtest.h>

#include <cmath>
#include <regex>

#include "support/console_harness.h"
#include "support/wave_builder.h"

namespace tapeloom::test {
namespace {

class SettingsConsole : public ConsoleTest {
 protected:
  // The short status line, no clock and no meter unless the settings say otherwise; every
  // dialogue is followed by "s" so that what it set is saved.
  std::string Run(const std::string& settings, const std::string& input, bool full = false) {
    return Prompt(SimCardParams(2, 2, 8, 1024) + (full ? "" : "int\t0\n") + "clock\thc\n" + settings, input + "s\n");
  }
  // The value saved under a key, as its line holds it.
  std::string SavedValue(const std::string& key) {
    // The match points into the text searched: it must outlive the match.
    const std::string saved = Saved();
    std::smatch found;
    if (!std::regex_search(saved, found, std::regex("\n" + key + "\t([^\n]*)\n"))) return "(missing)";
    return found[1].str();
  }
};

const std::string kStatus = "Play: 0.00   Rec: 0.00   Stop: 0.00   Mem: 0.00\n";

TEST_F(SettingsConsole, OptionsPageAndItsWords) {
  const auto page = [](const char* clock, const char* peaks, const char* interface) {
    return std::string("\nOptions:\nClock: (now set to ") + clock +
           ")\n\n  'sc' to stream clock\n  'uc' to unstream clock (default)\n  'hc' to hide clock\n"
           "\nPeaks: (now set to " +
           peaks +
           ")\n\n  'cp' to check peaks while recording (default)\n  'np' for no peak checking while recording\n"
           "\nInterface: (now set to " +
           interface +
           ")\n\n  'int0' for minimal interface\n  'int1' for default interface\n\n"
           "  'd' if done changing options\n";
  };
  const std::string out = Run("", "opt\nsc\nnp\nzz\nint1\nuc\nint0\nd\n");
  EXPECT_EQ(out.substr(0, out.find("\nStored Settings")),
            kStatus + page("hc", "cp", "int0") + page("sc", "cp", "int0") + page("sc", "np", "int0") +
                page("sc", "np", "int0") + page("sc", "np", "int1") + page("uc", "np", "int1") +
                page("uc", "np", "int0") + kStatus);
  EXPECT_EQ(SavedValue("clock"), "uc");
  EXPECT_EQ(SavedValue("peak"), "np");
  EXPECT_EQ(SavedValue("int"), "0");
  // "int1" takes effect at the next status display: the full one.
  EXPECT_NE(Run("", "opt\nint1\nd\n").find("options\nTime functions:"), std::string::npos);
}

TEST_F(SettingsConsole, TempoMenuLimitsAndMode) {
  const std::string menu = "2 = set tempo (%T)\n3 = set beats per measure (%S)\n4 = done\n";
  struct Case {
    std::string answers;
    std::string tempo, sig, tmode;
  };
  const Case cases[] = {
      {"2\n0.5\n4\n", "120.00", "3", "0"},                                         // below 1: 120
      {"2\n400\n4\n", "400.00", "3", "0"},                                         // the limits themselves are kept
      {"2\n1\n4\n", "1.00", "3", "0"},     {"2\n400.5\n5\n", "120.00", "3", "0"},  // any choice above 3 leaves
      {"2\nnan\n-1\n", "90.00", "3", "0"},                                         // "nan" is no tempo: it stays
      {"3\n0\n4\n", "90.00", "4", "0"},    {"3\n128\n4\n", "90.00", "128", "0"},  {"3\n129\n4\n", "90.00", "4", "0"},
      {"1\n4\n", "90.00", "3", "1"},       {"1\n1\n4\n", "90.00", "3", "0"},  // toggled twice: as it began
      {"x\n0\n1\n9\n", "90.00", "3", "1"},                                    // an unreadable choice is read over
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answers);
    Run("tempo\t90\nsig\t3\n", "tempo\n" + c.answers);
    EXPECT_EQ(SavedValue("tempo"), c.tempo);
    EXPECT_EQ(SavedValue("sig"), c.sig);
    EXPECT_EQ(SavedValue("tmode"), c.tmode);
  }
  // The toggle line comes first and again after each toggle, with the pending mode.
  const std::string out = Run("tempo\t90\nsig\t3\n", "tempo\n1\n2\n100\n4\n");
  EXPECT_EQ(out.substr(0, out.find("\nStored Settings")),
            kStatus + "1 = toggle tempo mode (off)\n2 = set tempo (90.00)\n3 = set beats per measure (3)\n4 = done\n" +
                "1 = toggle tempo mode (on)\n2 = set tempo (90.00)\n3 = set beats per measure (3)\n4 = done\n" +
                "Enter tempo (beats per minute)\n2 = set tempo (100.00)\n3 = set beats per measure (3)\n4 = done\n" +
                "Play: 1.1.00   Rec: 1.1.00   Stop: 1.1.00   Mem: 1.1.00\n");
}

TEST_F(SettingsConsole, SafetyMode) {
  struct Case {
    int safe;
    std::string answers, shown, saved;
  };
  const Case cases[] = {
      {0, "x\n1\n", "Safety mode for replacing files is OFF\nEnter '1' to turn on\n", "1"},
      {1, "0\n", "Safety mode for replacing files is ON\nEnter '0' to turn off\n", "0"},
      {1, "2\n", "Safety mode for replacing files is ON\nEnter '0' to turn off\n", "1"},
      {5, "2\n", "Safety mode for replacing files is OFF\n", "5"},  // no hint, and it stays
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answers);
    const std::string out = Run("safe\t" + std::to_string(c.safe) + "\n", "safe\n" + c.answers);
    const std::string said = c.saved == "1" && c.safe != 1 ? "Safety mode is ON\n"
                             : c.saved == "0"              ? "Safety mode is OFF\n"
                                                           : "";
    EXPECT_EQ(out.substr(0, out.find("\nStored Settings")),
              kStatus + c.shown + "Enter '2' to keep current settings\n" + said + kStatus);
    EXPECT_EQ(SavedValue("safe"), c.saved);
  }
}

TEST_F(SettingsConsole, MeterRange) {
  // What the meter is set to, and the range it then has, shown by the next "mtr" with -6 (which
  // keeps the range in force).
  struct Case {
    std::string start, typed, meter;
  };
  const Case cases[] = {
      {"-30", "-200", "-120"}, {"-30", "-3", "-6"}, {"-30", "0", "0"},   {"-30", "-6", "-30"},
      {"-30", "-7", "-7"},     {"-30", "5", "-6"},  {"-30", "x", "-30"}, {"0", "-6", "0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start + " then " + c.typed);
    const std::string out = Run("meter\t" + c.start + "\n", "mtr\n" + c.typed + "\nmtr\n-6\n");
    EXPECT_NE(out.find("Enter Meter Range -120 to -6 (dB) or 0 = off.  Currently at " + c.start + " dB\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Currently at " + c.meter + " dB\n"), std::string::npos);
    EXPECT_EQ(SavedValue("meter"), c.meter);
  }
}

TEST_F(SettingsConsole, MeterTurnedOnFromOffFalls) {
  // A session that starts with the meter off has no fall step; turned on, the bar must fall
  // again after a loud moment, as it does for a session that starts with the meter on.
  std::vector<std::int32_t> input;
  for (int j = 0; j < 60000; ++j) {
    const std::int32_t level = j < 8192 ? 8000000 : 1000;
    input.push_back(level);
    input.push_back(level);
  }
  WriteBytes(session / "card-in.raw", Pack24(input));
  session.Write("record.txt", "a.wav\n");
  const auto meterLines = [&](const std::string& settings, const std::string& words) {
    const std::string out = Run("clock\tuc\no\t49152\n" + settings, words + "R\ndel\n");
    return out.substr(out.find("Recording..."), out.find("Input Channel Peaks") - out.find("Recording..."));
  };
  EXPECT_EQ(meterLines("meter\t0\n", "mtr\n-30\n"), meterLines("meter\t-30\n", ""));
}

TEST_F(SettingsConsole, AStreamedClockCountsARecordingPeriodByPeriod) {
  // A recording without playback: a clock line at the end of every period read, from the first
  // period to past the stop (49152 frames, 48 periods of 1024).
  session.Write("card-in.raw", std::string(6 * 60000, '\0'));
  session.Write("record.txt", "a.wav\n");
  const std::string out = Run("clock\tsc\nmeter\t0\no\t49152\n", "R\ndel\n");
  const std::size_t from = out.find("Recording...\n");
  ASSERT_NE(from, std::string::npos) << out;
  std::string clock = out.substr(from + 13, out.find("\n\n\nInput Channel Peaks") - from - 13);
  int periods = 0;
  for (std::string expected; clock.starts_with("\nclock = "); clock.erase(0, expected.size())) {
    char line[40];
    ++periods;
    std::snprintf(line, sizeof line, "\nclock = %.2f sec",
                  static_cast<double>(static_cast<float>(1024 * periods) / 48000.0f));
    expected = line;
    ASSERT_TRUE(clock.starts_with(expected)) << "period " << periods << ":" << clock.substr(0, 40);
  }
  EXPECT_EQ(clock, "");
  EXPECT_GE(periods, 48);
}

TEST_F(SettingsConsole, PrerollCrossfadeAndAuditionLengths) {
  struct Case {
    std::string settings, answers, key, saved;
    std::string shown;
  };
  const Case cases[] = {
      {"proll\t0.5\n", "pre\n1.0\n", "proll", "1.000",
       "Preroll is set to 0.500 secs\nEnter new preroll or 'd' for done\n"},
      {"proll\t0.5\n", "pre\n-2\n", "proll", "0.000", ""},
      {"proll\t0.5\n", "pre\nnan\n", "proll", "0.000", ""},
      {"proll\t0.5\n", "pre\nd\n", "proll", "0.500", ""},
      {"xfade\t10\n", "cf\n-5\n-1\n20\n", "xfade", "20.0",
       "Crossfade is currently set to 10.0 milliseconds.\nEnter 'd' if done or enter a new value\n"},
      {"xfade\t10\n", "cf\nabc\n", "xfade", "0.0", ""},
      {"xfade\t10\n", "cf\nd\n", "xfade", "10.0", ""},
      {"aud\t2.5\n", "aa\n4\n", "aud", "4.00", "Enter audition time (currently 2.5 sec)\n"},
      {"aud\t2.5\n", "aa\n0\n", "aud", "0.00", ""},
      {"aud\t2.5\n", "aa\ninf\n", "aud", "2.50", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answers);
    const std::string out = Run(c.settings, c.answers);
    EXPECT_EQ(SavedValue(c.key), c.saved);
    if (!c.shown.empty()) {
      EXPECT_EQ(out.substr(kStatus.size(), c.shown.size()), c.shown);
    }
  }
}

TEST_F(SettingsConsole, NewLengthsActInTheNextRuns) {
  // A new preroll moves the start of an "ri" run: 1 s at 48000 Hz is 47 periods of 1024.
  session.Write("card-in.raw", std::string(3 * 2 * 200000, '\0'));
  session.Write("record.txt", "a.wav\n");
  std::string out = Run("meter\t0\ni\t98304\no\t108544\n", "pre\n1.0\nri\ndel\n", true);
  EXPECT_NE(out.find("playback start = 1.05 sec\nrecord start   = 2.05 sec\n"), std::string::npos) << out;
  // A new audition length: 0.5 s from the play start.
  out = Run("i\t49152\no\t98304\n", "aa\n0.5\nai\n", true);
  EXPECT_NE(out.find("playback start = 1.02 sec\nplayback stop  = 1.52 sec\n"), std::string::npos) << out;
  // "aa" with 0 keeps the length in force: 3 s.
  out = Run("i\t49152\no\t98304\n", "aa\n0\nai\n", true);
  EXPECT_NE(out.find("playback start = 1.02 sec\nplayback stop  = 4.02 sec\n"), std::string::npos) << out;
}

TEST_F(SettingsConsole, ANewCrossfadeChangesTheNextInsertion) {
  // Old audio of 2^20 and a take of the card's input (all 2^21): with 20 ms (960 frames) the
  // insertion's first frame is the old audio, frame 480 half way through the fade.
  std::vector<std::int32_t> old(20000, 1 << 20);
  WriteBytes(session / "a.wav", WaveBuilder().Samples(old).Build());
  std::vector<std::int32_t> input(2 * 20000, 2 << 20);
  WriteBytes(session / "card-in.raw", Pack24(input));
  session.Write("record.txt", "a.wav\n");
  Run("xfade\t0\ne\t4096\no\t12288\n", "cf\n20\nR\nins\n");
  const Bytes a = ReadBytes(session / "a.wav");
  const std::vector<std::int32_t> samples = Unpack24(std::span<const unsigned char>(a).subspan(44));
  ASSERT_EQ(samples.size(), 20000u);
  EXPECT_EQ(samples[4096], 1 << 20) << "the fade starts on the old audio";
  const double theta = 0.5 * 1.570796327;
  EXPECT_EQ(samples[4096 + 480], static_cast<std::int32_t>((1 << 20) * std::cos(theta) + (2 << 20) * std::sin(theta)));
  EXPECT_EQ(samples[4096 + 960], 2 << 20) << "after the fade: the take";
}

TEST_F(SettingsConsole, ListSelection) {
  const std::string choices =
      "Enter a new filename to load\nor enter a number of a file in the list or\n'rem' to remove a file from the "
      "list\n'a'   to add a new file to the list\n'ac'  to add current file to list\n'd'   when done\n";
  // Slot 2 into use; then slot 5 a copy of the list in use; then a new name (not checked).
  std::string out = Run("play\t2\tmix2.txt\n", "pf\n2\n");
  EXPECT_EQ(out.substr(0, out.find("\nStored Settings")),
            kStatus + "Stored playlist filenames:\n1\tplay.txt\n2\tmix2.txt\n" +
                "\nCurrently playing from play.txt\n\n" + choices + "Set to play from mix2.txt\n\n" + kStatus);
  EXPECT_NE(Saved().find("\nplay\t1\tmix2.txt\nplay\t2\tmix2.txt\n"), std::string::npos) << Saved();

  out = Run("", "rf\nac\n5\nd\n");
  EXPECT_NE(out.find("Stored recordlist filenames:\n1\trecord.txt\n\nCurrently recording to record.txt\n\n" + choices +
                     "Enter the list position (1-128)\nSet to record from record.txt\n\n"
                     "Stored recordlist filenames:\n1\trecord.txt\n5\trecord.txt\n"),
            std::string::npos)
      << out;

  struct Case {
    std::string answers, saved;  // the play lines saved
  };
  const std::string longName(300, 'n');
  const Case cases[] = {
      {"b.txt\n", "play\t1\tb.txt\nplay\t2\tmix2.txt\n"},
      {"200\n", "play\t1\t200\nplay\t2\tmix2.txt\n"},  // no slot: a name
      {"0\n", "play\t1\t0\nplay\t2\tmix2.txt\n"},
      {"2b.txt\n", "play\t1\tmix2.txt\nplay\t2\tmix2.txt\n"},  // begins with a slot number
      {"7\n", "play\t2\tmix2.txt\n"},                          // an empty slot empties slot 1
      {"rem\n2\nd\n", "play\t1\tplay.txt\n"},
      {"rem\n129\nd\n", "play\t1\tplay.txt\nplay\t2\tmix2.txt\n"},
      {"a\nx.txt\n128\nd\n", "play\t1\tplay.txt\nplay\t2\tmix2.txt\nplay\t128\tx.txt\n"},
      {"a\n" + longName + "\n3\nd\n", "play\t1\tplay.txt\nplay\t2\tmix2.txt\nplay\t3\t" + longName + "\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answers.substr(0, 20));
    Run("play\t2\tmix2.txt\n", "pf\n" + c.answers);
    const std::string saved = Saved();
    const std::size_t from = saved.find("\nPlaylist Files:\n") + 17;
    EXPECT_EQ(saved.substr(from, saved.find("\n\n", from) + 1 - from), c.saved);
  }
  // "rem" of slot 1 leaves no playlist: the next run asks for one.
  out = Run("", "pf\nrem\n1\nd\np\nplay.txt\n");
  EXPECT_NE(out.find("Set to play from \n\n" + kStatus +
                     "Cannot find playlist file called \n"
                     "Create the file or enter a different name\nPlaying...\n"),
            std::string::npos)
      << out;
}

TEST_F(SettingsConsole, SoloAssignmentsAndSoloedPlay) {
  std::vector<std::int32_t> one(20000, 100), two(20000, 200);
  WriteBytes(session / "t1.wav", WaveBuilder().Samples(one).Build());
  WriteBytes(session / "t2.wav", WaveBuilder().Samples(two).Build());
  session.Write("play.txt", "t1.wav\nt2.wav\n");
  const std::string out = Run("o\t8192\n", "so\na\n1,3,9,x\nzz\nr\n3\nd\nsp\n");
  const std::string prompt = "'a' add, 'r' remove, 'd' done\n";
  const std::string kSoloStatus = "Play: 0.00   Rec: 0.00   Stop: 0.17   Mem: 0.00\n";
  EXPECT_EQ(out.substr(0, out.find("Playing...")),
            kSoloStatus + "Solo Enabled Tracks: (none)\n" + prompt +
                "Enter track number to add, or multiple if comma separated\nSolo Enabled Tracks: 1 3\n" + prompt +
                "Solo Enabled Tracks: 1 3\n" + prompt +
                "Enter track number to remove, or multiple if comma separated\nSolo Enabled Tracks: 1\n" + prompt +
                kSoloStatus);
  EXPECT_NE(out.find("Playing...\nTracks are soloed\n"), std::string::npos);
  // Only track 1 reaches the card; track 2 is silent.
  const std::vector<std::int32_t> played = Unpack24(ReadBytes(session / "card-out.raw"));
  ASSERT_GT(played.size(), 2u * 5000);
  EXPECT_EQ(played[2 * 5000], 100);
  EXPECT_EQ(played[2 * 5000 + 1], 0);
  EXPECT_NE(Saved().find("\nSolo Settings:\nsolo\t1\n\n"), std::string::npos) << Saved();
}

}  // namespace
}  // namespace tapeloom::test
