#include "wave/file_status.h"

#include <cstdio>
#include <cstring>

namespace tapeloom {

std::string FileStatus::Reason() const {
  switch (error) {
    case kNotRegularFile: return "Not a regular file";
    case kNoDataChunk: return "No data chunk";
    case kOutsideSamples: return "Outside the samples";
    default: return std::strerror(error);
  }
}

std::string FileStatus::Message() const {
  std::string message = std::string("Can't ") + action + " " + file;
  if (!target.empty()) message += " to " + target;
  return message + ": " + Reason();
}

bool Report(const FileStatus& status) {
  if (status.ok()) return true;
  std::printf("%s\n", status.Message().c_str());
  return false;
}

}  // namespace tapeloom
