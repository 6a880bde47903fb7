// A finished file moved into place: given its permission bits, then renamed over whatever file
// stands at the destination (a link there is replaced, never followed). Both paths must lie on
// one file system. Any thread.
#pragma once

#include <string>

namespace os {

// Sets from's permission bits to mode (unless 0) and renames it over to. 0 or the errno; on a
// failure the destination is as it was.
int MoveFileOver(const std::string& from, const std::string& to, unsigned mode);

}  // namespace os
