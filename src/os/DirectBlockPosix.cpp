#include <cerrno>
#include <cstdlib>

#include "os/DirectBlock.h"

namespace os {

bool DirectRefused(int error) { return error == EINVAL || error == EOPNOTSUPP || error == ENOTSUP; }

DirectBlock NewDirectBlock() {
  void* memory = nullptr;
  if (posix_memalign(&memory, kDirectAlign, kDirectBlockSize) != 0) return DirectBlock(nullptr, std::free);
  return DirectBlock(static_cast<uint8_t*>(memory), std::free);
}

}  // namespace os
