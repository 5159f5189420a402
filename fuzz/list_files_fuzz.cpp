// The lists as any text through a run and the console: 20 bytes of settings, four 0-ended texts, w.wav.
#include <sys/stat.h>

#include "fuzz_support.h"
#include "tracks/list_files.h"
#include "tracks/list_listings.h"
#include "tracks/overwrite_check.h"
#include "tracks/run_lists.h"

namespace tapeloom::fuzz {

void WriteFixedFiles() {  // files the lists may name, and a directory and a FIFO
  for (const auto& [name, w] : {std::pair{"a.wav", CanonicalWave(1, 24, 44100, 5000)},
                                {"b.wav", CanonicalWave(1, 24, 96000, 10)},
                                {"s.wav", CanonicalWave(2, 24, 44100, 100)},
                                {"p.wav", CanonicalWave(1, 16, 44100, 100)},
                                {"z.wav", ""}})
    WriteFile(name, w);
  Require(mkdir("d", 0700) == 0 && mkfifo("f", 0600) == 0, "cannot make d and f");
}

// clang-format off
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  PrepareProcess(&WriteFixedFiles); std::array<std::uint8_t, 20> head{};  // bytes past the input's end read as 0
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  rest.remove_prefix(std::copy_n(data, std::min(size, head.size()), head.begin()) - head.begin());
  std::array<std::string, 4> parts;
  for (std::string& part : parts) {  // no name leaves the working directory
    part = rest.substr(0, rest.find('\0')); rest.remove_prefix(std::min(part.size() + 1, rest.size()));
    std::replace(part.begin(), part.end(), '/', '_');
  }
  const auto& [playlist, recordList, typed, takeList] = parts; WriteFile("w.wav", rest);
  const int flags = head[0], entry = static_cast<std::int8_t>(head[19]);
  RunListRequest request{.plays = (flags & 1) != 0, .records = (flags & 2) != 0, .monitor = (flags & 4) != 0, .solo = (flags & 8) != 0};
  SessionSettings s; int* const counts[] = {&s.ch, &s.inputs, &s.outputs};
  for (int k = 0; k < 3; ++k) *counts[k] = head[1 + k] == 255 ? kMaxTracks : head[1 + k];  // 255 stands for 256
  s.mix = static_cast<MixMode>(static_cast<std::int8_t>(head[4]));  // the listing must cope with any value
  s.sr = std::array<std::uint32_t, 4>{44100, 48000, 8000, 0}[head[5] % 4];
  const auto bit = [&head](std::size_t k) { return (head[k / 8] >> (k % 8)) & 1; };  // little-endian
  TrackFlags armed{};  // the audition's flags, 2 bits a track: values other than 0 and 1 too
  for (std::size_t t = 0; t < 16; ++t) {
    s.solo[t] = bit(48 + t);
    for (std::size_t bus = 0; bus < 4; ++bus) s.busAssign[bus][t] = bit(64 + 16 * bus + t);
    if (t < 4) s.busActive[t] = bit(128 + t);
    if (t < 8) armed[t] = bit(136 + 2 * t) | bit(137 + 2 * t) << 1;
  }
  if (std::remove("play.txt"); (flags & 32) == 0) WriteFile("play.txt", playlist);
  if (std::remove("record.txt"); (flags & 64) == 0) WriteFile("record.txt", recordList);
  test::TypedInput input(typed.empty() ? std::string(" ") : typed);  // an empty stream cannot be opened
  try {  // flags are 0 or 1, set only where the request, counts and files allow; InputEnded: no typed name opened
    if ((flags & 16) != 0) request.auditionList = Hybridize(playlist, takeList, armed, s.ch);
    const RunLists lists = ResolveRunLists(s, input, request);
    const auto allowed = [](int flag, bool may) { return flag == 0 || (flag == 1 && may); };
    for (int t = 0; t < kMaxTracks; ++t) {
      const WaveAttributes& a = lists.attributes[t];
      const bool plays = request.plays && t < s.ch && (!request.solo || s.solo[t] == 1) && a.channels == 1 && a.bitsPerSample == 24 && a.length >= 0;
      Require(allowed(lists.activeTracks[t], plays) && allowed(lists.replacedTracks[t], request.records && t < s.ch) &&
                  allowed(lists.armedInputs[t], (request.records || request.monitor) && t < s.inputs),
              "a track flag other than 0 or 1, or set where the request and counts forbid");
    }
  } catch (const InputEnded&) {
  }
  REC_ARM_CHECK(s.inputs, kSkipMark, s.rec[0]);
  PLAY_ARM_CHECK(s.ch, s.outputs, kSkipMark, s.solo, s.play[0], s.busAssign, s.mix, s.busActive, s.sr);
  Require(SEEK_LONG_FILE(s.ch, kSkipMark, s.play[0]) >= 0, "a negative longest length");
  const std::vector<std::string> names = SplitList(playlist);
  const std::string hybrid = Hybridize(playlist, takeList, armed, s.ch);
  Require(GET_FILENAME(playlist, entry) == (entry >= 0 && entry < std::ssize(names) ? names[entry] : ""), "a wrong playlist entry");
  Require(std::count(hybrid.begin(), hybrid.end(), '\n') == s.ch, "the audition list has not one line per track");
  TrackFlags kept = s.solo;  // the bus check clears only the flags of the tracks that feed no bus
  VerifyChannels(s.busAssign, kept);
  for (int t = 0; t < kMaxTracks; ++t)
    Require(kept[t] == (s.solo[t] & (s.busAssign[0][t] | s.busAssign[1][t] | s.busAssign[2][t] | s.busAssign[3][t])),
            "the bus check keeps other tracks than the flagged ones that feed a bus");
  try {
    int dontAskAgain = 0; FILE_CHECK(s.inputs, recordList, dontAskAgain, input);
  } catch (const InputEnded&) {
  }
  return 0;
}
// clang-format on

}  // namespace tapeloom::fuzz
