#include "update/CGameRemoteConfig.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>

#include "Identity.h"
#include "os/CodePage.h"
#include "os/FileSystem.h"
#include "os/Process.h"
#include "platform/CWindowMessageHandler.h"
#include "update/DiskFailure.h"
#include "update/PackageDownload.h"
#include "update/PackageExtractor.h"
#include "update/PackageIntegrity.h"
#include "update/PackageStager.h"
#include "update/Placeholders.h"
#include "update/Registration.h"
#include "update/Shortcuts.h"
#include "update/StagedInstaller.h"
#include "update/UpdateLog.h"

namespace {

const char kWorker[] = "CGameRemoteConfig::InitRemoteConfig";
const char kDownload[] = "CGameRemoteConfig::OnDownLoad";
const char* const kUnzip = update_log::kUnzipPackage;

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
  UpdateState& state = ctx_.updateState;
  RemoteConfigFetch fetch(ctx_.remoteConfigUrl, ctx_.remoteConfig, [&state] { return state.CancelRequested(); });
  FetchResult result = fetch.Run();
  if (curlResult) *curlResult = fetch.TransferResult();
  if (httpStatus) *httpStatus = fetch.HttpStatus();
  return result;
}

void CGameRemoteConfig::CStringToLocalClientVersion(ClientVersion& version, std::string text) {
  update_log::Info(update_log::Format(update_log::kShort, "local_client_version:%s", text.c_str()),
                   "CGameRemoteConfig::CStringToLocalClientVersion", 1101);
  version = ParseVersionText(text);
}

void CGameRemoteConfig::AdjustWindowSize() { Registration(ctx_.layout).AdjustWindowSize(); }

void CGameRemoteConfig::SetRegisties() { Registration(ctx_.layout).SetRegisties(ctx_.updateState.GameName()); }

void CGameRemoteConfig::RemoveRegisties() { Registration(ctx_.layout).RemoveRegisties(); }

std::string CGameRemoteConfig::QueryRegistryKey() { return Registration(ctx_.layout).QueryRegistryKey(); }

