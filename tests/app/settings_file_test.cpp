// The param.txt reader (its rules seen through the writer), the writer and the file's replacement.
#include <gtest/gtest.h>

#include <sstream>

#include "app/settings_file.h"
#include "support/file_faults.h"
#include "support/temp_dir.h"
#include "wave/text_file.h"

namespace tapeloom {
namespace {

using namespace std::string_literals;

SessionSettings Read(std::string_view text, std::string* printed = nullptr) {
  SessionSettings s;
  testing::internal::CaptureStdout();
  GET_PARAMS(text, s);
  const std::string out = testing::internal::GetCapturedStdout();
  if (printed != nullptr) *printed = out;
  return s;
}

std::string RateRefused(const std::string& shown, int rate = 44100) {
  return "sr \"" + shown + "\" in param.txt is not a whole number from 8000 to 384000.\nThe sample rate stays at " +
         std::to_string(rate) + " Hz.\n";
}

TEST(SettingsReader, EachRuleAsTheWriterShowsIt) {
  const std::string ranges = "Error parsing time ranges in param.txt file!\n";
  std::string sixtySix;  // lines beyond the 64th range or locate overwrite the last slot
  for (int k = 1; k <= 66; ++k) {
    const std::string n = std::to_string(k);
    sixtySix += "range\t" + n + "\t" + std::to_string(k + 1000) + "\tr" + n + "\nloc\t" + n + "\tl" + n + "\n";
  }
  struct Case {
    std::string text;
    std::string lines;  // whole lines written, between '|'; after a '!', text never written
    std::string printed = "";
  };
  std::vector<Case> cases = {
      // clang-format off
      {"clock\tuc\nint\t5\ntmode\t7\nmix\t4\naud\t-2\n", "clock\tuc|peak\tcp|int\t1|tmode\t0|mix\t0|aud\t0.00"},
      {"ch\t2\ntempo\tnan\nnudge\tinf\nproll\t-inf\nxfade\tnan\naud\tnan\nv\t1\tnan\np\t2\tinf\nbusvl\t1\tnan\n",
       "tempo\t120.00|nudge\t0.2500|proll\t0.000|xfade\t0.0|aud\t3.00|v\t1\t0.00|p\t2\t0|!busvl\t1"},  // no numbers
      // Track lines need the track count read so far.
      {"v\t3\t-6.00\np\t3\t40\nsolo\t3\nch\t8\n", "v\t3\t0.00|p\t3\t0|!solo\t3"},
      {"ch\t8\nv\t3\t-6.00\np\t3\t-40\nsolo\t3\nv\t0\t-1\n", "v\t3\t-6.00|p\t3\t-40|solo\t3|v\t1\t0.00"},
      // A refused value is consumed, not read as a key; so is a slot out of range.
      {"sr\t48000\nv\t3\tsr\t22050\nbusvl\t99\tsr\t8000\n", "sr\t48000"},
      // Values start right after the separator, never on the next line; keys are case sensitive.
      {"dv\t my card \nplay\t1\t\tx.txt\nsr\n48000\nSR\t9\nCh\t9\n", "dv\t my card |play\t1\t\tx.txt|sr\t44100|ch\t-1",
       RateRefused("")},
      {"ch\t2\nbus\t2\t1,2,x,300,4,\nbus\t65\t7,\nbus\t1\t\nbus\t3\t256,\nbusvl\t2\t-4.50\nbusvl\t0\t3\n",
       "bus\t2\t1,2,4,|bus\t3\t256,|busvl\t2\t-4.50|!bus\t1\t|!busvl\t1|!7,"},
      {"play\t2\tmix two.txt\nrec\t128\tlast.txt\nplay\t0\tzero.txt\nplay\t129\tbig.txt\n",
       "play\t1\tplay.txt|play\t2\tmix two.txt|rec\t1\trecord.txt|rec\t128\tlast.txt|!zero.txt|!big.txt|!play\t3"},
      // An empty range name is numbered, with the message; the last line may lack its line feed.
      {"range\t100\t200\tverse\nloc\t300\tchorus\nrange\t0\t50\t\nloc\t0\tzero\nrange\t7\t9\tlast",
       "range\t100\t200\tverse|range\t0\t50\trange2|range\t7\t9\tlast|loc\t300\tchorus", ranges},
      {sixtySix, "range\t63\t1063\tr63|range\t66\t1066\tr66|loc\t66\tl66|!r64|!l65"},
      // A NUL: device and list names holding one are refused, point names end there.
      {"dv\thw:1\0x\nplay\t1\t\0\0o.txt\nrec\t2\tb\0.txt\nrange\t1\t2\t\0abc\nrange\t3\t4\tv\0 x\nloc\t5\tc\0\n"s,
       "dv\tdefault|play\t1\tplay.txt|range\t1\t2\trange1|range\t3\t4\tv|loc\t5\tc|!rec\t2|!\0"s, ranges},
      {"", "dv\tdefault|sr\t44100|ch\t-1|play\t1\tplay.txt|rec\t1\trecord.txt|!range\t|!loc\t"},
      // Only a whole number of Hz from 8000 to 384000 is taken; anything else keeps the rate.
      {"sr\t48000\nsr\t0\nch\t3\n", "sr\t48000|ch\t3", RateRefused("0", 48000)},
      {"sr\t12\0"s + "34\nch\t3\n", "sr\t44100|ch\t3", RateRefused("12")}};
  // clang-format on
  for (const char* sr : {"8000", "384000", "96000\r", " 22050 "}) {
    cases.push_back({"sr\t"s + sr + "\nch\t3\n", "sr\t" + std::to_string(std::stoi(sr)) + "|ch\t3"});
  }
  for (const char* sr : {"0", "abc", "44100.5", "-1", "1e9", "nan", "7999", "384001", "+48000", "4294967296", "48000x",
                         "inf", "0x1F400"}) {
    cases.push_back({"sr\t"s + sr + "\nch\t3\n", "sr\t44100|ch\t3", RateRefused(sr)});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 120));
    std::string printed;
    std::string written = "\n";  // appended, not "\n" + text: GCC 12 at -O3 warns falsely of that
    written += ComposeSettingsText(Read(c.text, &printed));
    EXPECT_EQ(printed, c.printed);
    std::istringstream lines(c.lines);
    for (std::string line; std::getline(lines, line, '|');) {
      const bool never = line[0] == '!';
      EXPECT_EQ(written.find(never ? line.substr(1) : "\n" + line + "\n") == std::string::npos, never) << line;
    }
    EXPECT_EQ(ComposeSettingsText(Read(written)), written.substr(1)) << "what was read is written to read back";
  }
}

