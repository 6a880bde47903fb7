#include "browser/gtk/WebViewHost.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <gdk/gdkx.h>

#include "browser/KeyFilter.h"
#include "log/LauncherLog.h"
#include "os/MessageBox.h"

namespace {

constexpr char kChannel[] = "vellmoraExternal";

// The external object. Calls are posted to the launcher; values the page reads back at once come
// from the mirror the launcher keeps current (__vellmoraMirror, not enumerable, not on external).
constexpr char kExternalScript[] = R"JS((function () {
  var mirror = { ready: %READY%, path: %PATH% };
  var post = function (id, args) {
    try {
      window.webkit.messageHandlers.vellmoraExternal.postMessage({ id: id, args: args });
    } catch (e) {}
  };
  var strings = function (args) { return Array.prototype.map.call(args, function (a) { return String(a); }); };
  var external = Object.create(null);
  external.JavascriptToCsharp = function (method, parameters) {
    if (arguments.length < 2) return undefined;
    post(1, strings(arguments));
    // With extra arguments the bridge reads the last two: method, then parameters.
    return String(arguments[arguments.length - 2]) === "GetCommandLine" ? mirror.path : "";
  };
  external.AppLogin = function (parameters) {
    if (arguments.length < 1) return undefined;
    post(2, strings(arguments));
    return "";
  };
  external.IsDownLoadComplete = function () { return mirror.ready; };
  Object.freeze(external);
  try {
    Object.defineProperty(window, "external", { value: external, writable: false, configurable: false });
  } catch (e) {
    window.external = external;
  }
  Object.defineProperty(window, "__vellmoraMirror", {
    value: function (ready, path) { mirror.ready = !!ready; mirror.path = String(path); },
    enumerable: false, writable: false, configurable: false
  });
})();)JS";

// Scroll bars take no room and are never drawn; scrolling itself (wheel, keys) still works.
constexpr char kNoScrollBars[] =
    "::-webkit-scrollbar { display: none !important; width: 0 !important; height: 0 !important; }"
    "html { scrollbar-width: none !important; }";

std::string JsString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '<': out += "\\x3c"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          snprintf(buf, sizeof buf, "\\x%02x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  // U+2028 and U+2029 end a line in older script engines.
  for (size_t p; (p = out.find("\xE2\x80\xA8")) != std::string::npos;) out.replace(p, 3, "\\u2028");
  for (size_t p; (p = out.find("\xE2\x80\xA9")) != std::string::npos;) out.replace(p, 3, "\\u2029");
  return out + "\"";
}

void Replace(std::string& s, const std::string& what, const std::string& with) {
  const size_t p = s.find(what);
  if (p != std::string::npos) s.replace(p, what.size(), with);
}

// The keys held down right now (the decision ignores the event's own key). Ctrl comes from the
// event's modifier state, the letters and F5 from the keyboard map.
HeldKeys ReadHeldKeys(GdkEventKey* event) {
  HeldKeys held;
  held.ctrl = (event->state & GDK_CONTROL_MASK) != 0;
  GdkDisplay* display = gdk_window_get_display(event->window);
  if (GDK_IS_X11_DISPLAY(display)) {
    Display* x = gdk_x11_display_get_xdisplay(display);
    char keys[32] = {};
    XQueryKeymap(x, keys);
    auto down = [&](KeySym sym) {
      const KeyCode code = XKeysymToKeycode(x, sym);
      return code != 0 && (keys[code / 8] & (1 << (code % 8))) != 0;
    };
    held.f5 = down(XK_F5);
    held.o = down(XK_o);
    held.p = down(XK_p);
    held.n = down(XK_n);
  }
  // The key being pressed is down in any case (a keymap read can trail the event).
  const guint key = gdk_keyval_to_lower(event->keyval);
  held.f5 = held.f5 || key == GDK_KEY_F5;
  held.o = held.o || key == GDK_KEY_o;
  held.p = held.p || key == GDK_KEY_p;
  held.n = held.n || key == GDK_KEY_n;
  return held;
}

}  // namespace

