// "lr" and "lp" at the real prompt, in every mix mode.
#include <gtest/gtest.h>

#include "support/console_harness.h"
#include "tracks/list_listings.h"

namespace tapeloom::test {
namespace {

class ListingsConsole : public testing::Test {
 protected:
  std::string Listing(const std::string& settings, const std::string& word, int outputs = 2) {
    session.Write("param.txt", SimCardParams(4, outputs, 6) + "int\t0\n" + settings);
    const RunResult run = session.Run(word + "\nfoo\nc\n");
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string after = AfterDriverReport(run.out);
    const std::size_t first = after.find('\n') + 1;  // past the status line
    const std::size_t end = after.find("Enter 'c' to continue\n");
    EXPECT_NE(end, std::string::npos);
    return after.substr(first, end - first);
  }
  ConsoleSession session;
};

const std::string kPlayHeader = "File: play.txt\nSource\t\t\tSolo\tDestination\n";
const std::string kDashes = "-------------------------\n";

TEST_F(ListingsConsole, RecordListArmsTheFirstInputs) {
  session.Write("play.txt", "");
  session.Write("record.txt", "x.wav\n-\n\ny.wav\nz.wav\nbeyond.wav\n");
  EXPECT_EQ(Listing("", "lr"),
            "File: record.txt\nSource\t\tStatus\t\tDestination\n"
            "In 1\t\tARMED\t\tx.wav\nIn 3\t\tARMED\t\ty.wav\nIn 4\t\tARMED\t\tz.wav\n" +
                kDashes);
}

TEST_F(ListingsConsole, EmptyRecordList) {
  session.Write("play.txt", "");
  session.Write("record.txt", "");
  EXPECT_EQ(Listing("", "lr"), "File: record.txt\nSource\t\tStatus\t\tDestination\n" + kDashes);
}

TEST_F(ListingsConsole, DirectOutputs) {
  session.Write("record.txt", "");
  session.Write("play.txt", "a.wav\n\nb.wav\n-drums.wav\nverylongfilename.wav\n");
  EXPECT_EQ(Listing("solo\t2\n", "lp"),
            kPlayHeader + "a.wav\t\toff\tOut 1\nb.wav\t\tON\tOut 2\n" + "verylongfile\t\toff\tOut (4)\n" + kDashes);
}

TEST_F(ListingsConsole, StereoPair) {
  session.Write("record.txt", "");
  session.Write("play.txt", "a.wav\nb.wav\nc.wav\nd.wav\n");
  EXPECT_EQ(Listing("mix\t1\n", "lp", 3), kPlayHeader + "a.wav\t\toff\tOut 1 2\nb.wav\t\toff\tOut 1 2\n" +
                                              "c.wav\t\toff\tOut 1 2 3\nd.wav\t\toff\tOut 1 2 (4)\n" + kDashes);
}

TEST_F(ListingsConsole, BussesToOutputPairs) {
  session.Write("record.txt", "");
  session.Write("play.txt", "t1.wav\nt2.wav\nt3.wav\nt4.wav\nt5.wav\n");
  // Bus 2 (outputs 3 and 4, beyond the interface) carries tracks 1 and 5; bus 1 is unused, so
  // tracks 1 and 2 also show their own outputs.
  EXPECT_EQ(Listing("mix\t2\nbus\t2\t1,5,\n", "lp"),
            kPlayHeader + "t1.wav\t\toff\tOut 1 (3 4) \nt2.wav\t\toff\tOut 2 \nt3.wav\t\toff\tOut \n" +
                "t4.wav\t\toff\tOut \nt5.wav\t\toff\tOut (3 4) (5) \n" + kDashes);
}

TEST_F(ListingsConsole, BussesToTheMaster) {
  session.Write("record.txt", "");
  session.Write("play.txt", "t1.wav\nt2.wav\nt3.wav\n");
  EXPECT_EQ(Listing("mix\t3\nbus\t1\t1,\nbus\t3\t1,2,\n", "lp"),
            kPlayHeader + "t1.wav\t\toff\tOut 1 2 Bus 3 -> Out 1 2 \nt2.wav\t\toff\tBus 3 -> Out 1 2 \n" +
                "t3.wav\t\toff\t\n" + kDashes);
}

TEST_F(ListingsConsole, WordsBeforeCAreSwallowed) {
  session.Write("record.txt", "");
  session.Write("play.txt", "");
  session.Write("param.txt", SimCardParams() + "int\t0\n");
  const RunResult run = session.Run("lp\ns\nx\nc\n");
  EXPECT_EQ(run.out.find("Stored Settings"), std::string::npos);
  EXPECT_EQ(run.status, 0);
}

TEST(Listings, MissingFiles) {
  TempDir dir;
  const std::string path = (dir / "gone.txt").string();
  testing::internal::CaptureStdout();
  EXPECT_EQ(REC_ARM_CHECK(2, '-', path), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Cannot find recordlist file called " + path + "\n");
  testing::internal::CaptureStdout();
  std::array<int, kMaxTracks> solo{};
  std::array<std::array<int, kMaxTracks>, kMaxBusses> assign{};
  std::array<int, kMaxBusses> active{};
  EXPECT_EQ(PLAY_ARM_CHECK(2, 2, '-', solo, path, assign, MixMode::kDirect, active, 48000), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Playlist file called " + path + " was not found!\n");
}

}  // namespace
}  // namespace tapeloom::test
