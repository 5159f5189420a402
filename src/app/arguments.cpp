#include "app/arguments.h"

#include <cstdio>
#include <string_view>

namespace tapeloom {
namespace {

constexpr char kUsage[] =
    "Usage: tapeloom [--help | --version]\n"
    "\n"
    "Tapeloom records and plays mono 24-bit WAV tracks through an ALSA sound card, from a\n"
    "text console.\n"
    "\n"
    "Run it without arguments in the folder of a session: it works in the current directory.\n"
    "There it reads and writes param.txt (the sound device, channels, period, transport points\n"
    "and mixer settings; the first start asks for them), the record list and the playlist\n"
    "(record.txt and play.txt unless param.txt names others), the tracks they list, and the\n"
    "takes, backups and mixes it makes. Type + at its prompt for the commands; man tapeloom\n"
    "describes them, the files and how to choose a device.\n"
    "\n"
    "  --help     print this text\n"
    "  --version  print the version\n";

}  // namespace

int AnswerArguments(int argc, const char* const* argv) {
  const std::string_view word = argc == 2 ? std::string_view(argv[1]) : std::string_view();
  if (argc == 2 && word == "--version") {
    std::printf("%s\n", kVersionLine);
    return 0;
  }
  if (argc == 2 && word == "--help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc == 2) {
    std::fprintf(stderr, "tapeloom: '%s' is not an argument it knows\n", argv[1]);
  } else {
    std::fprintf(stderr, "tapeloom: takes at most one argument\n");
  }
  std::fputs(kUsage, stderr);
  return 2;
}

}  // namespace tapeloom
