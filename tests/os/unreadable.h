// Store files that exist but cannot be read, for the registry tests.
#pragma once

#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

// While it lives, this thread cannot open the file: its mode is 0 and, when the test runs as root
// (whom modes do not stop), the thread's file-system user is another one. The directories from
// root down to the file's let that user in, and the file's own lets it write, so that a save made
// meanwhile would succeed.
class UnreadableFile {
 public:
  UnreadableFile(const std::string& root, const std::string& file) {
    for (std::string dir = file.substr(0, file.rfind('/')); dir.size() > root.size(); dir.resize(dir.rfind('/')))
      chmod(dir.c_str(), 0777);
    chmod(root.c_str(), 0711);
    chmod(file.c_str(), 0);
    if (geteuid() == 0) {
      setfsuid(65534);
      switched_ = true;
    }
  }
  ~UnreadableFile() {
    if (switched_) setfsuid(0);
  }
  UnreadableFile(const UnreadableFile&) = delete;
  UnreadableFile& operator=(const UnreadableFile&) = delete;

 private:
  bool switched_ = false;
};
