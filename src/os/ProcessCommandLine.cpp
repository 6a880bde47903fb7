// The Windows command-line rules (CommandLineToArgvW's), the same text on both platforms: the
// game's command line is built and read by them wherever the launcher runs. Any thread.
#include <string>
#include <vector>

#include "os/Process.h"

namespace os {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::string QuoteArgument(const std::string& arg) {
  // Only blanks and tabs separate arguments and only quotes change how one is read: any other
  // character (a line feed too) stays inside its argument without quotes.
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes are literal unless they precede a quote: then each must be doubled.
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  out += '"';
  return out;
}

std::vector<std::string> SplitCommandLine(const std::string& cmd) {
  std::vector<std::string> out;
  size_t i = 0, n = cmd.size();
  // The program name: up to the closing quote, or up to the first blank; no escapes.
  std::string first;
  if (i < n && cmd[i] == '"') {
    ++i;
    while (i < n && cmd[i] != '"') first += cmd[i++];
    if (i < n) ++i;
  } else {
    while (i < n && !IsBlank(cmd[i])) first += cmd[i++];
  }
  out.push_back(first);
  for (;;) {
    while (i < n && IsBlank(cmd[i])) ++i;
    if (i >= n) break;
    std::string arg;
    bool quoted = false;
    while (i < n && (quoted || !IsBlank(cmd[i]))) {
      if (cmd[i] == '\\') {
        size_t count = 0;
        while (i < n && cmd[i] == '\\') {
          ++count;
          ++i;
        }
        if (i < n && cmd[i] == '"') {
          arg.append(count / 2, '\\');
          if (count % 2 == 1) {
            arg += '"';
            ++i;
          }
        } else {
          arg.append(count, '\\');
        }
      } else if (cmd[i] == '"') {
        if (quoted && i + 1 < n && cmd[i + 1] == '"') {
          arg += '"';  // "" inside quotes is a literal quote
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        arg += cmd[i++];
      }
    }
    out.push_back(arg);
  }
  return out;
}

}  // namespace os
