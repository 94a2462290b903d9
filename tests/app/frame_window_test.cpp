// The main window built from the real skin package, on the test display: start-up state, page filling,
// the page options, the data-option rule, the folder choices and WM_DATA_JOB_DONE.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <deque>

#include "app/dialogs.h"
#include "app/environment.h"
#include "app/flow_rules.h"
#include "app/frame_window.h"
#include "app/window_messages.h"
#include "cloud/cloud_state.h"
#include "cloud/server_address.h"
#include "sysinfo/os_version.h"
#include "sysinfo/simulated_machine.h"

using namespace DuiLib;

namespace {

class FakeDialogs : public IDialogs {
 public:
  int ShowMessage(HWND, const std::wstring& text, const std::wstring& caption, UINT flags) override {
    messages.push_back(caption + L"|" + text);
    lastFlags = flags;
    if (!queued.empty()) {
      int next = queued.front();
      queued.erase(queued.begin());
      return next;
    }
    return answer;
  }
  std::wstring BrowseForFolder() override {
    ++folderChoosers;
    return folder;
  }
  bool BrowseForImageFile(std::wstring& path) override {
    if (file.empty()) return false;
    path = file;
    return true;
  }
  void ShellOpen(const std::wstring& verb, const std::wstring& f, const std::wstring& parameters, int show) override {
    opens.push_back(verb + L"|" + f + L"|" + parameters + L"|" + std::to_wstring(show));
  }
  void RunRestart(const std::string&) override {}
  void EndProcess(UINT code) override { ended = static_cast<int>(code); }

  int answer = IDCANCEL;
  std::vector<int> queued;  // answers given first, in order, before answer
  UINT lastFlags = 0;
  std::wstring folder, file;
  int folderChoosers = 0;
  int ended = -1;
  std::vector<std::wstring> messages, opens;
};

// A loopback server that takes connections and never answers: the catalogue thread each window starts
// keeps waiting, so the install button stays as start-up leaves it.
void PointAtSilentServer() {
  static SOCKET listener = INVALID_SOCKET;
  if (listener != INVALID_SOCKET) return;
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  listen(listener, 64);
  int size = sizeof(addr);
  getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &size);
  SetServerBaseUrl(L"http://127.0.0.1:" + std::to_wstring(ntohs(addr.sin_port)));
}

MachineDescription OneDisk() {
  MachineDescription m;
  std::wstring error;
  ParseMachineDescription(L"[disk0]\nentry = 1M, 60G, 1, 07, active\n[volume C]\ndisk = 0\noffset = 1M\n", m, error);
  return m;
}

class FrameWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PointAtSilentServer();
    SetDialogs(&dialogs);
    CPaintManagerUI::SetInstance(GetModuleHandleW(nullptr));
    window = new CFrameWindowWnd();
    ASSERT_NE(window->Create(nullptr, L"Vorlane", 0x96C80000, WS_EX_WINDOWEDGE), nullptr);
    hwnd = window->GetHWND();
  }
  void TearDown() override {
    if (IsWindow(hwnd)) DestroyWindow(hwnd);  // the window object deletes itself
    SetDialogs(nullptr);
  }
  // A click as the toolkit delivers it.
  void Click(CControlUI* c) {
    ASSERT_NE(c, nullptr);
    EXPECT_TRUE(c->Activate()) << std::string(c->GetName().begin(), c->GetName().end());
  }
  int Page() { return window->tabswitch->GetCurSel(); }

  ScopedSimulatedMachine machine{OneDisk()};
  FakeDialogs dialogs;
  CFrameWindowWnd* window = nullptr;
  HWND hwnd = nullptr;
};

}  // namespace

