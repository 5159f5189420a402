// Copies and silence between descriptors, by both of their paths: the kernel's (copy_file_range,
// fallocate) and the reads and writes through a buffer that a system without them takes. Each
// case runs on both and must leave the same bytes as a model of what the copy or the silence
// means; the read and write path is the one every copy took before the kernel's.
#include "takes/file_steps.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <limits>

#include "support/file_faults.h"
#include "takes/take_files_support.h"

namespace tapeloom {
namespace {

using test::Bytes;

constexpr std::uint64_t kBlock = kCopyBlockBytes;
constexpr std::uint64_t kToTheEnd = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint64_t k4GiB = std::uint64_t{1} << 32;

enum class Path { kKernel, kReadWrite };
constexpr Path kPaths[] = {Path::kKernel, Path::kReadWrite};

const char* Name(Path path) { return path == Path::kKernel ? "kernel" : "reads and writes"; }

// Forces the read and write path while it lives.
class OnPath {
 public:
  explicit OnPath(Path path) { SetKernelCopiesRefused(path == Path::kReadWrite); }
  OnPath(const OnPath&) = delete;
  OnPath& operator=(const OnPath&) = delete;
  ~OnPath() { SetKernelCopiesRefused(false); }
};

// Bytes that differ from their neighbours and are seldom zero, so that a shifted or missing
// piece shows.
Bytes Pattern(std::uint64_t size, unsigned seed) {
  Bytes bytes(static_cast<std::size_t>(size));
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>((i * seed + (i >> 9)) % 251 + 1);
  return bytes;
}

FileDescriptor Open(const std::string& name, int flags) {
  const int fd = ::open(name.c_str(), flags | O_CLOEXEC | O_LARGEFILE);
  EXPECT_GE(fd, 0) << name;
  return FileDescriptor(fd, name);
}

// What a copy means: the bytes the source holds from fromOffset, at most count, over the
// destination from toOffset; a gap before them reads as zeros.
Bytes CopiedModel(const Bytes& source, std::uint64_t fromOffset, Bytes destination, std::uint64_t toOffset,
                  std::uint64_t count) {
  const std::uint64_t n = source.size() > fromOffset ? std::min<std::uint64_t>(count, source.size() - fromOffset) : 0;
  if (n == 0) return destination;
  if (toOffset + n > destination.size()) destination.resize(static_cast<std::size_t>(toOffset + n), 0);
  std::copy_n(source.begin() + static_cast<std::ptrdiff_t>(fromOffset), n,
              destination.begin() + static_cast<std::ptrdiff_t>(toOffset));
  return destination;
}

Bytes ZeroedModel(Bytes destination, std::uint64_t offset, std::uint64_t count) {
  if (count == 0) return destination;
  if (offset + count > destination.size()) destination.resize(static_cast<std::size_t>(offset + count), 0);
  std::fill_n(destination.begin() + static_cast<std::ptrdiff_t>(offset), count, 0);
  return destination;
}

using FileSteps = test::InTempDir;

TEST_F(FileSteps, CopiesLeaveTheSameBytesOnBothPaths) {
  struct Case {
    const char* what;
    std::uint64_t sourceSize, fromOffset, destinationSize, toOffset, count;
  };
  // clang-format off
  const Case cases[] = {
      {"nothing asked",                          1000,          0,     0,           0,    0},
      {"nothing asked beyond the end",           1000,          0,     100,         5000, 0},
      {"the source ends first",                  1000,          10,    0,           0,    5000},
      {"the source ends before the offset",      1000,          2000,  300,         0,    10},
      {"the source ends exactly at the offset",  1000,          1000,  300,         300,  kToTheEnd},
      {"an empty source",                        0,             0,     300,         0,    kToTheEnd},
      {"to the end, blocks and a rest",          3 * kBlock + 7, 44,   0,           0,    kToTheEnd},
      {"exactly one block",                      kBlock,        0,     0,           0,    kBlock},
      {"a block and one byte",                   kBlock + 1,    0,     0,           0,    kBlock + 1},
      {"one byte short of the source",           2 * kBlock,    0,     0,           0,    2 * kBlock - 1},
      {"over data already there",                2 * kBlock + 5, 3,    3 * kBlock,  1000, 2 * kBlock},
      {"beyond the destination's end",           4000,          0,     100,         5000, 4000},
      {"a count that does not fit 32 bits",      5000,          1,     0,           44,   k4GiB + 5},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes source = Pattern(c.sourceSize, 7);
    const Bytes destination = Pattern(c.destinationSize, 13);
    const Bytes expected = CopiedModel(source, c.fromOffset, destination, c.toOffset, c.count);
    for (const Path path : kPaths) {
      SCOPED_TRACE(Name(path));
      test::WriteBytes("source.bin", source);
      test::WriteBytes("copy.bin", destination);
      {
        const OnPath on(path);
        FileStatus status;
        const FileDescriptor from = OpenForReading("source.bin", status);
        const FileDescriptor to = OpenForUpdate("copy.bin", status);
        const FileStatus copied = CopyBytes(from, c.fromOffset, to, c.toOffset, c.count);
        EXPECT_TRUE(copied.ok()) << copied.Message();
      }
      EXPECT_TRUE(test::ReadBytes("copy.bin") == expected);
      EXPECT_EQ(test::ReadBytes("source.bin"), source) << "the source is only read";
    }
  }
}

TEST_F(FileSteps, ZerosLeaveTheSameBytesOnBothPaths) {
  struct Case {
    const char* what;
    std::uint64_t size, offset, count;
  };
  // clang-format off
  const Case cases[] = {
      {"nothing asked inside",           1000,          10,    0},
      {"nothing asked beyond the end",   1000,          5000,  0},
      {"inside the data",                3 * kBlock,    100,   kBlock + 10},
      {"the data's last byte",           1000,          999,   1},
      {"across the end",                 1000,          500,   2 * kBlock},
      {"from the end on",                1000,          1000,  3 * kBlock + 1},
      {"beyond the end, after a gap",    1000,          5000,  700},
      {"into an empty file",             0,             44,    1000},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes before = Pattern(c.size, 11);
    const Bytes expected = ZeroedModel(before, c.offset, c.count);
    for (const Path path : kPaths) {
      SCOPED_TRACE(Name(path));
      test::WriteBytes("silence.bin", before);
      {
        const OnPath on(path);
        FileStatus status;
        const FileDescriptor to = OpenForUpdate("silence.bin", status);
        const FileStatus zeroed = WriteZeros(to, c.offset, c.count);
        EXPECT_TRUE(zeroed.ok()) << zeroed.Message();
      }
      EXPECT_TRUE(test::ReadBytes("silence.bin") == expected);
    }
  }
}

// Offsets beyond 4 GiB on sparse files: the pieces land where asked, also where size_t and
// off_t would be 32 bits, and the file reads as zeros up to them.
TEST_F(FileSteps, OffsetsBeyond32BitsArePlacedExactly) {
  const Bytes source = Pattern(5000, 3);
  test::WriteBytes("source.bin", source);
  for (const Path path : kPaths) {
    SCOPED_TRACE(Name(path));
    test::WriteBytes("far.bin", Bytes{});
    const OnPath on(path);
    FileStatus status;
    const FileDescriptor from = OpenForReading("source.bin", status);
    const FileDescriptor to = OpenForUpdate("far.bin", status);
    const std::uint64_t copyAt = k4GiB + 3;
    ASSERT_TRUE(CopyBytes(from, 0, to, copyAt, kToTheEnd).ok());
    const std::uint64_t zerosAt = 2 * k4GiB + 1;
    ASSERT_TRUE(WriteZeros(to, zerosAt, 6).ok());
    std::uint64_t size = 0;
    ASSERT_TRUE(FileSize(to, size).ok());
    EXPECT_EQ(size, zerosAt + 6);

    Bytes read(source.size() + 2);
    std::uint64_t got = 0;
    ASSERT_TRUE(ReadAt(to, copyAt - 1, read, got).ok());
    ASSERT_EQ(got, read.size());
    EXPECT_EQ(read.front(), 0);
    EXPECT_TRUE(std::equal(source.begin(), source.end(), read.begin() + 1));
    EXPECT_EQ(read.back(), 0);
    Bytes tail(8, 0xff);
    ASSERT_TRUE(ReadAt(to, zerosAt - 2, tail, got).ok());
    EXPECT_EQ(got, 8u);
    EXPECT_EQ(tail, Bytes(8, 0));
  }
}

// The kernel gives one reason for both files of a copy: where it could be either side's, the
// copy is done by reads and writes, which name the side that failed.
TEST_F(FileSteps, AFailureNamesTheSideThatFailedOnBothPaths) {
  struct Case {
    const char* what;
    int sourceFlags, destinationFlags;
    bool zeros;  // WriteZeros beyond the end, else a copy of the whole source
    rlim_t sizeLimit;
    std::string message;
  };
  const rlim_t none = RLIM_INFINITY;
  // clang-format off
  const Case cases[] = {
      {"a source that cannot be read",     O_WRONLY, O_RDWR,   false, none, "Can't read source.bin: Bad file descriptor"},
      {"a destination that cannot be written", O_RDONLY, O_RDONLY, false, none, "Can't write to out.bin: Bad file descriptor"},
      {"a copy beyond the size limit",     O_RDONLY, O_RDWR,   false, 3000, "Can't write to out.bin: File too large"},
      {"silence that cannot be written",   O_RDONLY, O_RDONLY, true,  none, "Can't write to out.bin: Bad file descriptor"},
      {"silence beyond the size limit",    O_RDONLY, O_RDWR,   true,  3000, "Can't write to out.bin: File too large"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const Path path : kPaths) {
      SCOPED_TRACE(Name(path));
      test::WriteBytes("source.bin", Pattern(2 * kBlock, 5));
      test::WriteBytes("out.bin", Pattern(100, 9));
      const OnPath on(path);
      const FileDescriptor from = Open("source.bin", c.sourceFlags);
      const FileDescriptor to = Open("out.bin", c.destinationFlags);
      std::optional<test::FileSizeLimit> limit;
      if (c.sizeLimit != none) limit.emplace(c.sizeLimit);
      const FileStatus status = c.zeros ? WriteZeros(to, 100, 2 * kBlock) : CopyBytes(from, 0, to, 0, kToTheEnd);
      limit.reset();
      EXPECT_EQ(status.Message(), c.message);
    }
  }
}

// The fault hook meets a copy at the same points on both paths, and every point fails the copy
// as a failed write does.
TEST_F(FileSteps, EveryInjectedFailureOfACopyOrOfSilenceIsReported) {
  struct Case {
    const char* what;
    bool zeros;
    std::uint64_t size, offset, count;
    int readWritePoints;
  };
  // clang-format off
  const Case cases[] = {
      {"a copy of nothing",         false, 0,              0,    kToTheEnd, 0},
      {"a copy within one block",   false, 1000,           0,    kToTheEnd, 1},
      {"a copy of blocks and a rest", false, 2 * kBlock + 1, 0,  kToTheEnd, 3},
      {"silence inside the data",   true,  2 * kBlock + 1, 0,    2 * kBlock + 1, 3},
      {"silence beyond the end",    true,  1000,           1000, 2 * kBlock, 2},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int kernelPoints = -1;
    for (const Path path : kPaths) {
      SCOPED_TRACE(Name(path));
      const OnPath on(path);
      FileStatus status;
      const int points = test::SweepWriteFailures(
          [&] {
            test::WriteBytes("source.bin", Pattern(c.size, 5));
            test::WriteBytes("out.bin", c.zeros ? Pattern(c.size, 9) : Bytes{});
            FileStatus opened;
            const FileDescriptor from = OpenForReading("source.bin", opened);
            const FileDescriptor to = OpenForUpdate("out.bin", opened);
            status = c.zeros ? WriteZeros(to, c.offset, c.count) : CopyBytes(from, c.offset, to, 0, c.count);
          },
          [&](int n) { EXPECT_EQ(status.Message(), "Can't write to out.bin: Input/output error") << "point " << n; });
      EXPECT_TRUE(status.ok()) << status.Message();
      if (path == Path::kReadWrite) {
        EXPECT_EQ(points, c.readWritePoints);
      } else {
        kernelPoints = points;
      }
    }
    // Silence beyond the end is one allocation where the file system allocates.
    if (!c.zeros || c.offset < c.size) {
      EXPECT_EQ(kernelPoints, c.readWritePoints);
    }
    if (c.count > 0 && c.size > 0) {
      EXPECT_GE(kernelPoints, 1);
    }
  }
}

}  // namespace
}  // namespace tapeloom
