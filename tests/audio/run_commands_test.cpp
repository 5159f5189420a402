// The checks before a recording, at the edges: the longest take a wave file can hold, for each
// record command and the record start it records from.
#include <gtest/gtest.h>

#include "audio/run_commands.h"
#include "support/typed_input.h"
#include "wave/wave_header.h"

namespace tapeloom::test {
namespace {

TEST(RecordCommand, ATakeLongerThanAWaveFileCanHoldIsRefusedBeforeAnythingStarts) {
  const std::int64_t longest = LongestWaveFrames(1);
  ASSERT_EQ(longest, 1431655753) << "3 bytes a frame, data and RIFF sizes within 32 bits";
  struct Case {
    const char* word;
    std::int64_t in, enter, out;  // the points before the command
    bool refused;
  };
  // "r" records from the later of the play start and the record start; "ri" from the play start.
  const Case cases[] = {
      {"R", 0, 0, longest, false},
      {"R", 0, 0, longest + 1, true},
      {"R", 0, 4096, 4096 + longest, false},
      {"R", 0, 4096, 4096 + longest + 1, true},
      {"r", 8192, 4096, 8192 + longest, false},
      {"r", 8192, 4096, 8192 + longest + 1, true},
      {"ri", 9600, 0, 9600 + longest, false},
      {"ri", 9600, 0, 9600 + longest + 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.word << " to " << c.out);
    SessionSettings s;
    s.sr = 48000;
    s.i = static_cast<SamplePosition>(c.in);
    s.e = static_cast<SamplePosition>(c.enter);
    s.o = static_cast<SamplePosition>(c.out);
    TypedInput input("c\n");
    testing::internal::CaptureStdout();
    const std::optional<RunRequest> request = RecordCommand(s, input, 4800, c.word);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(request.has_value(), !c.refused) << out;
    if (!c.refused) continue;
    EXPECT_EQ(out,
              "\n>> Stop time is too far after record start: a take holds at most 8:17:06.16 at 48000 Hz "
              "(1431655753 frames)!\nEnter 'c' to continue and fix\n");
    if (std::string_view(c.word) == "ri") {
      EXPECT_EQ(s.i, c.in) << "the points are as they were";
      EXPECT_EQ(s.e, c.enter);
    }
  }
}

}  // namespace
}  // namespace tapeloom::test