TEST_F(FrameWindowTest, StartsOnTheFilledMainPageWithTheInstallButtonDisabled) {
  RECT rc;
  GetWindowRect(hwnd, &rc);
  EXPECT_EQ(rc.right - rc.left, 800);
  EXPECT_EQ(rc.bottom - rc.top, 580);
  wchar_t cls[64] = {};
  GetClassNameW(hwnd, cls, 64);
  EXPECT_STREQ(cls, L"UIMiVorlane");
  EXPECT_EQ(Page(), 0);
  EXPECT_TRUE(window->optmain->IsSelected());
  EXPECT_FALSE(window->btninstall->IsEnabled());
  EXPECT_EQ(InstallButton, window->btninstall);
  EXPECT_EQ(ConnectLabel, window->labconnect);
  EXPECT_EQ(window->labsysver->GetText(), OsDisplayName(TheEnvironment.OsIndex));
  EXPECT_EQ(window->labrecomand->GetText(), RecommendedSystem(TheEnvironment.OsIndex));
  EXPECT_NE(window->labmemory->GetText().find(L" GB"), std::wstring::npos);
  EXPECT_NE(window->labfreespace->GetText().find(L"GB"), std::wstring::npos);
  EXPECT_EQ(window->labinstpan->GetText(), L"C:");
  EXPECT_EQ(window->labdownsave->GetText(), TheEnvironment.DownloadFolder);
  EXPECT_EQ(window->labconnect->GetText(), L"正在连接云引擎...");
}

TEST_F(FrameWindowTest, TopOptionsShowTheirPagesAndClearEachOther) {
  struct Step {
    COptionUI* option;
    int page;
  } steps[] = {{window->optbacksystem, 1}, {window->optrecosystem, 2}, {window->optbackdata, 3},
               {window->optrecodata, 4},   {window->optmain, 0},       {window->optmain, 0}};
  COptionUI* all[] = {window->optmain, window->optbacksystem, window->optrecosystem, window->optbackdata,
                      window->optrecodata, window->optcontact};
  for (const Step& s : steps) {
    Click(s.option);
    EXPECT_EQ(Page(), s.page);
    for (COptionUI* o : all) EXPECT_EQ(o->IsSelected(), o == s.option);
  }
  // The contact option opens the support link; the page stays, the option shows as selected.
  Click(window->optcontact);
  EXPECT_EQ(Page(), 0);
  EXPECT_TRUE(window->optcontact->IsSelected());
  EXPECT_FALSE(window->optmain->IsSelected());
  ASSERT_EQ(dialogs.opens.size(), 1u);
  EXPECT_EQ(dialogs.opens[0].compare(0, 5, L"OPEN|"), 0);
  EXPECT_EQ(dialogs.opens[0].substr(dialogs.opens[0].size() - 3), L"||5");
}

TEST_F(FrameWindowTest, SystemPagesShowThePartitionAndResetTheImagePath) {
  Click(window->optbacksystem);
  EXPECT_EQ(window->labbackpart->GetText().find(L'Z'), std::wstring::npos);
  EXPECT_NE(window->labbackpart->GetText().find(L"C："), std::wstring::npos);
  EXPECT_EQ(window->labbacksyspartformat->GetText().compare(0, 5, L"分区格式："), 0);
  EXPECT_EQ(window->labbacksyspartsize->GetText().compare(0, 5, L"分区大小："), 0);
  EXPECT_EQ(window->editbacksys->GetText(), TheEnvironment.DefaultSystemImagePath);
  dialogs.folder = L"D:\\Backup";
  Click(window->btnlookbacksys);
  EXPECT_EQ(window->editbacksys->GetText(), L"D:\\Backup\\BAKSYS.GHO");
  dialogs.folder = L"";  // cancelled: nothing changes
  Click(window->btnlookbacksys);
  EXPECT_EQ(window->editbacksys->GetText(), L"D:\\Backup\\BAKSYS.GHO");
  Click(window->optmain);
  Click(window->optbacksystem);
  EXPECT_EQ(window->editbacksys->GetText(), TheEnvironment.DefaultSystemImagePath);

  Click(window->optrecosystem);
  EXPECT_NE(window->labrecopart->GetText().find(L"C："), std::wstring::npos);
  dialogs.file = L"E:\\images\\win7.GHO";
  Click(window->btnlookrecosys);
  EXPECT_EQ(window->editrecosys->GetText(), L"E:\\images\\win7.GHO");
}

