// The param.txt reader and writer. Reading rules are checked through the writer: a text is
// read, written back, and the lines that matter are looked for, so that one row states a rule.
// Then the written layout, round trips of full sessions, and the safe replacement of the file.
#include <gtest/gtest.h>

#include "app/settings_file.h"
#include "support/file_faults.h"
#include "support/temp_dir.h"
#include "wave/text_file.h"

namespace tapeloom {
namespace {

using namespace std::string_literals;

SessionSettings Read(std::string_view text) {
  SessionSettings s;
  GET_PARAMS(text, s);
  return s;
}

// The range and locate lines of 66 slots each.
std::string SixtySixPoints() {
  std::string text;
  for (int k = 1; k <= 66; ++k) {
    const std::string n = std::to_string(k);
    text += "range\t" + n + "\t" + std::to_string(k + 1000) + "\tr" + n + "\nloc\t" + n + "\tl" + n + "\n";
  }
  return text;
}

TEST(SettingsReader, EachRuleAsTheWriterShowsIt) {
  const std::string n63(63, 'n');
  struct Case {
    std::string text;
    std::vector<std::string> present;  // whole lines of the written text
    std::vector<std::string> absent;   // text that must not be written
    std::string printed = "";
  };
  const Case cases[] = {
      // Words that only some values change; uc and cp are the defaults.
      {"clock\tuc\npeak\tcp\nint\t5\ntmode\t7\nmix\t4\naud\t-2\n",
       {"clock\tuc", "peak\tcp", "int\t1", "tmode\t0", "mix\t0", "aud\t0.00"},
       {}},
      {"clock\thc\nclock\tbogus\nmix\t-1\ntmode\t-1\n", {"clock\thc", "mix\t0", "tmode\t0"}, {}},
      {"inputs\tfour\ntempo\tquick\nint\tnone\n", {"inputs\t0", "tempo\t0.00", "int\t0"}, {}},
      // Not a number keeps the default.
      {"ch\t2\ntempo\tnan\nnudge\tinf\nproll\t-inf\nxfade\tnan\naud\tnan\nv\t1\tnan\np\t2\tinf\nbusvl\t1\tnan\n",
       {"tempo\t120.00", "nudge\t0.2500", "proll\t0.000", "xfade\t0.0", "aud\t3.00", "v\t1\t0.00", "p\t2\t0"},
       {"busvl\t1"}},
      // Track lines need the track count read so far, and stay inside their tables.
      {"v\t3\t-6.00\np\t3\t40\nsolo\t3\nch\t8\n", {"v\t3\t0.00", "p\t3\t0"}, {"solo\t3"}},
      {"ch\t8\nv\t3\t-6.00\np\t3\t-40\nsolo\t3\nv\t0\t-1\n", {"v\t3\t-6.00", "p\t3\t-40", "solo\t3", "v\t1\t0.00"}, {}},
      // A refused value is consumed, not read as a key; so is a slot out of range.
      {"sr\t48000\nv\t3\tsr\t22050\nbusvl\t99\tsr\t8000\n", {"sr\t48000"}, {}},
      {"play\t0\tsr\t22050\n", {"sr\t22050"}, {}},
      {"volume\tsr\t32000\n\nVolume Settings:\nch\t3\n", {"sr\t32000", "ch\t3"}, {}},
      // Values start right after the separator and never come from the next line; keys are
      // case sensitive.
      {"dv\t my card \nplay\t1\t\tx.txt\nsr\n48000\nSR\t96000\nCh\t9\n",
       {"dv\t my card ", "play\t1\t\tx.txt", "sr\t44100", "ch\t-1"},
       {},
       "sr \"\" in param.txt is not a whole number from 8000 to 384000.\nThe sample rate stays at 44100 Hz.\n"},
      // Bus lists: pieces that are no track are skipped, a bus with none stays inactive, a
      // track above the count is taken.
      {"ch\t2\nbus\t2\t1,2,x,300,4,\nbus\t65\t7,\nbus\t1\t\nbus\t3\t256,\nbusvl\t2\t-4.50\nbusvl\t0\t3\n",
       {"bus\t2\t1,2,4,", "bus\t3\t256,", "busvl\t2\t-4.50"},
       {"bus\t1\t", "busvl\t1", "7,"}},
      // List slots 1..128; names may hold spaces.
      {"play\t2\tmix two.txt\nrec\t128\tlast.txt\nplay\t0\tzero.txt\nplay\t129\tbig.txt\n",
       {"play\t1\tplay.txt", "play\t2\tmix two.txt", "rec\t1\trecord.txt", "rec\t128\tlast.txt"},
       {"zero.txt", "big.txt", "play\t3"}},
      // Ranges and locates fill their slots in order; an empty range name is numbered; the last
      // line may end without a line feed; a range at 0 0 is the message.
      {"range\t100\t200\tverse\nloc\t300\tchorus\nrange\t0\t50\t\nloc\t0\tzero\nrange\t7\t9\tlast",
       {"range\t100\t200\tverse", "range\t0\t50\trange2", "range\t7\t9\tlast", "loc\t300\tchorus"},
       {},
       "Error parsing time ranges in param.txt file!\n"},
      // Lines beyond the 64th overwrite the last slot.
      {SixtySixPoints(), {"range\t63\t1063\tr63", "range\t66\t1066\tr66", "loc\t66\tl66"}, {"r64", "l65"}},
      // Point names are cut to their slot; file and device names are kept whole.
      {"range\t1\t2\t" + std::string(100, 'n') + "\nloc\t5\t" + std::string(100, 'n') + "\ndv\t" +
           std::string(200, 'd') + "\nplay\t1\t" + std::string(300, 'f') + ".txt\n",
       {"range\t1\t2\t" + n63, "loc\t5\t" + n63, "dv\t" + std::string(200, 'd'),
        "play\t1\t" + std::string(300, 'f') + ".txt"},
       {n63 + "n"}},
      // Names holding a NUL: device and list names are refused, point names end there.
      {"dv\thw:1\0x\nplay\t1\t\0\0other.txt\nrec\t2\tb\0.txt\nrange\t1\t2\t\0abc\nrange\t3\t4\tverse\0 x\nloc\t5\tchorus\0\n"s,
       {"dv\tdefault", "play\t1\tplay.txt", "range\t1\t2\trange1", "range\t3\t4\tverse", "loc\t5\tchorus"},
       {"rec\t2", "\0"s},
       "Error parsing time ranges in param.txt file!\n"},
      // An empty file leaves the defaults.
      {"", {"dv\tdefault", "sr\t44100", "ch\t-1", "play\t1\tplay.txt", "rec\t1\trecord.txt"}, {"range\t", "loc\t"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 120));
    testing::internal::CaptureStdout();
    const SessionSettings s = Read(c.text);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed);
    const std::string written = "\n" + ComposeSettingsText(s);
    for (const std::string& line : c.present) EXPECT_NE(written.find("\n" + line + "\n"), std::string::npos) << line;
    for (const std::string& text : c.absent) EXPECT_EQ(written.find(text), std::string::npos) << text;
    // Whatever was read is written so that it reads back the same.
    EXPECT_EQ(ComposeSettingsText(Read(written)), written.substr(1));
  }
}

TEST(SettingsReader, FieldsTheWriterDoesNotShow) {
  // Track lines past 256 are refused whatever the count read so far: v 257 would land in the
  // pan table, p 300 in the solo flags, solo 257 in the ranges.
  SessionSettings s = Read("ch\t1000\nv\t257\t-6.00\nv\t258\t-6.00\np\t300\t40\nsolo\t257\nv\t256\t-3.00\nsolo\t256\n");
  EXPECT_FLOAT_EQ(s.v[255], -3.0f);
  EXPECT_EQ(s.solo[255], 1);
  for (std::size_t t = 0; t < 255; ++t) ASSERT_TRUE(s.v[t] == 0.0f && s.p[t] == 0.0f && s.solo[t] == 0) << t;
  EXPECT_FLOAT_EQ(s.p[255], 0.0f);
  for (const TimeRange& range : s.range) EXPECT_EQ(range.in, 0);
  s = Read("ch\t8\nv\t9\t-1\nsolo\t9\nloc\t300\tchorus\nloc\t0\tzero\n");
  EXPECT_EQ(s.loc[1].name, "zero") << "read, though a locate at 0 is not written";
  EXPECT_FLOAT_EQ(s.v[8], 0.0f);
  EXPECT_EQ(s.solo[8], 0);
  EXPECT_EQ(s.range[3].name, "(name)");

  // Bus lists only ever add: what is set stays, and a last piece without a comma counts.
  s = SessionSettings{};
  s.busAssign[0][4] = s.busActive[0] = 1;
  std::array<std::string, kMaxBusses> texts{};
  texts[0] = "x,0,";
  texts[5] = "256";
  ActivateBusses(texts, s.busAssign, s.busActive);
  EXPECT_EQ(s.busAssign[0][4] + s.busActive[0] + s.busAssign[5][255] + s.busActive[5], 4);
}

TEST(SettingsWriter, Layout) {
  SessionSettings s;
  s.dv = "tapeloom_sim";
  s.sr = 48000;
  s.inputs = s.outputs = 2;
  s.ch = 3;
  s.buf = 512;
  s.clock = 0;
  s.i = 1024;
  s.o = 4096;
  s.e = 2048;
  s.mem = 99;
  s.v[1] = -6.0f;
  s.p[2] = -33.4f;
  s.solo[1] = s.solo[5] = 1;  // 5 is beyond ch: not written
  s.range[3] = {512, 0, "intro"};
  s.loc[10] = {-5, "odd"};
  s.play[4] = "alt.txt";
  s.rec[1] = "takes.txt";
  s.busActive[0] = 1;
  s.busAssign[0][0] = s.busAssign[0][1] = s.busAssign[0][4] = 1;
  s.busActive[2] = 1;  // active with no track: an empty list
  s.busvl[1] = -3.0f;
  EXPECT_EQ(ComposeSettingsText(s),
            "dv\ttapeloom_sim\nsr\t48000\ninputs\t2\noutputs\t2\nch\t3\nbuf\t512\nint\t1\nclock\thc\n"
            "peak\tcp\ni\t1024\no\t4096\ne\t2048\nnudge\t0.2500\nproll\t0.000\naud\t3.00\nxfade\t0.0\n"
            "mem\t99\nodcomp\t4\nmix\t0\nmeter\t-30\ntmode\t0\ntempo\t120.00\nsig\t4\nsafe\t0\nlatcomp\t0\n"
            "\nVolume Settings:\nv\t1\t0.00\nv\t2\t-6.00\nv\t3\t0.00\n"
            "\nPan Settings:\np\t1\t0\np\t2\t0\np\t3\t-33\n"
            "\nSolo Settings:\nsolo\t2\n"
            "\nTime Ranges:\nrange\t512\t0\tintro\n"
            "\nLocate Points:\nloc\t-5\todd\n"
            "\nPlaylist Files:\nplay\t1\tplay.txt\nplay\t5\talt.txt\n"
            "\nRecordlist Files:\nrec\t1\trecord.txt\nrec\t2\ttakes.txt\n"
            "\nBus Assignments:\nbus\t1\t1,2,5,\nbus\t3\t\n"
            "\nBus Volumes (dB):\nbusvl\t2\t-3.00\n");
  EXPECT_EQ(ComposeFirstRunSettingsText(s),
            "dv\ttapeloom_sim\nsr\t48000\ninputs\t2\noutputs\t2\nch\t3\nbuf\t512\nint\t1\n");
  s.ch = 0;
  EXPECT_NE(ComposeSettingsText(s).find("\nVolume Settings:\n\nPan Settings:\n\nSolo Settings:\n\nTime Ranges:\n"),
            std::string::npos);
}

TEST(SettingsRoundTrip, AFullSessionComesBackWholeAndPointsComeBackPacked) {
  // Every key with a value other than its default, as the writer writes it, every table full:
  // more than 8192 bytes.
  const std::string keys =
      "dv\tplughw:CARD=Interface,DEV=0\nsr\t96000\ninputs\t256\noutputs\t256\nch\t256\nbuf\t4096\nint\t0\n"
      "clock\tsc\npeak\tnp\ni\t4096\no\t409600\ne\t8192\nnudge\t0.1250\nproll\t2.500\naud\t1.50\nxfade\t20.0\n"
      "mem\t12345\nodcomp\t6\nmix\t2\nmeter\t-90\ntmode\t1\ntempo\t140.25\nsig\t3\nsafe\t1\nlatcomp\t1537\n";
  SessionSettings s = Read(keys);
  for (std::size_t t = 0; t < kMaxTracks; ++t) {
    s.v[t] = -static_cast<float>(t % 40) * 0.25f;
    s.p[t] = static_cast<float>(static_cast<int>(t % 201) - 100);
    s.solo[t] = t % 3 == 0 ? 1 : 0;
  }
  for (std::size_t k = 0; k < kRangeSlots; ++k) {
    s.range[k] = {static_cast<SamplePosition>(k * 4096 + 4096), static_cast<SamplePosition>(k * 8192 + 8192),
                  "range_" + std::to_string(k)};
    s.loc[k] = {static_cast<SamplePosition>(k * 1024 + 1024), "point_" + std::to_string(k)};
  }
  for (std::size_t slot = 0; slot < kListSlots; ++slot) {
    s.play[slot] = "play_" + std::to_string(slot) + ".txt";
    s.rec[slot] = "rec_" + std::to_string(slot) + ".txt";
  }
  for (std::size_t bus = 0; bus < kMaxBusses; ++bus) {
    s.busActive[bus] = 1;
    for (std::size_t t = bus; t < kMaxTracks; t += 2) s.busAssign[bus][t] = 1;
    s.busvl[bus] = static_cast<float>(bus % 10) - 5.0f;
  }
  const std::string text = ComposeSettingsText(s);
  ASSERT_GT(text.size(), 8192u);
  EXPECT_EQ(text.substr(0, keys.size()), keys);
  const SessionSettings loaded = Read(text);
  EXPECT_EQ(ComposeSettingsText(loaded), text);
  EXPECT_EQ(loaded.v, s.v);
  EXPECT_EQ(loaded.busAssign, s.busAssign);
  EXPECT_EQ(loaded.mix, MixMode::kBusPairs);

  SessionSettings sparse;
  sparse.range[5] = {100, 200, "b"};
  sparse.range[2] = {0, 300, "a"};
  sparse.loc[40] = {700, "late"};
  sparse.loc[3] = {600, "early"};
  const SessionSettings packed = Read(ComposeSettingsText(sparse));
  EXPECT_EQ(packed.range[0].name + packed.range[1].name + packed.range[2].name, "ab(name)");
  EXPECT_EQ(packed.range[1].in, 100);
  EXPECT_EQ(packed.loc[0].name + packed.loc[1].name, "earlylate");
  EXPECT_EQ(packed.loc[1].position, 700);
}

std::ptrdiff_t FilesIn(const test::TempDir& dir) {
  return std::distance(std::filesystem::directory_iterator(dir.path()), {});
}

TEST(ReplaceFileAtomically, ReplacesWholeOrNotAtAll) {
  test::TempDir dir;
  const std::string path = (dir / "param.txt").string();
  dir.Write("param.txt", "old settings\n");
  EXPECT_TRUE(ReplaceFileAtomically(path, "new\n").ok());
  EXPECT_EQ(dir.Read("param.txt"), "new\n");

  // Nothing can take the place of a directory: it stays, the reason is given, no temporary.
  std::filesystem::create_directory(dir / "folder");
  EXPECT_EQ(ReplaceFileAtomically((dir / "folder").string(), "lost\n").Reason(), "Is a directory");
  EXPECT_TRUE(std::filesystem::is_directory(dir / "folder"));
  EXPECT_EQ(FilesIn(dir), 2);

  // Every write or flush failing in turn: the old text stays and the reason is given.
  FileStatus result;
  const int failurePoints =
      test::SweepWriteFailures([&] { result = ReplaceFileAtomically(path, std::string(100000, 'n')); },
                               [&](int) {
                                 EXPECT_EQ(result.Message(), "Can't write to " + path + ".tmp: Input/output error");
                                 EXPECT_EQ(dir.Read("param.txt"), "new\n");
                                 EXPECT_EQ(FilesIn(dir), 2) << "no temporary left";
                               });
  EXPECT_EQ(failurePoints, 2) << "the text and the flush";
  EXPECT_TRUE(result.ok());
  EXPECT_EQ(dir.Read("param.txt"), std::string(100000, 'n'));
}

TEST(ReplaceFileAtomically, NeverTouchesWhatCarriesTheTemporarysName) {
  // A user's file, a link to another file and a link to nowhere under the temporary's name.
  for (const char* planted : {"file", "link", "dangling link"}) {
    SCOPED_TRACE(planted);
    test::TempDir dir;
    dir.Write("param.txt", "old\n");
    dir.Write("other.txt", "the file a link points to\n");
    const std::filesystem::path temp = dir / "param.txt.tmp";
    const std::filesystem::path linkTarget = dir / (planted == "link"s ? "other.txt" : "none.txt");
    if (planted == "file"s) {
      dir.Write("param.txt.tmp", "a user's file\n");
    } else {
      std::filesystem::create_symlink(linkTarget, temp);
    }
    EXPECT_TRUE(ReplaceFileAtomically((dir / "param.txt").string(), "new\n").ok());
    EXPECT_EQ(dir.Read("param.txt"), "new\n");
    EXPECT_EQ(dir.Read("other.txt"), "the file a link points to\n");
    if (planted == "file"s) {
      EXPECT_EQ(dir.Read("param.txt.tmp"), "a user's file\n");
    } else {
      EXPECT_EQ(std::filesystem::read_symlink(temp), linkTarget);
    }
    EXPECT_FALSE(dir.Exists("none.txt"));
    EXPECT_EQ(FilesIn(dir), 3) << "no temporary left";
  }
}

}  // namespace
}  // namespace tapeloom
