#include "tracks/overwrite_check.h"

#include <cstdio>
#include <string>

#include "tracks/list_files.h"
#include "wave/wave_file.h"

namespace tapeloom {

int FILE_CHECK(int n, std::string_view listText, int& dontAskAgain, ConsoleInput& input) {
  const std::vector<std::string> entries = SplitList(listText);
  int existing = 0;
  for (std::size_t k = 0; k < entries.size() && k < static_cast<std::size_t>(n < 0 ? 0 : n); ++k) {
    if (entries[k] == "-") continue;
    if (OpensForReading(entries[k])) ++existing;
  }
  if (existing == 0) return 1;

  std::puts("-------------------------");
  if (existing == 1) {
    std::puts("1 file exists!");
  } else {
    std::printf("%i files exists!\n", existing);
  }
  for (;;) {
    std::puts("Enter 'w' to overwrite");
    std::puts("Enter 'W' to overwrite and don't ask again.");
    std::puts("Enter 'r' to return to previous menu.");
    const std::string answer = input.ReadWord();
    if (answer == "w") return 1;
    if (answer == "r") return 0;
    if (answer == "W") {
      dontAskAgain = 1;
      return 1;
    }
  }
}

}  // namespace tapeloom