TEST_F(FrameWindowTest, DataOptionsEnableAndDisableTheStartButtons) {
  Click(window->optbackdata);
  EXPECT_FALSE(window->btnbackupdata->IsEnabled());  // nothing ticked
  Click(window->optbackupfavorite);
  EXPECT_TRUE(window->btnbackupdata->IsEnabled());
  Click(window->optbackupdesktop);
  Click(window->optbackupfavorite);
  EXPECT_TRUE(window->btnbackupdata->IsEnabled());
  Click(window->optbackupdesktop);  // the last one unticked
  EXPECT_FALSE(window->btnbackupdata->IsEnabled());

  Click(window->optrecodata);
  EXPECT_FALSE(window->btnrecoverydata->IsEnabled());
  Click(window->optrecoverydocument);
  EXPECT_TRUE(window->btnrecoverydata->IsEnabled());
  EXPECT_FALSE(window->btnbackupdata->IsEnabled());  // the other page's rule is separate
  Click(window->optrecoverydocument);
  EXPECT_FALSE(window->btnrecoverydata->IsEnabled());
}

TEST_F(FrameWindowTest, DataJobDoneEnablesItsButtonWhateverIsTicked) {
  Click(window->optbackdata);
  ASSERT_FALSE(window->btnbackupdata->IsEnabled());
  SendMessageW(hwnd, WM_DATA_JOB_DONE, kDataBackupJob, 0);
  EXPECT_TRUE(window->btnbackupdata->IsEnabled());
  window->btnrecoverydata->SetEnabled(false);
  SendMessageW(hwnd, WM_DATA_JOB_DONE, kDataRestoreJob, 0);
  EXPECT_TRUE(window->btnrecoverydata->IsEnabled());
  window->btnbackupdata->SetEnabled(false);
  SendMessageW(hwnd, WM_DATA_JOB_DONE, 7, 0);  // unknown job: nothing changes
  EXPECT_FALSE(window->btnbackupdata->IsEnabled());
}

TEST_F(FrameWindowTest, ADataFolderChoiceServesBothDataPages) {
  std::wstring before = TheEnvironment.WorkFolder();
  Click(window->optrecodata);
  EXPECT_EQ(window->editrecodata->GetText(), before);
  dialogs.folder = L"D:\\Backup";
  Click(window->btnlookrecodata);
  EXPECT_EQ(window->editrecodata->GetText(), L"D:\\Backup");
  EXPECT_EQ(TheEnvironment.WorkFolder(), L"D:\\Backup");
  Click(window->optbackdata);
  EXPECT_EQ(window->editbackdata->GetText(), L"D:\\Backup");
  dialogs.folder = L"";
  Click(window->btnlookbackdata);
  EXPECT_EQ(TheEnvironment.WorkFolder(), L"D:\\Backup");
  EXPECT_EQ(dialogs.folderChoosers, 2);
}

TEST_F(FrameWindowTest, MainPageEnablesTheFivePageOptionsAgain) {
  COptionUI* five[] = {window->optmain, window->optbacksystem, window->optrecosystem, window->optbackdata,
                       window->optrecodata};
  for (COptionUI* o : five) o->SetEnabled(false);
  window->ShowMainPage();
  for (COptionUI* o : five) EXPECT_TRUE(o->IsEnabled());
}

TEST_F(FrameWindowTest, CloseAsksAndEndsOnlyOnOk) {
  Click(window->btnclose);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0], L"提示|是否退出Vorlane？");
  EXPECT_EQ(dialogs.lastFlags, static_cast<UINT>(MB_OKCANCEL));
  EXPECT_EQ(dialogs.ended, -1);
  dialogs.answer = IDOK;
  Click(window->btnclose);
  EXPECT_EQ(dialogs.ended, 0);
}

