#include "console/help_page.h"

#include <cstdio>

namespace tapeloom {
namespace {

// Headings and the lines under them, as printed.
constexpr const char* kHelpLines[] = {
    "Monitoring:",
    "   'ma' to monitor all input channels for peaks ",
    "   'mr' to monitor record enabled channels for peaks ",
    "Assignments:",
    "   'lr' to list record ready tracks.",
    "   'lp' to list play ready tracks.",
    "Mixing:",
    "   'mix' to show mixer and adjust volume and pan",
    "   'mod' to change mix mode",
    "   'bus' to change bus routing",
    "File Export:",
    "   'exp-i' to export mix as interleaved stereo file",
    "   'exp-s' to export mix as split L/R files",
    "   's' to save all settings",
    "Settings:",
    "   'mtr' to adjust meter range",
    "   'tempo' to adjust tempo mode and settings",
    "   'opt' for options (clock, peaks, interface)",
    "   'safe' to view and change safety mode",
    "   'so' to view and edit solo assignments",
    "   'pre' to set preroll amount",
    "   'cal' to measure the card's latency with a loopback cable",
    "   'disk' to check that the storage keeps up with a recording",
    "Transport:",
    "   'i'  'o' or 'e' to set in, out, and record start",
    "   'j'  to jump ahead and 'J' to jump backward",
    "   'p'  to play",
    "   'sp' to play soloed tracks",
    "   'pf' to select a playlist file",
    "   'rf' to select a recordlist file",
    "   'r'  to record with playback",
    "   'R'  to record without playback",
    "   'ri' to record at in-point with preroll",
    "   'R_takeName' to record with preemptive take naming",
    "   'f'  to set stop to longest playing file",
    "   'cf' to set crossfade length",
    "   'ai' to audition from play start",
    "   'ao' to audition from play finish",
    "   'ae' to audition from record start",
    "   'aa' to set audition length",
    "   'x'  to exit program",
    "Nudging:",
    "   'n'  to nudge start forward",
    "   'b'  to nudge start backward",
    "   'no' and 'bo' to nudge stop point forward/backward",
    "   'ne' and 'be' to nudge record start forward/backward",
    "   'N'  and 'B' to nudge all",
    "   'nn' to set nudge amount",
    "Time Copy:",
    "   'i.o' 'e.o' or 'm.o' to copy to stop time",
    "   'i.m' 'e.m' or 'o.m' to copy to memory",
    "   'i.e' 'm.e' or 'o.e' to copy to record start",
    "   'e.i' 'm.i' or 'o.i' to copy to play start",
    "Locate and Range Points:",
    "   'io.' store range and '.io' recall range",
    "   'll'  to list locate points",
    "   'lio' to view range points",
    "   'i.l' 'o.l' or 'e.l' to save times to locate point",
    "   'l.i' 'l.o' or 'l.e' to recall times from locate point",
};

}  // namespace

void ShowHelpPage(ConsoleInput& input, std::string& word) {
  std::printf("\nFunctions:\n");
  for (const char* line : kHelpLines) std::puts(line);
  std::puts("");
  std::puts("Enter 'c' continue");
  word = input.WaitFor("c");
}

}  // namespace tapeloom
