#include "ui/CImpIDispatch.h"

#include "log/LauncherLog.h"
#include "os/CodePage.h"
#include "ui/CWebDlg.h"

namespace {

constexpr char kModule[] = "CImpIDispatch";

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

// A call whose read arguments (the script's last `read`, the first of the reversed args) hold a
// string over kMaxArgumentLength UTF-16 units is refused: logged, and nothing else happens.
// Arguments before them are ignored, whatever their size.
bool CImpIDispatch::Refused(long dispId, const std::vector<std::string>& args, size_t read) {
  const char* name = "";
  for (const MethodEntry& m : kMethods) {
    if (m.id == dispId) name = m.name;
  }
  for (size_t i = 0; i < read && i < args.size(); ++i) {
    if (os::Utf16Length(args[i]) > kMaxArgumentLength) {
      LogError(std::string("call refused: an argument of ") + name + " is longer than " +
                   std::to_string(kMaxArgumentLength) + " characters",
               "CImpIDispatch::Invoke", kModule, 59);
      return true;
    }
  }
  return false;
}

CImpIDispatch::Value CImpIDispatch::Invoke(long dispId, const std::vector<std::string>& args, bool wantResult) {
  CWebDlg* window = mainWindow_ ? mainWindow_() : nullptr;
  switch (dispId) {
    case kJavascriptToCsharp: {
      if (args.size() < 2 || Refused(dispId, args, 2)) return {};
      // The script's last two arguments: method, then parameters (reversed here).
      const std::string& method = args[1];
      const std::string& parameters = args[0];
      std::string answer = window ? window->JavascriptToCPLUSPLUS(method, parameters) : std::string();
      if (wantResult) return answer;
      return {};
    }
    case kAppLogin: {
      if (args.empty() || Refused(dispId, args, 1)) return {};
      std::string answer = window ? window->JavascriptToCPLUSPLUS("LoginResult", args[0]) : std::string();
      if (wantResult) return answer;
      return {};
    }
    case kIsDownLoadComplete:  // its arguments, if any, are not read
      if (!wantResult) return {};
      return window && window->Content() && window->Content()->IsReady();
    default: return {};
  }
}
