// A temporary prefix, HOME and XDG directories for one test; removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <string>

class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const std::string& Root() const { return root_; }      // the temporary directory
  const std::string& Prefix() const { return prefix_; }  // VELLMORA_PREFIX (root/prefix, not created)
  std::string DriveC() const { return prefix_ + "/drive_c"; }
  std::string InstallDir() const { return DriveC() + "/qvx-harlu7"; }
  // The diagnostic log of this test program: it always lives in drive C:'s install folder.
  std::string LogPath() const;

  // Creates <prefix>/drive_c (and drive_d when asked).
  void MakeDrives(bool c, bool d = false) const;

  static void WriteFile(const std::string& path, const std::string& content);
  static std::string ReadFile(const std::string& path);

 private:
  std::string root_;
  std::string prefix_;
  std::string savedEnv_[6];
  bool hadEnv_[6] = {};
};

// Runs a command line through /bin/sh; returns its exit status.
int RunShell(const std::string& command);
