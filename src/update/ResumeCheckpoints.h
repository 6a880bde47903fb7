// Saves the download's resume state on a thread of its own while a transfer runs. A save first
// makes the package's bytes durable (a flush of the disk's cache: tens of milliseconds on most
// disks, several hundred on a busy one), and a transfer thread that waits that long stops reading
// the socket, so the sender stalls and the download takes longer by as much. Here the transfer
// only asks; requests made while a save runs become one more save after it. Each save takes its
// own snapshot of the counters, so a later save never records less than an earlier one.
//
// Request: any thread. The rest: the owner's thread.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include "core/InstallLayout.h"
#include "core/UpdateState.h"

class ResumeCheckpoints {
 public:
  ResumeCheckpoints(UpdateState& state, const InstallLayout& layout);
  // Carries out the saves asked for and ends the thread.
  ~ResumeCheckpoints();
  ResumeCheckpoints(const ResumeCheckpoints&) = delete;
  ResumeCheckpoints& operator=(const ResumeCheckpoints&) = delete;

  // Asks for a save; never waits for one.
  void Request();

 private:
  void Run();  // checkpoint thread

  UpdateState& state_;
  const InstallLayout& layout_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool requested_ = false;
  bool ending_ = false;
  std::thread thread_;  // last: started once the members above exist
};
