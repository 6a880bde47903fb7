// The process's file-mode creation mask, for code that sets modes itself (chmod applies no mask).
#pragma once

namespace os {

// The current umask, read without changing it (so other threads never see a different mask).
// Any thread.
unsigned CurrentUmask();

}  // namespace os
