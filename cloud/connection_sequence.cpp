#include "cloud/connection_sequence.h"

#include <shellapi.h>

#include <utility>
#include <vector>

#include "base/text_format.h"
#include "cloud/catalogue_text.h"
#include "cloud/cloud_state.h"
#include "cloud/http_fetch.h"
#include "cloud/server_address.h"
#include "cloud/version_rules.h"

namespace connection_text {
const wchar_t kCheckingVersionTip[] = L"正在检测新版本中，请稍候...";
const wchar_t kConnectingTip[] = L" 正在连接云引擎中，请稍候...";
const wchar_t kReadyTip[] = L"点击一键重装系统";
const wchar_t kCloudModeText[] = L" 云引擎连接成功，云模式";
const wchar_t kLocalModeText[] = L" 云引擎连接失败，本地模式";
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

bool CheckVersion() {
  TheCloudState.VersionChecked = 1;
  TheCloudState.CurrentVersion = kProgramVersion;
  VersionVerdict verdict = JudgeServerVersion(FetchUrlText(ServerUrl(kVersionPath)));
  TheCloudState.ServerVersion = verdict.version;
  if (!verdict.offer) return true;
  TheCloudState.InstallerUrl = FetchUrlText(ServerUrl(kInstallerUrlPath));
  return false;
}

namespace {

// ToolFolder\kxrupdate.exe; false when the folder is unknown or the path does not fit.
bool InstallerPath(std::wstring& path) {
  if (TheCloudState.ToolFolder.empty()) return false;
  return JoinPath(path, TheCloudState.ToolFolder, kInstallerName);
}

}  // namespace

void RunUpdateOffer(ConnectionWindow& window) {
  if (TheCloudState.VersionChecked == 1) return;
  if (CheckVersion()) return;
  std::wstring question = Format(kUpdateQuestion, TheCloudState.ServerVersion.c_str());
  if (!window.AskYesNo(question, kUpdateCaption)) return;

  window.SetInstallTip(kDownloadingUpdateTip);
  window.SetStatusText(kDownloadingUpdateText);
  std::wstring path;
  if (!InstallerPath(path)) return;
  if (DownloadUrlToFile(TheCloudState.InstallerUrl, path) != kDownloadOk) return;

  window.SetInstallTip(kInstallingUpdateTip);
  window.SetStatusText(kOpeningUpdateText);
  ShellExecuteW(nullptr, L"OPEN", path.c_str(), nullptr, TheCloudState.ToolFolder.c_str(), SW_SHOW);
  Sleep(1000);
  window.EndProcess(0);
}

bool LoadCatalogue() {
  TheCloudState.Catalogue.clear();
  std::wstring text = FetchUrlText(ServerUrl(kCataloguePath));
  if (text.empty()) return false;
  std::vector<CatalogueEntry> entries = ParseCatalogueText(text);
  TheCloudState.Catalogue = std::move(entries);
  return true;
}

void RunConnectionSequence(ConnectionWindow& window) {
  window.SetInstallEnabled(false);
  window.SetInstallTip(kCheckingVersionTip);
  RunUpdateOffer(window);
  window.SetInstallTip(kConnectingTip);
  if (LoadCatalogue()) {
    CatalogueState = 1;
    window.ApplyStatusAttributes(kCloudModeIcon);
    window.SetStatusText(kCloudModeText);
  } else {
    CatalogueState = -1;
    window.ApplyStatusAttributes(kLocalModeIcon);
    window.SetStatusText(kLocalModeText);
  }
  window.SetInstallEnabled(true);
  window.SetInstallTip(kReadyTip);
}
