// The record list and the playlist as any text: the resolution a run makes of them (with the
// names typed while a list cannot be read), the "lr" and "lp" listings, the longest file of the
// playlist, the lookup of an entry, the audition's list, the bus check and the overwrite check.
//
// The input is laid out as
//   20 bytes   the request, the counts, the mix mode, the rate, solo flags, bus routing and the
//              armed flags of the audition list (layout in ReadSession)
//   text \0    the playlist ("play.txt"; left out when the request says it is missing)
//   text \0    the record list ("record.txt"; likewise)
//   text \0    the words typed (names asked for, answers to the overwrite check)
//   text \0    the take list of the audition
//   bytes      the file "w.wav"
// and the lists may name the files that every input finds beside them: a.wav (mono 24-bit at
// 44100 Hz), b.wav (mono 24-bit at 96000 Hz), s.wav (stereo), p.wav (16-bit), z.wav (empty),
// the directory d and the FIFO f. Every '/' becomes '_', so that no
// name leaves the working directory.
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/session_settings.h"
#include "fuzz_support.h"
#include "support/typed_input.h"
#include "tracks/list_files.h"
#include "tracks/list_listings.h"
#include "tracks/overwrite_check.h"
#include "tracks/run_lists.h"
#include "wave/wave_readers.h"

