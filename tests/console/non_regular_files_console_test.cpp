// Things that are no regular files where Tapeloom expects one: FIFOs (which would hold a read
// forever), directories, and devices such as /dev/zero (which would be read without end),
// named as param.txt, as a list file, in the playlist or in the record list. The real program
// on the simulated card says what it refused, never waits on them, never reads or writes them,
// and goes on.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "support/console_harness.h"
#include "support/wave_builder.h"

namespace tapeloom::test {
namespace {

namespace fs = std::filesystem;

// What a name is: the test checks it is the same thing after the run.
std::string KindOf(const fs::path& path) {
  switch (fs::symlink_status(path).type()) {
    case fs::file_type::fifo: return "fifo";
    case fs::file_type::directory: return "directory";
    case fs::file_type::symlink: return "link to " + fs::read_symlink(path).string();
    case fs::file_type::regular: return "file";
    case fs::file_type::not_found: return "nothing";
    default: return "other";
  }
}

struct Case {
  const char* what;
  std::string settings;  // param.txt lines after the card's; none: no param.txt at all
  std::string record;    // record.txt, unless it is one of the special names
  std::string play;      // play.txt, likewise
  std::vector<std::string> fifos, directories;
  std::vector<std::string> zeros;  // links to /dev/zero
  std::string words;
  std::vector<std::string> says;
  int status = 0;
};

class NonRegularFiles : public testing::Test {
 protected:
  void Prepare(const Case& c) {
    // What the case before left (FIFOs among it, which a write would wait on) goes first.
    for (const std::string& name : session.Files()) fs::remove_all(session / name);
    session.Write("card-in.raw", std::string(3 * 2 * 40000, '\x11'));
    std::vector<std::int32_t> samples(30000, 4096);
    WriteBytes(session / "t1.wav", WaveBuilder().Samples(samples).Build());
    session.Write("param.txt", SimCardParams(2, 2, 2, 1024) + "int\t0\nclock\thc\nmeter\t0\n" + c.settings);
    session.Write("record.txt", c.record);
    session.Write("play.txt", c.play);
    for (const std::string& name : c.fifos) {
      fs::remove_all(session / name);
      ASSERT_EQ(::mkfifo((session / name).c_str(), 0600), 0) << name;
    }
    for (const std::string& name : c.directories) {
      fs::remove_all(session / name);
      fs::create_directory(session / name);
    }
    for (const std::string& name : c.zeros) {
      fs::remove_all(session / name);
      fs::create_symlink("/dev/zero", session / name);
    }
  }
  ConsoleSession session;
};

TEST_F(NonRegularFiles, AreRefusedWithAMessageAndNeverWaitedOnOrWritten) {
  const std::string record = "e\t10240\no\t20480\n";
  const std::string notRegular = ": Not a regular file\n";
  // clang-format off
  const Case cases[] = {
      {"param.txt is a FIFO", "", "", "", {"param.txt"}, {}, {}, "",
       {"Can't open param.txt" + notRegular}, 2},
      {"param.txt is a directory", "", "", "", {}, {"param.txt"}, {}, "x\n",
       {"Can't open param.txt: Is a directory\n"}, 2},
      {"the list files in use are a FIFO and a directory", "o\t4096\n", "", "", {"record.txt"}, {"play.txt"}, {}, "p\n",
       {"Can't open record.txt" + notRegular, "Can't open play.txt: Is a directory\n"}},
      {"the list files in use are /dev/zero", "o\t4096\nrec\t1\tz.txt\nplay\t1\ty.txt\n", "", "", {}, {},
       {"z.txt", "y.txt"}, "p\nR\n",
       {"Can't open z.txt" + notRegular, "Can't open y.txt" + notRegular}},
      {"a FIFO, a directory and /dev/zero in the playlist: p, r, f", "o\t4096\nch\t4\n", "-\n",
       "f.wav\nd.wav\nz.wav\nt1.wav\n", {"f.wav"}, {"d.wav"}, {"z.wav"}, "p\nr\nf\n",
       {"Can't read f.wav" + notRegular, "Can't read d.wav: Is a directory\n", "Can't read z.wav" + notRegular}},
      {"record list files that are no files: ins", record, "f.wav\nz.wav\n", "", {"f.wav"}, {}, {"z.wav"}, "R\nins\n",
       {"Can't open f.wav" + notRegular, "Can't open z.wav" + notRegular}},
      {"record list files that are no files: cin", record, "f.wav\nd.wav\n", "", {"f.wav"}, {"d.wav"}, {}, "R\ncin\n",
       {"Can't open f.wav" + notRegular, "Can't open d.wav: Is a directory\n"}},
      {"record list files that are no files: rep", record, "f.wav\nz.wav\n", "", {"f.wav"}, {}, {"z.wav"}, "R\nrep\n",
       {"Can't replace f.wav" + notRegular, "Can't replace z.wav" + notRegular}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Prepare(c);
    std::vector<std::pair<std::string, std::string>> kinds;
    for (const auto* names : {&c.fifos, &c.directories, &c.zeros}) {
      for (const std::string& name : *names) kinds.emplace_back(name, KindOf(session / name));
    }
    const RunResult run = session.Run(c.words, std::chrono::seconds(30));
    EXPECT_EQ(run.status, c.status) << run.out;
    for (const std::string& text : c.says) EXPECT_NE(run.out.find(text), std::string::npos) << text << run.out;
    for (const auto& [name, kind] : kinds) EXPECT_EQ(KindOf(session / name), kind) << name << " is as it was";
  }
}

}  // namespace
}  // namespace tapeloom::test
