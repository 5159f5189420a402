#include "wave/file_status.h"

#include <cstdio>
#include <cstring>

namespace tapeloom {

std::string FileStatus::Reason() const {
  return error == kNotRegularFile ? std::string("Not a regular file") : std::string(std::strerror(error));
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
