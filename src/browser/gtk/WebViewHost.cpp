#include "browser/gtk/WebViewHost.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <gdk/gdkx.h>

#include "browser/KeyFilter.h"
#include "log/LauncherLog.h"
#include "os/CodePage.h"
#include "os/MessageBox.h"

namespace {

constexpr char kModule[] = "WebViewHost";

// The bridge's private script world: its handler and its code are out of reach of every page
// script (the page's own world has no window.webkit.messageHandlers entry for it).
constexpr char kWorld[] = "vellmora-bridge";
constexpr char kChannel[] = "vellmoraExternal";

// The page's world, documents of the login page's origin only (self.origin, read before any page
// script of the document has run): the external object. Calls go over a message port to the
// bridge world; values the page reads back at once come from the mirror the launcher keeps
// current through the same port.
constexpr char kExternalScript[] = R"JS((function () {
  if (self.origin !== %ORIGIN%) return;
  var mirror = { ready: %READY%, path: %PATH% };
  var channel = new MessageChannel();
  var port = channel.port2;
  port.onmessage = function (event) {
    var m = event.data;
    if (m && m.mirror === true) { mirror.ready = !!m.ready; mirror.path = String(m.path); }
  };
  window.postMessage("vellmora-external-port", self.origin, [channel.port1]);
  var post = function (id, args) {
    try { port.postMessage({ id: id, args: args }); } catch (e) {}
  };
  // A method reads the script's last arguments, as many as it takes; any before them are ignored
  // and never cross to the launcher.
  var last = function (args, count) {
    return Array.prototype.slice.call(args, -count).map(function (a) { return String(a); });
  };
  // What the launcher accepts (it refuses the rest itself): no argument longer than 65536 characters.
  var fits = function (args) {
    for (var i = 0; i < args.length; ++i) if (args[i].length > 65536) return false;
    return true;
  };
  var external = Object.create(null);
  external.JavascriptToCsharp = function (method, parameters) {
    if (arguments.length < 2) return undefined;
    var args = last(arguments, 2);
    post(1, args);
    if (!fits(args)) return undefined;
    return args[0] === "GetCommandLine" ? mirror.path : "";
  };
  external.AppLogin = function (parameters) {
    if (arguments.length < 1) return undefined;
    var args = last(arguments, 1);
    post(2, args);
    return fits(args) ? "" : undefined;
  };
  external.IsDownLoadComplete = function () { return mirror.ready; };
  Object.freeze(external);
  try {
    Object.defineProperty(window, "external", { value: external, writable: false, configurable: false });
  } catch (e) {
    window.external = external;
  }
})();)JS";