WebViewHost::WebViewHost(ExternalCall onExternalCall, UriOpener openExternally)
    : onExternalCall_(std::move(onExternalCall)), openExternally_(std::move(openExternally)) {
  if (!openExternally_) openExternally_ = OpenWithDefaultBrowser;
  content_ = webkit_user_content_manager_new();
  webkit_user_content_manager_register_script_message_handler(content_, kChannel);
  g_signal_connect(content_, "script-message-received::vellmoraExternal", G_CALLBACK(OnScriptMessage), this);

  view_ = WEBKIT_WEB_VIEW(webkit_web_view_new_with_user_content_manager(content_));
  g_object_ref_sink(view_);
  WebKitSettings* settings = webkit_web_view_get_settings(view_);
  webkit_settings_set_enable_developer_extras(settings, FALSE);
  // A small page: drawn on the processor it is on screen several times sooner than through GL,
  // which without a GPU means a software GL that is slow to start and to draw the first frame.
  webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  webkit_settings_set_javascript_can_open_windows_automatically(settings, TRUE);
  InstallScript();

  g_signal_connect(view_, "context-menu", G_CALLBACK(OnContextMenu), this);
  g_signal_connect(view_, "key-press-event", G_CALLBACK(OnKeyPress), this);
  g_signal_connect(view_, "scroll-event", G_CALLBACK(OnScroll), this);
  g_signal_connect(view_, "script-dialog", G_CALLBACK(OnScriptDialog), this);
  g_signal_connect(view_, "create", G_CALLBACK(OnCreate), this);
  g_signal_connect(view_, "load-changed", G_CALLBACK(OnLoadChanged), this);
  gtk_widget_set_no_show_all(Widget(), TRUE);  // shown once the main document is complete
}

WebViewHost::~WebViewHost() {
  g_signal_handlers_disconnect_by_data(content_, this);
  g_signal_handlers_disconnect_by_data(view_, this);
  g_object_unref(view_);
  g_object_unref(content_);
}

void WebViewHost::InstallScript() {
  webkit_user_content_manager_remove_all_scripts(content_);
  webkit_user_content_manager_remove_all_style_sheets(content_);
  std::string source = kExternalScript;
  Replace(source, "%READY%", ready_ ? "true" : "false");
  Replace(source, "%PATH%", JsString(launcherPath_));
  WebKitUserScript* script = webkit_user_script_new(source.c_str(), WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                                                    WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
  webkit_user_content_manager_add_script(content_, script);
  webkit_user_script_unref(script);
  WebKitUserStyleSheet* sheet = webkit_user_style_sheet_new(kNoScrollBars, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                                                            WEBKIT_USER_STYLE_LEVEL_USER, nullptr, nullptr);
  webkit_user_content_manager_add_style_sheet(content_, sheet);
  webkit_user_style_sheet_unref(sheet);
}

void WebViewHost::Navigate(const std::string& url) { webkit_web_view_load_uri(view_, url.c_str()); }

void WebViewHost::Prewarm() {
  if (!webkit_web_view_get_uri(view_)) webkit_web_view_load_uri(view_, "about:blank");
}

void WebViewHost::SetMirror(bool ready, const std::string& launcherPath) {
  if (ready == ready_ && launcherPath == launcherPath_) return;
  ready_ = ready;
  launcherPath_ = launcherPath;
  InstallScript();  // for documents loaded from now on
  const std::string call = std::string("if (window.__vellmoraMirror) window.__vellmoraMirror(") +
                           (ready ? "true" : "false") + ", " + JsString(launcherPath) + ");";
  webkit_web_view_evaluate_javascript(view_, call.c_str(), -1, nullptr, nullptr, nullptr, nullptr, nullptr);
}

void WebViewHost::OpenWithDefaultBrowser(const std::string& uri) {
  GError* error = nullptr;
  if (!g_app_info_launch_default_for_uri(uri.c_str(), nullptr, &error)) {
    LogError(std::string("open ") + uri + " failed: " + (error ? error->message : ""),
             "WebViewHost::OpenWithDefaultBrowser", "WebViewHost", __LINE__);
    if (error) g_error_free(error);
  }
}

gboolean WebViewHost::OnContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*, gpointer) {
  return TRUE;  // handled: no menu
}