TEST_F(FrameWindowTest, DownloadFileNameOpensItsFolder) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::wstring folder = std::wstring(temp) + L"vorlane-open-test\\Download";
  RemoveDirectoryW(folder.c_str());
  window->tabswitch->SelectItem(6);
  window->labfilename->SetUserData(L"");
  Click(window->labfilename);
  EXPECT_TRUE(dialogs.opens.empty());  // nothing downloading: nothing opens
  window->labfilename->SetUserData(folder + L"\\win7.GHO");
  Click(window->labfilename);
  ASSERT_EQ(dialogs.opens.size(), 1u);
  EXPECT_EQ(dialogs.opens[0], L"open|explorer.exe|/e, \"" + folder + L"\"|1");
  EXPECT_NE(GetFileAttributesW(folder.c_str()), INVALID_FILE_ATTRIBUTES);  // created with its parents
}

TEST_F(FrameWindowTest, TitleButtons) {
  Click(window->btnguanwang);
  ASSERT_EQ(dialogs.opens.size(), 1u);
  EXPECT_EQ(dialogs.opens[0].compare(0, 5, L"OPEN|"), 0);
  Click(window->btnmin);
  EXPECT_TRUE(IsIconic(hwnd));
}

namespace {
DWORD WINAPI StartAnimation(LPVOID gif) {
  static_cast<CGifAnimUI*>(gif)->PlayGif();
  return 0;
}
}  // namespace

// The download animation started from a worker thread (as the download monitor does) plays on the window
// thread's timer.
TEST_F(FrameWindowTest, GifAnimationStartedFromAWorkerPlays) {
  window->tabswitch->SelectItem(6);
  CGifAnimUI* gif = window->gifprocess;
  ASSERT_NE(gif, nullptr);
  HANDLE worker = CreateThread(nullptr, 0, StartAnimation, gif, 0, nullptr);
  WaitForSingleObject(worker, INFINITE);
  CloseHandle(worker);
  EXPECT_TRUE(gif->IsPlaying());
  int first = gif->GetFrame();
  DWORD start = GetTickCount();
  MSG msg;
  while (gif->GetFrame() == first && GetTickCount() - start < 3000) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    Sleep(10);
  }
  EXPECT_NE(gif->GetFrame(), first);
  gif->StopGif();
  EXPECT_FALSE(gif->IsPlaying());
  EXPECT_EQ(gif->GetFrame(), 0);
}

namespace {
LPARAM At(CControlUI* c) {
  UiRect r = c->GetPos();
  return MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
}
}  // namespace

// Mouse messages reach the control under the pointer: press and release on an option clicks it; a press
// that is released elsewhere (the capture follows the pressed control) clicks nothing.
TEST_F(FrameWindowTest, MouseMessagesAreRoutedToTheControlUnderThePointer) {
  UpdateWindow(hwnd);  // lays the tree out
  SendMessageW(hwnd, WM_MOUSEMOVE, 0, At(window->optbacksystem));
  EXPECT_TRUE(window->optbacksystem->IsHot());
  SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, At(window->optbacksystem));
  EXPECT_TRUE(window->optbacksystem->IsPushed());
  SendMessageW(hwnd, WM_LBUTTONUP, 0, At(window->optbacksystem));
  EXPECT_EQ(Page(), 1);
  EXPECT_TRUE(window->optbacksystem->IsSelected());

  SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, At(window->optrecosystem));
  SendMessageW(hwnd, WM_MOUSEMOVE, MK_LBUTTON, At(window->optbackdata));
  SendMessageW(hwnd, WM_LBUTTONUP, 0, At(window->optbackdata));
  EXPECT_EQ(Page(), 1);  // released away from the pressed option: no click
  EXPECT_FALSE(window->optrecosystem->IsSelected());
  EXPECT_FALSE(window->optbackdata->IsSelected());

  // A disabled button takes no click.
  window->optmain->SetEnabled(false);
  SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, At(window->optmain));
  SendMessageW(hwnd, WM_LBUTTONUP, 0, At(window->optmain));
  EXPECT_EQ(Page(), 1);
}

