// The two workers on their own threads, with a recording page and a real window receiving the completion
// message, against the user folders of the test.
#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <windows.h>

#include <mutex>
#include <vector>

#include "databackup/data_workers.h"
#include "test_folders.h"

namespace {

// The working folder handed to the jobs, as the program's window hands its own.
std::mutex g_workFolderMutex;
std::wstring g_workFolder;

std::wstring WorkFolder() {
  std::lock_guard<std::mutex> hold(g_workFolderMutex);
  return g_workFolder;
}

void SetWorkFolder(const std::wstring& folder) {
  std::lock_guard<std::mutex> hold(g_workFolderMutex);
  g_workFolder = folder;
}

// Records, in order, every option read and status text of a worker.
class RecordingPage : public DataJobPage {
 public:
  explicit RecordingPage(std::vector<std::wstring>& log, bool documents, bool favorites, bool desktop)
      : log_(log), selected_{documents, favorites, desktop} {}
  bool IsFolderSelected(UserFolder folder) override {
    Add(std::wstring(L"read ") + CopyFolderName(folder));
    return selected_[static_cast<int>(folder)];
  }
  void SetStatusText(const std::wstring& text) override { Add(text); }

 private:
  void Add(const std::wstring& entry) {
    std::lock_guard<std::mutex> hold(lock_);
    log_.push_back(entry);
  }
  std::mutex lock_;
  std::vector<std::wstring>& log_;
  bool selected_[3];
};

WPARAM g_doneKind = 0;
int g_doneCount = 0;

LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_DATA_JOB_DONE) {
    g_doneKind = wp;
    ++g_doneCount;
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

// Stands in for the main window: receives the completion message on the test's thread.
class MainWindow {
 public:
  MainWindow() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = MainWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"VorlaneDataJobTest";
    RegisterClassW(&wc);
    hwnd_ = CreateWindowW(L"VorlaneDataJobTest", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  }
  ~MainWindow() { DestroyWindow(hwnd_); }
  HWND Handle() const { return hwnd_; }

  // Runs a worker on its own thread and pumps messages until its completion message arrived.
  bool RunJob(DataJobKind kind, std::vector<std::wstring>& log, bool documents, bool favorites, bool desktop,
              std::function<std::wstring()> workFolder = &WorkFolder) {
    g_doneKind = 0;
    g_doneCount = 0;
    auto params = std::make_unique<DataJobParams>();
    params->page = std::make_unique<RecordingPage>(log, documents, favorites, desktop);
    params->mainWindow = hwnd_;
    params->workFolder = std::move(workFolder);
    if (!StartDataJob(kind, std::move(params))) return false;
    DWORD deadline = GetTickCount() + 120000;
    MSG msg;
    while (g_doneCount == 0 && GetTickCount() < deadline) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    return g_doneCount == 1 && g_doneKind == static_cast<WPARAM>(kind);
  }

 private:
  HWND hwnd_ = nullptr;
};

TEST(DataJobTexts, StatusAndFinalTexts) {
  EXPECT_EQ(DataJobStatusText(DataJobBackup, UserFolder::Documents), L"正在备份“我的文档”");
  EXPECT_EQ(DataJobStatusText(DataJobBackup, UserFolder::Favorites), L"正在备份“收藏夹”");
  EXPECT_EQ(DataJobStatusText(DataJobBackup, UserFolder::Desktop), L"正在备份“桌面”");
  EXPECT_EQ(DataJobStatusText(DataJobRestore, UserFolder::Documents), L"正在还原“我的文档”");
  EXPECT_EQ(DataJobStatusText(DataJobRestore, UserFolder::Favorites), L"正在还原“收藏夹”");
  EXPECT_EQ(DataJobStatusText(DataJobRestore, UserFolder::Desktop), L"正在还原“桌面”");
}

TEST(DataJobTexts, FinalTextNamesWhatDidNotGoPlainly) {
  auto stats = [](uint32_t failed, uint32_t kept, uint32_t links, uint32_t saved, uint32_t identical) {
    CopyStats s;
    s.copiedFiles = 7;
    s.failedFiles = failed;
    s.keptPrevious = kept;
    s.skippedLinks = links;
    s.savedFiles = saved;
    s.identicalFiles = identical;
    if (saved > 0) s.savedFolder = L"D:\\VRLN\\VorlaneBak\\还原前\\20150308-140509";
    return s;
  };
  const struct {
    DataJobKind kind;
    CopyStats stats;
    const wchar_t* text;
  } cases[] = {
      {DataJobBackup, stats(0, 0, 0, 0, 0), L"备份资料完成"},
      {DataJobRestore, stats(0, 0, 0, 0, 5), L"还原资料完成"},
      {DataJobBackup, stats(3, 0, 0, 0, 0), L"备份资料完成（3个文件未能复制）"},
      {DataJobRestore, stats(12345, 0, 0, 0, 0), L"还原资料完成（12345个文件未能复制）"},
      {DataJobBackup, stats(0, 2, 0, 0, 0), L"备份资料完成（2个文件无法读取，已保留上次备份的版本）"},
      {DataJobBackup, stats(1, 2, 3, 0, 0),
       L"备份资料完成（1个文件未能复制；2个文件无法读取，已保留上次备份的版本；3个链接未复制）"},
      {DataJobRestore, stats(0, 0, 0, 4, 1),
       L"还原资料完成（4个被替换的文件已保存到“D:\\VRLN\\VorlaneBak\\还原前\\20150308-140509”）"},
  };
  for (const auto& c : cases) EXPECT_EQ(DataJobFinalText(c.kind, c.stats), c.text);
}

// A failure nobody foresaw inside the job (here: no memory for the folder's name) ends it with a message,
// and the window still hears that it ended.
TEST(DataJobFailure, AnUnexpectedFailureEndsTheJobNotTheProgram) {
  MainWindow window;
  for (DataJobKind kind : {DataJobBackup, DataJobRestore}) {
    std::vector<std::wstring> log;
    ASSERT_TRUE(window.RunJob(kind, log, true, false, false,
                              []() -> std::wstring { throw std::bad_alloc(); }));
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), kind == DataJobBackup ? L"备份资料未能完成" : L"还原资料未能完成");
  }
}

