// The marker of a recording in progress. While takes are written their headers lag their data
// by up to a second (the disk worker updates them once a second of audio), so a kill or a
// power cut leaves takes whose headers announce less than the disk holds. A small file in the
// session folder lists the takes being written for as long as a run writes them; the next
// start-up finds it only when the run never ended, and then sets each listed take's header to
// the whole frames on disk.
//
// The marker names each take and what makes it the file this run wrote: its device and inode,
// its data offset and its sample rate. A take that was moved away, replaced, re-recorded or
// rewritten since (another inode, or a header that is not the one the recording writes) is
// named and left as it is.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "wave/file_status.h"
#include "wave/wave_file.h"

namespace tapeloom {

// In the session folder, beside the takes. A dot-file: hidden from listings, and no name a
// user gives a take or a list.
inline constexpr char kRecordingMarkerName[] = ".tapeloom-recording";

// One take being written, as the marker lists it.
struct MarkedTake {
  std::string name;  // as the recording opened it, relative to the session folder
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint32_t dataOffset = 0;
  std::uint32_t sampleRate = 0;

  bool operator==(const MarkedTake&) const = default;
};

// Fills in `take`'s device and inode from the open file.
FileStatus IdentifyTake(const FileDescriptor& file, MarkedTake& take);

// The marker's text: a first line that says what the file is, then one line per take,
// "take <device> <inode> <data offset> <sample rate> <name>", the name last and whole (it may
// hold blanks; no take name holds a line break).
std::string FormatRecordingMarker(const std::vector<MarkedTake>& takes);
// The takes of a marker's text, or nullopt when it is not one.
std::optional<std::vector<MarkedTake>> ParseRecordingMarker(std::string_view text);

// The marker of one run, in the working directory: on the disk (flushed, and its folder) when
// Write returns, and held locked while the run lasts, so that a start-up of another Tapeloom
// in the same folder leaves the takes of a recording in progress alone. Going out of scope
// leaves the file: only Remove, once the takes are finished and flushed, takes it away.
class RecordingMarker {
 public:
  RecordingMarker() = default;
  // On failure the result is empty and status says why; the recording goes on without it.
  static RecordingMarker Write(const std::vector<MarkedTake>& takes, FileStatus& status);

  explicit operator bool() const { return static_cast<bool>(lock_); }

  // Removes the marker if it is still the one written (another run's is left), and flushes the
  // folder. Prints a failure.
  void Remove();

 private:
  FileDescriptor lock_;
  std::uint64_t device_ = 0;
  std::uint64_t inode_ = 0;
};

// What the start-up did with one take of a marker.
enum class TakeRepair {
  kRepaired,      // the header announced less (or more) than the whole frames on disk; now it says them
  kWhole,         // the header already said the take's whole length: untouched
  kChangedSince,  // gone, or not the file the recording wrote: untouched
  kFailed,        // the take could not be read or written; the status says why
};

// Sets the take's header to the whole frames after its data offset, when it is still the take
// the marker names. A partial frame at the end stays on the disk but out of the count. `frames`
// receives what the header announces afterwards.
TakeRepair RepairTake(const MarkedTake& take, std::int64_t& frames, FileStatus& status);

// The start-up's part: when a marker is left, repairs each take it lists, says so in one line
// per take repaired or left, and removes the marker once every take is settled. A marker that
// is not a regular file, or not one Tapeloom wrote, is named and left alone; so is the marker
// of a recording still in progress in another Tapeloom.
void RepairInterruptedRecording();

}  // namespace tapeloom