// The bridge world, every document: takes the first port its page world hands over and forwards
// the calls on it with the document's own origin, which the launcher checks; the launcher's mirror
// updates go back only to a document of the login page's origin. Calls that are not text, hold
// too many values or too long a string are forwarded without their arguments (the launcher
// refuses them), so nothing large crosses to the launcher.
// It also sandboxes each frame of another origin than the document's so that the frame can move
// the top window only on a user's click (everything else stays allowed; a sandbox the page set
// keeps its limits and loses only a free top navigation). The attribute is set when the frame is
// inserted or its address changes, before the frame's document exists: a document takes its
// sandbox when it is created.
constexpr char kBridgeScript[] = R"JS((function () {
  var handler = window.webkit.messageHandlers.vellmoraExternal;
  var trusted = %ORIGIN%;
  var port = null;
  var forward = function (event) {
    var call = event.data, args = null;
    if (call && typeof call === "object" && Array.isArray(call.args) && call.args.length <= 16) {
      args = [];
      for (var i = 0; i < call.args.length; ++i) {
        var a = call.args[i];
        if (typeof a !== "string" || a.length > 65536) { args = null; break; }
        args.push(a);
      }
    }
    var id = call && typeof call === "object" && typeof call.id === "number" ? call.id : 0;
    try { handler.postMessage({ origin: self.origin, id: id, args: args }); } catch (e) {}
  };
  window.addEventListener("message", function (event) {
    if (port || event.source !== window || event.data !== "vellmora-external-port" || event.ports.length !== 1) return;
    event.stopImmediatePropagation();
    port = event.ports[0];
    port.onmessage = forward;
  }, true);
  window.__vellmoraMirror = function (ready, path) {
    if (port && self.origin === trusted) port.postMessage({ mirror: true, ready: !!ready, path: String(path) });
  };

  var own = self.origin;
  var permissive = "allow-downloads allow-forms allow-modals allow-orientation-lock allow-pointer-lock " +
      "allow-popups allow-popups-to-escape-sandbox allow-presentation allow-same-origin allow-scripts " +
      "allow-storage-access-by-user-activation allow-top-navigation-by-user-activation";
  var foreign = function (frame) {
    var src = frame.getAttribute("src");
    if (frame.hasAttribute("srcdoc") || !src) return false;  // a document of this one's origin
    try { return new URL(src, document.baseURI).origin !== own; } catch (e) { return true; }
  };
  var guard = function (frame) {
    if (!foreign(frame)) return;
    var current = frame.getAttribute("sandbox"), wanted = permissive;
    if (current !== null) {
      var tokens = current.toLowerCase().split(/[\t\n\f\r ]+/).filter(function (t) { return t !== ""; });
      if (tokens.indexOf("allow-top-navigation") < 0) return;
      wanted = tokens.filter(function (t) { return t !== "allow-top-navigation"; })
                   .concat(["allow-top-navigation-by-user-activation"]).join(" ");
    }
    if (wanted !== current) frame.setAttribute("sandbox", wanted);
  };
  var visit = function (node) {
    if (node.nodeType !== 1) return;
    if (node.localName === "iframe") guard(node);
    var inner = node.getElementsByTagName("iframe");
    for (var i = 0; i < inner.length; ++i) guard(inner[i]);
  };
  new MutationObserver(function (records) {
    records.forEach(function (r) {
      if (r.type === "attributes") visit(r.target); else Array.prototype.forEach.call(r.addedNodes, visit);
    });
  }).observe(document, { childList: true, subtree: true, attributes: true, attributeFilter: ["src", "srcdoc", "sandbox"] });
})();)JS";

// Hands the mirror to every document of the view that the bridge world of the main frame can
// reach: the main frame's and its frames' at any depth (each checks its own origin; a frame of
// another origin than the main frame's is out of reach and skipped).
constexpr char kMirrorCall[] = R"JS((function walk(w) {
  try { if (w.__vellmoraMirror) w.__vellmoraMirror(%READY%, %PATH%); } catch (e) {}
  for (var i = 0; i < w.length; ++i) { try { walk(w[i]); } catch (e) {} }
})(window);)JS";

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

FilterKey ToFilterKey(guint keyval) {
  switch (gdk_keyval_to_lower(keyval)) {
    case GDK_KEY_F5: return FilterKey::F5;
    case GDK_KEY_o: return FilterKey::O;
    case GDK_KEY_p: return FilterKey::P;
    case GDK_KEY_n: return FilterKey::N;
    default: return FilterKey::Other;
  }
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
  return WithPressedKey(held, ToFilterKey(event->keyval));
}

}  // namespace