class DataWorkers : public ::testing::Test {
 protected:
  void SetUp() override {
    SetWorkFolder(root);
    UserFolders().Empty();
    WriteTextFile(documents + L"\\doc.txt", "doc");
    WriteTextFile(favorites + L"\\site.url", "url");
    WriteTextFile(desktop + L"\\icon.lnk", "lnk");
  }

  ScratchFolder area;
  std::wstring root = area / L"VRLN";
  std::wstring documents = UserFolders().documents, favorites = UserFolders().favorites,
               desktop = UserFolders().desktop;
  MainWindow window;
};

TEST_F(DataWorkers, NoOptionSelectedEndsAtOnce) {
  std::vector<std::wstring> log;
  ASSERT_TRUE(window.RunJob(DataJobBackup, log, false, false, false));
  std::vector<std::wstring> expected = {L"read 我的文档", L"read 收藏夹", L"read 桌面", L"备份资料完成"};
  EXPECT_EQ(log, expected);
  EXPECT_FALSE(IsDir(root + L"\\VorlaneBak\\我的文档"));
  log.clear();
  ASSERT_TRUE(window.RunJob(DataJobRestore, log, false, false, false));
  EXPECT_EQ(log.back(), L"还原资料完成");
}

TEST_F(DataWorkers, BackupThenRestoreNamesEachFolderInTurn) {
  std::vector<std::wstring> log;
  ASSERT_TRUE(window.RunJob(DataJobBackup, log, true, true, true));
  std::vector<std::wstring> expected = {L"read 我的文档", L"正在备份“我的文档”", L"read 收藏夹", L"正在备份“收藏夹”",
                                        L"read 桌面",     L"正在备份“桌面”",     L"备份资料完成"};
  EXPECT_EQ(log, expected);
  EXPECT_EQ(ReadTextFile(root + L"\\VorlaneBak\\我的文档\\doc.txt"), "doc");
  EXPECT_EQ(ReadTextFile(root + L"\\VorlaneBak\\收藏夹\\site.url"), "url");
  EXPECT_EQ(ReadTextFile(root + L"\\VorlaneBak\\桌面\\icon.lnk"), "lnk");
  for (const wchar_t* section : {L"Documents", L"Favorite", L"Desktop"})
    EXPECT_NE(IniValue(root + L"\\VorlaneBak\\backups.ini", section, L"LastBack"), L"<none>");

  WriteTextFile(documents + L"\\doc.txt", "changed");
  DeleteFileW((desktop + L"\\icon.lnk").c_str());
  log.clear();
  ASSERT_TRUE(window.RunJob(DataJobRestore, log, true, false, true));
  ASSERT_EQ(log.size(), 6u);
  expected = {L"read 我的文档", L"正在还原“我的文档”", L"read 收藏夹", L"read 桌面", L"正在还原“桌面”"};
  EXPECT_EQ(std::vector<std::wstring>(log.begin(), log.begin() + 5), expected);
  EXPECT_EQ(ReadTextFile(documents + L"\\doc.txt"), "doc");
  EXPECT_EQ(ReadTextFile(desktop + L"\\icon.lnk"), "lnk");
  // The changed document was kept in the restore's dated folder, and the final text says where.
  std::wstring prefix = L"还原资料完成（1个被替换的文件已保存到“" + root + L"\\VorlaneBak\\还原前\\";
  EXPECT_EQ(log.back().substr(0, prefix.size()), prefix);
  std::wstring keep = log.back().substr(prefix.size(), 15);
  EXPECT_EQ(ReadTextFile(root + L"\\VorlaneBak\\还原前\\" + keep + L"\\我的文档\\doc.txt"), "changed");
}

