// A file written under a temporary name in the folder of the file it replaces, and renamed over
// that file once complete: the old file's mode (read-only, say) does not matter, and a failure or
// a stop never leaves a half-written file under the real name. Owner thread only.
#pragma once

#include <string>

#include "os/File.h"

namespace os {

class ReplacementFile {
 public:
  // Creates the temporary file beside path, already with its permission bits (mode, or when 0
  // those a new file gets under the umask), so that committing is only a close and a rename.
  // Error() tells why when Output() is not open.
  ReplacementFile(std::string path, unsigned mode);
  // A file that was not committed is removed.
  ~ReplacementFile();
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // Open for writing, empty at first; not open when it could not be created.
  File& Output() { return file_; }
  // The errno of the failed creation or commit; 0 when none failed.
  int Error() const { return error_; }

  // The file is complete: its data are handed to the system (on Windows written through) and it
  // is closed, so that a file waiting for its turn to be committed holds no handle. Output() is
  // closed afterwards. 0 or the errno. Idempotent.
  int Finish();
  // Finish, then renames the file over path. 0 or the errno; on failure the old file stays as it
  // was.
  int Commit();

 private:
  std::string path_;
  std::string temporary_;
  File file_;
  int error_ = 0;
  bool finished_ = false;
};

}  // namespace os
