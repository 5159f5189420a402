// The user guide's own session, run as the guide writes it: its param.txt, play.txt and
// record.txt blocks make a session on the simulated card (the device name replaced), its typed
// blocks are typed in order, and every line of its expect blocks must be printed, in order.
// A word that no longer works as the guide says fails here.
#include <gtest/gtest.h>

#include <cmath>
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
  std::vector<std::int32_t> input;
  for (std::int64_t f = 0; f < 60 * 48000; ++f) {
    input.push_back(static_cast<std::int32_t>(f % 4000) * 100 - 200000);
    input.push_back(static_cast<std::int32_t>(f % 3000) * 150 - 225000);
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
}

}  // namespace
}  // namespace tapeloom::test
