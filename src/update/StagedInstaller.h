// The second half of unpacking during the download: once the package is verified, the archive's
// directory is checked against what the stager unpacked from the local headers (its first entries,
// in the same order, each with its name, method, sizes, CRC-32 and the place of its data), and
// only then are the staged files moved into the client, one rename per file, with the
// extraction's log lines, progress, folder rules and stop. Entries the staging did not reach are
// then extracted from the verified package on every core (PackageExtractor), counting on from the
// moved ones. When the directory disagrees nothing is moved and the caller extracts the package
// instead. Update worker; its log lines belong to CGameRemoteConfig::OnUnzipFile and
// CGameRemoteConfig::UnzipFile.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "update/PackageExtractor.h"
#include "update/StagedEntry.h"

class StagedInstaller {
 public:
  // destinationDir must exist. The callbacks are the extraction's.
  StagedInstaller(std::string stagingDir, std::string destinationDir, PackageExtractor::Callbacks callbacks);
  StagedInstaller(const StagedInstaller&) = delete;
  StagedInstaller& operator=(const StagedInstaller&) = delete;

  // Checks the archive at archivePath against staged (its first entries), moves the staged files
  // into the destination, extracts the entries after them and removes the staging folder. The
  // extraction's result; nothing when the archive's directory is not what was staged (nothing
  // was moved).
  std::optional<PackageExtractor::Result> Install(const std::string& archivePath,
                                                  const std::vector<StagedEntry>& staged);

  // After PackageExtractor::Result::LocalFailure: the system's error.
  int LocalError() const { return localError_; }

 private:
  std::string stagingDir_;
  std::string destinationDir_;
  PackageExtractor::Callbacks callbacks_;
  int localError_ = 0;
};
