// Running Windows programs through Wine: which Wine, with which environment, the preparation of
// a prefix, its Wine server, and recognising a Windows program that runs.
//
// A Wine prefix is a directory whose drive_c is the C: drive; the launcher's own prefix is one,
// so a Windows build of the game sees its installation as C:\<install folder>.
#pragma once

#include <string>
#include <vector>

#include "os/ProcessId.h"

namespace os {

// The Wine program: `configured` (the value of VELLMORA_WINE) when it is set and not empty, a
// name without '/' being looked up in pathList like a shell does; otherwise "wine" looked up in
// pathList (the value of PATH). Empty when that program is no executable file. Any thread.
std::string SelectWineRunner(const char* configured, const char* pathList);

// SelectWineRunner over this process's VELLMORA_WINE and PATH. Any thread.
std::string FindWineRunner();

// The environment of a process started through Wine: base with WINEPREFIX set to the prefix (as an
// absolute path, replacing any other) and WINEDEBUG=-all, which keeps Wine's own diagnostics out
// of the game's output, unless base sets WINEDEBUG itself. Everything else stays, in its order.
std::vector<std::string> WineEnvironment(const std::vector<std::string>& base, const std::string& prefix);

// Starts a Windows program through the runner: argv = runner, program, args...; in cwd; with
// WineEnvironment(the launcher's environment, prefix). Wine shows the program to the game as the
// first token of its command line and passes args on unchanged. Returns the pid or -1 (errno in
// *error). Any thread.
ProcessId SpawnThroughWine(const std::string& runner, const std::string& program, const std::vector<std::string>& args,
                           const std::string& cwd, const std::string& prefix, int* error = nullptr);

// Makes the prefix ready for a Windows program: runs "<runner> wineboot" and waits for it. Wine
// creates (or updates) the prefix's own files on its first start there, which takes tens of
// seconds, and leaves its services running for a while, so a game started next starts at once.
// Output is discarded. Returns wineboot's exit status, -1 when it could not run. Blocks; never
// on the UI thread.
int PrepareWinePrefix(const std::string& runner, const std::string& prefix);

// True when a Wine server runs for the prefix. While one runs it owns the prefix's registry
// files (it writes them back when it ends). Any thread.
bool IsWineServerRunning(const std::string& prefix);

// Waits at most timeoutMs for the prefix's Wine server to end; true when none runs.
bool WaitForWineServerExit(const std::string& prefix, int timeoutMs);

// True when a process runs the Windows program (a path in the prefix) through Wine: its argv[0]
// names the program as a Unix path (absolute, or relative to its working directory) or as a DOS
// path on one of the prefix's drives. error is set when /proc cannot be read at all.
bool IsWindowsProgramRunning(const std::string& program, const std::string& prefix, bool* error = nullptr);

}  // namespace os
