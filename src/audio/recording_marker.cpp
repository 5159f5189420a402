#include "audio/recording_marker.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <span>
#include <system_error>

#include "wave/byte_order.h"
#include "wave/file_creation.h"
#include "wave/storage_guard.h"
#include "wave/text_file.h"
#include "wave/wave_header.h"

namespace tapeloom {
namespace {

constexpr std::string_view kFirstLine = "Tapeloom recording in progress: the takes being written\n";
constexpr std::string_view kTakeWord = "take ";
constexpr int kTakeBits = 24;
constexpr int kTakeFrameBytes = 3;

bool SameFile(const struct stat64& status, std::uint64_t device, std::uint64_t inode) {
  return static_cast<std::uint64_t>(status.st_dev) == device && static_cast<std::uint64_t>(status.st_ino) == inode;
}

// What is under a name, the name itself when it is a link: ENOENT and the like as error.
int LookAt(const std::string& name, struct stat64& status) {
  NoteStorageCall("lstat");
  return ::lstat64(name.c_str(), &status) == 0 ? 0 : errno;
}

std::string FolderName() {
  std::error_code ignored;
  const std::filesystem::path folder = std::filesystem::current_path(ignored);
  return folder.empty() ? std::string(".") : folder.string();
}

// A file's new name (or its removal) survives a power cut once its folder is flushed.
FileStatus SyncFolder() {
  NoteStorageCall("open");
  const FileDescriptor folder(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC), FolderName());
  if (!folder) return FileStatus::Failed("open", folder.name(), errno);
  FileStatus status = SyncToDisk(folder);
  // Some file systems cannot flush a folder; their renames reach the disk with the files.
  if (status.error == EINVAL) status = FileStatus::Done();
  return status;
}

// One number and the blank after it; false when there is none.
template <typename Number>
bool TakeNumber(std::string_view& line, Number& value) {
  const char* end = line.data() + line.size();
  const auto [stop, error] = std::from_chars(line.data(), end, value);
  if (error != std::errc() || stop == line.data() || stop == end || *stop != ' ') return false;
  line.remove_prefix(static_cast<std::size_t>(stop - line.data()) + 1);
  return true;
}

std::optional<MarkedTake> ParseTakeLine(std::string_view line) {
  if (!line.starts_with(kTakeWord)) return std::nullopt;
  line.remove_prefix(kTakeWord.size());
  MarkedTake take;
  if (!TakeNumber(line, take.device) || !TakeNumber(line, take.inode) || !TakeNumber(line, take.dataOffset) ||
      !TakeNumber(line, take.sampleRate) || take.sampleRate == 0 || line.empty()) {
    return std::nullopt;
  }
  take.name = line;
  return take;
}

// The marker's text, read from the file opened, which is no bigger than any marker can be.
FileStatus ReadMarker(const FileDescriptor& marker, std::string& text) {
  std::uint64_t size = 0;
  if (FileStatus status = FileSize(marker, size); !status.ok()) return status;
  if (size > kLargestTextFile) return FileStatus::Failed("read", marker.name(), EFBIG);
  text.resize(static_cast<std::size_t>(size));
  std::uint64_t got = 0;
  FileStatus status = ReadAt(marker, 0, std::span(reinterpret_cast<unsigned char*>(text.data()), text.size()), got);
  text.resize(static_cast<std::size_t>(got));
  return status;
}

void SayNotAMarker() {
  std::printf("%s is not a recording marker Tapeloom can read: left as it is\n", kRecordingMarkerName);
}

}  // namespace

FileStatus IdentifyTake(const FileDescriptor& file, MarkedTake& take) {
  NoteStorageCall("fstat");
  struct stat64 status {};
  if (::fstat64(file.get(), &status) != 0) return FileStatus::Failed("read", file.name(), errno);
  take.device = static_cast<std::uint64_t>(status.st_dev);
  take.inode = static_cast<std::uint64_t>(status.st_ino);
  return FileStatus::Done();
}

