#include "os/Umask.h"

namespace os {

// Windows has no file-mode creation mask: the permission bits a Unix archive stores are taken as
// they are (only the owner's write bit means anything here, as the read-only attribute).
unsigned CurrentUmask() { return 0; }

}  // namespace os
