#include "ui/CImpIDispatch.h"

#include "ui/CWebDlg.h"

namespace {

struct MethodEntry {
  const char* name;
  long id;
};

// Names compare exactly, case-sensitively.
constexpr MethodEntry kMethods[] = {
    {"JavascriptToCsharp", CImpIDispatch::kJavascriptToCsharp},
    {"AppLogin", CImpIDispatch::kAppLogin},
    {"IsDownLoadComplete", CImpIDispatch::kIsDownLoadComplete},
};

}  // namespace

CImpIDispatch::CImpIDispatch(std::function<CWebDlg*()> mainWindow) : mainWindow_(std::move(mainWindow)) {}

CImpIDispatch::IdsResult CImpIDispatch::GetIDsOfNames(const std::vector<std::string>& names) const {
  IdsResult result;
  result.ids.assign(names.size(), kDispUnknown);
  for (long& slot : result.ids) {
    for (const MethodEntry& m : kMethods) {
      if (names[0] == m.name) slot = m.id;
    }
    if (slot == kDispUnknown) result.status = kUnknownName;
  }
  return result;
}

CImpIDispatch::Value CImpIDispatch::Invoke(long dispId, const std::vector<std::string>& args, bool wantResult) {
  CWebDlg* window = mainWindow_ ? mainWindow_() : nullptr;
  switch (dispId) {
    case kJavascriptToCsharp: {
      if (args.size() < 2) return {};
      // The script's last two arguments: method, then parameters (reversed here).
      const std::string& method = args[1];
      const std::string& parameters = args[0];
      std::string answer = window ? window->JavascriptToCPLUSPLUS(method, parameters) : std::string();
      if (wantResult) return answer;
      return {};
    }
    case kAppLogin: {
      if (args.empty()) return {};
      std::string answer = window ? window->JavascriptToCPLUSPLUS("LoginResult", args[0]) : std::string();
      if (wantResult) return answer;
      return {};
    }
    case kIsDownLoadComplete:
      if (!wantResult) return {};
      return window && window->Content() && window->Content()->IsReady();
    default: return {};
  }
}