TEST_F(DataWorkers, FilesThatCouldNotBeCopiedAreReported) {
  WriteTextFile(desktop + L"\\in-use.db", "locked");
  HANDLE lock = CreateFileW((desktop + L"\\in-use.db").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  std::vector<std::wstring> log;
  bool done = window.RunJob(DataJobBackup, log, false, false, true);
  CloseHandle(lock);
  ASSERT_TRUE(done);
  EXPECT_EQ(log.back(), L"备份资料完成（1个文件未能复制）");
  EXPECT_EQ(ReadTextFile(root + L"\\VorlaneBak\\桌面\\icon.lnk"), "lnk");
}

// A folder picked with "浏览" replaces WorkFolder: the backup folder, its index file and the restore source
// all move there.
TEST_F(DataWorkers, PickedFolderMovesBackupIndexAndRestoreSource) {
  std::vector<std::wstring> log;
  ASSERT_TRUE(window.RunJob(DataJobBackup, log, false, false, true));
  std::wstring picked = area / L"picked";
  MakeDirs(picked);
  SetWorkFolder(picked);
  WriteTextFile(desktop + L"\\icon.lnk", "second");
  ASSERT_TRUE(window.RunJob(DataJobBackup, log, false, false, true));
  EXPECT_EQ(ReadTextFile(picked + L"\\VorlaneBak\\桌面\\icon.lnk"), "second");
  EXPECT_NE(IniValue(picked + L"\\VorlaneBak\\backups.ini", L"Desktop", L"LastBack"), L"<none>");
  EXPECT_EQ(ReadTextFile(root + L"\\VorlaneBak\\桌面\\icon.lnk"), "lnk");

  // The restore reads from the picked folder.
  WriteTextFile(picked + L"\\VorlaneBak\\桌面\\only-in-picked.txt", "picked");
  ASSERT_TRUE(window.RunJob(DataJobRestore, log, false, false, true));
  EXPECT_EQ(ReadTextFile(desktop + L"\\only-in-picked.txt"), "picked");
}

}  // namespace
