// Everything one launcher run shares, built once at start-up and handed down explicitly to the
// application object, the windows, the update worker and the bridge; nothing finds these
// through process-wide instances. Tests build their own with stand-ins (NullTelemetry or a
// recording one, a launch-parameter reader over a given command line).
//
// Lifetime: it must outlive every thread that uses it. The update worker is never joined; when it
// does not end in time at exit, start-up leaks the context with the window rather than free it
// under the worker.
#pragma once

#include <string>
#include <utility>

#include "Identity.h"
#include "core/InstallLayout.h"
#include "core/RemoteConfigTable.h"
#include "core/UpdateState.h"
#include "net/ITelemetry.h"
#include "net/MachineInfo.h"
#include "platform/CWindowMessageHandler.h"

struct LauncherContext {
  // commandLine is the launcher's argument string (after the program), appName its application
  // name; both feed the launch-parameter reader.
  LauncherContext(ITelemetry& telemetry, MachineInfo machine, const std::string& commandLine,
                  const std::string& appName)
      : telemetry(telemetry), machine(std::move(machine)), launchParameters(commandLine, appName) {
    layout.appName = appName;
  }

  LauncherContext(const LauncherContext&) = delete;
  LauncherContext& operator=(const LauncherContext&) = delete;

  ITelemetry& telemetry;                   // any thread
  const MachineInfo machine;               // collected before the context; read-only
  CWindowMessageHandler launchParameters;  // any thread (locks its own strings)
  RemoteConfigTable remoteConfig;          // filled once by the update worker, read afterwards
  UpdateState updateState;                 // see its threading note
  // Settled by start-up (InitApplication) before any window or thread starts; read-only after.
  InstallLayout layout;
  // Where the configuration is fetched from ("{ditch_name}" is replaced).
  std::string remoteConfigUrl = identity::RemoteConfigUrl;
  // The Ed25519 public key (64 hex digits) that signs the packages; empty: none is required.
  std::string packagePublicKey = identity::PackagePublicKey;
};
