// A main-window view that records what the window logic asks of it, and a way to give the test
// process the command line a launcher would have.
#pragma once

#include <string>
#include <vector>

#include "os/Process.h"
#include "ui/IContentView.h"

class RecordingMainView : public IMainWindowView {
 public:
  void Hide() override { calls.push_back("hide"); }
  void Minimise() override { calls.push_back("minimise"); }
  void EndModal(int result) override { calls.push_back("end " + std::to_string(result)); }
  unsigned long NativeId() const override { return 77; }
  std::vector<std::string> calls;
};

// Replaces the process's recorded argv (what the launcher reads as its own command line).
inline void SetArguments(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  os::SetArguments(static_cast<int>(argv.size()), argv.data());
}
