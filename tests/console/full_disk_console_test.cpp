// A disk that fills up under the real program: the session runs on a small tmpfs (in a mount
// namespace of its own, which needs root; skipped elsewhere). A recording, "s", "pad", "cin"
// and "ins" each meet the full disk: each says so, naming the file and the reason, reports no
// success, keeps every file that was there as it was, and the session goes on to its end.
#include <gtest/gtest.h>

#include <map>
#include <regex>

#include "support/console_harness.h"
#include "support/wave_builder.h"

namespace tapeloom::test {
namespace {

constexpr long kPage = 4096;

long Pages(long bytes) { return (bytes + kPage - 1) / kPage; }

std::int32_t InputSample(std::int64_t j) { return static_cast<std::int32_t>(-((j % 30000 + 1) * 256 + 1)); }

class FullDisk : public testing::Test {
 protected:
  void SetUp() override {
    std::vector<std::int32_t> input;
    for (std::int64_t j = 0; j < 200000; ++j) input.push_back(InputSample(j));
    WriteBytes(session / "card-in.raw", Pack24(input));
    session.Write("play.txt", "");
    session.Write("record.txt", "a.wav\n");
    session.Write("mixlist.txt", "a.wav\n");
    std::vector<std::int32_t> old(48000);
    for (std::size_t f = 0; f < old.size(); ++f) old[f] = static_cast<std::int32_t>(f * 16 + 16);
    WriteBytes(session / "a.wav", WaveBuilder().Samples(old).Build());
  }
  // The pages the session's own files take on the disk (the card's files stay outside).
  long SessionPages() const {
    long pages = 0;
    for (const std::string& name : session.Files()) {
      if (!name.starts_with("card-")) pages += Pages(static_cast<long>(std::filesystem::file_size(session / name)));
    }
    return pages;
  }
  std::vector<std::string> Takes() const {
    std::vector<std::string> names;
    for (const std::string& name : session.Files()) {
      if (std::regex_match(name, std::regex("audio_ch_1_[0-9]+(_stp_[0-9]+)?\\.wav"))) names.push_back(name);
    }
    return names;
  }
  ConsoleSession session;
};

TEST_F(FullDisk, EveryOperationThatMeetsAFullDiskSaysSoAndLosesNothing) {
  struct Case {
    const char* what;
    std::string settings;  // after the card's lines
    std::string words;
    std::string says;   // besides the system's reason
    long freePages;     // room left on the disk beyond the session's files
    bool takeRecorded;  // the recording itself fits
  };
  // 10240 frames from the record start 10240: a take of 30764 bytes (8 pages).
  const std::string record = "e\t10240\no\t20480\n";
  const Case cases[] = {
      {"a recording longer than the room left", "e\t0\no\t96000\n", "R\n", "Can't write to audio_ch_1_", 16, false},
      {"s with no room left", "", "s\n", "Could not write param.txt", 0, false},
      {"pad: no room for the padded take", record, "R\npad\n", "was not padded; it is unchanged\n", 9, true},
      {"cin: no room for the backup", record, "R\ncin\n", "Cannot create backup file a_bkup_", 9, true},
      {"ins: no room for the crossfades", record + "xfade\t50\n", "R\nins\n",
       "was not inserted into a.wav; the take is kept\n", 9, true},
      {"an export longer than the room left", "play\t1\tmixlist.txt\no\t48128\n", "exp-i\nmix\n",
       "The export failed: mix.wav was not written\n", 16, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const std::string& take : Takes()) std::filesystem::remove(session / take);
    session.Write("param.txt", SimCardParams(1, 1, 1, 1024) + "int\t0\nclock\thc\nmeter\t0\n" + c.settings);
    std::map<std::string, std::string> before;
    for (const std::string& name : session.Files()) {
      if (!name.starts_with("card-")) before[name] = session.Read(name);
    }
    const std::optional<RunResult> run = session.RunOnSmallDisk(c.words, (SessionPages() + c.freePages) * kPage);
    if (!run) GTEST_SKIP() << "no tmpfs can be mounted here (needs root)";
    EXPECT_EQ(run->status, 0) << run->err;
    EXPECT_NE(run->out.find(": No space left on device"), std::string::npos) << run->out;
    EXPECT_NE(run->out.find(c.says), std::string::npos) << run->out;
    for (const auto& [name, content] : before) {
      ASSERT_TRUE(session.Exists(name)) << name;
      EXPECT_EQ(session.Read(name), content) << name << " is as it was";
    }
    const std::vector<std::string> takes = Takes();
    if (!c.words.starts_with("R")) {
      EXPECT_TRUE(takes.empty());
      // Not even a part of the mix is left, under its name or another.
      for (const std::string& name : session.Files()) {
        EXPECT_TRUE(name.starts_with("card-") || before.contains(name)) << name << " is left behind";
      }
      continue;
    }
    // The take is kept under its own name, a valid wave file of what it holds; when it was
    // recorded whole, it holds every frame.
    ASSERT_EQ(takes.size(), 1u) << run->out;
    const Bytes take = ReadBytes(session / takes[0]);
    ASSERT_GE(take.size(), 44u);
    EXPECT_LE(Field32(take, 40), take.size() - 44);
    EXPECT_EQ(Field32(take, 4), Field32(take, 40) + 36);
    const std::vector<std::int32_t> held = Unpack24(std::span<const unsigned char>(take).subspan(44));
    if (c.takeRecorded) {
      EXPECT_EQ(held.size(), 10240u);
    }
    for (std::size_t j = 0; j < held.size(); ++j) ASSERT_EQ(held[j], InputSample(static_cast<std::int64_t>(j)));
  }
}

}  // namespace
}  // namespace tapeloom::test
