#include <glib.h>

#include <memory>

#include "os/CaseFold.h"

namespace os {

std::string FoldCase(const std::string& utf8) {
  struct Free {
    void operator()(gchar* p) const { g_free(p); }
  };
  std::unique_ptr<gchar, Free> folded(g_utf8_casefold(utf8.c_str(), static_cast<gssize>(utf8.size())));
  return folded ? std::string(folded.get()) : utf8;
}

}  // namespace os
