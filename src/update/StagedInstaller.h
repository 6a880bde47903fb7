// The second half of unpacking during the download: once the package is verified, the archive's
// directory is checked against what the stager unpacked from the local headers (the same entries
// in the same order, each with its name, method, sizes, CRC-32 and the place of its data), and
// only then are the staged files moved into the client, one rename per file, with the
// extraction's log lines, progress, folder rules and stop. When the directory disagrees nothing is
// moved and the caller extracts the package instead. Update worker; its log lines belong to
// CGameRemoteConfig::OnUnzipFile and CGameRemoteConfig::UnzipFile.
#pragma once

#include <string>
#include <vector>

#include "update/PackageExtractor.h"
#include "update/StagedEntry.h"

class StagedInstaller {
 public:
  enum class Result {
    Done,
    Disagrees,     // the archive's directory is not what was staged: nothing was moved
    EntryFailed,   // an entry could not be moved for the archive's sake
    LocalFailure,  // the disk refused a move or a folder (LocalError() tells the errno)
    Stopped,       // the caller's stop said so (what was moved stays)
  };

  // destinationDir must exist. The callbacks are the extraction's.
  StagedInstaller(std::string stagingDir, std::string destinationDir, PackageExtractor::Callbacks callbacks);
  StagedInstaller(const StagedInstaller&) = delete;
  StagedInstaller& operator=(const StagedInstaller&) = delete;

  // Checks the archive at archivePath against staged, then moves the staged files into the
  // destination and removes the staging folder.
  Result Install(const std::string& archivePath, const std::vector<StagedEntry>& staged);

  int LocalError() const { return localError_; }

 private:
  std::string stagingDir_;
  std::string destinationDir_;
  PackageExtractor::Callbacks callbacks_;
  int localError_ = 0;
};
