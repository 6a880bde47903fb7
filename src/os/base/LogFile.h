// The diagnostic log's file: opened for appending only, private to the user, never inherited by a
// started process and never opened through a link. Owns its handle (closed with the object). Not
// synchronised: the log serialises its calls.
#pragma once

#include <cstddef>
#include <string>

namespace os {

class LogFile {
 public:
  enum class Opened {
    Yes,
    Missing,  // the file does not exist (nothing was created)
    Failed,   // any other reason
  };

  LogFile() = default;
  ~LogFile() { Close(); }
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Opens the file at path for appending (every write lands at the end, whatever else shortened
  // the file); with create, a missing file is created private to the user. Closes any file held.
  Opened Open(const std::string& path, bool create);

  // Makes the open file the run's own: private to the user, then emptied. A failure leaves the
  // lines appended to what is there.
  void Restart();

  // Appends the whole block; false when the file took less (then the rest is dropped).
  bool Append(const char* data, size_t size);

  bool IsOpen() const { return handle_ >= 0; }
  void Close();

  // Whether the directory that path names the file in exists (a missing file could be created).
  static bool DirectoryExists(const std::string& path);

 private:
  int handle_ = -1;
};

}  // namespace os
