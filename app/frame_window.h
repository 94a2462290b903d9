// The main window: built by the toolkit from "MainFrame1.xml" of the skin package, it binds the named
// controls, runs the start-up sequence, fills its pages and dispatches the clicks of its controls.
//
// Extending it: a command is one handler method (void OnXxx(DuiLib::TNotifyUI&)) declared here, defined in
// the .cpp of its flow, and one row in the click table of frame_window.cpp (rows are in the order of the
// command table: the first matching row acts). Worker threads get control pointers (the named members
// below) and may call their setters directly; they report back with the messages of window_messages.h.
#pragma once
#include <windows.h>

#include <map>
#include <string>

#include "app/delayed_restart.h"
#include "ui/UIlib.h"

struct CatalogueEntry;

class CFrameWindowWnd : public DuiLib::WindowImplBase {
 public:
  CFrameWindowWnd() = default;
  ~CFrameWindowWnd() override = default;

  // What the window hands the toolkit.
  LPCWSTR GetWindowClassName() const override { return L"UIMiVorlane"; }
  LRESULT HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) override;
  void OnFinalMessage(HWND hWnd) override;
  void InitWindow() override;
  std::wstring GetSkinFolder() override { return L""; }
  std::wstring GetSkinFile() override { return L"MainFrame1.xml"; }
  DuiLib::UILIB_RESOURCETYPE GetResourceType() const override { return DuiLib::UILIB_ZIPRESOURCE; }
  UINT GetResourceID() const override { return 141; }
  // Notification dispatch: "click" to OnClick, "selectchanged" to the data-option rule, all else ignored.
  void Notify(DuiLib::TNotifyUI& msg) override;

  // Page operations, each ending with tabswitch selecting its page.
  void ShowMainPage();           // page 0
  void ShowBackupSystemPage();   // page 1
  void ShowRestoreSystemPage();  // page 2
  void ShowDataBackupPage();     // page 3
  void ShowDataRestorePage();    // page 4
  void SelectPage(int index);

  // The reinstall flow: the download of the selected catalogue entry (or the checks of an image already
  // there), and the checks, preparation and ready question once the image is complete.
  void StartImageDownload();
  void OnDownloadFinished();
  // Rebuilds the catalogue rows of listsystem from the catalogue.
  void BuildCatalogueList();

  // The control bound to a name at start (null when the markup has none, or for unknown names).
  DuiLib::CControlUI* Bound(const std::wstring& name) const;

  // Named controls, looked up once by BindControls; the toolkit owns them.
  DuiLib::CButtonUI* btnmin = nullptr;
  DuiLib::CButtonUI* btnclose = nullptr;
  DuiLib::CButtonUI* btnguanwang = nullptr;
  DuiLib::COptionUI* optmain = nullptr;
  DuiLib::COptionUI* optbacksystem = nullptr;
  DuiLib::COptionUI* optrecosystem = nullptr;
  DuiLib::COptionUI* optbackdata = nullptr;
  DuiLib::COptionUI* optrecodata = nullptr;
  DuiLib::COptionUI* optcontact = nullptr;
  DuiLib::CTabLayoutUI* tabswitch = nullptr;
  DuiLib::CButtonUI* btninstall = nullptr;
  DuiLib::CLabelUI* labsysver = nullptr;
  DuiLib::CLabelUI* labrecomand = nullptr;
  DuiLib::CLabelUI* labmemory = nullptr;
  DuiLib::CLabelUI* labinstpan = nullptr;
  DuiLib::CLabelUI* labfreespace = nullptr;
  DuiLib::CLabelUI* labdownsave = nullptr;
  DuiLib::CEditUI* editbacksys = nullptr;
  DuiLib::CButtonUI* btnlookbacksys = nullptr;
  DuiLib::CLabelUI* labbackpart = nullptr;
  DuiLib::CLabelUI* labbacksyspartsize = nullptr;
  DuiLib::CLabelUI* labbacksyspartformat = nullptr;
  DuiLib::CLabelUI* labbacksysmsg = nullptr;
  DuiLib::CButtonUI* btnbackupsystem = nullptr;
  DuiLib::CEditUI* editrecosys = nullptr;
  DuiLib::CButtonUI* btnlookrecosys = nullptr;
  DuiLib::CLabelUI* labrecopart = nullptr;
  DuiLib::CLabelUI* labrecosyspartsize = nullptr;
  DuiLib::CLabelUI* labrecosyspartformat = nullptr;
  DuiLib::CLabelUI* labrecosysmsg = nullptr;
  DuiLib::CButtonUI* btnrecoverysystem = nullptr;
  DuiLib::COptionUI* optbackupdocument = nullptr;
  DuiLib::COptionUI* optbackupfavorite = nullptr;
  DuiLib::COptionUI* optbackupdesktop = nullptr;
  DuiLib::CEditUI* editbackdata = nullptr;
  DuiLib::CButtonUI* btnlookbackdata = nullptr;
  DuiLib::CButtonUI* btnbackupdata = nullptr;
  DuiLib::CLabelUI* labbackdatamsg = nullptr;
  DuiLib::COptionUI* optrecoverydocument = nullptr;
  DuiLib::COptionUI* optrecoveryfavorite = nullptr;
  DuiLib::COptionUI* optrecoverydesktop = nullptr;
  DuiLib::CEditUI* editrecodata = nullptr;
  DuiLib::CButtonUI* btnlookrecodata = nullptr;
  DuiLib::CButtonUI* btnrecoverydata = nullptr;
  DuiLib::CLabelUI* labrecodatamsg = nullptr;
  DuiLib::CListUI* listsystem = nullptr;
  DuiLib::CGifAnimUI* gifprocess = nullptr;
  DuiLib::CButtonUI* labfilename = nullptr;
  DuiLib::CLabelUI* labfilesize = nullptr;
  DuiLib::CLabelUI* labdownareadydown = nullptr;
  DuiLib::CLabelUI* labdownspeed = nullptr;
  DuiLib::CLabelUI* labdownpro = nullptr;
  DuiLib::CButtonUI* btnpause = nullptr;
  DuiLib::CButtonUI* btnstop = nullptr;
  DuiLib::CWebBrowserUI* webiedowned = nullptr;
  DuiLib::CLabelUI* labconnect = nullptr;

  // Index into the catalogue of the image the user picked.
  int32_t SelectedImageIndex = 0;
  // True from the start of a data backup (restore) worker until its WM_DATA_JOB_DONE: showing the page
  // again then leaves the start button disabled, so that one job cannot be started twice at once.
  bool DataBackupRunning = false;
  bool DataRestoreRunning = false;

 protected:
  void BindControls();
  // Starts CatalogueThread with the install button, the status label and the window's Yes/No box.
  void StartCatalogueThread();
  void OnClick(DuiLib::TNotifyUI& msg);
  void OnSelectChanged(DuiLib::TNotifyUI& msg);

  // Commands, one per control.
  void OnWebSite(DuiLib::TNotifyUI& msg);
  void OnMinimize(DuiLib::TNotifyUI& msg);
  void OnCloseButton(DuiLib::TNotifyUI& msg);
  void OnMainOption(DuiLib::TNotifyUI& msg);
  void OnBackupSystemOption(DuiLib::TNotifyUI& msg);
  void OnRestoreSystemOption(DuiLib::TNotifyUI& msg);
  void OnBackupDataOption(DuiLib::TNotifyUI& msg);
  void OnRestoreDataOption(DuiLib::TNotifyUI& msg);
  void OnContactOption(DuiLib::TNotifyUI& msg);
  void OnLookRestoreDataFolder(DuiLib::TNotifyUI& msg);
  void OnLookBackupDataFolder(DuiLib::TNotifyUI& msg);
  void OnBackupData(DuiLib::TNotifyUI& msg);
  void OnRestoreData(DuiLib::TNotifyUI& msg);
  void OnLookBackupSystemFolder(DuiLib::TNotifyUI& msg);
  void OnLookRestoreSystemFile(DuiLib::TNotifyUI& msg);
  void OnOpenDownloadFolder(DuiLib::TNotifyUI& msg);
  void OnInstall(DuiLib::TNotifyUI& msg);
  void OnSelectImage(DuiLib::TNotifyUI& msg);
  void OnBackupSystem(DuiLib::TNotifyUI& msg);
  void OnRestoreSystem(DuiLib::TNotifyUI& msg);
  void OnStopDownload(DuiLib::TNotifyUI& msg);
  void OnPauseDownload(DuiLib::TNotifyUI& msg);

  // WM_DOWNLOAD_EVENT (the reinstall flow handles it) and WM_DATA_JOB_DONE.
  void OnDownloadEvent(WPARAM wParam, LPARAM lParam);
  void OnDataJobDone(WPARAM wParam);
  // WM_IMAGE_VERIFIED: the check of an image kept with No has ended.
  void OnImageVerified(LPARAM verdict);
  void CheckExistingImage();
  bool DownloadFolderRefused();
  bool DownloadRoomRefused(const CatalogueEntry& entry, const std::wstring& path, bool replace);

 private:
  friend struct FrameClickTable;
  template <typename T>
  void Bind(T*& member, const wchar_t* name);
  std::map<std::wstring, DuiLib::CControlUI*> bound_;
  void SetPageOptionsEnabled(bool enabled);
  // The automatic restart armed with the ready question; No cancels it.
  DelayedRestart delayedRestart_;
};

// References the worker threads use (set at start-up).
extern DuiLib::CButtonUI* InstallButton;
extern DuiLib::CLabelUI* ConnectLabel;

// Starts "cmd /c shutdown -r -t 0" hidden, without waiting (WinExec; recorded instead in the sandbox).
void RestartCommand();

// The main window's handle once created (owner of the program's message boxes); null before.
HWND MainWindowHandle();

// Called at the end of the start-up sequence (the sandbox starts its script here). Set before the window.
using FrameReadyHook = void (*)(CFrameWindowWnd* window);
void SetFrameReadyHook(FrameReadyHook hook);

// The process: COM, the toolkit's instance, the window created, centred and run modally. Answers the
// process exit code (0).
int RunVorlane(HINSTANCE instance);
