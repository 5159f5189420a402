// The param.txt reader and writer: every key's reading rule, the written layout, and round
// trips of full sessions.
#include <gtest/gtest.h>

#include "app/settings_file.h"
#include "support/file_faults.h"
#include "support/temp_dir.h"
#include "wave/text_file.h"

namespace tapeloom {
namespace {

SessionSettings Read(std::string_view text) {
  SessionSettings s;
  GET_PARAMS(text, s);
  return s;
}

TEST(SettingsReader, ScalarKeysAndTheirRules) {
  const SessionSettings s = Read(
      "dv\thw:2,0\nsr\t96000\ninputs\t8\noutputs\t10\nch\t24\nbuf\t256\nint\t0\nclock\tsc\npeak\tnp\n"
      "i\t1024\no\t2048\ne\t512\nnudge\t0.5000\nproll\t1.250\naud\t4.50\nxfade\t12.5\nmem\t77\n"
      "odcomp\t2\nmix\t3\nmeter\t-60\ntmode\t1\ntempo\t93.50\nsig\t7\nsafe\t1\nlatcomp\t-37\n");
  EXPECT_EQ(s.dv, "hw:2,0");
  EXPECT_EQ(s.sr, 96000u);
  EXPECT_EQ(s.inputs, 8);
  EXPECT_EQ(s.outputs, 10);
  EXPECT_EQ(s.ch, 24);
  EXPECT_EQ(s.buf, 256);
  EXPECT_EQ(s.int_, 0);
  EXPECT_EQ(s.clock, 2);
  EXPECT_EQ(s.peak, 0);
  EXPECT_EQ(s.i, 1024);
  EXPECT_EQ(s.o, 2048);
  EXPECT_EQ(s.e, 512);
  EXPECT_FLOAT_EQ(s.nudge, 0.5f);
  EXPECT_FLOAT_EQ(s.proll, 1.25f);
  EXPECT_FLOAT_EQ(s.aud, 4.5f);
  EXPECT_FLOAT_EQ(s.xfade, 12.5f);
  EXPECT_EQ(s.mem, 77);
  EXPECT_EQ(s.odcomp, 2);
  EXPECT_EQ(s.mix, MixMode::kMaster);
  EXPECT_EQ(s.meter, -60);
  EXPECT_EQ(s.tmode, 1);
  EXPECT_FLOAT_EQ(s.tempo, 93.5f);
  EXPECT_EQ(s.sig, 7);
  EXPECT_EQ(s.safe, 1);
  EXPECT_EQ(s.latcomp, -37);
}

TEST(SettingsReader, WordsThatOnlySomeValuesChange) {
  // uc and cp are what the defaults already are: reading them changes nothing.
  SessionSettings s = Read("clock\tuc\npeak\tcp\nint\t5\ntmode\t7\nmix\t4\naud\t-2\n");
  EXPECT_EQ(s.clock, 1);
  EXPECT_EQ(s.peak, 1);
  EXPECT_EQ(s.int_, 1);
  EXPECT_EQ(s.tmode, 0);
  EXPECT_EQ(s.mix, MixMode::kDirect);
  EXPECT_FLOAT_EQ(s.aud, 0.0f);

  s = Read("clock\thc\nclock\tbogus\n");
  EXPECT_EQ(s.clock, 0) << "an unknown clock word leaves the field as it was";
  s = Read("mix\t-1\ntmode\t-1\n");
  EXPECT_EQ(s.mix, MixMode::kDirect);
  EXPECT_EQ(s.tmode, 0);
}

TEST(SettingsReader, UnreadableNumbersReadAsZero) {
  const SessionSettings s = Read("inputs\tfour\ntempo\tquick\nint\tnone\n");
  EXPECT_EQ(s.inputs, 0);
  EXPECT_FLOAT_EQ(s.tempo, 0.0f);
  EXPECT_EQ(s.int_, 0);
}

TEST(SettingsReader, NotANumberKeepsTheDefault) {
  const SessionSettings s = Read(
      "ch\t2\ntempo\tnan\nnudge\tinf\nproll\t-inf\nxfade\tnan\naud\tnan\nv\t1\tnan\np\t2\tinf\n"
      "busvl\t1\tnan\n");
  const SessionSettings defaults;
  EXPECT_EQ(s.tempo, defaults.tempo);
  EXPECT_EQ(s.nudge, defaults.nudge);
  EXPECT_EQ(s.proll, defaults.proll);
  EXPECT_EQ(s.xfade, defaults.xfade);
  EXPECT_EQ(s.aud, defaults.aud);
  EXPECT_EQ(s.v[0], 0.0f);
  EXPECT_EQ(s.p[1], 0.0f);
  EXPECT_EQ(s.busvl[0], 0.0f);
}

TEST(SettingsReader, TrackTablesNeedTheTrackCountReadSoFar) {
  SessionSettings s = Read("v\t3\t-6.00\np\t3\t40\nsolo\t3\nch\t8\n");
  EXPECT_FLOAT_EQ(s.v[2], 0.0f);
  EXPECT_FLOAT_EQ(s.p[2], 0.0f);
  EXPECT_EQ(s.solo[2], 0);

  s = Read("ch\t8\nv\t3\t-6.00\np\t3\t-40\nsolo\t3\nv\t9\t-1\nv\t0\t-1\nsolo\t9\n");
  EXPECT_FLOAT_EQ(s.v[2], -6.0f);
  EXPECT_FLOAT_EQ(s.p[2], -40.0f);
  EXPECT_EQ(s.solo[2], 1);
  EXPECT_FLOAT_EQ(s.v[8], 0.0f);
  EXPECT_EQ(s.solo[8], 0);
}

TEST(SettingsReader, TrackLinesStayInsideTheTablesWhateverTheCountReadSoFar) {
  // ch is limited to 256 only at start-up. Read so far it may be larger, and track lines past
  // 256 must still be refused: v 257 would land in the pan table, p 300 in the solo flags,
  // solo 257 in the ranges.
  const SessionSettings s =
      Read("ch\t1000\nv\t257\t-6.00\nv\t258\t-6.00\np\t300\t40\nsolo\t257\nv\t256\t-3.00\nsolo\t256\n");
  EXPECT_FLOAT_EQ(s.v[255], -3.0f);
  EXPECT_EQ(s.solo[255], 1);
  for (std::size_t t = 0; t < 255; ++t) {
    EXPECT_FLOAT_EQ(s.v[t], 0.0f) << t;
    EXPECT_FLOAT_EQ(s.p[t], 0.0f) << t;
    EXPECT_EQ(s.solo[t], 0) << t;
  }
  EXPECT_FLOAT_EQ(s.p[255], 0.0f);
  for (const TimeRange& range : s.range) EXPECT_EQ(range.in, 0);
}

TEST(SettingsReader, NamesHoldingANulByte) {
  // Such a name would be seen by the system as ending at the NUL: another device or file than
  // the one named. Device and list file names holding one are refused; point names, which are
  // only shown, end there. The save then writes what was read.
  using namespace std::string_literals;
  const SessionSettings s = Read(
      "dv\thw:1\0x\nplay\t1\t\0\0other.txt\nrec\t2\tb\0.txt\nrange\t1\t2\t\0abc\nrange\t3\t4\tverse\0 x\n"
      "loc\t5\tchorus\0\n"s);
  EXPECT_EQ(s.dv, "default");
  EXPECT_EQ(s.play[0], "play.txt");
  EXPECT_EQ(s.rec[1], "");
  EXPECT_EQ(s.range[0].name, "range1");
  EXPECT_EQ(s.range[1].name, "verse");
  EXPECT_EQ(s.loc[0].name, "chorus");
  EXPECT_EQ(ComposeSettingsText(Read(ComposeSettingsText(s))), ComposeSettingsText(s));
}

TEST(SettingsReader, RefusedTrackValuesAreStillConsumed) {
  // The value of a refused v line must not be taken as a key ("sr" here would be one).
  const SessionSettings s = Read("sr\t48000\nv\t3\tsr\t22050\nbusvl\t99\tsr\t8000\n");
  EXPECT_EQ(s.sr, 48000u);
}

TEST(SettingsReader, BusListsAndLevels) {
  const SessionSettings s = Read("bus\t2\t1,2,x,300,4,\nbus\t65\t7,\nbus\t1\t\nbusvl\t2\t-4.50\nbusvl\t0\t3\n");
  EXPECT_EQ(s.busActive[1], 1);
  EXPECT_EQ(s.busAssign[1][0], 1);
  EXPECT_EQ(s.busAssign[1][1], 1);
  EXPECT_EQ(s.busAssign[1][2], 0);
  EXPECT_EQ(s.busAssign[1][3], 1);
  EXPECT_EQ(s.busActive[0], 0) << "a bus with no valid track stays inactive";
  for (int track = 0; track < kMaxTracks; ++track) EXPECT_EQ(s.busAssign[0][static_cast<std::size_t>(track)], 0);
  EXPECT_FLOAT_EQ(s.busvl[1], -4.5f);
  EXPECT_FLOAT_EQ(s.busvl[0], 0.0f);
  EXPECT_FLOAT_EQ(s.busGain[1], 1.0f) << "bus gains are the mix engine's, not the reader's";
}

TEST(SettingsReader, BusTracksAboveTheTrackCountAreAccepted) {
  const SessionSettings s = Read("ch\t2\nbus\t3\t256,\n");
  EXPECT_EQ(s.busAssign[2][255], 1);
  EXPECT_EQ(s.busActive[2], 1);
}

TEST(ActivateBusses, NeverClearsWhatIsSet) {
  SessionSettings s;
  s.busAssign[0][4] = 1;
  s.busActive[0] = 1;
  std::array<std::string, kMaxBusses> texts{};
  texts[0] = "x,0,";
  texts[5] = "256";
  ActivateBusses(texts, s.busAssign, s.busActive);
  EXPECT_EQ(s.busAssign[0][4], 1);
  EXPECT_EQ(s.busActive[0], 1);
  EXPECT_EQ(s.busAssign[5][255], 1) << "a last piece without a comma counts";
  EXPECT_EQ(s.busActive[5], 1);
}

TEST(SettingsReader, ListSlots) {
  const SessionSettings s = Read("play\t2\tmix two.txt\nrec\t128\tlast.txt\nplay\t0\tzero.txt\nplay\t129\tbig.txt\n");
  EXPECT_EQ(s.play[0], "play.txt");
  EXPECT_EQ(s.play[1], "mix two.txt") << "names may hold spaces";
  EXPECT_EQ(s.rec[127], "last.txt");
  for (std::size_t slot = 2; slot < s.play.size(); ++slot) EXPECT_EQ(s.play[slot], "");
}

TEST(SettingsReader, AnOutOfRangeListSlotLeavesItsNameToBeReadAsKeys) {
  const SessionSettings s = Read("play\t0\tsr\t22050\n");
  EXPECT_EQ(s.sr, 22050u);
}

TEST(SettingsReader, WordsAfterAnUnknownKeyAreTakenAsKeys) {
  const SessionSettings s = Read("volume\tsr\t32000\n\nVolume Settings:\nch\t3\n");
  EXPECT_EQ(s.sr, 32000u);
  EXPECT_EQ(s.ch, 3);
}

TEST(SettingsReader, ValuesStartRightAfterTheKeysSeparator) {
  const SessionSettings s = Read("dv\t my card \nplay\t1\t\tx.txt\nsr\n48000\n");
  EXPECT_EQ(s.dv, " my card ");
  EXPECT_EQ(s.play[0], "\tx.txt");
  EXPECT_EQ(s.sr, 44100u) << "a value never comes from the next line";
}

TEST(SettingsReader, KeysAreCaseSensitive) {
  const SessionSettings s = Read("SR\t96000\nCh\t9\n");
  EXPECT_EQ(s.sr, 44100u);
  EXPECT_EQ(s.ch, -1);
}

TEST(SettingsReader, RangesAndLocatesFillSlotsInOrder) {
  testing::internal::CaptureStdout();
  const SessionSettings s =
      Read("range\t100\t200\tverse\nloc\t300\tchorus\nrange\t0\t50\t\nloc\t0\tzero\nrange\t7\t9\tlast");
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(printed, "Error parsing time ranges in param.txt file!\n");
  EXPECT_EQ(s.range[0].in, 100);
  EXPECT_EQ(s.range[0].out, 200);
  EXPECT_EQ(s.range[0].name, "verse");
  EXPECT_EQ(s.range[1].out, 50);
  EXPECT_EQ(s.range[1].name, "range2");
  EXPECT_EQ(s.range[2].name, "last") << "the last line may end without a line feed";
  EXPECT_EQ(s.range[3].name, "(name)");
  EXPECT_EQ(s.loc[0].position, 300);
  EXPECT_EQ(s.loc[0].name, "chorus");
  EXPECT_EQ(s.loc[1].name, "zero");
}

TEST(SettingsReader, LinesBeyondTheSixtyFourthOverwriteTheLastSlot) {
  std::string text;
  for (int k = 1; k <= 66; ++k) {
    text += "range\t" + std::to_string(k) + "\t" + std::to_string(k + 1000) + "\tr" + std::to_string(k) + "\n";
    text += "loc\t" + std::to_string(k) + "\tl" + std::to_string(k) + "\n";
  }
  const SessionSettings s = Read(text);
  EXPECT_EQ(s.range[62].name, "r63");
  EXPECT_EQ(s.range[63].name, "r66");
  EXPECT_EQ(s.range[63].in, 66);
  EXPECT_EQ(s.loc[63].name, "l66");
}

TEST(SettingsReader, LongPointNamesAreCutToTheirSlot) {
  const std::string longName(100, 'n');
  const SessionSettings s = Read("range\t1\t2\t" + longName + "\nloc\t5\t" + longName + "\n");
  EXPECT_EQ(s.range[0].name, std::string(63, 'n'));
  EXPECT_EQ(s.loc[0].name, std::string(63, 'n'));
}

TEST(SettingsReader, LongFileAndDeviceNamesAreKeptWhole) {
  const std::string longName = std::string(300, 'f') + ".txt";
  const SessionSettings s = Read("dv\t" + std::string(200, 'd') + "\nplay\t1\t" + longName + "\n");
  EXPECT_EQ(s.dv, std::string(200, 'd'));
  EXPECT_EQ(s.play[0], longName);
}

TEST(SettingsReader, EmptyFileLeavesTheDefaults) {
  const SessionSettings s = Read("");
  EXPECT_EQ(s.ch, -1);
  EXPECT_EQ(s.dv, "default");
  EXPECT_EQ(s.sr, 44100u);
  EXPECT_EQ(s.range[0].name, "(name)");
  EXPECT_EQ(s.play[0], "play.txt");
  EXPECT_EQ(s.rec[0], "record.txt");
}

TEST(SettingsWriter, LayoutOfASmallSession) {
  SessionSettings s;
  s.dv = "tapeloom_sim";
  s.sr = 48000;
  s.inputs = 2;
  s.outputs = 2;
  s.ch = 3;
  s.buf = 512;
  s.clock = 0;
  s.i = 1024;
  s.o = 4096;
  s.e = 2048;
  s.mem = 99;
  s.v[1] = -6.0f;
  s.p[2] = -33.4f;
  s.solo[1] = 1;
  s.solo[5] = 1;  // beyond ch: not written
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
}

TEST(SettingsWriter, NoTrackLinesBelowOneTrack) {
  SessionSettings s;
  s.ch = 0;
  const std::string text = ComposeSettingsText(s);
  EXPECT_NE(text.find("\nVolume Settings:\n\nPan Settings:\n\nSolo Settings:\n\nTime Ranges:\n"), std::string::npos);
}

TEST(SettingsWriter, FirstRunFileHoldsSevenLines) {
  SessionSettings s;
  s.dv = "default";
  s.sr = 48000;
  s.inputs = 4;
  s.outputs = 2;
  s.ch = 8;
  s.buf = 1024;
  EXPECT_EQ(ComposeFirstRunSettingsText(s),
            "dv\tdefault\nsr\t48000\ninputs\t4\noutputs\t2\nch\t8\nbuf\t1024\nint\t1\n");
}

// A session that fills every table: more than 8192 bytes of text.
SessionSettings FullSession() {
  SessionSettings s;
  s.dv = "plughw:CARD=Interface,DEV=0";
  s.sr = 96000;
  s.inputs = 256;
  s.outputs = 256;
  s.ch = 256;
  s.buf = 4096;
  s.int_ = 0;
  s.clock = 2;
  s.peak = 0;
  s.i = 4096;
  s.o = 409600;
  s.e = 8192;
  s.mem = 12345;
  s.nudge = 0.125f;
  s.proll = 2.5f;
  s.aud = 1.5f;
  s.xfade = 20.0f;
  s.odcomp = 6;
  s.mix = MixMode::kBusPairs;
  s.meter = -90;
  s.tmode = 1;
  s.tempo = 140.25f;
  s.sig = 3;
  s.safe = 1;
  s.latcomp = 1537;
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
  return s;
}

TEST(SettingsRoundTrip, FullSessionComesBackWhole) {
  const SessionSettings stored = FullSession();
  const std::string text = ComposeSettingsText(stored);
  ASSERT_GT(text.size(), 8192u);
  const SessionSettings loaded = Read(text);

  EXPECT_EQ(loaded.dv, stored.dv);
  EXPECT_EQ(loaded.sr, stored.sr);
  EXPECT_EQ(loaded.ch, 256);
  EXPECT_EQ(loaded.clock, 2);
  EXPECT_EQ(loaded.peak, 0);
  EXPECT_EQ(loaded.int_, 0);
  EXPECT_EQ(loaded.odcomp, 6);
  EXPECT_EQ(loaded.latcomp, 1537);
  EXPECT_FLOAT_EQ(loaded.tempo, stored.tempo);
  EXPECT_EQ(loaded.v, stored.v);
  EXPECT_EQ(loaded.p, stored.p);
  EXPECT_EQ(loaded.solo, stored.solo);
  for (std::size_t k = 0; k < kRangeSlots; ++k) {
    EXPECT_EQ(loaded.range[k].in, stored.range[k].in);
    EXPECT_EQ(loaded.range[k].out, stored.range[k].out);
    EXPECT_EQ(loaded.range[k].name, stored.range[k].name);
    EXPECT_EQ(loaded.loc[k].position, stored.loc[k].position);
    EXPECT_EQ(loaded.loc[k].name, stored.loc[k].name);
  }
  EXPECT_EQ(loaded.play, stored.play);
  EXPECT_EQ(loaded.rec, stored.rec);
  EXPECT_EQ(loaded.busActive, stored.busActive);
  EXPECT_EQ(loaded.busAssign, stored.busAssign);
  EXPECT_EQ(loaded.busvl, stored.busvl);
  EXPECT_EQ(ComposeSettingsText(loaded), text);
}

TEST(SettingsRoundTrip, RangesAndLocatesComeBackPacked) {
  SessionSettings stored;
  stored.range[5] = {100, 200, "b"};
  stored.range[2] = {0, 300, "a"};
  stored.loc[40] = {700, "late"};
  stored.loc[3] = {600, "early"};
  const SessionSettings loaded = Read(ComposeSettingsText(stored));
  EXPECT_EQ(loaded.range[0].name, "a");
  EXPECT_EQ(loaded.range[1].name, "b");
  EXPECT_EQ(loaded.range[1].in, 100);
  EXPECT_EQ(loaded.range[2].name, "(name)");
  EXPECT_EQ(loaded.loc[0].name, "early");
  EXPECT_EQ(loaded.loc[1].position, 700);
}

TEST(ReplaceFileAtomically, ReplacesWholeOrNotAtAll) {
  test::TempDir dir;
  const std::string path = (dir / "param.txt").string();
  dir.Write("param.txt", "old settings\n");
  EXPECT_TRUE(ReplaceFileAtomically(path, "new\n").ok());
  EXPECT_EQ(dir.Read("param.txt"), "new\n");
  EXPECT_FALSE(dir.Exists("param.txt.tmp"));

  // Nothing can take the place of a directory: the old file stays as it was, the reason is
  // given and no temporary is left.
  std::filesystem::create_directory(dir / "folder");
  EXPECT_EQ(ReplaceFileAtomically((dir / "folder").string(), "lost\n").Reason(), "Is a directory");
  EXPECT_TRUE(std::filesystem::is_directory(dir / "folder"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2) << "param.txt and folder";

  // Every write or flush failing in turn: the old text stays and the reason is given.
  FileStatus result;
  const int failurePoints = test::SweepWriteFailures(
      [&] { result = ReplaceFileAtomically(path, std::string(100000, 'n')); },
      [&](int) {
        EXPECT_EQ(result.Message(), "Can't write to " + path + ".tmp: Input/output error");
        EXPECT_EQ(dir.Read("param.txt"), "new\n");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2) << "no temporary left";
      });
  EXPECT_EQ(failurePoints, 2) << "the text and the flush";
  EXPECT_TRUE(result.ok());
  EXPECT_EQ(dir.Read("param.txt"), std::string(100000, 'n'));
}

TEST(ReplaceFileAtomically, NeverTouchesWhatCarriesTheTemporarysName) {
  // A user's file, a link to another file and a link to nowhere under the temporary's name.
  enum class Planted { kFile, kLink, kDanglingLink };
  for (const Planted planted : {Planted::kFile, Planted::kLink, Planted::kDanglingLink}) {
    SCOPED_TRACE(static_cast<int>(planted));
    test::TempDir dir;
    dir.Write("param.txt", "old\n");
    dir.Write("other.txt", "the file a link points to\n");
    const std::filesystem::path temp = dir / "param.txt.tmp";
    const std::filesystem::path linkTarget = dir / (planted == Planted::kLink ? "other.txt" : "none.txt");
    if (planted == Planted::kFile) {
      dir.Write("param.txt.tmp", "a user's file\n");
    } else {
      std::filesystem::create_symlink(linkTarget, temp);
    }
    EXPECT_TRUE(ReplaceFileAtomically((dir / "param.txt").string(), "new\n").ok());
    EXPECT_EQ(dir.Read("param.txt"), "new\n");
    EXPECT_EQ(dir.Read("other.txt"), "the file a link points to\n");
    if (planted == Planted::kFile) {
      EXPECT_EQ(dir.Read("param.txt.tmp"), "a user's file\n");
    } else {
      EXPECT_EQ(std::filesystem::read_symlink(temp), linkTarget);
    }
    EXPECT_FALSE(dir.Exists("none.txt"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 3) << "no temporary left";
  }
}

}  // namespace
}  // namespace tapeloom