std::string FormatRecordingMarker(const std::vector<MarkedTake>& takes) {
  std::string text(kFirstLine);
  for (const MarkedTake& take : takes) {
    AppendFormat(text, "take %llu %llu %lu %lu ", static_cast<unsigned long long>(take.device),
                 static_cast<unsigned long long>(take.inode), static_cast<unsigned long>(take.dataOffset),
                 static_cast<unsigned long>(take.sampleRate));
    text += take.name;
    text += '\n';
  }
  return text;
}

std::optional<std::vector<MarkedTake>> ParseRecordingMarker(std::string_view text) {
  // A marker is written whole and ends with a line break: anything else is not one.
  if (!text.starts_with(kFirstLine) || !text.ends_with('\n')) return std::nullopt;
  text.remove_prefix(kFirstLine.size());
  std::vector<MarkedTake> takes;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::optional<MarkedTake> take = ParseTakeLine(text.substr(0, end));
    if (!take) return std::nullopt;
    takes.push_back(std::move(*take));
    text.remove_prefix(end + 1);
  }
  return takes;
}

RecordingMarker RecordingMarker::Write(const std::vector<MarkedTake>& takes, FileStatus& status) {
  // Made beside its name and renamed into place once on the disk, so that the name never holds
  // half a marker; a user's file or link of the temporary's name is never opened.
  const std::string text = FormatRecordingMarker(takes);
  TemporaryFile temp =
      TemporaryFile::Create(std::filesystem::path(), std::string(kRecordingMarkerName) + ".tmp", status);
  if (!temp) return {};
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  if (status = WriteAt(temp.file(), 0, std::span(bytes, text.size())); !status.ok()) return {};
  RecordingMarker marker;
  MarkedTake written;
  if (status = IdentifyTake(temp.file(), written); !status.ok()) return {};
  marker.device_ = written.device;
  marker.inode_ = written.inode;
  // Held open and locked while the run lasts: a start-up elsewhere sees the recording going on.
  // The lock is only that sign; a system without locks records all the same.
  NoteStorageCall("fcntl");
  marker.lock_ = FileDescriptor(::fcntl(temp.file().get(), F_DUPFD_CLOEXEC, 0), kRecordingMarkerName);
  if (!marker.lock_) {
    status = FileStatus::Failed("create", kRecordingMarkerName, errno);
    return {};
  }
  ::flock(marker.lock_.get(), LOCK_EX | LOCK_NB);
  if (status = temp.Publish(kRecordingMarkerName, Placement::kReplace); !status.ok()) return {};
  // The marker is in place; a folder that cannot be flushed leaves it there all the same, and
  // the run removes it at its end.
  status = SyncFolder();
  return marker;
}

void RecordingMarker::Remove() {
  if (!lock_) return;
  struct stat64 status {};
  if (LookAt(kRecordingMarkerName, status) == 0 && SameFile(status, device_, inode_)) {
    // A removal that a power cut undoes costs nothing: the next start-up finds takes whose
    // headers are whole and leaves them as they are. Its flush is not worth a message.
    if (Report(RemoveFile(kRecordingMarkerName))) SyncFolder();
  }
  lock_.Close();
}

