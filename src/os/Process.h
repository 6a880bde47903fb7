// The running launcher (its path, name and command line) and other processes.
#pragma once

#include <string>
#include <vector>

#include "os/ProcessId.h"

namespace os {

// Records the process's arguments; called once by main before anything else.
void SetArguments(int argc, char** argv);

// Full path of the running executable (/proc/self/exe resolved).
std::string ExecutablePath();

// Directory of the executable with a trailing '/', like the original "up to the last backslash".
std::string ExecutableDir();

// The application name: the executable's file name without directory (and without ".exe").
std::string ApplicationName();

// The platform's executable suffix ("" here, ".exe" on Windows).
const char* ExecutableSuffix();

// The argument string after the program name, rebuilt from argv with the inverse of the
// Windows quoting rules (so SplitCommandLine of it gives argv[1..] back).
std::string ArgumentString();

// The whole command line: the quoted program path followed by ArgumentString().
std::string FullCommandLine();

// Splits a command line by the Windows rules (CommandLineToArgvW): the first token ends at the
// first blank outside quotes and takes no backslash escapes; later tokens follow the backslash
// and quote rules.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// Quotes one argument so that SplitCommandLine gives it back unchanged; written as it is unless it
// is empty or holds a blank, a tab or a quote.
std::string QuoteArgument(const std::string& arg);

// True when a process whose executable resolves to exactly this path is running.
// error is set when /proc cannot be read at all.
bool IsExecutableRunning(const std::string& executablePath, bool* error = nullptr);

// Starts a process without a shell: the executable runs with argv = SplitCommandLine(commandLine)
// (so argv[0] is the command line's first token, as on Windows), in the working directory cwd,
// with the launcher's environment and no descriptor but 0, 1 and 2. Returns the pid or -1 (errno
// in *error).
ProcessId SpawnProcess(const std::string& executable, const std::string& commandLine, const std::string& cwd,
                       int* error = nullptr);

// Starts a program without a shell with exactly these arguments (argv[0] included), in the
// working directory cwd (unchanged when empty), with the environment env ("NAME=value" entries;
// the launcher's own when null). quiet sends its standard output and error to /dev/null.
// Returns the pid or -1 (errno in *error).
ProcessId SpawnProgram(const std::string& program, const std::vector<std::string>& argv, const std::string& cwd,
                       const std::vector<std::string>* env = nullptr, bool quiet = false, int* error = nullptr);

// The launcher's environment as "NAME=value" entries.
std::vector<std::string> CurrentEnvironment();

// Waits without a time limit until the process ends; returns its exit status or -1.
int WaitProcess(ProcessId pid);

// Ends the process with code at once: standard output and error are flushed, but no exit
// handler, static destructor or library clean-up runs. For an exit while a thread of the
// process may still be inside those libraries (libcurl, OpenSSL, the log).
[[noreturn]] void EndProcessNow(int code);

}  // namespace os
