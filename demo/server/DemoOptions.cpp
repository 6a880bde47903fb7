#include "DemoOptions.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "Identity.h"

namespace demo {
namespace {

constexpr const char* kUsage =
    "usage: vellmora-demo-server [options]\n"
    "  --port N               listen on N (default: the port of the compiled-in server %s)\n"
    "  --version V            ClientVersion offered and packaged (default 1.0.0.1)\n"
    "  --mini-version V       ClientMiniUpdateVersion (default: the same as --version)\n"
    "  --no-mini-version      leave ClientMiniUpdateVersion out of the configuration\n"
    "  --package ZIP          the package to serve (default: the demo package of this build)\n"
    "  --windows-game         serve the package with the demo game's Windows build, which the\n"
    "                         launcher starts through Wine\n"
    "  --page-dir DIR         the login page's files (default: demo/page of the source tree)\n"
    "  --throttle BYTES       send the package at most BYTES per second\n"
    "  --telemetry-log FILE   append every telemetry request to FILE\n"
    "  --access-log FILE      append every request (method, target, range, status) to FILE\n"
    "  --config-status CODE   answer the configuration request with CODE (failure tests)\n"
    "  --custom-parameters T  CustomParameters value (default zone=7&lang=zh-CN)\n"
    "  --autologin            the page address (EntryUrl) carries autologin: the page logs in\n"
    "                         by itself once the client is ready\n"
    "  --autologin-delay S    seconds the page waits after the ready mark (default 1)\n"
    "  --signing-key PEM      Ed25519 private key that signs the package (default: the demo key of\n"
    "                         this build)\n"
    "  --no-package-hash      leave ClientPackageSha256 and ClientPackageSignature out\n"
    "  --no-package-signature leave ClientPackageSignature out\n"
    "  --print                print what is served and every request\n";

// Splits "http://host:port[/...]" into host and port (80 when absent).
bool SplitServerBase(std::string_view base, std::string& host, int& port) {
  constexpr std::string_view scheme = "http://";
  if (base.substr(0, scheme.size()) != scheme) return false;
  base.remove_prefix(scheme.size());
  base = base.substr(0, base.find('/'));
  auto colon = base.rfind(':');
  if (colon == std::string_view::npos) {
    host = std::string(base);
    port = 80;
  } else {
    host = std::string(base.substr(0, colon));
    port = std::atoi(std::string(base.substr(colon + 1)).c_str());
  }
  return !host.empty() && port > 0 && port < 65536;
}

bool ParseInt64(const char* text, std::int64_t& out) {
  char* end = nullptr;
  long long v = std::strtoll(text, &end, 10);
  if (end == text || *end != '\0' || v < 0) return false;
  out = v;
  return true;
}

}  // namespace

std::optional<DemoOptions> ParseOptions(int argc, char** argv, int& exitCode) {
  DemoOptions o;
  exitCode = 0;
  if (!SplitServerBase(identity::ServerBase, o.host, o.port)) {
    std::fprintf(stderr, "vellmora-demo-server: cannot use the server base %s\n", identity::ServerBase);
    exitCode = 2;
    return std::nullopt;
  }
  o.packagePath = VELLMORA_DEMO_PACKAGE;
  o.pageDir = VELLMORA_DEMO_PAGE_DIR;
  o.signingKey = VELLMORA_DEMO_SIGNING_KEY;

  auto fail = [&](const std::string& why) {
    std::fprintf(stderr, "vellmora-demo-server: %s\n", why.c_str());
    std::fprintf(stderr, kUsage, identity::ServerBase);
    exitCode = 2;
    return std::nullopt;
  };
  for (int i = 1; i < argc; ++i) {
    std::string_view a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (a == "--help" || a == "-h") {
      std::printf(kUsage, identity::ServerBase);
      return std::nullopt;
    } else if (a == "--print") {
      o.print = true;
    } else if (a == "--autologin") {
      o.autologin = true;
    } else if (a == "--no-mini-version") {
      o.omitMiniVersion = true;
    } else if (a == "--windows-game") {
      if (std::string_view(VELLMORA_DEMO_WINDOWS_PACKAGE).empty())
        return fail("this build has no Windows demo game (no mingw-w64 cross compiler at configure time)");
      o.packagePath = VELLMORA_DEMO_WINDOWS_PACKAGE;
    } else if (a == "--no-package-hash") {
      o.publishHash = false;
      o.publishSignature = false;
    } else if (a == "--no-package-signature") {
      o.publishSignature = false;
    } else {
      const char* v = value();
      if (!v) return fail("missing value for " + std::string(a));
      std::int64_t n = 0;
      if (a == "--port") {
        if (!ParseInt64(v, n) || n <= 0 || n > 65535) return fail("bad port " + std::string(v));
        o.port = static_cast<int>(n);
      } else if (a == "--version") {
        o.version = v;
      } else if (a == "--mini-version") {
        o.miniVersion = v;
      } else if (a == "--package") {
        o.packagePath = v;
      } else if (a == "--page-dir") {
        o.pageDir = v;
      } else if (a == "--throttle") {
        if (!ParseInt64(v, n)) return fail("bad throttle " + std::string(v));
        o.throttle = n;
      } else if (a == "--telemetry-log") {
        o.telemetryLog = v;
      } else if (a == "--access-log") {
        o.accessLog = v;
      } else if (a == "--config-status") {
        if (!ParseInt64(v, n) || n < 100 || n > 599) return fail("bad status " + std::string(v));
        o.configStatus = static_cast<int>(n);
      } else if (a == "--autologin-delay") {
        if (!ParseInt64(v, n) || n > 600) return fail("bad delay " + std::string(v));
        o.autologinDelay = static_cast<int>(n);
      } else if (a == "--custom-parameters") {
        o.customParameters = v;
      } else if (a == "--signing-key") {
        o.signingKey = v;
      } else {
        return fail("unknown option " + std::string(a));
      }
    }
  }
  if (o.miniVersion.empty()) o.miniVersion = o.version;
  // Each value is one line of the configuration document.
  for (const std::string* value : {&o.version, &o.miniVersion, &o.customParameters})
    if (value->find_first_of("\r\n") != std::string::npos) return fail("a value must be a single line");
  return o;
}

std::string BaseUrl(const DemoOptions& options) {
  return "http://" + options.host + ":" + std::to_string(options.port);
}

}  // namespace demo
