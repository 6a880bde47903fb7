#include "net/ResponseHeaders.h"

#include <cstdlib>
#include <cstring>

#include "net/FCHttpRequestManager.h"
#include "os/CodePage.h"

namespace {

int StatusOfBlock(const std::string& block) {
  size_t space = block.find(' ');
  if (space == std::string::npos) return 0;
  return std::atoi(block.c_str() + space + 1);
}

// The value of one header of a block (the status line excluded), or false when absent.
bool HeaderValue(const std::string& block, const char* name, std::string& value) {
  size_t len = std::strlen(name);
  size_t pos = block.find('\n');
  while (pos != std::string::npos) {
    ++pos;
    size_t end = block.find('\n', pos);
    std::string line = block.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    if (line.size() > len && line[len] == ':' && os::EqualsNoCase(line.substr(0, len), name)) {
      value = os::TrimBlanks(line.substr(len + 1));
      return true;
    }
    pos = end;
  }
  return false;
}

}  // namespace

bool HeaderBlocks::AddLine(std::string_view line) {
  if (line != "\r\n" && line != "\n") {
    block_.append(line);
    return false;
  }
  last_.swap(block_);
  block_.clear();
  int status = StatusOfBlock(last_);
  bool interim = status >= 100 && status < 200;
  std::string location;
  bool redirect = status >= 300 && status < 400 && HeaderValue(last_, "location", location);
  return !interim && !redirect;
}

void ReadResponseInfo(const std::string& block, HttpResponseInfo& info) {
  std::string statusLine = os::TrimBlanks(block.substr(0, block.find('\n')));
  size_t space = statusLine.find(' ');
  if (statusLine.rfind("HTTP/", 0) == 0 && space != std::string::npos) {
    std::string code = statusLine.substr(space + 1, 3);
    if (!code.empty()) info.statusCode = std::atoi(code.c_str());
  }
  std::string value;
  if (HeaderValue(block, "content-length", value) && !value.empty())
    info.contentLength = static_cast<int>(std::strtol(value.c_str(), nullptr, 10));
  if (HeaderValue(block, "last-modified", value)) info.lastModified = value;
  if (HeaderValue(block, "server", value)) info.server = value;
}
