// The playlist and the record list as any text, through all a run and the console do with them.
// Input: 20 bytes of settings, four texts each ended by a 0 byte, and w.wav. The lists may name
// a.wav (44100 Hz), b.wav (96000 Hz), s.wav (stereo), p.wav (16-bit), z.wav (empty), d and f.
#include <sys/stat.h>

#include "fuzz_support.h"
#include "support/typed_input.h"
#include "tracks/list_files.h"
#include "tracks/list_listings.h"
#include "tracks/overwrite_check.h"
#include "tracks/run_lists.h"
#include "wave/wave_readers.h"

namespace tapeloom::fuzz {

void WriteFixedFiles() {
  WriteFile("a.wav", CanonicalWave(1, 24, 44100, 5000));
  WriteFile("b.wav", CanonicalWave(1, 24, 96000, 10));
  WriteFile("s.wav", CanonicalWave(2, 24, 44100, 100));
  WriteFile("p.wav", CanonicalWave(1, 16, 44100, 100));
  WriteFile("z.wav", "");
  mkdir("d", 0700);
  mkfifo("f", 0600);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  PrepareProcess(&WriteFixedFiles);
  std::array<std::uint8_t, 20> head{};  // bytes past the input's end read as 0
  std::copy_n(data, std::min(size, head.size()), head.begin());
  std::string_view rest =
      std::string_view(reinterpret_cast<const char*>(data), size).substr(std::min(size, head.size()));
  std::array<std::string, 4> parts;
  for (std::string& part : parts) {
    const std::size_t end = std::min(rest.find('\0'), rest.size());
    part = Confined(rest.substr(0, end));
    rest.remove_prefix(std::min(end + 1, rest.size()));
  }
  const auto& [playlist, recordList, typed, takeList] = parts;
  WriteFile("w.wav", rest);
  const int flags = head[0];
  RunListRequest request{
      .plays = (flags & 1) != 0, .records = (flags & 2) != 0, .monitor = (flags & 4) != 0, .solo = (flags & 8) != 0};
  SessionSettings s;
  int* const counts[] = {&s.ch, &s.inputs, &s.outputs};
  for (int k = 0; k < 3; ++k) *counts[k] = head[1 + k] == 255 ? kMaxTracks : head[1 + k];  // 255 stands for 256
  s.mix = static_cast<MixMode>(static_cast<std::int8_t>(head[4]));  // the listing must cope with any value
  s.sr = std::array<std::uint32_t, 4>{44100, 48000, 8000, 0}[head[5] % 4];
  const auto bits = [&head](std::size_t at, std::size_t shift, int mask) {  // of a little-endian 16-bit field
    return ((head[at] | head[at + 1] << 8) >> shift) & mask;
  };
  TrackFlags armed{};  // the audition's flags, 2 bits a track: values other than 0 and 1 too
  for (std::size_t t = 0; t < 16; ++t) {
    s.solo[t] = bits(6, t, 1);
    for (std::size_t bus = 0; bus < 4; ++bus) s.busAssign[bus][t] = bits(8 + 2 * bus, t, 1);
    if (t < 8) armed[t] = bits(17, 2 * t, 3);
  }
  for (std::size_t bus = 0; bus < 4; ++bus) s.busActive[bus] = (head[16] >> bus) & 1;
  const int entry = static_cast<std::int8_t>(head[19]);
  std::remove("play.txt");
  std::remove("record.txt");
  if ((flags & 32) == 0) WriteFile("play.txt", playlist);
  if ((flags & 64) == 0) WriteFile("record.txt", recordList);

  test::TypedInput input(typed.empty() ? std::string(" ") : typed);  // an empty stream cannot be opened
  try {
    if ((flags & 16) != 0) request.auditionList = Hybridize(playlist, takeList, armed, s.ch);
    const RunLists lists = ResolveRunLists(s, input, request);
    for (int t = 0; t < kMaxTracks; ++t) {  // flags 0 or 1, set only where the request and counts allow
      const WaveAttributes& a = lists.attributes[t];
      Require(IsFlag(lists.activeTracks[t]) && IsFlag(lists.armedInputs[t]) && IsFlag(lists.replacedTracks[t]),
              "a track flag other than 0 or 1");
      Require(lists.activeTracks[t] == 0 || (request.plays && t < s.ch && (!request.solo || s.solo[t] == 1) &&
                                             a.channels == 1 && a.bitsPerSample == 24 && a.length >= 0),
              "a track active wrongly");
      Require(lists.armedInputs[t] == 0 || ((request.records || request.monitor) && t < s.inputs),
              "an input armed wrongly");
      Require(lists.replacedTracks[t] == 0 || (request.records && t < s.ch), "a track replaced wrongly");
    }
  } catch (const InputEnded&) {  // every name typed failed to open: the run would not start
  }
  REC_ARM_CHECK(s.inputs, kSkipMark, s.rec[0]);
  PLAY_ARM_CHECK(s.ch, s.outputs, kSkipMark, s.solo, s.play[0], s.busAssign, s.mix, s.busActive, s.sr);
  Require(SEEK_LONG_FILE(s.ch, kSkipMark, s.play[0]) >= 0, "a negative longest length");
  const std::vector<std::string> entries = SplitList(playlist);
  const bool exists = entry >= 0 && static_cast<std::size_t>(entry) < entries.size();
  Require(GET_FILENAME(playlist, entry) == (exists ? entries[static_cast<std::size_t>(entry)] : ""), "wrong entry");
  const std::string hybrid = Hybridize(playlist, takeList, armed, s.ch);
  Require(std::count(hybrid.begin(), hybrid.end(), '\n') == s.ch, "the audition list has not one line per track");

  TrackFlags kept, routed{};
  kept.fill(1);
  VerifyChannels(s.busAssign, kept);
  for (const TrackFlags& bus : s.busAssign)
    for (int t = 0; t < kMaxTracks; ++t) routed[t] |= bus[t];
  Require(kept == routed, "the bus check keeps other tracks than those that feed a bus");
  int dontAskAgain = 0;
  try {
    FILE_CHECK(s.inputs, recordList, dontAskAgain, input);
  } catch (const InputEnded&) {
  }
  return 0;
}

}  // namespace tapeloom::fuzz