gboolean WebViewHost::OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer) {
  return ShouldSwallowKey(event->type == GDK_KEY_PRESS, ReadHeldKeys(event)) ? TRUE : FALSE;
}

// Ctrl with the wheel (and no other modifier or button) would zoom: swallowed. The wheel alone scrolls.
gboolean WebViewHost::OnScroll(GtkWidget*, GdkEventScroll* event, gpointer) {
  const guint relevant = GDK_SHIFT_MASK | GDK_CONTROL_MASK | GDK_BUTTON1_MASK | GDK_BUTTON2_MASK | GDK_BUTTON3_MASK |
                         GDK_BUTTON4_MASK | GDK_BUTTON5_MASK;
  return (event->state & relevant) == GDK_CONTROL_MASK ? TRUE : FALSE;
}

// Alerts and confirms: one OK-only error box captioned "提示"; a confirm answers "cancel".
gboolean WebViewHost::OnScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer) {
  const WebKitScriptDialogType type = webkit_script_dialog_get_dialog_type(dialog);
  if (type != WEBKIT_SCRIPT_DIALOG_ALERT && type != WEBKIT_SCRIPT_DIALOG_CONFIRM) return FALSE;
  const char* text = webkit_script_dialog_get_message(dialog);
  os::ShowMessageBox(text ? text : "", "提示", os::MsgIcon::Error, os::MsgButtons::Ok);
  return TRUE;
}

// A new window (target="_blank", window.open): no second view; the address goes to the user's
// default browser instead.
GtkWidget* WebViewHost::OnCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer data) {
  auto* self = static_cast<WebViewHost*>(data);
  ++self->newViewRequests_;
  WebKitURIRequest* request = webkit_navigation_action_get_request(action);
  const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
  if (uri && *uri && std::string(uri) != "about:blank") self->openExternally_(uri);
  return nullptr;
}

// Shown once a real document has loaded; the prewarm's blank document (finished, or cut short by
// the page's load) never shows the view.
void WebViewHost::OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer data) {
  auto* self = static_cast<WebViewHost*>(data);
  if (event == WEBKIT_LOAD_COMMITTED) {
    const char* uri = webkit_web_view_get_uri(view);
    if (uri && std::string(uri) != "about:blank") self->pageCommitted_ = true;
  }
  if (event == WEBKIT_LOAD_FINISHED && self->pageCommitted_) gtk_widget_show(GTK_WIDGET(view));
}

// Page -> launcher: {id, args} with the script's arguments in order; forwarded reversed.
void WebViewHost::OnScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer data) {
  auto* self = static_cast<WebViewHost*>(data);
  JSCValue* value = webkit_javascript_result_get_js_value(result);
  if (!jsc_value_is_object(value)) return;
  JSCValue* id = jsc_value_object_get_property(value, "id");
  JSCValue* args = jsc_value_object_get_property(value, "args");
  const int dispid = jsc_value_is_number(id) ? jsc_value_to_int32(id) : 0;
  std::vector<std::string> reversed;
  if (jsc_value_is_array(args)) {
    JSCValue* length = jsc_value_object_get_property(args, "length");
    const int n = jsc_value_to_int32(length);
    g_object_unref(length);
    for (int i = n - 1; i >= 0; --i) {
      JSCValue* item = jsc_value_object_get_property_at_index(args, static_cast<guint>(i));
      char* text = jsc_value_to_string(item);
      reversed.emplace_back(text ? text : "");
      g_free(text);
      g_object_unref(item);
    }
  }
  g_object_unref(id);
  g_object_unref(args);
  if ((dispid == 1 || dispid == 2) && self->onExternalCall_) self->onExternalCall_(dispid, reversed);
}