WebViewHost::WebViewHost(ExternalCall onExternalCall, UriOpener openExternally)
    : onExternalCall_(std::move(onExternalCall)), openExternally_(std::move(openExternally)) {
  if (!openExternally_) openExternally_ = OpenWithDefaultBrowser;
  content_ = webkit_user_content_manager_new();
  webkit_user_content_manager_register_script_message_handler_in_world(content_, kChannel, kWorld);
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
  g_signal_connect(view_, "decide-policy", G_CALLBACK(OnDecidePolicy), this);
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
  // No trusted origin yet (or an address without one): a value self.origin never has.
  const std::string& trusted = gate_.TrustedOrigin();
  const std::string origin = JsString(trusted.empty() ? "-" : trusted);
  std::string bridge = kBridgeScript;
  Replace(bridge, "%ORIGIN%", origin);
  WebKitUserScript* script =
      webkit_user_script_new_for_world(bridge.c_str(), WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                                       WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, kWorld, nullptr, nullptr);
  webkit_user_content_manager_add_script(content_, script);
  webkit_user_script_unref(script);
  std::string source = kExternalScript;
  Replace(source, "%ORIGIN%", origin);
  Replace(source, "%READY%", ready_ ? "true" : "false");
  Replace(source, "%PATH%", JsString(launcherPath_));
  script = webkit_user_script_new(source.c_str(), WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                                  WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
  webkit_user_content_manager_add_script(content_, script);
  webkit_user_script_unref(script);
  WebKitUserStyleSheet* sheet = webkit_user_style_sheet_new(kNoScrollBars, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                                                            WEBKIT_USER_STYLE_LEVEL_USER, nullptr, nullptr);
  webkit_user_content_manager_add_style_sheet(content_, sheet);
  webkit_user_style_sheet_unref(sheet);
}

void WebViewHost::Navigate(const std::string& url) {
  gate_.Trust(OriginOf(url));
  awaitingEntry_ = true;
  InstallScript();
  webkit_web_view_load_uri(view_, url.c_str());
}

// The origin ("scheme://host[:port]") of an http or https address, as the engine writes it for a
// document; empty for any other address (nothing is trusted then).
std::string WebViewHost::OriginOf(const std::string& url) {
  std::string origin;
  WebKitSecurityOrigin* parsed = webkit_security_origin_new_for_uri(url.c_str());
  if (!parsed) return origin;
  const char* scheme = webkit_security_origin_get_protocol(parsed);
  const char* host = webkit_security_origin_get_host(parsed);
  if (scheme && host && *host && (g_str_equal(scheme, "http") || g_str_equal(scheme, "https"))) {
    gchar* text = webkit_security_origin_to_string(parsed);
    if (text) origin = text;
    g_free(text);
  }
  webkit_security_origin_unref(parsed);
  return origin;
}

void WebViewHost::Prewarm() {
  if (!webkit_web_view_get_uri(view_)) webkit_web_view_load_uri(view_, "about:blank");
}

void WebViewHost::SetMirror(bool ready, const std::string& launcherPath) {
  if (ready == ready_ && launcherPath == launcherPath_) return;
  ready_ = ready;
  launcherPath_ = launcherPath;
  InstallScript();  // for documents loaded from now on
  // In the bridge world, which hands the values only to a document of the login page's origin.
  std::string call = kMirrorCall;
  Replace(call, "%READY%", ready ? "true" : "false");
  Replace(call, "%PATH%", JsString(launcherPath));
  webkit_web_view_evaluate_javascript(view_, call.c_str(), -1, kWorld, nullptr, nullptr, nullptr, nullptr);
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

gboolean WebViewHost::OnScroll(GtkWidget*, GdkEventScroll* event, gpointer) {
  WheelModifiers held;
  held.ctrl = (event->state & GDK_CONTROL_MASK) != 0;
  held.shift = (event->state & GDK_SHIFT_MASK) != 0;
  held.mouseButton =
      (event->state & (GDK_BUTTON1_MASK | GDK_BUTTON2_MASK | GDK_BUTTON3_MASK | GDK_BUTTON4_MASK | GDK_BUTTON5_MASK)) !=
      0;
  return ShouldSwallowWheel(held) ? TRUE : FALSE;
}

// Alerts and confirms: one OK-only error box captioned "提示"; a confirm answers "cancel".
gboolean WebViewHost::OnScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer) {
  const WebKitScriptDialogType type = webkit_script_dialog_get_dialog_type(dialog);
  if (type != WEBKIT_SCRIPT_DIALOG_ALERT && type != WEBKIT_SCRIPT_DIALOG_CONFIRM) return FALSE;
  const char* text = webkit_script_dialog_get_message(dialog);
  os::ShowMessageBox(text ? text : "", "提示", os::MsgIcon::Error, os::MsgButtons::Ok);
  return TRUE;
}

// A new window: never a second view; the gate decides whether the address goes to the user's
// browser instead.
GtkWidget* WebViewHost::OnCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer data) {
  auto* self = static_cast<WebViewHost*>(data);
  ++self->newViewRequests_;
  WebKitURIRequest* request = webkit_navigation_action_get_request(action);
  const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
  const std::string address = uri ? uri : "";
  const NewWindowGate::Decision decision =
      self->newWindows_.Decide(address, webkit_navigation_action_is_user_gesture(action), OpenBudget::Clock::now());
  if (decision.open) {
    self->openExternally_(address);
  } else if (!decision.logLine.empty()) {
    LogError(decision.logLine, "WebViewHost::OnCreate", kModule, __LINE__);
  }
  return nullptr;
}