// The top 100 pixels drag the window, except where a button or option sits.
TEST_F(FrameWindowTest, CaptionAreaDragsExceptOverButtons) {
  UpdateWindow(hwnd);
  auto hitTest = [&](int x, int y) {
    POINT pt = {x, y};
    ClientToScreen(hwnd, &pt);
    return SendMessageW(hwnd, WM_NCHITTEST, 0, MAKELPARAM(pt.x, pt.y));
  };
  UiRect close = window->btnclose->GetPos();
  EXPECT_EQ(hitTest((close.left + close.right) / 2, (close.top + close.bottom) / 2), HTCLIENT);
  UiRect opt = window->optmain->GetPos();
  EXPECT_EQ(hitTest((opt.left + opt.right) / 2, (opt.top + opt.bottom) / 2), HTCLIENT);
  EXPECT_EQ(hitTest(650, 60), HTCAPTION);  // the header's background
  EXPECT_EQ(hitTest(400, 300), HTCLIENT);  // below the caption area
}

namespace {
struct LabelWorker {
  CLabelUI* label;
  volatile LONG stop;
};
DWORD WINAPI KeepSettingTexts(LPVOID p) {
  auto* w = static_cast<LabelWorker*>(p);
  for (int i = 0; !w->stop; ++i) {
    w->label->SetText(L"step " + std::to_wstring(i));
    w->label->ApplyAttributeList(L"bkimage=\"file='res\\Img_16.png' dest='2,2,23,20' source='0,0,21,18'\"");
  }
  w->label->SetText(L"last");
  return 0;
}
}  // namespace

// Workers are never joined: one still setting the status label while the window goes away must find its
// control alive.
TEST_F(FrameWindowTest, ControlsOutliveTheWindowForWorkersStillRunning) {
  LabelWorker work{ConnectLabel, 0};
  ASSERT_NE(work.label, nullptr);
  HANDLE worker = CreateThread(nullptr, 0, KeepSettingTexts, &work, 0, nullptr);
  Sleep(50);
  DestroyWindow(hwnd);
  EXPECT_FALSE(IsWindow(hwnd));
  Sleep(50);
  InterlockedExchange(&work.stop, 1);
  WaitForSingleObject(worker, INFINITE);
  CloseHandle(worker);
  EXPECT_EQ(work.label->GetText(), L"last");
  EXPECT_EQ(MainWindowHandle(), nullptr);
  InstallButton->SetEnabled(true);
  EXPECT_TRUE(InstallButton->IsEnabled());
}

// While a data job runs, neither showing its page again nor ticking a box re-enables its start button;
// the job's end does.
TEST_F(FrameWindowTest, ARunningDataJobKeepsItsStartButtonDisabled) {
  Click(window->optbackdata);
  Click(window->optbackupdocument);
  ASSERT_TRUE(window->btnbackupdata->IsEnabled());
  window->DataBackupRunning = true;  // what starting the worker does
  window->btnbackupdata->SetEnabled(false);
  Click(window->optmain);
  Click(window->optbackdata);
  EXPECT_FALSE(window->btnbackupdata->IsEnabled());
  Click(window->optbackupdesktop);
  EXPECT_FALSE(window->btnbackupdata->IsEnabled());
  SendMessageW(hwnd, WM_DATA_JOB_DONE, kDataBackupJob, 0);
  EXPECT_TRUE(window->btnbackupdata->IsEnabled());
  EXPECT_FALSE(window->DataBackupRunning);

  window->DataRestoreRunning = true;
  Click(window->optrecodata);
  Click(window->optrecoveryfavorite);
  EXPECT_FALSE(window->btnrecoverydata->IsEnabled());
  SendMessageW(hwnd, WM_DATA_JOB_DONE, kDataRestoreJob, 0);
  EXPECT_TRUE(window->btnrecoverydata->IsEnabled());
}

