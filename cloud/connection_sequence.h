// Start-up talk with the maker's server: the version check and update offer, then the catalogue load
// that decides between cloud mode and local mode.
#pragma once
#include <windows.h>

#include <string>

// What the connection sequence changes on the main window and asks of its user. The real one works on the
// install button, the status label and the window's message boxes; tests record the calls.
class ConnectionWindow {
 public:
  virtual ~ConnectionWindow() = default;
  virtual void SetInstallEnabled(bool enabled) = 0;
  virtual void SetInstallTip(const std::wstring& tip) = 0;
  virtual void SetStatusText(const std::wstring& text) = 0;
  // Applies a markup attribute list to the status label (its icon).
  virtual void ApplyStatusAttributes(const std::wstring& list) = 0;
  // A Yes/No message box owned by the main window, without icon; true for Yes.
  virtual bool AskYesNo(const std::wstring& text, const std::wstring& caption) = 0;
  // Ends the process after the update installer has been started.
  virtual void EndProcess(UINT exitCode) { ExitProcess(exitCode); }
};

// Fetches "/banben.txt" and decides on the update: true when none is to be offered. Sets VersionChecked,
// CurrentVersion and ServerVersion, and InstallerUrl (from "/anzhuangbao.txt") when an update is offered.
bool CheckVersion();

// The update offer, at most once per process: asks, downloads the installer as ToolFolder\kxrupdate.exe,
// starts it there and ends the process with 0. A declined offer or a failed download ends silently.
void RunUpdateOffer(ConnectionWindow& window);

// Replaces Catalogue with the entries of "/systeminfof.txt". False only when the text could not be fetched
// (or was empty); the catalogue is then empty. The new list is put in place in one step at the end.
bool LoadCatalogue();

// The whole connection sequence: install button disabled, update offer, catalogue load, CatalogueState
// and the status label set to cloud or local mode, install button enabled again.
void RunConnectionSequence(ConnectionWindow& window);

// The texts the sequence shows.
namespace connection_text {
extern const wchar_t kCheckingVersionTip[];   // "正在检测新版本中，请稍候..."
extern const wchar_t kConnectingTip[];        // " 正在连接云引擎中，请稍候..."
extern const wchar_t kReadyTip[];             // "点击一键重装系统"
extern const wchar_t kCloudModeText[];        // " 云引擎连接成功，云模式"
extern const wchar_t kLocalModeText[];        // " 云引擎连接失败，本地模式"
extern const wchar_t kCloudModeIcon[];        // bkimage attribute list with res\Img_15.png
extern const wchar_t kLocalModeIcon[];        // bkimage attribute list with res\Img_16.png
extern const wchar_t kUpdateQuestion[];       // "Vorlane有新版本 V %s 立刻下载？"
extern const wchar_t kUpdateCaption[];        // "Vorlane有新版本"
extern const wchar_t kDownloadingUpdateTip[]; // "正在下载新版本中，请稍候..."
extern const wchar_t kDownloadingUpdateText[];// "正在下载安装包..."
extern const wchar_t kInstallingUpdateTip[];  // "正在安装新版本中，请稍候..."
extern const wchar_t kOpeningUpdateText[];    // "正在打开安装包..."
extern const wchar_t kInstallerName[];        // "kxrupdate.exe"
}  // namespace connection_text
