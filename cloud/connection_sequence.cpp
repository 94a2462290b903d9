#include "cloud/connection_sequence.h"

#include <utility>
#include <vector>

#include "base/simple_lock.h"
#include "base/text_format.h"
#include "cloud/catalogue_text.h"
#include "cloud/cloud_state.h"
#include "cloud/http_fetch.h"
#include "cloud/signature.h"
#include "cloud/update_install.h"
#include "cloud/update_manifest.h"
#include "cloud/server_address.h"
#include "cloud/version_rules.h"

namespace connection_text {
const wchar_t kCheckingVersionTip[] = L"正在检测新版本中，请稍候...";
const wchar_t kConnectingTip[] = L" 正在连接云引擎中，请稍候...";
const wchar_t kReadyTip[] = L"点击一键重装系统";
const wchar_t kCloudModeText[] = L" 云引擎连接成功，云模式";
const wchar_t kLocalModeText[] = L" 云引擎连接失败，本地模式";
const wchar_t kBadSignatureText[] = L" 云引擎目录签名无效，本地模式";
const wchar_t kCloudModeIcon[] = L"bkimage=\"file='res\\Img_15.png' dest='2,2,23,20' source='0,0,21,18'\"";
const wchar_t kLocalModeIcon[] = L"bkimage=\"file='res\\Img_16.png' dest='2,2,23,20' source='0,0,21,18'\"";
const wchar_t kUpdateQuestion[] = L"Vorlane有新版本 V %s 立刻下载？";
const wchar_t kUpdateCaption[] = L"Vorlane有新版本";
const wchar_t kDownloadingUpdateTip[] = L"正在下载新版本中，请稍候...";
const wchar_t kDownloadingUpdateText[] = L"正在下载安装包...";
const wchar_t kInstallingUpdateTip[] = L"正在安装新版本中，请稍候...";
const wchar_t kOpeningUpdateText[] = L"正在打开安装包...";
const wchar_t kInstallerName[] = L"kxrupdate.exe";
}  // namespace connection_text

using namespace connection_text;

const wchar_t kManifestPath[] = L"/update.txt";
const wchar_t kManifestSignaturePath[] = L"/update.txt.sig";
const wchar_t kCatalogueSignaturePath[] = L"/systeminfof.txt.sig";

namespace {

enum SignedFetch {
  kSignedValid,       // body and a signature that holds
  kUnsigned,          // body, no signature published
  kSignatureInvalid,  // body, a signature that does not hold (or cannot be read)
  kBodyMissing,       // the body itself could not be fetched
};

// Fetches path (at most limit bytes) and its detached signature path + ".sig".
SignedFetch FetchSigned(const wchar_t* path, const wchar_t* signaturePath, size_t limit, std::string& body) {
  if (FetchUrlBytes(ServerUrl(path), limit, body) != kFetchOk) return kBodyMissing;
  std::string signature;
  FetchResult got = FetchUrlBytes(ServerUrl(signaturePath), kSignatureLimit, signature);
  if (got == kFetchFailed) return kUnsigned;
  if (got == kFetchTooLong) return kSignatureInvalid;
  return VerifySignature(body, signature, BuiltInPublicKey()) ? kSignedValid : kSignatureInvalid;
}

// The manifest of the update on offer (set by CheckVersion when it answers false).
UpdateManifest& OfferedManifest() {
  static UpdateManifest manifest;
  return manifest;
}

SimpleLock& ParentLock() {
  static SimpleLock lock;
  return lock;
}
std::wstring& ParentOverride() {
  static std::wstring parent;
  return parent;
}

std::wstring UpdateParent() {
  LockHolder hold(ParentLock());
  return ParentOverride().empty() ? DefaultUpdateParent() : ParentOverride();
}

// Downloads, checks and starts the installer of manifest; false when anything fails (nothing is left).
bool InstallUpdate(ConnectionWindow& window, const UpdateManifest& manifest) {
  std::wstring folder;
  if (!CreatePrivateFolder(UpdateParent(), folder)) return false;
  std::wstring path = folder + L"\\" + kInstallerName;
  if (DownloadUrlToFile(manifest.url, path, manifest.size) != kDownloadOk) {
    RemoveUpdateFolder(folder, path);
    return false;
  }
  UniqueHandle held;
  if (OpenAndCheckInstaller(path, manifest.size, manifest.sha256, held) != kInstallerOk) {
    RemoveUpdateFolder(folder, path);
    return false;
  }
  window.InstallerChecked(path);
  window.SetInstallTip(kInstallingUpdateTip);
  window.SetStatusText(kOpeningUpdateText);
  // The handle stays open until the process exists: the bytes started are the bytes checked.
  bool started = StartInstaller(path, folder);
  held.Reset();
  if (!started) RemoveUpdateFolder(folder, path);
  return started;
}

}  // namespace

