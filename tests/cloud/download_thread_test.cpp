// The download monitor thread with our engine (xldl.dll beside this executable) against the reference
// server: the outcome message, the page's live figures, pause, resume, both stops and a failed download.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "cloud/cloud_state.h"
#include "cloud/down_wrapper.h"
#include "cloud/download_monitor.h"
#include "cloud/download_thread.h"
#include "test_server.h"
#include "ui/controls.h"

namespace {

// A hidden window of the test thread that records WM_DOWNLOAD_EVENT.
class EventWindow {
 public:
  EventWindow() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"VorlaneDownloadEventTest";
    RegisterClassW(&wc);
    hwnd = CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    events().clear();
  }
  ~EventWindow() { DestroyWindow(hwnd); }
  // Pumps messages until an event arrived or ms passed; answers its lParam, or -1.
  int WaitForEvent(DWORD ms) {
    DWORD start = GetTickCount();
    while (events().empty() && GetTickCount() - start < ms) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    return events().empty() ? -1 : static_cast<int>(events().front());
  }
  // Pumps messages for ms (so that the monitor's sends never wait on us).
  void Pump(DWORD ms) { WaitForEventOrTime(ms); }
  static std::vector<LPARAM>& events() {
    static std::vector<LPARAM> e;
    return e;
  }
  HWND hwnd = nullptr;

 private:
  void WaitForEventOrTime(DWORD ms) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
  }
  static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == kDownloadEventMessage && w == kDownloadEventWParam) {
      events().push_back(l);
      return 0;
    }
    return DefWindowProcW(h, m, w, l);
  }
};

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class DownloadThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = test_server::BaseUrl();
    if (base_.empty()) GTEST_SKIP() << "VORLANE_TEST_SERVER is not set";
    ASSERT_TRUE(test_server::Reset());
    folder_ = test_server::MakeTempFolder(L"vl-download-");
    ASSERT_FALSE(folder_.empty());
    DownloadPaused = 0;
    DownloadStopRequested = 0;
    for (DuiLib::CControlUI* c : {static_cast<DuiLib::CControlUI*>(&progress_), static_cast<DuiLib::CControlUI*>(&size_),
                                  static_cast<DuiLib::CControlUI*>(&speed_), static_cast<DuiLib::CControlUI*>(&amount_),
                                  static_cast<DuiLib::CControlUI*>(&fileName_)}) {
      c->SetText(L"-");
    }
  }
  void TearDown() override {
    DownloadPaused = 0;
    DownloadStopRequested = 0;
  }
  // Serves a virtual image of size bytes and makes it catalogue entry 0.
  void OfferImage(long long size) {
    ASSERT_NE(test_server::Get("/_control/virtual?path=/images/a.gho&size=" + std::to_string(size)), "\x01");
    CatalogueEntry entry;
    entry.name = L"A";
    entry.imageUrl = base_ + L"/images/a.gho";
    entry.fileName = L"a.gho";
    TheCloudState.Catalogue.assign(1, entry);
  }
  DownloadThreadParam* NewParam(int index = 0) {
    auto* p = new DownloadThreadParam;
    p->progressLabel = &progress_;
    p->sizeLabel = &size_;
    p->speedLabel = &speed_;
    p->downloadedLabel = &amount_;
    p->fileNameButton = &fileName_;
    p->downloadFolder = folder_;
    p->window = events_.hwnd;
    p->entryIndex = index;
    return p;
  }
  void StartThread(int index = 0) {
    HANDLE t = CreateThread(nullptr, 0, DownloadThread, NewParam(index), 0, nullptr);
    ASSERT_NE(t, nullptr);
    CloseHandle(t);
  }
  template <typename Pred>
  bool PumpUntil(Pred pred, DWORD ms) {
    for (DWORD waited = 0; waited < ms; waited += 50) {
      if (pred()) return true;
      events_.Pump(50);
    }
    return pred();
  }
  std::wstring base_, folder_;
  EventWindow events_;
  DuiLib::CLabelUI progress_, size_, speed_, amount_;
  DuiLib::CButtonUI fileName_;
};

