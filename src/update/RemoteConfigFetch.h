// The remote configuration fetch: one request for the configuration document (placeholder
// replaced, redirects followed, only a 200 counts) and its parse into the run's table. The only
// place that sets up the transfer for it. Runs on the update worker (libcurl's callbacks too);
// its log lines belong to the worker's step, CGameRemoteConfig::InitRemoteConfig.
#pragma once

#include <string>
#include <utility>

#include "core/RemoteConfigTable.h"

class RemoteConfigFetch {
 public:
  enum class Result { Ok, NoHandle, TransferFailed };

  // urlTemplate may hold "{ditch_name}"; table is filled on success only.
  RemoteConfigFetch(std::string urlTemplate, RemoteConfigTable& table)
      : urlTemplate_(std::move(urlTemplate)), table_(table) {}
  RemoteConfigFetch(const RemoteConfigFetch&) = delete;
  RemoteConfigFetch& operator=(const RemoteConfigFetch&) = delete;

  // One attempt, no retry. A failed transfer logs its result and status; a missing transfer
  // handle is left to the caller to report.
  Result Run();

  // What the transfer reported (0 before Run, or when no transfer took place).
  int TransferResult() const { return transferResult_; }
  long HttpStatus() const { return httpStatus_; }

 private:
  std::string urlTemplate_;
  RemoteConfigTable& table_;
  int transferResult_ = 0;
  long httpStatus_ = 0;
};
