// The user guide's session as the guide writes it: its files, its typed words, its expected lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <numeric>
#include <sstream>

#include "support/console_harness.h"
#include "support/wave_builder.h"

namespace tapeloom::test {
namespace {

TEST(Guide, ItsSessionRunsAsWrittenOnTheSimulatedCard) {
  std::ifstream file(TAPELOOM_GUIDE);
  ASSERT_TRUE(file) << TAPELOOM_GUIDE;
  ConsoleSession session;
  std::string typed, expected, line, info, text;
  bool inside = false;
  while (std::getline(file, line)) {
    if (!line.starts_with("```")) {
      if (inside) text += line + "\n";
      continue;
    }
    inside = !inside;
    if (inside) {
      info = line.substr(3);
      text.clear();
    } else if (info == "param.txt") {  // the guide's card becomes the simulated one
      const std::size_t dv = text.find("dv\t");
      ASSERT_NE(dv, std::string::npos) << "the guide's param.txt names no device";
      session.Write(info, text.replace(dv, text.find('\n', dv) - dv, "dv\ttapeloom_sim"));
    } else if (info == "play.txt" || info == "record.txt") {
      session.Write(info, text);
    } else if (info == "typed") {
      typed += text;
    } else if (info == "expect") {
      expected += text;
    }
  }
  ASSERT_FALSE(typed.empty() || expected.empty() || !session.Exists("param.txt")) << "the guide's session not found";
  WriteBytes(session / "bass.wav", WaveBuilder().Samples(PositionCoded(30 * 48000)).Build());
  WriteBytes(session / "keys.wav", WaveBuilder().Samples(PositionCoded(30 * 48000)).Build());
  // Input c of capture frame f hears 2f + c - 3000000: each sample tells when it was captured.
  std::vector<std::int32_t> input(2 * 60 * 48000);
  std::iota(input.begin(), input.end(), -3000000);
  WriteBytes(session / "card-in.raw", Pack24(input));

  const RunResult run = session.Run(typed);
  EXPECT_EQ(run.status, 0) << run.err;
  std::istringstream lines(expected);
  std::size_t at = 0;
  for (std::string l; std::getline(lines, l);) {
    const std::size_t found = run.out.find(l, at);
    ASSERT_NE(found, std::string::npos) << "not printed where the guide says: " << l << "\n" << run.out;
    at = found + l.size();
  }
  // What the session leaves: the recorded files, the backups of the punch-in and the mix.
  for (const char* name : {"vocal.wav", "guitar.wav", "mixdown.wav"}) EXPECT_TRUE(session.Exists(name)) << name;
  EXPECT_EQ(std::ranges::count_if(session.Files(), [](const std::string& f) { return f.find("_bkup_") != f.npos; }), 2);
  // Where the punch-in landed: each backup holds its file as the punch-in left it, the first take (one run of the
  // capture stream) from 0 to 10 s but 4 to 6 s, and only that, from a later run; 20 ms crossfades blend each seam.
  const std::vector<std::string> files = session.Files();
  for (const auto& [name, channel] : {std::pair{"vocal_bkup_", 0}, {"guitar_bkup_", 1}}) {
    const auto backup = std::ranges::find_if(files, [&](const std::string& f) { return f.starts_with(name); });
    ASSERT_NE(backup, files.end()) << name;
    const Bytes bytes = ReadBytes(session / *backup);
    ASSERT_GT(bytes.size(), 44u);
    const std::vector<std::int32_t> samples = Unpack24(std::span(bytes).subspan(44));
    ASSERT_GE(samples.size(), 10u * 48000) << *backup;
    // The capture frame a sample was heard at less the frame it lies at: constant along one run of the stream.
    const auto shift = [&](std::int64_t f) {
      return (std::int64_t{samples[static_cast<std::size_t>(f)]} + 3000000 - channel) / 2 - f;
    };
    const std::int64_t first = shift(0), punched = shift(5 * 48000);
    EXPECT_GT(punched, first) << "the punch-in was recorded later than the first take";
    for (std::int64_t f = 0; f < static_cast<std::int64_t>(samples.size()); ++f) {
      if (std::abs(f - 4 * 48000) < 2 * 960 || std::abs(f - 6 * 48000) < 2 * 960) continue;  // a seam
      ASSERT_EQ(shift(f), f > 4 * 48000 && f < 6 * 48000 ? punched : first) << *backup << " at frame " << f;
    }
  }
}

}  // namespace
}  // namespace tapeloom::test
