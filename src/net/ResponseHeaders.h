// Response header blocks as libcurl hands them over, and the fields a request reads from them.
#pragma once

#include <string>
#include <string_view>

struct HttpResponseInfo;

// The header lines of one transfer, in blocks: interim (1xx) answers and followed redirects come
// before the final response's block. Transfer thread.
class HeaderBlocks {
 public:
  // One line as received (CR LF included); true when it ended the final response's block.
  bool AddLine(std::string_view line);

  // The last complete block, or the one still incomplete when the transfer ended inside it.
  const std::string& LastBlock() const { return block_.empty() ? last_ : block_; }

 private:
  std::string block_;  // being received
  std::string last_;   // the last complete one
};

// Status, Content-Length, Last-Modified and Server of a block; a field absent from the block is
// left as it is. Any thread.
void ReadResponseInfo(const std::string& block, HttpResponseInfo& info);
