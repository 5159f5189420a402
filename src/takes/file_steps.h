// The steps that the take file operations share: renames and removals that stay silent about a
// file that is not there and report every other failure, and block copies between descriptors
// (done by the kernel where it can) and silence (allocated where the file system can).
//
// Every message names the file and the system's reason. A file that is not there is no
// failure: the "-" lines of a take list name no file, and a take that was renamed earlier no
// longer exists under its old name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "wave/file_creation.h"
#include "wave/wave_file.h"

namespace tapeloom {

// Bytes moved per read and per write by the copies that pass through this process, and per
// write of zeros: far fewer system calls than a few kilobytes per block on long takes, and still
// a constant amount of memory. A multiple of 3, so that block ends fall on frame boundaries.
inline constexpr std::size_t kCopyBlockBytes = 3 * 65536;

// The part of a name before its first '.', or the whole name when it has none.
std::string_view StemOf(std::string_view name);

// Renames from to to. kReplace replaces a file of that name; kKeepExisting refuses when
// anything of that name exists ("Can't rename %s to %s: File exists\n"), so that a file that
// appeared since its name was found free is never replaced. A source that does not exist
// gives its failure (ENOENT) and prints nothing; any other failure (including a missing target
// folder) prints "Can't rename %s to %s: %s\n".
FileStatus RenameFile(const std::string& from, const std::string& to, Placement placement);

// Prints "Can't find data block in wave file!" and ends the program with the status for a
// file that Tapeloom wrote and that has no data chunk. The padding and the insertion end here;
// the file layer and the readers only refuse such a file (FileStatus::kNoDataChunk).
[[noreturn]] void EndForOwnFileWithoutData();

// Report for the take operations: a file of Tapeloom's own without its data chunk ends the
// program; any other failure is printed. Returns status.ok().
bool ReportOrEnd(const FileStatus& status);

// Deletes a file. Silent when there is none; any other failure prints "Can't remove %s: %s\n".
// Never removes a directory.
void RemoveIfPresent(const std::string& name);

// Copies count bytes, or fewer when the source ends first, from fromOffset in from to
// toOffset in to. The kernel copies them (copy_file_range, 48 MiB per call) where it can;
// where it refuses (another file system, an old kernel, an emulator), they go through one
// buffer of kCopyBlockBytes. A failure names the side that failed ("Can't read ..." or "Can't
// write to ..."); what was copied before it stays.
FileStatus CopyBytes(const FileDescriptor& from, std::uint64_t fromOffset, const FileDescriptor& to,
                     std::uint64_t toOffset, std::uint64_t count);

// Makes count bytes at offset zeros (silence). Over existing data they are written; beyond the
// file's end they are allocated (fallocate), so a full disk is reported here and the file
// system writes nothing, or written where the file system cannot allocate.
FileStatus WriteZeros(const FileDescriptor& to, std::uint64_t offset, std::uint64_t count);

}  // namespace tapeloom
