// The main window built from the real skin package, on the test display: start-up state, page filling,
// the page options, the data-option rule, the folder choices and WM_DATA_JOB_DONE.
#include <gtest/gtest.h>

#include <windows.h>

#include <deque>

#include "app/dialogs.h"
#include "app/environment.h"
#include "app/frame_window.h"
#include "app/window_messages.h"
#include "sysinfo/os_version.h"
#include "sysinfo/simulated_machine.h"

using namespace DuiLib;

namespace {

class FakeDialogs : public IDialogs {
 public:
  int ShowMessage(HWND, const std::wstring& text, const std::wstring& caption, UINT flags) override {
    messages.push_back(caption + L"|" + text);
    lastFlags = flags;
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
  UINT lastFlags = 0;
  std::wstring folder, file;
  int folderChoosers = 0;
  int ended = -1;
  std::vector<std::wstring> messages, opens;
};

MachineDescription OneDisk() {
  MachineDescription m;
  std::wstring error;
  ParseMachineDescription(L"[disk0]\nentry = 1M, 60G, 1, 07, active\n[volume C]\ndisk = 0\noffset = 1M\n", m, error);
  return m;
}

class FrameWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
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