namespace tapeloom::fuzz {
namespace {

constexpr std::uint32_t kRates[] = {44100, 48000, 8000, 0};

void WriteFixedFiles() {
  WriteFile("a.wav", CanonicalWave(1, 24, 44100, 5000));
  WriteFile("b.wav", CanonicalWave(1, 24, 96000, 10));
  WriteFile("s.wav", CanonicalWave(2, 24, 44100, 100));
  WriteFile("p.wav", CanonicalWave(1, 16, 44100, 100));
  WriteFile("z.wav", std::string_view());
  mkdir("d", 0700);
  mkfifo("f", 0600);
}

// 0..255 as they come, and 255 for the largest count, 256.
int Count(std::uint8_t byte) { return byte == 255 ? kMaxTracks : byte; }

struct Case {
  RunListRequest request;
  bool playlistMissing = false;
  bool recordListMissing = false;
  SessionSettings settings;
  std::array<int, kMaxTracks> auditionArmed{};
  int entry = 0;
};

Case ReadSession(InputParts& in) {
  Case c;
  const std::uint8_t flags = in.Byte();
  c.request.plays = (flags & 1) != 0;
  c.request.records = (flags & 2) != 0;
  c.request.monitor = (flags & 4) != 0;
  c.request.solo = (flags & 8) != 0;
  c.playlistMissing = (flags & 32) != 0;
  c.recordListMissing = (flags & 64) != 0;
  const bool audition = (flags & 16) != 0;
  SessionSettings& s = c.settings;
  s.ch = Count(in.Byte());
  s.inputs = Count(in.Byte());
  s.outputs = Count(in.Byte());
  s.mix = static_cast<MixMode>(
      static_cast<std::int8_t>(in.Byte()));  // any value: the listing prints no destination beyond 0..3
  s.sr = kRates[in.Byte() % 4];
  const std::uint16_t solo = static_cast<std::uint16_t>(in.Byte() | in.Byte() << 8);
  for (int t = 0; t < 16; ++t) s.solo[static_cast<std::size_t>(t)] = (solo >> t) & 1;
  // Busses 1..4 and tracks 1..16: one bit per assignment, then the four busses' flags.
  for (std::size_t bus = 0; bus < 4; ++bus) {
    const std::uint16_t tracks = static_cast<std::uint16_t>(in.Byte() | in.Byte() << 8);
    for (std::size_t t = 0; t < 16; ++t) s.busAssign[bus][t] = (tracks >> t) & 1;
  }
  const std::uint8_t active = in.Byte();
  for (std::size_t bus = 0; bus < 4; ++bus) s.busActive[bus] = (active >> bus) & 1;
  // The audition list's flags: 2 bits a track, so that values other than 0 and 1 occur too.
  const std::uint16_t armed = static_cast<std::uint16_t>(in.Byte() | in.Byte() << 8);
  for (std::size_t t = 0; t < 8; ++t) c.auditionArmed[t] = (armed >> (2 * t)) & 3;
  c.entry = static_cast<std::int8_t>(in.Byte());
  if (audition) c.request.auditionList.emplace();
  return c;
}

void CheckFlags(const Case& c, const RunLists& lists) {
  const SessionSettings& s = c.settings;
  for (std::size_t t = 0; t < kMaxTracks; ++t) {
    const int active = lists.activeTracks[t];
    const int armed = lists.armedInputs[t];
    const int replaced = lists.replacedTracks[t];
    Require(active == 0 || active == 1, "an active flag other than 0 or 1");
    Require(armed == 0 || armed == 1, "an armed flag other than 0 or 1");
    Require(replaced == 0 || replaced == 1, "a replaced flag other than 0 or 1");
    if (active == 1) {
      Require(c.request.plays && static_cast<int>(t) < s.ch, "a track active beyond the run's tracks");
      Require(!c.request.solo || s.solo[t] == 1, "a track not soloed plays in a soloed run");
      const WaveAttributes& a = lists.attributes[t];
      Require(a.channels == 1 && a.bitsPerSample == 24 && a.length >= 0, "an active track the reader refused");
    }
    if (armed == 1) {
      Require((c.request.records || c.request.monitor) && static_cast<int>(t) < s.inputs, "an input armed wrongly");
    }
    if (replaced == 1) Require(c.request.records && static_cast<int>(t) < s.ch, "a track replaced wrongly");
  }
}

}  // namespace
}  // namespace tapeloom::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tapeloom;
  using namespace tapeloom::fuzz;
  static const bool prepared = (PrepareProcess(), WriteFixedFiles(), true);
  (void)prepared;

  InputParts in(data, size);
  Case c = ReadSession(in);
  const std::string playlist = Confined(in.Part('\0'));
  const std::string recordList = Confined(in.Part('\0'));
  const std::string typed = Confined(in.Part('\0'));
  const std::string takeList = Confined(in.Part('\0'));
  WriteFile("w.wav", in.Rest());
  std::remove("play.txt");
  std::remove("record.txt");
  if (!c.playlistMissing) WriteFile("play.txt", playlist);
  if (!c.recordListMissing) WriteFile("record.txt", recordList);
  SessionSettings& s = c.settings;
  // A stream of no bytes cannot be opened in memory; one blank ends the input all the same.
  test::TypedInput input(typed.empty() ? std::string(" ") : typed);

  try {
    if (c.request.auditionList) c.request.auditionList = Hybridize(playlist, takeList, c.auditionArmed, s.ch);
    CheckFlags(c, ResolveRunLists(s, input, c.request));
  } catch (const InputEnded&) {
    // Every name typed failed to open: the run would not start.
  }
  REC_ARM_CHECK(s.inputs, kSkipMark, s.rec[0]);
  PLAY_ARM_CHECK(s.ch, s.outputs, kSkipMark, s.solo, s.play[0], s.busAssign, s.mix, s.busActive, s.sr);
  Require(SEEK_LONG_FILE(s.ch, kSkipMark, s.play[0]) >= 0, "a negative longest length");

  const std::vector<std::string> entries = SplitList(playlist);
  const std::string entry = GET_FILENAME(playlist, c.entry);
  const bool exists = c.entry >= 0 && static_cast<std::size_t>(c.entry) < entries.size();
  Require(entry == (exists ? entries[static_cast<std::size_t>(c.entry)] : std::string()), "the wrong entry");

  const std::string hybrid = Hybridize(playlist, takeList, c.auditionArmed, s.ch);
  Require(std::count(hybrid.begin(), hybrid.end(), '\n') == s.ch, "the audition list does not have one line per track");
  std::array<int, kMaxTracks> flags{};
  flags.fill(1);
  VerifyChannels(s.busAssign, flags);
  for (std::size_t t = 0; t < kMaxTracks; ++t) {
    bool routed = false;
    for (const auto& bus : s.busAssign) routed = routed || bus[t] == 1;
    Require(flags[t] == (routed ? 1 : 0), "the bus check kept a track that feeds no bus");
  }

  int dontAskAgain = 0;
  try {
    FILE_CHECK(s.inputs, recordList, dontAskAgain, input);
  } catch (const InputEnded&) {
  }
  return 0;
}
