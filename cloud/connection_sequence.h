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
  // Called once the downloaded installer has passed its checks, while the handle that keeps it unchanged
  // is held and before it is started (tests try to change it here).
  virtual void InstallerChecked(const std::wstring& path) {}
};

// The signed update manifest and its detached signature.
extern const wchar_t kManifestPath[];           // "/update.txt"
extern const wchar_t kManifestSignaturePath[];  // "/update.txt.sig"
extern const wchar_t kCatalogueSignaturePath[]; // "/systeminfof.txt.sig"
// Most catalogue rows the program takes; later records are ignored.
constexpr size_t kMaxCatalogueRows = 1000;

// Decides on the update: true when none is to be offered. "/banben.txt" must name a version greater than
// ours (compared as numbers), and "/update.txt" must carry a valid signature by the built-in key and a
// version greater than ours. Sets VersionChecked, CurrentVersion and ServerVersion, and InstallerUrl (the
// manifest's) when an update is offered.
bool CheckVersion();

// The update offer, at most once per process: asks, downloads the installer into a fresh folder only
// administrators can write (under the Windows folder's Temp), checks its size and SHA-256 against the
// manifest, keeps it locked against writing and deleting while it is started there, and ends the process
// with 0. A declined offer or a failed download or check ends silently and leaves nothing behind.
void RunUpdateOffer(ConnectionWindow& window);
// Where the update's private folder is made (tests); empty restores the Windows folder's Temp.
void SetUpdateFolderParent(const std::wstring& parent);

enum CatalogueLoad {
  kCatalogueLoaded = 0,
  kCatalogueUnreachable = 1,   // not fetched, too long, or empty: local mode
  kCatalogueBadSignature = 2,  // a signature is published but does not hold: local mode
};
// Replaces Catalogue with the entries of "/systeminfof.txt" (at most kMaxCatalogueRows). When the server
// publishes "/systeminfof.txt.sig" and it holds, only entries with a SHA-256 are kept (their images are
// then checked against it); when it is published but fails, nothing is loaded. The new list is put in
// place in one step at the end.
CatalogueLoad LoadCatalogueChecked();
// LoadCatalogueChecked() == kCatalogueLoaded.
bool LoadCatalogue();

// The end of the sequence in local mode (also after an unexpected failure of the connection thread).
void FinishInLocalMode(ConnectionWindow& window, const std::wstring& statusText);

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
extern const wchar_t kBadSignatureText[];     // " 云引擎目录签名无效，本地模式"
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