void SetUpdateFolderParent(const std::wstring& parent) {
  LockHolder hold(ParentLock());
  ParentOverride() = parent;
}

bool CheckVersion() {
  TheCloudState.VersionChecked = 1;
  TheCloudState.CurrentVersion = kProgramVersion;
  VersionVerdict verdict = JudgeServerVersion(FetchUrlText(ServerUrl(kVersionPath), kVersionTextLimit));
  TheCloudState.ServerVersion = verdict.version;
  if (!verdict.offer) return true;

  std::string bytes;
  if (FetchSigned(kManifestPath, kManifestSignaturePath, kManifestLimit, bytes) != kSignedValid) return true;
  UpdateManifest manifest;
  if (!ParseUpdateManifest(bytes, manifest)) return true;
  if (!IsNewerVersion(manifest.version, kProgramVersion)) return true;
  TheCloudState.ServerVersion = manifest.version;
  TheCloudState.InstallerUrl = manifest.url;
  OfferedManifest() = manifest;
  return false;
}

void RunUpdateOffer(ConnectionWindow& window) {
  if (TheCloudState.VersionChecked == 1) return;
  if (CheckVersion()) return;
  std::wstring question = Format(kUpdateQuestion, TheCloudState.ServerVersion.c_str());
  if (!window.AskYesNo(question, kUpdateCaption)) return;

  window.SetInstallTip(kDownloadingUpdateTip);
  window.SetStatusText(kDownloadingUpdateText);
  if (!InstallUpdate(window, OfferedManifest())) return;
  Sleep(1000);
  window.EndProcess(0);
}

CatalogueLoad LoadCatalogueChecked() {
  TheCloudState.Catalogue.clear();
  std::string bytes;
  SignedFetch fetched = FetchSigned(kCataloguePath, kCatalogueSignaturePath, kCatalogueLimit, bytes);
  if (fetched == kBodyMissing) return kCatalogueUnreachable;
  if (fetched == kSignatureInvalid) return kCatalogueBadSignature;
  std::wstring text = DecodeAnsiText(bytes);
  if (text.empty()) return kCatalogueUnreachable;
  std::vector<CatalogueEntry> parsed = ParseCatalogueText(text);
  std::vector<CatalogueEntry> entries;
  for (CatalogueEntry& entry : parsed) {
    if (entries.size() == kMaxCatalogueRows) break;
    // A signed catalogue vouches for its images only through their SHA-256: an entry without one is refused.
    if (fetched == kSignedValid && entry.sha256.empty()) continue;
    entries.push_back(std::move(entry));
  }
  TheCloudState.Catalogue = std::move(entries);
  return kCatalogueLoaded;
}

bool LoadCatalogue() { return LoadCatalogueChecked() == kCatalogueLoaded; }

void FinishInLocalMode(ConnectionWindow& window, const std::wstring& statusText) {
  CatalogueState = -1;
  window.ApplyStatusAttributes(kLocalModeIcon);
  window.SetStatusText(statusText);
  window.SetInstallEnabled(true);
  window.SetInstallTip(kReadyTip);
}

void RunConnectionSequence(ConnectionWindow& window) {
  window.SetInstallEnabled(false);
  window.SetInstallTip(kCheckingVersionTip);
  RunUpdateOffer(window);
  window.SetInstallTip(kConnectingTip);
  CatalogueLoad loaded = LoadCatalogueChecked();
  if (loaded != kCatalogueLoaded) {
    FinishInLocalMode(window, loaded == kCatalogueBadSignature ? kBadSignatureText : kLocalModeText);
    return;
  }
  CatalogueState = 1;
  window.ApplyStatusAttributes(kCloudModeIcon);
  window.SetStatusText(kCloudModeText);
  window.SetInstallEnabled(true);
  window.SetInstallTip(kReadyTip);
}
