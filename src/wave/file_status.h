// What a file operation came to: success, or which operation failed on which file and the
// system's reason, so that whoever reports it can name all three.
#pragma once

#include <string>

namespace tapeloom {

struct FileStatus {
  const char* action = "";  // completes "Can't ... <file>": "create", "write to", "rename", ...
  std::string file;
  std::string target;  // a rename's new name, otherwise empty
  int error = 0;       // the errno value, or kNotRegularFile; 0 for success

  // A name that is a FIFO, a device or a socket where a file was expected.
  static constexpr int kNotRegularFile = -1;
  // A wave file without a data chunk: the readers refuse it, and where Tapeloom wrote the file
  // itself the operation's caller ends the program.
  static constexpr int kNoDataChunk = -2;
  // A frame position that lies outside the file's samples.
  static constexpr int kOutsideSamples = -3;

  static FileStatus Done() { return {}; }
  static FileStatus Failed(const char* action, std::string file, int error, std::string target = {}) {
    return {action, std::move(file), std::move(target), error};
  }
  bool ok() const { return error == 0; }

  // The system's reason ("No space left on device"), or "Not a regular file", "No data chunk",
  // "Outside the samples".
  std::string Reason() const;
  // "Can't write to take.wav: No space left on device" or "Can't rename a to b: File exists".
  std::string Message() const;
};

// Prints the status's message and a newline when it is a failure. Returns status.ok().
bool Report(const FileStatus& status);

}  // namespace tapeloom
