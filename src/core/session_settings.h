// The session state that lives from start-up to the end of the program: every setting that
// param.txt stores, with its default, and the fixed-size tables of the mixer, the locate
// points, the ranges and the list-file slots.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/sample_position.h"

namespace tapeloom {

inline constexpr int kMaxTracks = 256;  // tracks, and input and output channels
inline constexpr int kMaxBusses = 64;
inline constexpr int kRangeSlots = 64;
inline constexpr int kLocateSlots = 64;
inline constexpr int kListSlots = 128;      // stored playlist and record list file names
inline constexpr int kPointNameBytes = 64;  // range and locate names: 63 characters and a terminator
inline constexpr std::size_t kPointNameMax = kPointNameBytes - 1;
inline constexpr const char* kUnnamedPoint = "(name)";

struct TimeRange {
  SamplePosition in = 0;
  SamplePosition out = 0;
  std::string name = kUnnamedPoint;
};

struct LocatePoint {
  SamplePosition position = 0;
  std::string name = kUnnamedPoint;
};

// The rates a card may be asked for. A rate of 0 (what a misread number gives) would open the
// card at a rate of its own choosing and make every time shown a division by zero.
inline constexpr std::uint32_t kMinSampleRate = 8000;
inline constexpr std::uint32_t kMaxSampleRate = 384000;

// Field names are the param.txt keys. Names are held whole (std::string): a file name cut to a
// fixed width could open or overwrite another file.
// How playback and the export route the tracks (the setting "mix").
enum class MixMode : int {
  kDirect = 0,    // each track to its own output
  kStereo = 1,    // every track to outputs 1 and 2, by its volume and pan
  kBusPairs = 2,  // tracks into busses, each bus to its pair of outputs
  kMaster = 3,    // tracks into busses, the busses into bus 1, the master on outputs 1 and 2
};

// Modes 2 and 3 route through the busses.
constexpr bool MixesIntoBusses(MixMode mode) { return mode == MixMode::kBusPairs || mode == MixMode::kMaster; }

// One flag per track or channel, 1 where it holds (the track plays, is soloed, is replaced; the
// input is armed, was recorded). Ints, not bools: list files and param.txt write them as numbers,
// and a track list keeps the wave reader's code (0, 2, 3) where a track cannot play.
using TrackFlags = std::array<int, kMaxTracks>;

// Which tracks feed which bus: [bus][track], 1 = feeds.
using BusAssignTable = std::array<TrackFlags, kMaxBusses>;

struct SessionSettings {
  int ch = -1;       // maximum number of tracks; -1 until start-up resolves it
  int inputs = -1;   // interface input channels; -1 until resolved
  int outputs = -1;  // interface output channels; -1 until resolved
  std::string dv = "default";
  std::uint32_t sr = 44100;
  int buf = 1024;          // requested period; the device set-up limits it to 16..4096
  int int_ = 1;            // the `int` key: 1 = full status display, 0 = one status line
  int clock = 1;           // 0 hidden (hc), 1 rewritten in place (uc), 2 streamed (sc)
  int peak = 1;            // 0 no peak checking (np), 1 check peaks while recording (cp)
  SamplePosition i = 0;    // play start
  SamplePosition o = 0;    // play/record stop; 0 = not set
  SamplePosition e = 0;    // record enter (punch-in)
  SamplePosition mem = 0;  // memory
  float nudge = 0.25f;     // seconds
  float proll = 0.0f;      // preroll, seconds
  float aud = 3.0f;        // audition length, seconds, never negative
  float xfade = 0.0f;      // crossfade, milliseconds
  int odcomp = 4;          // output delay compensation, device periods
  int latcomp = 0;         // the card's own latency, frames, as "cal" measured it; signed
  MixMode mix = MixMode::kDirect;
  int meter = -30;       // floor of the meter range, dB; 0 = meter off
  int tmode = 0;         // 0 seconds, 1 measure.beat
  float tempo = 120.0f;  // beats per minute
  int sig = 4;           // beats per measure
  int safe = 0;          // safety mode for replacing files

  std::array<float, kMaxTracks> v{};  // volume, dB
  std::array<float, kMaxTracks> p{};  // pan, -100..100
  TrackFlags solo{};                  // 1 = soloed
  std::array<TimeRange, kRangeSlots> range{};
  std::array<LocatePoint, kLocateSlots> loc{};
  std::array<std::string, kListSlots> play{"play.txt"};   // slot 1 (index 0) is the playlist in use
  std::array<std::string, kListSlots> rec{"record.txt"};  // slot 1 is the record list in use
  std::array<int, kMaxBusses> busActive{};
  BusAssignTable busAssign{};
  std::array<float, kMaxBusses> busvl{};  // bus level, dB
  std::array<float, kMaxBusses> busGain = [] {
    std::array<float, kMaxBusses> gains{};
    gains.fill(1.0f);
    return gains;
  }();

  int firstRun = 0;  // 1 when the first-run questions were asked; the session then saves param.txt
};

// Limits a range or locate name to what its 64-byte slot holds (63 characters).
std::string LimitPointName(std::string_view name);

}  // namespace tapeloom
