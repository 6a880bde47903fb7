#include "ui/GameCommandLine.h"

#include <cstdio>
#include <memory>
#include <optional>

#include "os/CodePage.h"
#include "os/FileSystem.h"
#include "os/Process.h"

namespace {

// The longest line read from luapath.txt, in UTF-16 units.
constexpr size_t kMaxLuaPath = 259;

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

// First line of luapath.txt in the current directory, line feed included, as text-mode input
// gives it (CR LF reads as LF). Empty optional when the file is missing or does not open.
std::optional<std::string> ReadLuaPath() {
  if (!os::PathExists("luapath.txt")) return std::nullopt;
  std::unique_ptr<FILE, FileCloser> file(std::fopen("luapath.txt", "r"));
  if (!file) return std::nullopt;
  std::string line;
  int c;
  while ((c = std::fgetc(file.get())) != EOF) {
    line += static_cast<char>(c);
    if (c == '\n') break;
  }
  if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) line.erase(line.size() - 2, 1);
  return os::TruncateUtf16(os::AnsiToUtf8(line), kMaxLuaPath);
}

}  // namespace

// The launcher's own arguments pass through as they came. Each value from elsewhere (the page's
// login parameters, the configuration's CustomParameters, the luapath text) becomes exactly one
// argument of the game whatever it holds: quoted by the rules the line is split with, so blanks
// and quotes in it can neither add arguments nor swallow the next one. An ordinary value needs
// no quotes and is written as it is.
std::string BuildGameCommandLine(const std::string& loginParameters, const std::string& customParameters) {
  std::string commandLine = os::FullCommandLine() + " " + os::QuoteArgument("--parameters=" + loginParameters) + " " +
                            os::QuoteArgument("--plat_extra=" + customParameters);
  if (std::optional<std::string> luaPath = ReadLuaPath())
    commandLine += " " + os::QuoteArgument("--luapath=" + *luaPath);
  return commandLine;
}
