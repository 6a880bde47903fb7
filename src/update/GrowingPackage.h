// The package file while the download writes it, as its reader sees it: only bytes the download
// has written into the file (Advance) are read, a read past them waits for more, and once the
// download has ended (End) or gone back (a restart empties the file) a read past the end fails.
// Advance and End on the download's threads (the writer, the worker); reads on one reader thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "os/File.h"

class GrowingPackage {
 public:
  // stop is asked while a read waits; true ends the read as failed.
  GrowingPackage(std::string path, std::function<bool()> stop);
  GrowingPackage(const GrowingPackage&) = delete;
  GrowingPackage& operator=(const GrowingPackage&) = delete;

  // The file now holds bytesInFile bytes written by the download. Fewer than before: the download
  // started the package again, and no read succeeds any more.
  void Advance(int64_t bytesInFile);
  // No more bytes will come.
  void End();

  // Waits until the bytes from offset on are being written, and returns the end of what can be
  // read now (more than offset); 0 when nothing more will come from there.
  uint64_t WaitBeyond(uint64_t offset);
  // Exactly size bytes at offset into buffer, waiting for them; false when they never come or
  // cannot be read.
  bool ReadAt(void* buffer, size_t size, uint64_t offset);
  // Waits until the download has ended (or the stop says so); the wait counts as waited for bytes.
  void WaitForEnd();
  // Waits until the file holds the bytes before end, on a thread that reads for the reader (the
  // wait is not counted in Waited()); false when they never come.
  bool WaitFor(uint64_t end);
  // The package file, open for reading once a read or WaitFor found bytes in it (reader thread).
  os::FileHandle Handle() const { return file_.Handle(); }
  // False once the download went back: what was read before may since have been replaced.
  bool Intact();

  // What the download has written so far, and whether it has ended.
  struct Extent {
    uint64_t inFile = 0;
    bool ended = false;
  };
  Extent Now();
  // How long the reader has waited for bytes in all (reader thread).
  std::chrono::steady_clock::duration Waited();

 private:
  const std::string path_;
  const std::function<bool()> stop_;
  os::File file_;  // opened by the reader once there is something to read

  std::mutex mutex_;
  std::condition_variable grown_;
  uint64_t available_ = 0;
  bool ended_ = false;
  bool wentBack_ = false;
  std::chrono::steady_clock::duration waited_{};
};