// Catalogue rows built from "item1.xml" stack at 95 pixels in the list page and scroll with the wheel.
TEST_F(FrameWindowTest, CatalogueRowsStackAndScroll) {
  ASSERT_NE(window->listsystem, nullptr);
  for (int i = 0; i < 7; ++i) {
    CDialogBuilder builder;
    CControlUI* row = builder.Create(L"item1.xml", nullptr, &window->PaintManager());
    ASSERT_NE(row, nullptr);
    row->SetFixedHeight(95);
    ASSERT_TRUE(window->listsystem->AddAt(row, i));
    row->FindSubControl(L"labsystemname")->SetText(L"Windows 7 旗舰版 " + std::to_wstring(i));
  }
  window->tabswitch->SelectItem(5);
  UpdateWindow(hwnd);
  UiRect list = window->listsystem->GetPos();
  UiRect inset = window->listsystem->GetInset();
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(window->listsystem->GetItemAt(i)->GetPos().top, list.top + inset.top + 95 * i) << i;
  }
  ASSERT_GT(window->listsystem->GetScrollRange(), 0);
  CControlUI* second = window->listsystem->GetItemAt(1)->FindSubControl(L"btnselectthis");
  UiRect b = second->GetPos();
  POINT screen = {(b.left + b.right) / 2, (b.top + b.bottom) / 2};
  ClientToScreen(hwnd, &screen);
  SendMessageW(hwnd, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-WHEEL_DELTA)), MAKELPARAM(screen.x, screen.y));
  UpdateWindow(hwnd);
  EXPECT_GT(window->listsystem->GetScrollPos(), 0);
  EXPECT_EQ(window->listsystem->GetItemAt(0)->GetPos().top, list.top + inset.top - window->listsystem->GetScrollPos());

  // The scroll bar: a click on the track below the thumb pages down; dragging the thumb scrolls.
  window->listsystem->SetScrollPos(0);
  int barX = list.right - inset.right - 3;
  SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(barX, list.bottom - inset.bottom - 3));
  SendMessageW(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(barX, list.bottom - inset.bottom - 3));
  EXPECT_EQ(window->listsystem->GetScrollPos(),
            std::min(window->listsystem->GetScrollRange(), list.Height() - inset.top - inset.bottom));
  window->listsystem->SetScrollPos(0);
  int thumbY = list.top + inset.top + 5;
  SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(barX, thumbY));
  SendMessageW(hwnd, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(barX, thumbY + 40));
  int dragged = window->listsystem->GetScrollPos();
  SendMessageW(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(barX, thumbY + 40));
  EXPECT_GT(dragged, 0);
  EXPECT_EQ(window->listsystem->GetScrollPos(), dragged);
  window->listsystem->RemoveAll();
  EXPECT_EQ(window->listsystem->GetCount(), 0);
}

namespace {

std::vector<CatalogueEntry> TwoEntries() {
  CatalogueEntry a, b;
  a.name = L"Windows XP";
  a.fileName = L"xp.gho";
  a.pictureNumber = 1;
  b.name = L"Windows 7";
  b.fileName = L"w7.gho";
  b.pictureNumber = 2;
  return {a, b};
}

}  // namespace

