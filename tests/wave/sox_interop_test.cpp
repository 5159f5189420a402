// sox as an independent implementation: every kind of file Tapeloom writes reads back in sox
// with the same samples, and the 24-bit mono files sox writes (extensible format chunk, fact
// chunk, pad byte) are read by Tapeloom with the same length and samples.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/run_command.h"
#include "support/temp_dir.h"
#include "support/wave_builder.h"
#include "wave/sample_encoding.h"
#include "wave/wave_header.h"
#include "wave/wave_readers.h"

namespace tapeloom {
namespace {

using test::Bytes;
using test::RunCommand;
using Samples = std::vector<std::int32_t>;

// Extremes first, then enough position-coded frames to reach negative codes.
Samples TestSignal(int frames, int channels) {
  Samples s = {0, 1, -1, kSampleMax, kSampleMin, 0x123456, -0x123456, 255, -256, 65536};
  s.resize(s.size() / channels * channels);
  const Samples coded = test::PositionCoded(frames, channels);
  s.insert(s.end(), coded.begin(), coded.end());
  return s;
}

// The samples of a wave file as sox decodes them. sox must not complain about the file.
Samples SoxSamples(const std::string& path) {
  const test::CommandResult r = RunCommand({"sox", path, "-t", "s24", "-"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "") << "sox on " << path;
  return test::Unpack24(Bytes(r.out.begin(), r.out.end()));
}

std::string SoxInfo(const std::string& option, const std::string& path) {
  const test::CommandResult r = RunCommand({"sox", "--i", option, path});
  EXPECT_EQ(r.status, 0) << r.err;
  return r.out;
}

// The samples of a mono 24-bit file as Tapeloom's attribute reader locates them.
Samples TapeloomSamples(const std::string& path, WaveAttributes& a) {
  EXPECT_EQ(GET_ATTRIBUTES(path, a), 1);
  const Bytes file = test::ReadBytes(path);
  if (a.length <= 0 || file.size() < static_cast<std::size_t>(a.dataOffset) + 3 * a.length) return {};
  Samples samples(static_cast<std::size_t>(a.length));
  CHAR_TO_NUM32(file.data() + a.dataOffset, samples.data(), 3, a.length);
  return samples;
}

class SoxInterop : public testing::Test {
 protected:
  std::string Path(std::string_view name) const { return (dir_ / name).string(); }
  test::TempDir dir_;
};

TEST_F(SoxInterop, MonoTakeReadsBackInSox) {
  const Samples signal = TestSignal(40000, 1);
  const std::string take = Path("take.wav");
  ASSERT_TRUE(MAKE_HEADER(take, 48000, 24, static_cast<std::int64_t>(signal.size()), 1).ok());
  Bytes bytes(signal.size() * 3);
  NUM24MONO_TO_CHAR(signal.data(), bytes.data(), static_cast<int>(signal.size()));
  test::AppendBytes(take, bytes);
  EXPECT_EQ(SoxSamples(take), signal);
  EXPECT_EQ(SoxInfo("-r", take), "48000\n");
  EXPECT_EQ(SoxInfo("-c", take), "1\n");
}

TEST_F(SoxInterop, InterleavedStereoExportReadsBackInSox) {
  const Samples signal = TestSignal(5000, 2);
  const int frames = static_cast<int>(signal.size() / 2);
  Samples left, right;
  std::vector<double> leftMix, rightMix;
  for (int f = 0; f < frames; ++f) {
    left.push_back(signal[2 * f]);
    right.push_back(signal[2 * f + 1]);
    leftMix.push_back(signal[2 * f]);  // whole values: the mix rounding leaves them as they are
    rightMix.push_back(signal[2 * f + 1]);
  }
  const std::string mix = Path("mix.wav");
  ASSERT_TRUE(MAKE_HEADER(mix, 44100, 24, 2 * frames, 2).ok());
  Bytes bytes(static_cast<std::size_t>(frames) * 6);
  NUM24STER_TO_CHAR(left.data(), right.data(), bytes.data(), frames);
  test::AppendBytes(mix, bytes);
  FLOAT_STER_TO_CHAR(leftMix.data(), rightMix.data(), bytes.data(), frames);
  test::AppendBytes(mix, bytes);

  Samples twice = signal;
  twice.insert(twice.end(), signal.begin(), signal.end());
  EXPECT_EQ(SoxSamples(mix), twice);
  EXPECT_EQ(SoxInfo("-c", mix), "2\n");
}

TEST_F(SoxInterop, FileAfterSizeCorrectionReadsBackWhole) {
  const Samples signal = TestSignal(300, 1);
  const std::string take = Path("take.wav");
  ASSERT_TRUE(MAKE_HEADER(take, 48000, 24, 48000, 1).ok());  // planned far longer than recorded
  test::AppendBytes(take, test::Pack24(signal));
  const test::CommandResult before = RunCommand({"sox", take, "-t", "s24", "-"});
  EXPECT_NE(before.err, "") << "sox notices a header that announces more than the file holds";

  ASSERT_TRUE(FIX_SIZE(take).ok());
  EXPECT_EQ(SoxSamples(take), signal);
  const Bytes file = test::ReadBytes(take);
  EXPECT_EQ(test::Field32(file, 4), file.size() - 8);
}

TEST_F(SoxInterop, FilesWrittenBySoxAreAccepted) {
  const Samples signal = TestSignal(1001, 1);  // an odd sample count: sox adds a pad byte
  const std::string raw = Path("in.raw");
  test::WriteBytes(raw, test::Pack24(signal));
  const std::string made = Path("sox.wav");
  ASSERT_EQ(RunCommand({"sox", "-t", "s24", "-r", "44100", "-c", "1", raw, "-b", "24", made}).status, 0);
  WaveAttributes a;
  EXPECT_EQ(TapeloomSamples(made, a), signal);
  EXPECT_EQ(a.sampleRate, 44100u);
  EXPECT_GT(a.dataOffset, 44) << "sox writes an extensible format chunk and a fact chunk";
  EXPECT_EQ(GET_LENGTH(made), static_cast<SamplePosition>(signal.size()));

  const std::string noise = Path("noise.wav");
  ASSERT_EQ(RunCommand({"sox", "-n", "-b", "24", "-r", "96000", "-c", "1", noise, "synth", "0.5", "whitenoise"}).status,
            0);
  EXPECT_EQ(TapeloomSamples(noise, a), SoxSamples(noise));
  EXPECT_EQ(std::to_string(a.length) + "\n", SoxInfo("-s", noise));
}

}  // namespace
}  // namespace tapeloom