TEST_F(DownloadThreadTest, NoEngineOrNoEntryEndsAsFailed) {
  TheCloudState.Catalogue.assign(1, CatalogueEntry());
  DownloadThreadParam job = *std::unique_ptr<DownloadThreadParam>(NewParam());
  job.window = nullptr;
  EXPECT_EQ(RunDownloadJob(job, [] { return CreateDownWrapperAt(L"C:\\no\\such\\folder\\xldl.dll"); }), 1);
  EXPECT_EQ(RunDownloadJob(job, [] { return std::unique_ptr<DownWrapper>(); }), 1);
  job.entryIndex = 5;
  EXPECT_EQ(RunDownloadJob(job, [] { return CreateDownWrapper(); }), 1);
  job.entryIndex = -1;
  EXPECT_EQ(RunDownloadJob(job, [] { return CreateDownWrapper(); }), 1);
}

TEST_F(DownloadThreadTest, NoEngineSendsTheFailedOutcome) {
  TheCloudState.Catalogue.assign(1, CatalogueEntry());
  HANDLE t = CreateThread(nullptr, 0, DownloadThread, NewParam(3), 0, nullptr);
  CloseHandle(t);
  EXPECT_EQ(events_.WaitForEvent(10000), 1);
}

TEST_F(DownloadThreadTest, SmallImageCompletes) {
  OfferImage(2 * 1048576 + 123);
  StartThread();
  EXPECT_EQ(events_.WaitForEvent(60000), 0);
  EXPECT_EQ(test_server::ReadFileBytes(folder_ + L"\\a.gho").size(), 2u * 1048576 + 123);
}

TEST_F(DownloadThreadTest, LiveFiguresPauseResumeAndStop) {
  OfferImage(64LL * 1048576);
  ASSERT_TRUE(test_server::AddFault("path=/images/*&rate=262144"));  // slow enough to pause and stop
  StartThread();
  ASSERT_TRUE(PumpUntil([&] { return size_.GetText() == L"64.00MB"; }, 20000)) << size_.GetText();
  EXPECT_EQ(fileName_.GetUserData(), folder_ + L"\\a.gho");
  EXPECT_EQ(fileName_.GetText(), L"<f 1><u>" + folder_ + L"\\a.gho</u></f>");
  EXPECT_EQ(progress_.GetText().back(), L'%');
  ASSERT_TRUE(PumpUntil([&] { return amount_.GetText() != L"0MB" && amount_.GetText() != L"-"; }, 10000));
  std::wstring speed = speed_.GetText();
  EXPECT_EQ(speed.substr(speed.size() - 2), L"/s") << speed;

  DownloadPaused = 1;
  ASSERT_TRUE(PumpUntil([&] { return speed_.GetText() == kPausedText; }, 2000));
  std::wstring amountWhilePaused = amount_.GetText();
  events_.Pump(1500);
  EXPECT_EQ(amount_.GetText(), amountWhilePaused);  // nothing is refreshed while paused

  DownloadPaused = 0;
  ASSERT_TRUE(PumpUntil([&] { return speed_.GetText() != kPausedText; }, 3000));
  ASSERT_TRUE(PumpUntil([&] { return amount_.GetText() != amountWhilePaused; }, 10000));

  DownloadStopRequested = 1;
  EXPECT_EQ(events_.WaitForEvent(5000), 2);
  EXPECT_EQ(DownloadStopRequested.load(), 0);
  EXPECT_EQ(DownloadPaused.load(), 0);
  EXPECT_FALSE(Exists(folder_ + L"\\a.gho"));
}

TEST_F(DownloadThreadTest, StopWhilePausedClearsBothFlags) {
  OfferImage(64LL * 1048576);
  ASSERT_TRUE(test_server::AddFault("path=/images/*&rate=262144"));  // slow enough to pause and stop
  StartThread();
  ASSERT_TRUE(PumpUntil([&] { return size_.GetText() == L"64.00MB"; }, 20000));
  DownloadPaused = 1;
  ASSERT_TRUE(PumpUntil([&] { return speed_.GetText() == kPausedText; }, 2000));
  DownloadStopRequested = 1;
  EXPECT_EQ(events_.WaitForEvent(5000), 2);
  EXPECT_EQ(DownloadStopRequested.load(), 0);
  EXPECT_EQ(DownloadPaused.load(), 0);
}

std::vector<std::wstring> FilesLike(const std::wstring& pattern) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE h = FindFirstFileW(pattern.c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    names.push_back(found.cFileName);
  } while (FindNextFileW(h, &found));
  FindClose(h);
  return names;
}