TakeRepair RepairTake(const MarkedTake& take, std::int64_t& frames, FileStatus& status) {
  frames = 0;
  status = FileStatus::Done();
  // The name must still be the take itself: not a link (to it or anything else), not a FIFO
  // or a directory, not a file put in its place.
  struct stat64 named {};
  if (const int error = LookAt(take.name, named); error != 0) {
    if (error == ENOENT || error == ENOTDIR) return TakeRepair::kChangedSince;
    status = FileStatus::Failed("open", take.name, error);
    return TakeRepair::kFailed;
  }
  if (!S_ISREG(named.st_mode) || !SameFile(named, take.device, take.inode)) return TakeRepair::kChangedSince;
  const FileDescriptor file = OpenForUpdate(take.name, status);
  if (!file) return TakeRepair::kFailed;
  MarkedTake opened;
  if (status = IdentifyTake(file, opened); !status.ok()) return TakeRepair::kFailed;
  if (opened.device != take.device || opened.inode != take.inode) return TakeRepair::kChangedSince;

  // The header must be the one the recording writes: its canonical 44 bytes for a mono 24-bit
  // take at the marker's rate, the RIFF size the data size + 36, the data size whole frames.
  FileHead head;
  if (status = ReadFileHead(file, kWaveHeaderBytes, head); !status.ok()) return TakeRepair::kFailed;
  if (take.dataOffset != kWaveHeaderBytes || head.bytes.size() != kWaveHeaderBytes) return TakeRepair::kChangedSince;
  const std::uint32_t announced = Assem4(&head.bytes[40]);
  const WaveHeader written = ComposeWaveHeader(take.sampleRate, kTakeBits, announced / kTakeFrameBytes, 1);
  if (announced % kTakeFrameBytes != 0 || !std::ranges::equal(written, head.bytes)) return TakeRepair::kChangedSince;

  // The whole frames on the disk, as many as the 32-bit sizes can announce. A partial frame at
  // the end stays where it is: it is out of the count, and no byte of the take is cut.
  frames = std::min(static_cast<std::int64_t>((head.size - kWaveHeaderBytes) / kTakeFrameBytes), LongestWaveFrames(1));
  const WaveHeader whole = ComposeWaveHeader(take.sampleRate, kTakeBits, frames, 1);
  if (whole == written) return TakeRepair::kWhole;
  if (status = WriteAt(file, 0, whole); !status.ok()) return TakeRepair::kFailed;
  // The space the recording reserved ahead of its writes, beyond the file's end, is given back
  // as its end would have. Only space: no byte of the take changes, and a failure costs nothing.
  ReleaseReservedSpace(file);
  if (status = SyncToDisk(file); !status.ok()) return TakeRepair::kFailed;
  return TakeRepair::kRepaired;
}

void RepairInterruptedRecording() {
  const std::string name = kRecordingMarkerName;
  struct stat64 named {};
  if (const int error = LookAt(name, named); error != 0) {
    if (error != ENOENT) Report(FileStatus::Failed("open", name, error));
    return;
  }
  // A link is never followed, nor anything but a file read.
  if (!S_ISREG(named.st_mode)) return SayNotAMarker();
  FileStatus status;
  const FileDescriptor marker = OpenForReading(name, status);
  if (!marker) {
    Report(status);
    return;
  }
  MarkedTake opened;
  if (status = IdentifyTake(marker, opened); !status.ok()) {
    Report(status);
    return;
  }
  if (!SameFile(named, opened.device, opened.inode)) return SayNotAMarker();
  // The run that wrote it is still going on in another Tapeloom.
  if (::flock(marker.get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    std::printf("A recording is in progress in this folder: its takes are left as they are.\n");
    return;
  }
  std::string text;
  if (status = ReadMarker(marker, text); !status.ok()) {
    Report(status);
    return;
  }
  const std::optional<std::vector<MarkedTake>> takes = ParseRecordingMarker(text);
  if (!takes) return SayNotAMarker();

  bool settled = true;
  for (const MarkedTake& take : *takes) {
    std::int64_t frames = 0;
    switch (RepairTake(take, frames, status)) {
      case TakeRepair::kRepaired:
        std::printf("%s was not finished: repaired, %lld frames (%.2f s)\n", take.name.c_str(),
                    static_cast<long long>(frames), static_cast<double>(frames) / take.sampleRate);
        break;
      case TakeRepair::kWhole: break;
      case TakeRepair::kChangedSince:
        std::printf("%s was not finished, but it is gone or was changed since: left as it is\n", take.name.c_str());
        break;
      case TakeRepair::kFailed:
        // The marker stays, so that the next start-up tries again.
        std::printf("%s was not finished, and could not be repaired: %s\n", take.name.c_str(),
                    status.Message().c_str());
        settled = false;
        break;
    }
  }
  if (settled && Report(RemoveFile(name))) Report(SyncFolder());
}

}  // namespace tapeloom
