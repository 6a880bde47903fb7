// The page's window.external on Windows, called the way the browser control's script engine calls
// it: GetIDsOfNames, then Invoke with DISPPARAMS whose arguments run last to first. The control
// itself runs no script here, so the object is called directly.
#include <gtest/gtest.h>

#include <dispex.h>
#include <ole2.h>
#include <oleauto.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "browser/BridgeGate.h"
#include "log/LauncherLog.h"
#include "os/MessageBox.h"
#include "os/Process.h"
#include "support/TestContext.h"
#include "ui/CImpIDispatch.h"
#include "ui/CWebCDlg.h"
#include "ui/CWebDlg.h"
#include "ui/win32/ExternalDispatch.h"

namespace {

const char kLogin[] = "http://login.example:8080";

// A VARIANT that clears itself.
struct Var {
  Var() { VariantInit(&v); }
  ~Var() { VariantClear(&v); }
  Var(const Var&) = delete;
  Var& operator=(const Var&) = delete;
  static Var* Text(const wchar_t* s) {
    auto* var = new Var;
    V_VT(&var->v) = VT_BSTR;
    V_BSTR(&var->v) = s ? SysAllocString(s) : nullptr;  // null: the null BSTR, an empty string
    return var;
  }
  VARIANT v;
};

std::string Narrow(const wchar_t* s, size_t n) {
  std::string out(n * 4 + 1, '\0');
  const int m = WideCharToMultiByte(CP_UTF8, 0, s, static_cast<int>(n), out.data(), static_cast<int>(out.size()),
                                    nullptr, nullptr);
  out.resize(m > 0 ? m : 0);
  return out;
}

struct ExternalObject : ::testing::Test {
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() / ("vellmora-external-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::create_directories(dir);
    logPath = (dir / "external.log").string();
    LauncherLog::Instance().Open(logPath);
    os::SetMessageBoxPresenter([this](const std::string& text, const std::string&, os::MsgIcon, os::MsgButtons) {
      boxes.push_back(text);
      return os::MsgAnswer::Ok;
    });
    dlg.CreateContent();
    gate.Trust(kLogin);
  }
  void TearDown() override {
    os::SetMessageBoxPresenter(nullptr);
    LauncherLog::Instance().Close();
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
  std::string Log() {
    LauncherLog::Instance().Close();
    std::ifstream in(logPath, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    LauncherLog::Instance().Open(logPath);  // the next case's lines only
    return text.str();
  }

  // Invokes id with the script's arguments in script order; the result starts as VT_I4 42, so an
  // untouched result is visible.
  HRESULT Call(DISPID id, const std::vector<VARIANT*>& scriptArgs, VARIANT* result) {
    std::vector<VARIANT> reversed;  // shallow copies: the callers own the values
    for (auto a = scriptArgs.rbegin(); a != scriptArgs.rend(); ++a) reversed.push_back(**a);
    DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    if (result) {
      VariantClear(result);
      V_VT(result) = VT_I4;
      V_I4(result) = 42;
    }
    return external.Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result, nullptr, nullptr);
  }

  std::filesystem::path dir;
  std::string logPath;
  std::vector<std::string> boxes;
  TestContext context;
  CWebDlg dlg{context.Get()};
  CImpIDispatch bridge{[this] { return &dlg; }};
  BridgeGate gate;
  std::string origin = kLogin;
  ExternalDispatch external{bridge, gate, [this] { return origin; }};
};

TEST_F(ExternalObject, NamesMapToTheMethodTableExactly) {
  struct Case {
    std::vector<const wchar_t*> names;
    std::vector<DISPID> ids;
    HRESULT status;
  };
  const Case cases[] = {
      {{L"JavascriptToCsharp"}, {1}, S_OK},
      {{L"AppLogin"}, {2}, S_OK},
      {{L"IsDownLoadComplete"}, {3}, S_OK},
      {{L"applogin"}, {DISPID_UNKNOWN}, DISP_E_UNKNOWNNAME},
      {{L"AppLogin "}, {DISPID_UNKNOWN}, DISP_E_UNKNOWNNAME},
      {{L""}, {DISPID_UNKNOWN}, DISP_E_UNKNOWNNAME},
      {{nullptr}, {DISPID_UNKNOWN}, DISP_E_UNKNOWNNAME},
      // Every slot gets the member's id.
      {{L"AppLogin", L"parameters"}, {2, 2}, S_OK},
      {{L"Missing", L"AppLogin"}, {DISPID_UNKNOWN, DISPID_UNKNOWN}, DISP_E_UNKNOWNNAME},
  };
  for (const Case& c : cases) {
    std::vector<LPOLESTR> names;
    for (const wchar_t* n : c.names) names.push_back(const_cast<LPOLESTR>(n));
    std::vector<DISPID> ids(names.size(), 12345);
    EXPECT_EQ(external.GetIDsOfNames(IID_NULL, names.data(), static_cast<UINT>(names.size()), LOCALE_USER_DEFAULT,
                                     ids.data()),
              c.status)
        << c.names.size();
    EXPECT_EQ(ids, c.ids);
  }
  EXPECT_EQ(DISP_E_UNKNOWNNAME, static_cast<HRESULT>(0x80020006));
}

TEST_F(ExternalObject, AnswersOnlyItsAutomationInterfaceAndNeverFreesItself) {
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(external.QueryInterface(IID_IDispatch, &out), S_OK);
  EXPECT_EQ(out, static_cast<IDispatch*>(&external));
  EXPECT_EQ(external.QueryInterface(IID_IUnknown, &out), S_OK);
  EXPECT_EQ(external.References(), 2u);
  const IID others[] = {IID_IDispatchEx, IID_ITypeInfo, IID_IClassFactory};
  for (const IID& iid : others) {
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(external.QueryInterface(iid, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
  }
  EXPECT_EQ(external.Release(), 1u);
  EXPECT_EQ(external.Release(), 0u);
  EXPECT_EQ(external.Release(), 0u);  // a surplus Release neither frees nor wraps around
  UINT count = 7;
  EXPECT_EQ(external.GetTypeInfoCount(&count), E_NOTIMPL);
  ITypeInfo* info = nullptr;
  EXPECT_EQ(external.GetTypeInfo(0, LOCALE_USER_DEFAULT, &info), E_NOTIMPL);
}

// Each row: a call in script order, what comes back and what the window saw. The result starts as
// VT_I4 42: "untouched" rows keep it.
TEST_F(ExternalObject, InvokeReadsTheScriptsLastArgumentsAsText) {
  const std::string path = os::ExecutablePath();
  std::unique_ptr<Var> one(new Var), yes(new Var), nul(new Var), ref(new Var);
  V_VT(&one->v) = VT_I4;
  V_I4(&one->v) = 5;
  V_VT(&yes->v) = VT_BOOL;
  V_BOOL(&yes->v) = VARIANT_TRUE;
  V_VT(&nul->v) = VT_NULL;
  BSTR referenced = SysAllocString(L"GetCommandLine");
  V_VT(&ref->v) = VT_BSTR | VT_BYREF;
  V_BSTRREF(&ref->v) = &referenced;
  std::wstring tooLong(BridgeGate::kMaxArgumentLength + 1, L'x');
  std::unique_ptr<Var> longText(Var::Text(tooLong.c_str()));

  struct Row {
    const char* name;
    DISPID id;
    std::vector<Var*> args;  // script order
    VARTYPE type;            // of the result; VT_I4: untouched
    std::string text;        // a VT_BSTR result
    const char* logLine;     // expected in the log, or null
  };
  std::vector<std::unique_ptr<Var>> own;
  auto text = [&own](const wchar_t* s) {
    own.emplace_back(Var::Text(s));
    return own.back().get();
  };
  const std::vector<Row> rows = {
      {"path", 1, {text(L"GetCommandLine"), text(L"x")}, VT_BSTR, path, "method:GetCommandLine,paramters:x\n"},
      {"other letter case", 1, {text(L"getcommandline"), text(L"x")}, VT_BSTR, "", "method:getcommandline,"},
      {"method by reference", 1, {ref.get(), text(L"y")}, VT_BSTR, path, "method:GetCommandLine,paramters:y\n"},
      {"surplus before",
       1,
       {text(L"first"), text(L"GetCommandLine"), text(L"z")},
       VT_BSTR,
       path,
       "method:GetCommandLine,paramters:z\n"},
      {"one argument", 1, {text(L"GetCommandLine")}, VT_I4, "", nullptr},
      {"no argument", 2, {}, VT_I4, "", nullptr},
      {"a number", 1, {one.get(), text(L"p")}, VT_BSTR, "", "method:5,paramters:p\n"},
      {"a boolean", 1, {text(L"Echo"), yes.get()}, VT_BSTR, "", "method:Echo,paramters:True\n"},
      {"null BSTR", 2, {text(nullptr)}, VT_BSTR, "", "[INFO][CWebCDlg::OnLoginResult::385] paramters is error!\n"},
      {"no string form",
       2,
       {nul.get()},
       VT_I4,
       "",
       "call refused: an argument is not text or longer than 65536 characters\n"},
      {"too long",
       2,
       {longText.get()},
       VT_I4,
       "",
       "call refused: an argument is not text or longer than 65536 characters\n"},
      {"too long but not read",
       2,
       {longText.get(), text(L"nothing")},
       VT_BSTR,
       "",
       "method:LoginResult,paramters:nothing\n"},
      {"unknown id", 9, {text(L"a"), text(L"b")}, VT_I4, "", nullptr},
      {"ready flag", 3, {text(L"ignored")}, VT_BOOL, "", nullptr},
  };
  for (const Row& r : rows) {
    std::vector<VARIANT*> args;
    for (Var* a : r.args) args.push_back(&a->v);
    Var result;
    EXPECT_EQ(Call(r.id, args, &result.v), S_OK) << r.name;
    ASSERT_EQ(V_VT(&result.v), r.type) << r.name;
    if (r.type == VT_I4) {
      EXPECT_EQ(V_I4(&result.v), 42) << r.name;
    } else if (r.type == VT_BSTR) {
      EXPECT_EQ(Narrow(V_BSTR(&result.v), SysStringLen(V_BSTR(&result.v))), r.text) << r.name;
    } else {
      EXPECT_EQ(V_BOOL(&result.v), 0) << r.name;
    }
    const std::string log = Log();
    if (r.logLine) {
      EXPECT_NE(log.find(r.logLine), std::string::npos) << r.name << "\n" << log;
    }
    if (r.type == VT_I4) {  // a refused or too-short call reaches nobody
      EXPECT_EQ(log.find("JavascriptToCPLUSPLUS"), std::string::npos) << r.name;
    }
  }
  EXPECT_FALSE(dlg.Content()->IsLoggedIn());
  SysFreeString(referenced);

  // No result wanted: the call still happens.
  EXPECT_EQ(Call(2, {&text(L"TRUE|p")->v}, nullptr), S_OK);
  EXPECT_TRUE(dlg.Content()->IsLoggedIn());
  EXPECT_EQ(dlg.Content()->LoginParameters(), "p");
}

// The login through either method, arguments reversed on the way in; the ready flag as 1.
TEST_F(ExternalObject, LoginAndReadyThroughTheObject) {
  std::unique_ptr<Var> method(Var::Text(L"LoginResult")), refused(Var::Text(L"false|p")), ok(Var::Text(L"true|q|r"));
  Var result;
  EXPECT_EQ(Call(1, {&method->v, &refused->v}, &result.v), S_OK);
  EXPECT_EQ(V_VT(&result.v), VT_BSTR);
  EXPECT_EQ(boxes, std::vector<std::string>{"登录验证未通过"});
  EXPECT_FALSE(dlg.Content()->IsLoggedIn());
  EXPECT_EQ(Call(2, {&ok->v}, &result.v), S_OK);
  EXPECT_TRUE(dlg.Content()->IsLoggedIn());
  EXPECT_EQ(dlg.Content()->LoginParameters(), "q");

  EXPECT_EQ(Call(3, {}, &result.v), S_OK);
  ASSERT_EQ(V_VT(&result.v), VT_BOOL);
  EXPECT_EQ(V_BOOL(&result.v), 0);
  dlg.Content()->SetReady();  // logged in and ready: the launch finds no game installed here
  EXPECT_EQ(Call(3, {}, &result.v), S_OK);
  ASSERT_EQ(V_VT(&result.v), VT_BOOL);
  EXPECT_EQ(V_BOOL(&result.v), 1);  // 1, not VARIANT_TRUE
}

// A document of another origin reaches nothing, reads nothing, and is named in the log.
TEST_F(ExternalObject, OtherOriginsAreRefused) {
  std::unique_ptr<Var> login(Var::Text(L"true|p")), method(Var::Text(L"GetCommandLine")), x(Var::Text(L"x"));
  for (const char* other : {"http://evil.example", "http://login.example", "https://login.example:8080", ""}) {
    origin = other;
    Var result;
    EXPECT_EQ(Call(2, {&login->v}, &result.v), S_OK);
    EXPECT_EQ(V_VT(&result.v), VT_I4) << other;
    EXPECT_EQ(Call(1, {&method->v, &x->v}, &result.v), S_OK);
    EXPECT_EQ(V_VT(&result.v), VT_I4) << other;
    EXPECT_EQ(Call(3, {}, &result.v), S_OK);
    EXPECT_EQ(V_VT(&result.v), VT_I4) << other;
    const std::string log = Log();
    EXPECT_NE(log.find(std::string("[ERROR][ExternalDispatch::Invoke::")), std::string::npos) << log;
    EXPECT_NE(log.find(std::string("call from another origin refused: ") + other + "\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("JavascriptToCPLUSPLUS"), std::string::npos) << log;
  }
  EXPECT_FALSE(dlg.Content()->IsLoggedIn());

  // Nothing trusted (the login page has not answered yet): nobody gets through.
  origin = kLogin;
  gate.Trust("");
  Var result;
  EXPECT_EQ(Call(2, {&login->v}, &result.v), S_OK);
  EXPECT_FALSE(dlg.Content()->IsLoggedIn());
  gate.Trust(kLogin);
  EXPECT_EQ(Call(2, {&login->v}, &result.v), S_OK);
  EXPECT_TRUE(dlg.Content()->IsLoggedIn());
}

}  // namespace
