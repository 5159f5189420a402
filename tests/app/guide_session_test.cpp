// The user guide's own session, run as the guide writes it: its param.txt, play.txt and
// record.txt blocks make a session on the simulated card (the device name replaced), its typed
// blocks are typed in order, and every line of its expect blocks must be printed, in order.
// A word that no longer works as the guide says fails here.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <numbers>
#include <sstream>

#include "support/console_harness.h"
#include "support/wave_builder.h"

namespace tapeloom::test {
namespace {

struct Block {
  std::string info;  // the word after the opening fence
  std::string text;
};

std::vector<Block> FencedBlocks(const std::string& markdown) {
  std::vector<Block> blocks;
  std::istringstream lines(markdown);
  std::string line;
  bool inside = false;
  while (std::getline(lines, line)) {
    if (line.rfind("```", 0) == 0) {
      if (!inside) blocks.push_back({line.substr(3), ""});
      inside = !inside;
    } else if (inside) {
      blocks.back().text += line + "\n";
    }
  }
  return blocks;
}

// Input `channel`'s sample at frame f of the capture stream, and back.
std::int32_t InputSample(std::int64_t f, int channel) { return static_cast<std::int32_t>(2 * f + channel - 3000000); }
std::int64_t StreamFrame(std::int32_t sample, int channel) { return (std::int64_t{sample} + 3000000 - channel) / 2; }

// A tone of `frames` mono samples at a level far from full scale.
Bytes Tone(std::int64_t frames, double hertz) {
  std::vector<std::int32_t> samples;
  for (std::int64_t f = 0; f < frames; ++f) {
    samples.push_back(static_cast<std::int32_t>(
        1000000.0 * std::sin(2.0 * std::numbers::pi * hertz * static_cast<double>(f) / 48000.0)));
  }
  return WaveBuilder().Samples(samples).Build();
}

TEST(Guide, ItsSessionRunsAsWrittenOnTheSimulatedCard) {
  std::ifstream file(TAPELOOM_GUIDE);
  ASSERT_TRUE(file) << TAPELOOM_GUIDE;
  std::stringstream markdown;
  markdown << file.rdbuf();

  ConsoleSession session;
  std::string typed;
  std::vector<std::string> expected;
  int typedBlocks = 0;
  for (const Block& block : FencedBlocks(markdown.str())) {
    if (block.info == "param.txt") {
      // The guide's card becomes the simulated one; every other line stays as written.
      std::string text = block.text;
      const std::size_t dv = text.find("dv\t");
      ASSERT_NE(dv, std::string::npos) << "the guide's param.txt names no device";
      text.replace(dv, text.find('\n', dv) - dv, "dv\ttapeloom_sim");
      session.Write("param.txt", text);
    } else if (block.info == "play.txt" || block.info == "record.txt") {
      session.Write(block.info, block.text);
    } else if (block.info == "typed") {
      typed += block.text;
      ++typedBlocks;
    } else if (block.info == "expect") {
      std::istringstream lines(block.text);
      for (std::string line; std::getline(lines, line);) {
        if (!line.empty()) expected.push_back(line);
      }
    }
  }
  ASSERT_GE(typedBlocks, 5) << "the guide's session was not found";
  ASSERT_TRUE(session.Exists("param.txt") && session.Exists("play.txt") && session.Exists("record.txt"));

  // The tracks of the guide's playlist, and a minute of what the inputs hear.
  WriteBytes(session / "bass.wav", Tone(30 * 48000, 110.0));
  WriteBytes(session / "keys.wav", Tone(30 * 48000, 440.0));
  // Each input sample tells the frame of the capture stream it was captured at.
  std::vector<std::int32_t> input;
  for (std::int64_t f = 0; f < 60 * 48000; ++f) {
    for (int channel = 0; channel < 2; ++channel) input.push_back(InputSample(f, channel));
  }
  WriteBytes(session / "card-in.raw", Pack24(input));

  const RunResult run = session.Run(typed);
  EXPECT_EQ(run.status, 0) << run.err;
  std::size_t at = 0;
  for (const std::string& line : expected) {
    const std::size_t found = run.out.find(line, at);
    ASSERT_NE(found, std::string::npos) << "not printed where the guide says: " << line << "\n" << run.out;
    at = found + line.size();
  }
  // What the guide says its session leaves: the recorded files and the mix.
  for (const char* name : {"vocal.wav", "guitar.wav", "mixdown.wav"}) EXPECT_TRUE(session.Exists(name)) << name;

  // Where the punch-in landed: the backups that `cin` made hold each file as the punch-in left
  // it. The first take fills 0 to 10 s, one run of the capture stream; the punch-in replaced 4
  // to 6 s, and only that, with a later run (the crossfades blend 20 ms at each seam).
  for (int channel = 0; channel < 2; ++channel) {
    const std::string name = channel == 0 ? "vocal_bkup_" : "guitar_bkup_";
    std::vector<std::string> backups;
    for (const std::string& found : session.Files()) {
      if (found.starts_with(name)) backups.push_back(found);
    }
    ASSERT_EQ(backups.size(), 1u) << name;
    const Bytes bytes = ReadBytes(session / backups[0]);
    ASSERT_GT(bytes.size(), 44u);
    const std::vector<std::int32_t> samples = Unpack24(std::span<const unsigned char>(bytes).subspan(44));
    ASSERT_GE(samples.size(), 10u * 48000) << backups[0];
    const auto streamFrame = [&](std::int64_t frame) {
      return StreamFrame(samples[static_cast<std::size_t>(frame)], channel) - frame;
    };
    const std::int64_t first = streamFrame(0);
    const std::int64_t punched = streamFrame(5 * 48000);
    EXPECT_GT(punched, first) << "the punch-in was recorded later than the first take";
    constexpr std::int64_t kSeam = 2 * 960;  // a crossfade each side of a seam, and as much again
    for (std::int64_t f = 0; f < static_cast<std::int64_t>(samples.size()); ++f) {
      if (std::abs(f - 4 * 48000) < kSeam || std::abs(f - 6 * 48000) < kSeam) continue;
      const bool inPunch = f > 4 * 48000 && f < 6 * 48000;
      ASSERT_EQ(streamFrame(f), inPunch ? punched : first) << backups[0] << " at frame " << f;
    }
  }
}

}  // namespace
}  // namespace tapeloom::test