// The login page's origin is where the navigation to it ends: the main frame's first answer after
// Navigate, past the server's redirects (http to https, another host of the maker). The scripts
// are updated before the answer is accepted, so the document it becomes gets them.
gboolean WebViewHost::OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                     gpointer data) {
  auto* self = static_cast<WebViewHost*>(data);
  if (type != WEBKIT_POLICY_DECISION_TYPE_RESPONSE || !self->awaitingEntry_) return FALSE;
  auto* answer = WEBKIT_RESPONSE_POLICY_DECISION(decision);
  if (!webkit_response_policy_decision_is_main_frame_main_resource(answer)) return FALSE;
  const char* uri = webkit_uri_response_get_uri(webkit_response_policy_decision_get_response(answer));
  const std::string landed = uri ? uri : "";
  if (landed.rfind("about:", 0) == 0) return FALSE;  // the early blank document, not the login page
  self->awaitingEntry_ = false;
  const std::string origin = OriginOf(landed);
  if (origin != self->gate_.TrustedOrigin()) {
    LogInfo(os::TruncateUtf16("the login page answered from " + (origin.empty() ? landed : origin), 2047),
            "WebViewHost::OnDecidePolicy", kModule, __LINE__);
    self->gate_.Trust(origin);
    self->InstallScript();
  }
  return FALSE;  // the default decision
}

// Shown once a real document has loaded; the prewarm's blank document (finished, or cut short by
// the page's load) never shows the view.
void WebViewHost::OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer data) {
  auto* self = static_cast<WebViewHost*>(data);
  if (event == WEBKIT_LOAD_COMMITTED) {
    const char* uri = webkit_web_view_get_uri(view);
    if (uri && std::string(uri) != "about:blank") self->pageCommitted_ = true;
  }
  if (event == WEBKIT_LOAD_FINISHED && self->pageCommitted_) {
    self->awaitingEntry_ = false;  // ended without an answer (a failed load): nothing more to learn
    gtk_widget_show(GTK_WIDGET(view));
  }
}

// Bridge world -> launcher: {origin, id, args} with the script's arguments in order, or args null
// for a call the bridge world found malformed or too large. Only calls of the login page's origin
// reach the bridge, with their arguments reversed.
void WebViewHost::OnScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer data) {
  auto* self = static_cast<WebViewHost*>(data);
  JSCValue* value = webkit_javascript_result_get_js_value(result);
  if (!jsc_value_is_object(value)) return;
  JSCValue* originValue = jsc_value_object_get_property(value, "origin");
  std::string origin;
  if (jsc_value_is_string(originValue)) {
    char* text = jsc_value_to_string(originValue);
    origin = text ? text : "";
    g_free(text);
  }
  g_object_unref(originValue);
  const BridgeGate::Decision fromOrigin = self->gate_.AdmitOrigin(origin);
  if (!fromOrigin.admit) {
    if (!fromOrigin.logLine.empty()) LogError(fromOrigin.logLine, "WebViewHost::OnScriptMessage", kModule, __LINE__);
    return;
  }

  JSCValue* id = jsc_value_object_get_property(value, "id");
  JSCValue* args = jsc_value_object_get_property(value, "args");
  const int dispid = jsc_value_is_number(id) ? jsc_value_to_int32(id) : 0;
  const bool wellFormed = jsc_value_is_array(args);
  std::vector<std::string> reversed;
  if (wellFormed) {
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
  const BridgeGate::Decision withArguments = BridgeGate::AdmitArguments(wellFormed ? &reversed : nullptr);
  if (!withArguments.admit) {
    LogError(withArguments.logLine, "WebViewHost::OnScriptMessage", kModule, __LINE__);
    return;
  }
  if ((dispid == 1 || dispid == 2) && self->onExternalCall_) self->onExternalCall_(dispid, reversed);
}
