// The platform's launch parameters: the "--key=value" tokens of the launcher's command line, the
// file parameter carried after the last "_" of the launcher's file name, and the show-window
// message back to the platform's window once the launcher is done.
//
// One instance per run, in the launcher context; every member is safe from any thread (the UI
// thread and the update worker both read the query string). The string fields are guarded by one
// lock; the tokenising state is local to each call.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

class CWindowMessageHandler {
 public:
  // commandLine: the launcher's argument string (after the program); appName: its application
  // name, whose text after the last "_" is the file parameter.
  CWindowMessageHandler(std::string commandLine, std::string appName);

  // Size of the show-window payload and the kind it carries.
  static constexpr size_t kPayloadSize = 2056;
  static constexpr uint32_t kShowKind = 1;

  // The query string for the login page: "fileparam=<suffix>" (when the application name holds an
  // "_") followed by every parameter as "key=value", joined with "&". Stores the file parameter.
  std::string GetOrvaneUriFromCommandLine();

  // The value of the first parameter whose key equals key exactly (case-sensitive); empty if none.
  std::string GetOrvaneParamFromCommandLine(const std::string& key);

  // Reads "winid", "token" and "source" into the instance and marks them read.
  void GetOrvaneTokenFromCommandLine();

  // Asks the platform's window (the "winid" parameter) to show itself again; senderWindow is the
  // launcher's own window id. Blocks until the message is delivered or refused; logs the result.
  void SendShowWindowMessage(unsigned long senderWindow);

  // The file parameter stored by the last GetOrvaneUriFromCommandLine (empty before).
  std::string FileParameter() const;
  std::string WindowId() const;
  std::string Token() const;
  std::string Source() const;

  // The grammar, exposed for reuse and tests: the parameter tokens of a command line in order,
  // as (key, value). Splits at spaces only; a token is a parameter when its first "=" stands at
  // index 3 or later; the two-character prefix is dropped unread.
  static std::vector<std::pair<std::string, std::string>> ParseParameters(const std::string& commandLine);

  // Decimal conversion as the platform's window ids are read: leading blanks, one sign, digits up
  // to the first non-digit; no digits gives 0; out-of-range values saturate.
  static long ParseWindowId(const std::string& text);

  // The 2,056-byte little-endian payload: the kind, the text "1" as 1,024 UTF-16 units, then 1.
  static std::vector<uint8_t> BuildShowWindowPayload(uint32_t kind);

  CWindowMessageHandler(const CWindowMessageHandler&) = delete;
  CWindowMessageHandler& operator=(const CWindowMessageHandler&) = delete;

 private:
  const std::string commandLine_;
  const std::string appName_;

  mutable std::mutex lock_;
  bool parsed_ = false;
  std::string windowId_;
  std::string token_;
  std::string source_;
  std::string fileParameter_;
};
