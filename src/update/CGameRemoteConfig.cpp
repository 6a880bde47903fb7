#include "update/CGameRemoteConfig.h"

#include <cstdio>
#include <cstring>
#include <curl/curl.h>

#include "Identity.h"
#include "os/CodePage.h"
#include "os/FileSystem.h"
#include "os/Process.h"
#include "platform/CWindowMessageHandler.h"
#include "update/CurlEasy.h"
#include "update/Placeholders.h"
#include "update/UpdateLog.h"

namespace {

const char kWorker[] = "CGameRemoteConfig::InitRemoteConfig";

// Configuration body sink (update worker, inside curl_easy_perform). The raw bytes are kept and
// converted as a whole once the transfer is over, so a multi-byte character split across two
// chunks survives. A chunk still ends at its first zero byte, as the text conversion always did.
size_t ConfigWrite(char* data, size_t size, size_t count, void* userdata) {
  auto* body = static_cast<std::string*>(userdata);
  if (!body) return 0;
  size_t bytes = size * count;
  const void* zero = std::memchr(data, 0, bytes);
  body->append(data, zero ? static_cast<size_t>(static_cast<const char*>(zero) - data) : bytes);
  return bytes;
}

}  // namespace

std::string CGameRemoteConfig::SourceParameter() {
  return ctx_.launchParameters.GetOrvaneParamFromCommandLine("source");
}

std::string CGameRemoteConfig::FileParameter() {
  CWindowMessageHandler& handler = ctx_.launchParameters;
  // Reading the query string stores the file parameter as a side effect; the string itself is
  // the window's business.
  if (handler.FileParameter().empty()) handler.GetOrvaneUriFromCommandLine();
  return handler.FileParameter();
}

CGameRemoteConfig::FetchResult CGameRemoteConfig::FetchRemoteConfig(int* curlResult, long* httpStatus) {
  std::string url = ReplaceAll(ctx_.remoteConfigUrl, "{ditch_name}", identity::ChannelName);
  update_log::Info(url, kWorker, 140);

  CurlPtr handle = NewCurlHandle();
  if (!handle) return FetchResult::NoHandle;
  CURL* curl = handle.get();

  std::string body;
  std::string ansiUrl = os::Utf8ToAnsi(url);
  curl_easy_setopt(curl, CURLOPT_URL, ansiUrl.c_str());
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, ConfigWrite);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  // Progress on without a function of its own: libcurl's meter goes to standard error.
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);

  CURLcode res = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  if (curlResult) *curlResult = static_cast<int>(res);
  if (httpStatus) *httpStatus = status;
  handle.reset();

  if (res != CURLE_OK || status != 200) {
    update_log::Error(update_log::Format(update_log::kShort, "res:%d, httpStatusCode:%d", static_cast<int>(res),
                                         static_cast<int>(status)),
                      kWorker, 200);
    return FetchResult::TransferFailed;
  }
  ctx_.remoteConfig.Parse(os::AnsiToUtf8(body));
  return FetchResult::Ok;
}

void CGameRemoteConfig::CStringToLocalClientVersion(ClientVersion& version, std::string text) {
  update_log::Info(update_log::Format(update_log::kShort, "local_client_version:%s", text.c_str()),
                   "CGameRemoteConfig::CStringToLocalClientVersion", 1101);
  version = ParseVersionText(text);
}

unsigned CGameRemoteConfig::InitRemoteConfig(IWindowOperations* window) {
  UpdateState& state = ctx_.updateState;

  // 1. The window is the worker's only way to the player.
  if (!window) {
    update_log::Error("lpParameter is NULL!", kWorker, 118);
    return 0;
  }

  // 2. Resume counters of an earlier run.
  // The version is taken along at once (and parsed again, logged, in step 7) so that a save
  // from the UI thread in between keeps naming the version the package file holds.
  state.UpdateCounters([this](DownloadCounters& c) {
    c.resumeOffset = ParseDecimalPrefix64(ReadResumeValue(ctx_.layout, "offset"));
    c.downloadedBytes = c.resumeOffset;
    c.totalSize = ParseDecimalPrefix64(ReadResumeValue(ctx_.layout, "totalSize"));
    c.downloadVersion = ParseVersionText(ReadResumeValue(ctx_.layout, "downloadVersion"));
    c.loaded = true;
  });

  // 3. Game name from the launcher's file name.
  std::string fileParameter = FileParameter();
  state.SetGameName(fileParameter.empty() ? std::string(identity::GameShortName)
                                          : std::string(identity::GameShortName) + "_" + fileParameter);

  // 4. Remote configuration.
  int res = 0;
  long status = 0;
  switch (FetchRemoteConfig(&res, &status)) {
    case FetchResult::NoHandle:
      window->SetProgress("更新失败,请检查网络:101", "", 0, 0);
      window->ShowMessageView();
      update_log::Error("curl is NULL!", kWorker, 147);
      return 0;
    case FetchResult::TransferFailed:
      window->SetProgress("更新失败,请检查网络:102", "", 0, 0);
      window->ShowMessageView();
      return 0;
    case FetchResult::Ok:
      break;
  }

  // 5. The page can open now that the entry address is known.
  window->InitWebBrower();

  // 6. Installed version.
  const std::string& recordPath = ctx_.layout.versionRecordPath;
  update_log::Info(recordPath, kWorker, 214);
  if (FILE* record = std::fopen(recordPath.c_str(), "r")) {
    char line[64] = {};
    if (!std::fgets(line, sizeof line, record)) line[0] = 0;
    std::fclose(record);
    CStringToLocalClientVersion(state.localClientVersion, line);
  } else {
    state.SetFirstInstall(1);
  }

  // 7. Version of the partial download.
  ClientVersion downloadVersion;
  CStringToLocalClientVersion(downloadVersion, ReadResumeValue(ctx_.layout, "downloadVersion"));
  state.UpdateCounters([&](DownloadCounters& c) { c.downloadVersion = downloadVersion; });

  // 8. Offered version.
  const RemoteConfigTable& table = ctx_.remoteConfig;
  if (auto clientVersion = table.Find("ClientVersion")) {
    CStringToLocalClientVersion(state.remoteClientVersion, *clientVersion);
  }

  // 9. Decision.
  bool upToDate = false;
  if (auto mini = table.Find("ClientMiniUpdateVersion")) {
    CStringToLocalClientVersion(state.miniUpdateVersion, *mini);
    upToDate = CompareVersions(state.localClientVersion, state.miniUpdateVersion) >= 0;
  }

  if (upToDate) {
    // 10. Register the current installation.
    SetRegisties();
    std::string workPath = os::TruncateUtf16(os::ExecutablePath(), 260);
    std::string destPath = ctx_.layout.LauncherCopyPath(state.GameName());
    update_log::Info(update_log::Format(update_log::kUncut, "work_path:%s", workPath.c_str()), kWorker, 271);
    update_log::Info(update_log::Format(update_log::kUncut, "dest_path:%s", destPath.c_str()), kWorker, 274);
    if (os::CopyFileOver(workPath, destPath) == 0) CreateShortcuts();
    window->SetProgress("更新已完成", "", 0, 0);
    window->ShowMessageView();
    window->SetReady();
    update_log::Info("update finish!", kWorker, 284);
    return 0;
  }

  // 11. Download and extract.
  if (OnDownLoad(window) == 0) {
    window->SetProgress("更新失败,请检查网络:103", "", 0, 0);
    window->ShowMessageView();
    update_log::Error("download error", kWorker, 258);
  }
  return 0;
}
