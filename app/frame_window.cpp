#include "app/frame_window.h"

#include <objbase.h>

#include "app/dialogs.h"
#include "app/environment.h"
#include "app/shell_helpers.h"
#include "app/site_links.h"
#include "app/window_messages.h"
#include "cloud/catalogue_list.h"
#include "sysinfo/disk_table.h"

using namespace DuiLib;

DuiLib::CButtonUI* InstallButton = nullptr;
DuiLib::CLabelUI* ConnectLabel = nullptr;

namespace {

HWND g_mainWindow = nullptr;
FrameReadyHook g_readyHook = nullptr;

using ClickHandler = void (CFrameWindowWnd::*)(TNotifyUI&);

// One row per control, in the order the commands are matched: the sender is compared with the control
// bound to the name at start; rows marked byName match any control of that name (catalogue rows, which
// are created later).
struct ClickRoute {
  const wchar_t* name;
  bool byName;
  ClickHandler handler;
};

}  // namespace

// Handlers are members, so the table lives in a member function's reach.
struct FrameClickTable {
  static const ClickRoute* Rows(size_t& count) {
    static const ClickRoute kRows[] = {
        {L"btnguanwang", false, &CFrameWindowWnd::OnWebSite},
        {L"btnmin", false, &CFrameWindowWnd::OnMinimize},
        {L"btnclose", false, &CFrameWindowWnd::OnCloseButton},
        {L"optmain", false, &CFrameWindowWnd::OnMainOption},
        {L"optbacksystem", false, &CFrameWindowWnd::OnBackupSystemOption},
        {L"optrecosystem", false, &CFrameWindowWnd::OnRestoreSystemOption},
        {L"optbackdata", false, &CFrameWindowWnd::OnBackupDataOption},
        {L"optrecodata", false, &CFrameWindowWnd::OnRestoreDataOption},
        {L"optcontact", false, &CFrameWindowWnd::OnContactOption},
        {L"btninstall", false, &CFrameWindowWnd::OnInstall},
        {L"btnlookrecodata", false, &CFrameWindowWnd::OnLookRestoreDataFolder},
        {L"btnlookbackdata", false, &CFrameWindowWnd::OnLookBackupDataFolder},
        {L"btnbackupdata", false, &CFrameWindowWnd::OnBackupData},
        {L"btnrecoverydata", false, &CFrameWindowWnd::OnRestoreData},
        {L"btnselectthis", true, &CFrameWindowWnd::OnSelectImage},
        {L"btnlookbacksys", false, &CFrameWindowWnd::OnLookBackupSystemFolder},
        {L"btnlookrecosys", false, &CFrameWindowWnd::OnLookRestoreSystemFile},
        {L"btnbackupsystem", false, &CFrameWindowWnd::OnBackupSystem},
        {L"btnrecoverysystem", false, &CFrameWindowWnd::OnRestoreSystem},
        {L"btnstop", false, &CFrameWindowWnd::OnStopDownload},
        {L"btnpause", false, &CFrameWindowWnd::OnPauseDownload},
        {L"labfilename", false, &CFrameWindowWnd::OnOpenDownloadFolder},
    };
    count = sizeof(kRows) / sizeof(kRows[0]);
    return kRows;
  }
};

HWND MainWindowHandle() { return g_mainWindow; }

void SetFrameReadyHook(FrameReadyHook hook) { g_readyHook = hook; }

template <typename T>
void CFrameWindowWnd::Bind(T*& member, const wchar_t* name) {
  CControlUI* c = m_pm.FindControl(name);
  member = dynamic_cast<T*>(c);
  bound_[name] = member;
}

CControlUI* CFrameWindowWnd::Bound(const std::wstring& name) const {
  auto it = bound_.find(name);
  return it == bound_.end() ? nullptr : it->second;
}