void CGameRemoteConfig::CreateShortcuts() {
  Shortcuts(ctx_.layout).CreateShortcuts(ctx_.updateState.GameName(), SourceParameter());
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
  switch (FetchRemoteConfig()) {
    case FetchResult::NoHandle:
      window->SetProgress("更新失败,请检查网络:101", "", 0, 0);
      window->ShowMessageView();
      update_log::Error("curl is NULL!", kWorker, 147);
      return 0;
    case FetchResult::TransferFailed:
      window->SetProgress("更新失败,请检查网络:102", "", 0, 0);
      window->ShowMessageView();
      return 0;
    case FetchResult::Stopped: return 0;  // closing: no failure to show
    case FetchResult::Ok: break;
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
    // A package of the installed version is left when a run ended between the record and the
    // package's removal: it has served its purpose.
    if (downloadVersion != ClientVersion{} && downloadVersion == state.localClientVersion &&
        os::PathExists(ctx_.layout.packagePath)) {
      update_log::Info("the installed version's package is removed", kWorker, 262);
      ForgetPackage(state, ctx_.layout);
    }
    PackageStager::Discard(ctx_.layout.stagingDir);  // a staging an earlier run was killed in
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

  // 11. Download and extract. A failure on the disk keeps its own message: the network is fine.
  switch (OnDownLoad(window)) {
    case DownloadOutcome::Installed: break;
    case DownloadOutcome::Failed:
      window->SetProgress("更新失败,请检查网络:103", "", 0, 0);
      window->ShowMessageView();
      update_log::Error("download error", kWorker, 258);
      break;
    case DownloadOutcome::FailedOnDisk: update_log::Error("download error", kWorker, 258); break;
    case DownloadOutcome::Stopped: break;
  }
  return 0;
}

CGameRemoteConfig::DownloadOutcome CGameRemoteConfig::OnDownLoad(IWindowOperations* window) {
  constexpr DownloadOutcome Failed = DownloadOutcome::Failed;
  update_log::Info("OnDownLoad begin", kDownload, 498);
  if (!window) {
    update_log::Error("lpParameter is NULL!", kDownload, 502);
    return Failed;
  }
  const std::string& packagePath = ctx_.layout.packagePath;
  update_log::Info(packagePath, kDownload, 510);

  PackageDownload download(ctx_.updateState, ctx_.layout);
  if (!download.Init()) return Failed;

  // 1. Where the package comes from.
  const RemoteConfigTable& table = ctx_.remoteConfig;
  const char* urlKey = ctx_.machine.Is64BitWindows() ? "ClientDownloadUrl" : "Client32DownloadUrl";
  auto urlValue = table.Find(urlKey);
  if (!urlValue) {
    update_log::Error("ClientDownloadUrl is NotFound!", kDownload, 525);
    return Failed;
  }
  auto versionText = table.Find("ClientVersion");
  if (!versionText) {
    update_log::Error("ClientVersion is NotFound!", kDownload, 533);
    return Failed;
  }
  std::string url = ReplaceAll(*urlValue, "{ditch_name}", identity::ChannelName);
  url = ReplaceAll(url, "{version}", *versionText);
  update_log::Info(url, kDownload, 540);

  ctx_.telemetry.LogEvent(DownloadStart);
  ctx_.telemetry.Log("game download start, download url:" + url);

  // What the package must prove before it is extracted. A configuration under which no package
  // can pass fails at once: nothing is downloaded, and what is on disk goes.
  const PackageIntegrity integrity(table, ctx_.packagePublicKey);
  if (integrity.RefusesEveryPackage()) {
    ForgetPackage(ctx_.updateState, ctx_.layout);
    return DownloadFailed(window);
  }

  // What a staging of an earlier run left is rebuilt from the package, or not needed.
  PackageStager::Discard(ctx_.layout.stagingDir);

  // 2. How to start; a package an earlier run completed is extracted instead of downloaded.
  bool fromScratch = true;
  switch (download.Decide()) {
    case PackageDownload::Start::Restart: break;
    case PackageDownload::Start::Resume: fromScratch = false; break;
    case PackageDownload::Start::TryOldPackage:
      if (integrity.Checks() && os::PathExists(packagePath)) {
        Sha256Digest::Value digest{};
        const Sha256Digest::FileResult read =
            Sha256Digest::OfFile(packagePath, digest, [this] { return ctx_.updateState.CancelRequested(); });
        if (read == Sha256Digest::FileResult::Stopped) {
          // Closing: the package is neither judged nor extracted; the next run checks it again.
          update_log::Info("package check stopped, the launcher is closing", kDownload, 604);
          return DownloadOutcome::Stopped;
        }
        if (read != Sha256Digest::FileResult::Ok || !integrity.Accepts(digest)) {
          // Not the package offered: fetch that one instead.
          ForgetPackage(ctx_.updateState, ctx_.layout);
          break;
        }
      }
      // Nothing to unzip: straight to the download, without an extraction failure to report.
      if (!os::PathExists(packagePath)) {
        update_log::Info("Unzip failed, and restart downloading game resource!", kDownload, 616);
        break;
      }
      switch (InstallPackage(packagePath, window)) {
        case UnzipOutcome::Installed:
          update_log::Info("Unzip success!", kDownload, 609);
          return DownloadOutcome::Installed;
        // The package is sound and the disk is not: it stays to be extracted once there is room.
        case UnzipOutcome::FailedOnDisk: return DownloadOutcome::FailedOnDisk;
        case UnzipOutcome::Stopped: return DownloadOutcome::Stopped;  // closing: the package stays
        case UnzipOutcome::Failed: break;
      }
      if (ctx_.updateState.CancelRequested()) return DownloadOutcome::Stopped;
      update_log::Info("Unzip failed, and restart downloading game resource!", kDownload, 616);
      break;
  }

  // 3. The transfer, the check, then the extraction. While the package downloads, its entries are
  // unpacked beside the client as their bytes arrive; nothing of them reaches the client before
  // the package is verified.
  UpdateState& state = ctx_.updateState;
  PackageStager stager(
      packagePath, ctx_.layout.stagingDir, [&state] { return state.CancelRequested(); },
      [&state] {
        const DownloadCounters c = state.Counters();
        return c.totalSize - c.downloadedBytes;
      });
  if (stager.Start()) download.SetWrittenObserver([&stager](int64_t bytes) { stager.Advance(bytes); });
  const PackageDownload::Result transferred = download.Transfer(url, fromScratch, window, integrity.Checks());
  const bool staged = stager.Finish(transferred == PackageDownload::Result::Done);
  if (!staged) PackageStager::Discard(ctx_.layout.stagingDir);
  switch (transferred) {
    case PackageDownload::Result::FileError: return Failed;
    case PackageDownload::Result::LocalFailure:
      // The part on disk stays for the next run, once there is room.
      ShowDiskFailure(window, download.LocalError());
      ctx_.telemetry.Log("game download failed");
      return DownloadOutcome::FailedOnDisk;
    case PackageDownload::Result::TooLarge: ForgetPackage(ctx_.updateState, ctx_.layout); return DownloadFailed(window);
    case PackageDownload::Result::Done:
      if (integrity.Checks()) {
        const auto busy = std::chrono::duration_cast<std::chrono::milliseconds>(download.Digest().Busy());
        update_log::Info(update_log::Format(update_log::kShort, "package digest taken while writing, in %lld ms",
                                            static_cast<long long>(busy.count())),
                         kDownload, 684);
        if (!download.Digest().Ok()) update_log::Error("package digest could not be taken", kDownload, 686);
        if (!download.Digest().Ok() || !integrity.Accepts(download.Digest().Current())) {
          PackageStager::Discard(ctx_.layout.stagingDir);
          ForgetPackage(ctx_.updateState, ctx_.layout);
          return DownloadFailed(window);
        }
      }
      ctx_.telemetry.LogEvent(UnzipStart);
      ctx_.telemetry.Log("game download success");
      update_log::Info("download is finish", kDownload, 685);
      switch (InstallPackage(packagePath, window, staged ? &stager.Entries() : nullptr)) {
        case UnzipOutcome::Installed: return DownloadOutcome::Installed;
        case UnzipOutcome::FailedOnDisk: return DownloadOutcome::FailedOnDisk;
        case UnzipOutcome::Stopped: return DownloadOutcome::Stopped;  // closing: the package stays
        case UnzipOutcome::Failed: return Failed;
      }
      return Failed;
    case PackageDownload::Result::TransferFailed: break;
  }
  return DownloadFailed(window);
}

CGameRemoteConfig::DownloadOutcome CGameRemoteConfig::DownloadFailed(IWindowOperations* window) {
  window->SetProgress("更新失败,请检查网络:104", "", 0, 0);
  window->ShowMessageView();
  update_log::Info("download is error!", kDownload, 694);
  ctx_.telemetry.Log("game download failed");
  return DownloadOutcome::Failed;
}

PackageExtractor::Result CGameRemoteConfig::OnUnzipFile(const std::string& packagePath, IWindowOperations* window,
                                                        int* localError, const std::vector<StagedEntry>* staged) {
  UpdateState& state = ctx_.updateState;
  // The closing launcher waits for a running extraction to stop (at its next block) before the
  // process ends; once it is closing, none starts.
  if (!state.BeginExtraction()) return PackageExtractor::Result::Stopped;
  struct ExtractionScope {
    UpdateState& state;
    ~ExtractionScope() { state.EndExtraction(); }
  } scope{state};

  PackageExtractor::Callbacks callbacks;
  callbacks.started = [this] { ctx_.telemetry.Log("game unzip start"); };
  callbacks.progress = [window](uint64_t i, uint64_t n) {
    if (!window) return;
    const unsigned percent = static_cast<unsigned>(100ULL * i / n);
    window->SetProgress("", std::to_string(i) + "/" + std::to_string(n), static_cast<int>(percent), 0);
    window->ShowProgressView();
  };
  callbacks.stop = [&state] { return state.CancelRequested(); };
  PackageExtractor::Result result = PackageExtractor::Result::Unreadable;
  bool moved = false;
  if (staged) {
    StagedInstaller installer(ctx_.layout.stagingDir, ctx_.layout.dataDir, callbacks);
    if (const std::optional<PackageExtractor::Result> installed = installer.Install(packagePath, *staged)) {
      moved = true;
      result = *installed;
      if (localError) *localError = installer.LocalError();
    } else {
      // Nothing was moved: the package is extracted as it would have been without the staging.
      PackageStager::Discard(ctx_.layout.stagingDir);
    }
  }
  if (!moved) {
    PackageExtractor extractor(ctx_.layout.dataDir, std::move(callbacks));
    result = extractor.Extract(packagePath);
    if (localError) *localError = extractor.LocalError();
  }
  if (result == PackageExtractor::Result::Done) {
    ctx_.telemetry.LogEvent(UnzipFinished);
    ctx_.telemetry.Log("game unzip success");
  }
  return result;
}

int CGameRemoteConfig::UnzipFile(const std::string& packagePath, IWindowOperations* window) {
  return InstallPackage(packagePath, window) == UnzipOutcome::Installed ? 1 : 0;
}

CGameRemoteConfig::UnzipOutcome CGameRemoteConfig::InstallPackage(const std::string& packagePath,
                                                                  IWindowOperations* window,
                                                                  const std::vector<StagedEntry>* staged) {
  // 1. Extraction, or the moves of what was staged.
  int diskError = 0;
  PackageExtractor::Result extracted = OnUnzipFile(packagePath, window, &diskError, staged);
  if (extracted == PackageExtractor::Result::Stopped) {
    // The launcher is closing: no version record, the package stays, and the next run extracts
    // it again without downloading.
    update_log::Info("unzip stopped, the launcher is closing", kUnzip, 756);
    return UnzipOutcome::Stopped;
  }
  // 2. The files reach the disk before a record names them: after a power cut the record never
  // describes files that were lost with the page cache.
  if (extracted == PackageExtractor::Result::Done) {
    diskError = os::SyncFileSystem(ctx_.layout.dataDir);
    if (diskError != 0) {
      update_log::Error(
          update_log::Format(update_log::kShort, "cannot make the client durable: %s", std::strerror(diskError)),
          kUnzip, 737);
      extracted = PackageExtractor::Result::LocalFailure;
    }
  }
  if (extracted != PackageExtractor::Result::Done) {
    update_log::Info("unzip is error!", kUnzip, 755);
    ctx_.telemetry.Log("game unzip failed");
    if (extracted == PackageExtractor::Result::LocalFailure) {
      // The package is fine and stays where it is: once the disk is, the next run extracts it.
      ShowDiskFailure(window, diskError);
      return UnzipOutcome::FailedOnDisk;
    }
    if (window) {
      window->SetProgress("解压失败", "", 0, 0);
      window->ShowMessageView();
    }
    return UnzipOutcome::Failed;
  }
  return RecordInstallation(packagePath, window);
}

CGameRemoteConfig::UnzipOutcome CGameRemoteConfig::RecordInstallation(const std::string& packagePath,
                                                                      IWindowOperations* window) {
  // 3. Version record: the offered version's text as received, no line end, replaced atomically
  // (a record cut by a crash would name a version that was never installed). Until it is written
  // the package stays, so an exit before this point costs an extraction, never a download.
  const std::optional<std::string> version = ctx_.remoteConfig.Find("ClientVersion");
  if (const int error =
          os::WriteFileAtomically(ctx_.layout.versionRecordPath, version ? os::Utf8ToAnsi(*version) : std::string());
      error != 0) {
    update_log::Error(
        update_log::Format(update_log::kShort, "cannot write the version record: %s", std::strerror(error)), kUnzip,
        745);
    ShowDiskFailure(window, error);
    return UnzipOutcome::FailedOnDisk;
  }

  // 4. The package has served its purpose; the resume state no longer claims it. An exit before
  // this leaves the installed version's package, which the next run's up-to-date path removes.
  if (packagePath == ctx_.layout.packagePath) {
    ForgetPackage(ctx_.updateState, ctx_.layout);
  } else {
    os::RemoveFile(packagePath);
  }

  // 5. Registration, the launcher copy under the game's name, and links to it; an up-to-date run
  // does the same, so an exit here is made good by the next start.
  SetRegisties();
  std::string launcherPath = os::TruncateUtf16(os::ExecutablePath(), 260);
  update_log::Info(launcherPath, kUnzip, 718);
  int copyError = os::CopyFileOver(launcherPath, ctx_.layout.LauncherCopyPath(ctx_.updateState.GameName()));
  if (copyError == 0) {
    CreateShortcuts();
  } else {
    update_log::Error(update_log::Format(update_log::kShort, "CopyFile ret:%d", copyError), kUnzip, 728);
  }

  // 6. Completion.
  if (window) {
    window->SetProgress("更新已完成", "", 0, 0);
    window->ShowMessageView();
    window->SetReady();
  }
  update_log::Info("unzip is finish!", kUnzip, 748);
  return UnzipOutcome::Installed;
}
