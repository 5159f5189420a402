// Every write and flush of every take operation failing in turn, as on a card that goes bad
// half way: each failure is reported with its file and reason, no operation reports success
// for work that failed, no take is lost, and no part of a new file is left under a real name.
#include <gtest/gtest.h>

#include <functional>

#include "support/file_faults.h"
#include "takes/crossfade.h"
#include "takes/take_files.h"
#include "takes/take_files_support.h"

namespace tapeloom {
namespace {

using test::Bytes;
using test::Printed;
using test::Samples;
using Names = std::set<std::string>;

Samples Ramp(std::size_t frames, std::int32_t step) {
  Samples s;
  for (std::size_t i = 0; i < frames; ++i) s.push_back(static_cast<std::int32_t>(i) * step - 4000000);
  return s;
}

struct Operation {
  const char* what;
  // Writes the files the operation works on; "take.wav" is the take that must survive.
  std::function<void()> setUp;
  std::function<bool()> run;
  // What a failed run leaves: the files in the folder, and its last line of output.
  Names filesAfterFailure;
  std::string lastLineOfFailure;
  // The files whose bytes a failed run must leave as they were.
  std::vector<std::string> unchangedAfterFailure;
};

class WriteFailures : public test::InTempDir {
 protected:
  std::string lastPrinted;
  bool lastSucceeded = false;
};

TEST_F(WriteFailures, NoTakeOperationLosesAFileOrReportsSuccessForWorkThatFailed) {
  // Long enough that copies, silence and fades each take several blocks.
  const auto takeAndOld = [] {
    test::WriteWave("take.wav", Ramp(70001, 37));
    test::WriteWave("old.wav", Ramp(140000, -29));
  };
  const Operation operations[] = {
      {"pad in place",
       [] { test::WriteWave("take.wav", Ramp(70001, 37)); },
       [] { return PAD_FILE("take.wav", 70000).ok(); },
       Names{"take.wav"},
       "take.wav was not padded; it is unchanged\n",
       {"take.wav"}},
      {"pad to a new name",
       [] { test::WriteWave("take.wav", Ramp(70001, 37)); },
       [] { return PadTake("take.wav", 70000, "padded.wav", Placement::kKeepExisting).ok(); },
       Names{"take.wav"},
       "take.wav was not padded; it is unchanged\n",
       {"take.wav"}},
      {"backup",
       [] { test::WriteWave("take.wav", Ramp(140000, 3)); },
       [] { return COPY_FILE(7, "take.wav") == 1; },
       Names{"take.wav"},
       "Cannot create backup file take_bkup_7.wav\n",
       {"take.wav"}},
      {"insertion with fades",
       takeAndOld,
       [] { return InsertTakeWithCrossfades("old.wav", "take.wav", 1000, 70001, 9000, 48000).ok(); },
       Names{"old.wav", "take.wav"},
       "take.wav was not inserted into old.wav; the take is kept\n",
       {"take.wav"}},
      {"insertion without fades",
       takeAndOld,
       [] { return InsertTakeWithCrossfades("old.wav", "take.wav", 100000, 70001, 0, 48000).ok(); },
       Names{"old.wav", "take.wav"},
       "take.wav was not inserted into old.wav; the take is kept\n",
       {"take.wav"}},
  };
  for (const Operation& op : operations) {
    SCOPED_TRACE(op.what);
    std::map<std::string, Bytes> before;
    const int failurePoints = test::SweepWriteFailures(
        [&] {
          for (const auto& entry : std::filesystem::directory_iterator(dir.path())) std::filesystem::remove(entry);
          op.setUp();
          for (const std::string& name : Files()) before[name] = test::ReadBytes(name);
          bool succeeded = true;
          const std::string printed = Printed([&] { succeeded = op.run(); });
          lastPrinted = printed;
          lastSucceeded = succeeded;
        },
        [&](int n) {
          SCOPED_TRACE(testing::Message() << "write " << n << " failed");
          EXPECT_FALSE(lastSucceeded);
          EXPECT_NE(lastPrinted.find(": Input/output error\n"), std::string::npos) << lastPrinted;
          EXPECT_TRUE(lastPrinted.ends_with(op.lastLineOfFailure)) << lastPrinted;
          EXPECT_EQ(lastPrinted.find("Copied"), std::string::npos);
          EXPECT_EQ(Files(), op.filesAfterFailure) << "no temporary and no part of a new file";
          for (const std::string& name : op.unchangedAfterFailure) EXPECT_EQ(test::ReadBytes(name), before[name]);
          // A fade that could not be made stops the insertion before the old file is touched.
          if (lastPrinted.find("Can't write to xfade_temp") != std::string::npos) {
            EXPECT_EQ(test::ReadBytes("old.wav"), before["old.wav"]);
          }
        });
    EXPECT_GT(failurePoints, 2);
    EXPECT_TRUE(lastSucceeded) << "without a failure it succeeds: " << lastPrinted;
  }
}

}  // namespace
}  // namespace tapeloom