void CFrameWindowWnd::BindControls() {
  Bind(btnmin, L"btnmin");
  Bind(btnclose, L"btnclose");
  Bind(btnguanwang, L"btnguanwang");
  Bind(optmain, L"optmain");
  Bind(optbacksystem, L"optbacksystem");
  Bind(optrecosystem, L"optrecosystem");
  Bind(optbackdata, L"optbackdata");
  Bind(optrecodata, L"optrecodata");
  Bind(optcontact, L"optcontact");
  Bind(tabswitch, L"tabswitch");
  Bind(btninstall, L"btninstall");
  Bind(labsysver, L"labsysver");
  Bind(labrecomand, L"labrecomand");
  Bind(labmemory, L"labmemory");
  Bind(labinstpan, L"labinstpan");
  Bind(labfreespace, L"labfreespace");
  Bind(labdownsave, L"labdownsave");
  Bind(editbacksys, L"editbacksys");
  Bind(btnlookbacksys, L"btnlookbacksys");
  Bind(labbackpart, L"labbackpart");
  Bind(labbacksyspartsize, L"labbacksyspartsize");
  Bind(labbacksyspartformat, L"labbacksyspartformat");
  Bind(labbacksysmsg, L"labbacksysmsg");
  Bind(btnbackupsystem, L"btnbackupsystem");
  Bind(editrecosys, L"editrecosys");
  Bind(btnlookrecosys, L"btnlookrecosys");
  Bind(labrecopart, L"labrecopart");
  Bind(labrecosyspartsize, L"labrecosyspartsize");
  Bind(labrecosyspartformat, L"labrecosyspartformat");
  Bind(labrecosysmsg, L"labrecosysmsg");
  Bind(btnrecoverysystem, L"btnrecoverysystem");
  Bind(optbackupdocument, L"optbackupdocument");
  Bind(optbackupfavorite, L"optbackupfavorite");
  Bind(optbackupdesktop, L"optbackupdesktop");
  Bind(editbackdata, L"editbackdata");
  Bind(btnlookbackdata, L"btnlookbackdata");
  Bind(btnbackupdata, L"btnbackupdata");
  Bind(labbackdatamsg, L"labbackdatamsg");
  Bind(optrecoverydocument, L"optrecoverydocument");
  Bind(optrecoveryfavorite, L"optrecoveryfavorite");
  Bind(optrecoverydesktop, L"optrecoverydesktop");
  Bind(editrecodata, L"editrecodata");
  Bind(btnlookrecodata, L"btnlookrecodata");
  Bind(btnrecoverydata, L"btnrecoverydata");
  Bind(labrecodatamsg, L"labrecodatamsg");
  Bind(listsystem, L"listsystem");
  Bind(gifprocess, L"gifprocess");
  Bind(labfilename, L"labfilename");
  Bind(labfilesize, L"labfilesize");
  Bind(labdownareadydown, L"labdownareadydown");
  Bind(labdownspeed, L"labdownspeed");
  Bind(labdownpro, L"labdownpro");
  Bind(btnpause, L"btnpause");
  Bind(btnstop, L"btnstop");
  Bind(webiedowned, L"webiedowned");
  Bind(labconnect, L"labconnect");
  ConnectLabel = labconnect;
}

void CFrameWindowWnd::StartCatalogueThread() {
  auto* param = new CatalogueThreadParam;
  param->installButton = InstallButton;
  param->connectLabel = ConnectLabel;
  HWND window = m_hWnd;
  param->ask = [window](const std::wstring& text, const std::wstring& caption) {
    return Dialogs().ShowMessage(window, text, caption, MB_YESNO) == IDYES;
  };
  // The end of the process after an update goes through the dialogs seam (the sandbox records it).
  param->endProcess = [](UINT exitCode) { Dialogs().EndProcess(exitCode); };
  HANDLE thread = CreateThread(nullptr, 0, CatalogueThread, param, 0, nullptr);
  if (thread == nullptr) {
    delete param;
    return;
  }
  CloseHandle(thread);
}

void CFrameWindowWnd::InitWindow() {
  g_mainWindow = m_hWnd;
  BindControls();
  InstallButton = btninstall;
  // The catalogue thread enables the install button once the catalogue is known; until then it stays
  // disabled.
  if (btninstall != nullptr) btninstall->SetEnabled(false);
  StartCatalogueThread();
  if (optmain != nullptr) optmain->Selected(true);
  BuildDiskTable();
  InitWorkPaths();
  ShowMainPage();
  if (g_readyHook != nullptr) g_readyHook(this);
}

LRESULT CFrameWindowWnd::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
  if (uMsg == WM_DOWNLOAD_EVENT) OnDownloadEvent(wParam, lParam);
  if (uMsg == WM_DATA_JOB_DONE) OnDataJobDone(wParam);
  if (uMsg == WM_IMAGE_VERIFIED) OnImageVerified(lParam);
  return WindowImplBase::HandleMessage(uMsg, wParam, lParam);
}

void CFrameWindowWnd::OnFinalMessage(HWND hWnd) {
  if (g_mainWindow == hWnd) g_mainWindow = nullptr;
  // Worker threads are never joined and may still hold references to controls (labels, the install
  // button) until the process ends right after this; the control tree is therefore left alive, detached
  // from the window, instead of being freed under them.
  m_pm.ReleaseRoot();
  delete this;
}

void CFrameWindowWnd::OnDataJobDone(WPARAM wParam) {
  if (wParam == kDataBackupJob) {
    DataBackupRunning = false;
    if (btnbackupdata != nullptr) btnbackupdata->SetEnabled(true);
  }
  if (wParam == kDataRestoreJob) {
    DataRestoreRunning = false;
    if (btnrecoverydata != nullptr) btnrecoverydata->SetEnabled(true);
  }
}

void CFrameWindowWnd::Notify(TNotifyUI& msg) {
  if (msg.sType == L"click") {
    OnClick(msg);
  } else if (msg.sType == L"selectchanged") {
    OnSelectChanged(msg);
  }
}

