// The page's external object: a small late-bound automation object with three methods. The
// browser host turns the page's calls into GetIDsOfNames/Invoke here; this class knows nothing of
// the browser. UI thread only (the browser's thread).
#pragma once

#include <functional>
#include <string>
#include <variant>
#include <vector>

class CWebDlg;

class CImpIDispatch {
 public:
  // Dispatch ids of the method table.
  enum DispId : long {
    kDispUnknown = -1,
    kJavascriptToCsharp = 1,
    kAppLogin = 2,
    kIsDownLoadComplete = 3,
  };

  // Status codes, as the automation interface reports them.
  static constexpr long kOk = 0;
  static constexpr long kUnknownName = static_cast<long>(0x80020006u);

  // What a call hands back to the script: nothing, a string or a boolean.
  using Value = std::variant<std::monostate, std::string, bool>;

  struct IdsResult {
    std::vector<long> ids;
    long status = kOk;
  };

  // mainWindow yields the application's main window (or null) at the time of each call.
  explicit CImpIDispatch(std::function<CWebDlg*()> mainWindow);
  CImpIDispatch(const CImpIDispatch&) = delete;
  CImpIDispatch& operator=(const CImpIDispatch&) = delete;

  // One id per slot of names; each slot looks up the request's first name (the member name).
  IdsResult GetIDsOfNames(const std::vector<std::string>& names) const;

  // args are in reverse order: args[0] is the script's last argument. Calls with too few
  // arguments do nothing and return no value; wantResult false also returns no value. A method
  // reads the script's last arguments, as many as it takes, and ignores any before them. Calls
  // whose read arguments hold a string longer than kMaxArgumentLength UTF-16 units are refused
  // with an ERROR line and return no value.
  Value Invoke(long dispId, const std::vector<std::string>& args, bool wantResult);

  static constexpr size_t kMaxArgumentLength = 65536;

 private:
  static bool Refused(long dispId, const std::vector<std::string>& args, size_t read);

  std::function<CWebDlg*()> mainWindow_;
};