TEST_F(FrameWindowTest, InstallButtonShowsTheCatalogueOrTheConnectionMessage) {
  TheCloudState.Catalogue = TwoEntries();
  TheEnvironment.DownloadFolder = L"D:\\VRLN\\Download";  // a drive of its own
  window->btninstall->SetEnabled(true);
  CatalogueState = -1;
  Click(window->btninstall);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0], L"提示| 云引擎连接失败，请检查网络链接");
  EXPECT_EQ(dialogs.lastFlags, static_cast<UINT>(MB_OK));
  EXPECT_EQ(Page(), 0);

  CatalogueState = 1;
  Click(window->btninstall);
  EXPECT_EQ(Page(), 5);
  ASSERT_EQ(window->listsystem->GetCount(), 2);
  auto* row = dynamic_cast<CContainerUI*>(window->listsystem->GetItemAt(1));
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row->FindSubControl(L"btnselectthis")->GetUserData(), L"1");
  EXPECT_EQ(row->FindSubControl(L"labsystemname")->GetText(), L"Windows 7");
  // Shown again, the list is rebuilt, not doubled.
  Click(window->btninstall);
  EXPECT_EQ(window->listsystem->GetCount(), 2);
  EXPECT_EQ(dialogs.messages.size(), 1u);
  CatalogueState = 0;
  TheCloudState.Catalogue.clear();
}

TEST_F(FrameWindowTest, InstallButtonRefusesADownloadFolderOnTheSystemPartition) {
  TheCloudState.Catalogue = TwoEntries();
  TheEnvironment.DownloadFolder = L"C:\\VRLN\\Download";  // this machine has C: only
  window->btninstall->SetEnabled(true);
  CatalogueState = 1;
  Click(window->btninstall);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0], L"提示|需要一个系统分区以外、剩余空间足够的分区来存放系统镜像。");
  EXPECT_EQ(Page(), 0);
  EXPECT_EQ(window->listsystem->GetCount(), 0);
  CatalogueState = 0;
  TheCloudState.Catalogue.clear();
}

TEST_F(FrameWindowTest, ARowOutsideTheCatalogueStartsNothing) {
  TheCloudState.Catalogue = TwoEntries();
  TheEnvironment.DownloadFolder = L"D:\\VRLN\\Download";
  window->btninstall->SetEnabled(true);
  CatalogueState = 1;
  Click(window->btninstall);
  ASSERT_EQ(window->listsystem->GetCount(), 2);
  auto* row = dynamic_cast<CContainerUI*>(window->listsystem->GetItemAt(0));
  CControlUI* select = row->FindSubControl(L"btnselectthis");
  TheEnvironment.ImagePath = L"unchanged";
  for (const wchar_t* data : {L"2", L"4294967295", L"-1"}) {
    select->SetUserData(data);
    Click(select);
    EXPECT_EQ(Page(), 5) << data;
    EXPECT_TRUE(window->optmain->IsEnabled()) << data;
  }
  EXPECT_EQ(window->SelectedImageIndex, -1);  // the last text, read as a signed number
  EXPECT_EQ(TheEnvironment.ImagePath, L"unchanged");
  EXPECT_TRUE(dialogs.messages.empty());
  TheEnvironment.ImagePath.clear();
  CatalogueState = 0;
  TheCloudState.Catalogue.clear();
}

