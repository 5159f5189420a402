#include "console/status_display.h"

#include <algorithm>
#include <cstdio>

#include "core/time_base.h"
#include "time/transport_points.h"

namespace tapeloom {
namespace {

double Seconds(const SessionSettings& s, SamplePosition position) {
  return static_cast<double>(PositionToSeconds(position, s.sr));
}

MusicalPosition Musical(const SessionSettings& s, SamplePosition position) {
  return SampleToMeasures(s.sig, s.tempo, position, s.sr);
}

void ShowFullInSeconds(const SessionSettings& s) {
  const SamplePosition recordStart = std::max(s.i, s.e);
  std::printf("Time functions:  (memory = %.2f)\n\n", Seconds(s, s.mem));
  std::printf("   'i' to set play start (%.2f)\n", Seconds(s, s.i));
  std::printf("   'o' to set play/record stop (%.2f)\n", Seconds(s, s.o));
  std::printf("   'e' to set record enter (%.2f)\n", Seconds(s, s.e));
  std::printf("\nTransport:\n");
  std::printf("   'p' to play from %.2f to %.2f.\n", Seconds(s, s.i), Seconds(s, s.o));
  std::printf("   'r' to play from %.2f and record from %.2f to %.2f.\n", Seconds(s, s.i), Seconds(s, recordStart),
              Seconds(s, s.o));
  std::printf("   'R' to record without playback from %.2f to %.2f.\n", Seconds(s, s.e), Seconds(s, s.o));
}

void ShowFullInMeasures(const SessionSettings& s) {
  const MusicalPosition mem = Musical(s, s.mem);
  const MusicalPosition in = Musical(s, s.i);
  const MusicalPosition out = Musical(s, s.o);
  const MusicalPosition enter = Musical(s, s.e);
  const MusicalPosition recordStart = Musical(s, std::max(s.i, s.e));
  std::printf("Time functions:  (memory = %i.%.2f)\n\n", mem.measure, static_cast<double>(mem.beat));
  std::printf("   'i' to set play start  (%i.%.2f)\n", in.measure, static_cast<double>(in.beat));
  std::printf("   'o' to set play/record stop (%i.%.2f)\n", out.measure, static_cast<double>(out.beat));
  std::printf("   'e' to set record enter (%i.%.2f)\n", enter.measure, static_cast<double>(enter.beat));
  std::printf("\nTransport:\n");
  std::printf("   'p' to play from %i.%.2f to %i.%.2f\n", in.measure, static_cast<double>(in.beat), out.measure,
              static_cast<double>(out.beat));
  std::printf("   'r' to play from %i.%.2f and record from %i.%.2f to %i.%.2f\n", in.measure,
              static_cast<double>(in.beat), recordStart.measure, static_cast<double>(recordStart.beat), out.measure,
              static_cast<double>(out.beat));
  std::printf("   'R' to record without playback from %i.%.2f to %i.%.2f\n", enter.measure,
              static_cast<double>(enter.beat), out.measure, static_cast<double>(out.beat));
}

}  // namespace

void ShowStatus(const SessionSettings& s) {
  if (s.int_ == 0) {
    ShowStatusLine(s);
    return;
  }
  if (s.tmode == 1) {
    ShowFullInMeasures(s);
  } else {
    ShowFullInSeconds(s);
  }
  std::puts("");
  std::puts("   '+' for all functions");
  std::puts("   's' to save all settings to param.txt file");
  std::puts("   'x' to exit program");
}

}  // namespace tapeloom