TEST_F(DownloadThreadTest, FailedDownloadRemovesTemporaryFiles) {
  OfferImage(16LL * 1048576);
  // Every connection breaks off after 1.5 MB; once part of the image is on disk it is gone from the server.
  ASSERT_TRUE(test_server::AddFault("path=/images/a.gho&rate=1048576&drop_after=1500000"));
  StartThread();
  ASSERT_TRUE(PumpUntil([&] { return FilesLike(folder_ + L"\\a.gho.*").size() >= 1; }, 20000));
  events_.Pump(1000);
  ASSERT_TRUE(test_server::AddFault("path=/images/a.gho&status=404"));
  EXPECT_EQ(events_.WaitForEvent(90000), 1);
  EXPECT_EQ(FilesLike(folder_ + L"\\a.gho*"), std::vector<std::wstring>());
}

int64_t SizeOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// A read-only file holds the image's name: the complete download is kept under the engine's temporary
// name (lParam 4). Once the user agrees to overwrite, the window removes the old file after the engine
// accepted the task, and the kept data completes.
TEST_F(DownloadThreadTest, ReadOnlyImageOfTheSameNameKeepsTheDownload) {
  OfferImage(3LL * 1048576);
  std::wstring image = folder_ + L"\\a.gho";
  HANDLE old = CreateFileW(image.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(old, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(old, "old", 3, &written, nullptr);
  CloseHandle(old);
  SetFileAttributesW(image.c_str(), FILE_ATTRIBUTE_READONLY);
  StartThread();
  EXPECT_EQ(events_.WaitForEvent(60000), 4);
  EXPECT_EQ(SizeOf(image), 3);
  EXPECT_EQ(SizeOf(image + L".vltmp"), 3LL * 1048576);

  EventWindow::events().clear();
  DownloadThreadParam* again = NewParam();
  again->onAccepted = [image] {
    SetFileAttributesW(image.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(image.c_str());
  };
  HANDLE t = CreateThread(nullptr, 0, DownloadThread, again, 0, nullptr);
  ASSERT_NE(t, nullptr);
  CloseHandle(t);
  EXPECT_EQ(events_.WaitForEvent(60000), 0);
  EXPECT_EQ(SizeOf(image), 3LL * 1048576);
  EXPECT_EQ(FilesLike(folder_ + L"\\a.gho*"), std::vector<std::wstring>{L"a.gho"});
}

// Names the shared rule refuses never reach a download, and the step on acceptance never runs.
TEST_F(DownloadThreadTest, UnusableNamesAreRefusedBeforeAnythingIsTouched) {
  for (const wchar_t* name : {L"x.gho.", L"CON.gho"}) {
    OfferImage(1048576);
    TheCloudState.Catalogue[0].fileName = name;
    EventWindow::events().clear();
    bool accepted = false;
    DownloadThreadParam* p = NewParam();
    p->onAccepted = [&accepted] { accepted = true; };
    HANDLE t = CreateThread(nullptr, 0, DownloadThread, p, 0, nullptr);
    ASSERT_NE(t, nullptr);
    CloseHandle(t);
    EXPECT_EQ(events_.WaitForEvent(20000), 1) << name;
    EXPECT_FALSE(accepted) << name;
    EXPECT_EQ(FilesLike(folder_ + L"\\*.*").size(), 2u) << name;  // "." and ".."
  }
}

// Abandoning keeps the partial file for a later resume unless the user chose to delete it.
TEST_F(DownloadThreadTest, AbandonKeepsOrRemovesThePartialFile) {
  for (bool discard : {false, true}) {
    OfferImage(64LL * 1048576);
    ASSERT_TRUE(test_server::AddFault("path=/images/*&rate=1048576"));
    EventWindow::events().clear();
    StartThread();
    ASSERT_TRUE(PumpUntil([&] { return size_.GetText() == L"64.00MB"; }, 20000));
    DownloadDiscardPartial = discard ? 1 : 0;
    DownloadStopRequested = 1;
    EXPECT_EQ(events_.WaitForEvent(10000), 2);
    std::vector<std::wstring> expected;
    if (!discard) expected = {L"a.gho.vlstate", L"a.gho.vltmp"};
    std::vector<std::wstring> found = FilesLike(folder_ + L"\\a.gho*");
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, expected) << discard;
    EXPECT_EQ(DownloadDiscardPartial.load(), 0);
  }
}

}  // namespace
