// The remote configuration fetch: one request for the configuration document (placeholder
// replaced, through the shared transfer routine and its policy; only a 200 counts, a body over
// 1 MiB fails) and its parse into the run's table. Runs on the update worker; its log lines belong
// to the worker's step, CGameRemoteConfig::InitRemoteConfig.
#pragma once

#include <functional>
#include <string>
#include <utility>

#include "core/RemoteConfigTable.h"

class RemoteConfigFetch {
 public:
  // NoHandle: no transfer can run at all (libcurl could not be initialised). Stopped: the
  // launcher is closing; nothing failed, so there is nothing to show the player.
  enum class Result { Ok, NoHandle, TransferFailed, Stopped };

  // urlTemplate may hold "{ditch_name}"; table is filled on success only. stopRequested, when
  // set, is asked before the request and at every progress tick (at least once a second, also
  // while nothing arrives); true ends the fetch as Stopped.
  RemoteConfigFetch(std::string urlTemplate, RemoteConfigTable& table, std::function<bool()> stopRequested = {})
      : urlTemplate_(std::move(urlTemplate)), table_(table), stopRequested_(std::move(stopRequested)) {}
  RemoteConfigFetch(const RemoteConfigFetch&) = delete;
  RemoteConfigFetch& operator=(const RemoteConfigFetch&) = delete;

  // One attempt, no retry. A failed transfer logs its result and status; NoHandle is left to the
  // caller to report.
  Result Run();

  // What the transfer reported (0 before Run, or when no transfer took place).
  int TransferResult() const { return transferResult_; }
  long HttpStatus() const { return httpStatus_; }

 private:
  Result Stopped();  // logs the stop

  std::string urlTemplate_;
  RemoteConfigTable& table_;
  std::function<bool()> stopRequested_;
  int transferResult_ = 0;
  long httpStatus_ = 0;
};