TEST_F(FrameWindowTest, PauseTogglesTheButtonAnimationAndFlagAbandonAsks) {
  window->tabswitch->SelectItem(6);
  window->gifprocess->PlayGif();
  Click(window->btnpause);
  EXPECT_EQ(DownloadPaused.load(), 1);
  EXPECT_EQ(window->btnpause->GetBkImage(), L"continue.png");
  EXPECT_FALSE(window->gifprocess->IsPlaying());
  Click(window->btnpause);
  EXPECT_EQ(DownloadPaused.load(), 0);
  EXPECT_EQ(window->btnpause->GetBkImage(), L"pause.png");
  EXPECT_TRUE(window->gifprocess->IsPlaying());

  dialogs.answer = IDNO;
  Click(window->btnstop);
  EXPECT_EQ(DownloadStopRequested.load(), 0);
  // Yes asks whether the partial file stays: Yes keeps it, No has the monitor delete it.
  const wchar_t* keepQuestion = L"提示|是否保留已下载的部分？\r\n保留\"是\"，下次下载该系统时从中断处继续；删除\"否\"。";
  dialogs.answer = IDYES;
  Click(window->btnstop);
  EXPECT_EQ(DownloadStopRequested.load(), 1);
  EXPECT_EQ(DownloadDiscardPartial.load(), 0);
  ASSERT_EQ(dialogs.messages.size(), 3u);
  EXPECT_EQ(dialogs.messages[1], L"提示|是否确定返回主界面重新选择操作系统?");
  EXPECT_EQ(dialogs.messages[2], keepQuestion);
  EXPECT_EQ(dialogs.lastFlags, static_cast<UINT>(MB_YESNO));
  DownloadStopRequested = 0;
  dialogs.queued = {IDYES, IDNO};
  Click(window->btnstop);
  EXPECT_EQ(DownloadStopRequested.load(), 1);
  EXPECT_EQ(DownloadDiscardPartial.load(), 1);
  ASSERT_EQ(dialogs.messages.size(), 5u);
  EXPECT_EQ(dialogs.messages[4], keepQuestion);
  DownloadStopRequested = 0;
  DownloadDiscardPartial = 0;
}

TEST_F(FrameWindowTest, DownloadOutcomesAbandonedAndFailed) {
  window->tabswitch->SelectItem(6);
  window->optmain->SetEnabled(false);
  window->optbackdata->SetEnabled(false);
  SendMessageW(hwnd, WM_DOWNLOAD_EVENT, kDownloadEnded, kDownloadFailed);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0], L"提示|下载文件出错,请检查网络链接后重启软件！");
  EXPECT_EQ(Page(), 6);
  EXPECT_FALSE(window->optmain->IsEnabled());
  SendMessageW(hwnd, WM_DOWNLOAD_EVENT, 9, kDownloadAbandoned);  // not the download's wParam
  EXPECT_EQ(Page(), 6);
  SendMessageW(hwnd, WM_DOWNLOAD_EVENT, kDownloadEnded, kDownloadAbandoned);
  EXPECT_EQ(Page(), 0);
  EXPECT_TRUE(window->optmain->IsEnabled());
  EXPECT_TRUE(window->optbackdata->IsEnabled());
  EXPECT_EQ(dialogs.messages.size(), 1u);
}

// A complete image whose name another file holds: the message says whether that file is read-only or in use;
// FAT32 gets its own message; both return to the main page.
TEST_F(FrameWindowTest, DownloadOutcomesKeptAndTooLarge) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::wstring image = std::wstring(temp) + L"vl-held-" + std::to_wstring(GetCurrentProcessId()) + L".gho";
  HANDLE file = CreateFileW(image.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  TheEnvironment.ImagePath = image;
  for (bool readOnly : {true, false}) {
    SetFileAttributesW(image.c_str(), readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
    window->tabswitch->SelectItem(6);
    window->optmain->SetEnabled(false);
    dialogs.messages.clear();
    SendMessageW(hwnd, WM_DOWNLOAD_EVENT, kDownloadEnded, kDownloadFinalNameHeld);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0], L"提示|" + FinalNameHeldMessage(image, readOnly));
    EXPECT_EQ(Page(), 0);
    EXPECT_TRUE(window->optmain->IsEnabled());
  }
  SetFileAttributesW(image.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(image.c_str());
  TheEnvironment.ImagePath.clear();

  window->tabswitch->SelectItem(6);
  dialogs.messages.clear();
  SendMessageW(hwnd, WM_DOWNLOAD_EVENT, kDownloadEnded, kDownloadTooLargeForVolume);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0], L"提示|下载目录所在分区为FAT32格式，无法保存大于4GB的文件。");
  EXPECT_EQ(Page(), 0);
}