void CFrameWindowWnd::OnClick(TNotifyUI& msg) {
  if (msg.pSender == nullptr) return;
  size_t count = 0;
  const ClickRoute* rows = FrameClickTable::Rows(count);
  for (size_t i = 0; i < count; ++i) {
    const ClickRoute& r = rows[i];
    bool match = r.byName ? msg.pSender->GetName() == r.name : msg.pSender == Bound(r.name);
    if (match) {
      (this->*r.handler)(msg);
      return;
    }
  }
}

namespace {

bool AnySelected(COptionUI* a, COptionUI* b, COptionUI* c) {
  return (a != nullptr && a->IsSelected()) || (b != nullptr && b->IsSelected()) || (c != nullptr && c->IsSelected());
}

}  // namespace

void CFrameWindowWnd::OnSelectChanged(TNotifyUI& msg) {
  CControlUI* s = msg.pSender;
  if (s == nullptr) return;
  if (s == optbackupdocument || s == optbackupfavorite || s == optbackupdesktop) {
    if (btnbackupdata != nullptr)
      btnbackupdata->SetEnabled(!DataBackupRunning && AnySelected(optbackupdocument, optbackupfavorite, optbackupdesktop));
  } else if (s == optrecoverydocument || s == optrecoveryfavorite || s == optrecoverydesktop) {
    if (btnrecoverydata != nullptr)
      btnrecoverydata->SetEnabled(!DataRestoreRunning &&
                                  AnySelected(optrecoverydocument, optrecoveryfavorite, optrecoverydesktop));
  }
}

// ---- commands

void CFrameWindowWnd::OnWebSite(TNotifyUI&) { Dialogs().ShellOpen(L"OPEN", kSiteUrl, L"", SW_SHOW); }

void CFrameWindowWnd::OnMinimize(TNotifyUI&) { SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0); }

void CFrameWindowWnd::OnCloseButton(TNotifyUI&) {
  if (Dialogs().ShowMessage(m_hWnd, L"是否退出Vorlane？", L"提示", MB_OKCANCEL) == IDOK) Dialogs().EndProcess(0);
}

void CFrameWindowWnd::OnMainOption(TNotifyUI&) { ShowMainPage(); }
void CFrameWindowWnd::OnBackupSystemOption(TNotifyUI&) { ShowBackupSystemPage(); }
void CFrameWindowWnd::OnRestoreSystemOption(TNotifyUI&) { ShowRestoreSystemPage(); }
void CFrameWindowWnd::OnBackupDataOption(TNotifyUI&) { ShowDataBackupPage(); }
void CFrameWindowWnd::OnRestoreDataOption(TNotifyUI&) { ShowDataRestorePage(); }

void CFrameWindowWnd::OnContactOption(TNotifyUI&) {
  Dialogs().ShellOpen(L"OPEN", kSupportUrl, L"", SW_SHOW);
}

namespace {

// A data page's folder choice replaces WorkFolder for both data pages and both data workers.
void ChooseDataFolder(CEditUI* edit) {
  std::wstring folder = BrowseForFolder();
  if (folder.empty()) return;
  if (!TheEnvironment.SetWorkFolder(folder)) return;
  if (edit != nullptr) edit->SetText(folder);
}

}  // namespace

void CFrameWindowWnd::OnLookRestoreDataFolder(TNotifyUI&) { ChooseDataFolder(editrecodata); }
void CFrameWindowWnd::OnLookBackupDataFolder(TNotifyUI&) { ChooseDataFolder(editbackdata); }

void CFrameWindowWnd::OnLookBackupSystemFolder(TNotifyUI&) {
  std::wstring folder = BrowseForFolder();
  if (folder.empty()) return;
  std::wstring path = BackupImagePathIn(folder);
  if (!path.empty() && editbacksys != nullptr) editbacksys->SetText(path);
}

void CFrameWindowWnd::OnLookRestoreSystemFile(TNotifyUI&) {
  std::wstring path;
  if (BrowseForImageFile(path) && editrecosys != nullptr) editrecosys->SetText(path);
}

void CFrameWindowWnd::OnOpenDownloadFolder(TNotifyUI&) {
  if (labfilename == nullptr) return;
  std::wstring image = labfilename->GetUserData();
  if (image.empty()) return;
  OpenFolderInExplorer(FolderOfPath(image));
}

// ---- process

int RunVorlane(HINSTANCE instance) {
  if (FAILED(CoInitialize(nullptr))) return 0;
  CPaintManagerUI::SetInstance(instance);
  auto* window = new (std::nothrow) CFrameWindowWnd();
  if (window != nullptr) {
    window->Create(nullptr, L"Vorlane", 0x96C80000, WS_EX_WINDOWEDGE, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                   CW_USEDEFAULT, nullptr);
    window->CenterWindow();
    window->ShowModal();  // returns once the window is destroyed; the window object has deleted itself
  }
  CoUninitialize();
  return 0;
}