TEST(SettingsRoundTrip, EveryKeyOffItsDefaultAndEveryTableFullComesBackWhole) {
  const std::string keys =
      "dv\tplughw:CARD=Interface,DEV=0\nsr\t96000\ninputs\t256\noutputs\t256\nch\t256\nbuf\t4096\nint\t0\n"
      "clock\tsc\npeak\tnp\ni\t4096\no\t409600\ne\t8192\nnudge\t0.1250\nproll\t2.500\naud\t1.50\nxfade\t20.0\n"
      "mem\t12345\nodcomp\t6\nmix\t2\nmeter\t-90\ntmode\t1\ntempo\t140.25\nsig\t3\nsafe\t1\nlatcomp\t1537\n";
  SessionSettings s = Read(keys);
  for (std::size_t t = 0; t < kMaxTracks; ++t) {
    s.v[t] = -static_cast<float>(t % 40) * 0.25f;
    s.solo[t] = t % 3 == 0 ? 1 : 0;
    for (std::size_t bus = t % 2; bus < kMaxBusses; bus += 2) s.busAssign[bus][t] = s.busActive[bus] = 1;
  }
  for (std::size_t slot = 0; slot < kListSlots; ++slot) s.rec[slot] = "rec_" + std::to_string(slot) + ".txt";
  const std::string text = ComposeSettingsText(s);
  ASSERT_GT(text.size(), 8192u);
  EXPECT_EQ(text.substr(0, keys.size()), keys);
  const SessionSettings loaded = Read(text);
  EXPECT_EQ(ComposeSettingsText(loaded), text);
}

// A failed write or flush leaves the old file and no temporary; what has the temporary's name stays.
TEST(ReplaceFileAtomically, NeverTouchesWhatCarriesTheTemporarysName) {
  for (const std::string planted : {"nothing", "file", "link", "dangling link"}) {
    SCOPED_TRACE(planted);
    test::TempDir dir;
    const std::string path = (dir / "param.txt").string(), temp = path + ".tmp";
    const std::filesystem::path target = dir / (planted == "link" ? "param.txt" : "none.txt");
    dir.Write("param.txt", "old\n");
    if (planted == "file") dir.Write("param.txt.tmp", "a user's file\n");
    if (planted.ends_with("link")) std::filesystem::create_symlink(target, temp);
    const auto files = [&] { return std::distance(std::filesystem::directory_iterator(dir.path()), {}); };
    const auto before = files();
    FileStatus result;
    const int failurePoints = test::SweepWriteFailures(
        [&] { result = ReplaceFileAtomically(path, std::string(100000, 'n')); },
        [&](int) {
          // Beside a planted file the temporary takes another name.
          EXPECT_EQ(planted == "nothing" ? result.Message() : result.Reason(),
                    planted == "nothing" ? "Can't write to " + temp + ": Input/output error" : "Input/output error");
          EXPECT_TRUE(dir.Read("param.txt") == "old\n" && files() == before) << "a temporary left";
        });
    EXPECT_EQ(failurePoints, 2) << "the text and the flush";
    EXPECT_TRUE(result.ok() && dir.Read("param.txt") == std::string(100000, 'n') && files() == before);
    EXPECT_TRUE(planted == "file"      ? dir.Read("param.txt.tmp") == "a user's file\n"
                : planted == "nothing" ? !dir.Exists("param.txt.tmp")
                                       : std::filesystem::read_symlink(temp) == target && !dir.Exists("none.txt"));
  }
}

}  // namespace
}  // namespace tapeloom
