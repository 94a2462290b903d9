// The monitor loop against a scripted engine: polling, the fifth-poll refresh, pause, resume, both stop
// paths and the failure path, with real threads and the real 200 ms waits.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "base/simple_lock.h"
#include "cloud/cloud_state.h"
#include "cloud/download_figures.h"
#include "cloud/download_monitor.h"

namespace {

// An engine whose task completes or fails at a chosen poll; it records every call in order.
class ScriptedEngine : public MonitorEngine {
 public:
  std::atomic<int> finishAtQuery{0};  // 0: never
  int32_t finishStatus = kTaskCompleted;
  int32_t failCode = 0;          // reported with a failed status
  uintptr_t createdTask = 77;    // 0: the engine refuses the task

  uintptr_t CreateTask(const std::wstring& url, const std::wstring& fileName, const std::wstring& folder) override {
    Record(L"create " + url + L" " + fileName + L" " + folder);
    return createdTask;
  }
  // What the window does once the task is accepted, recorded in the same order.
  void Accepted() { Record(L"accepted"); }
  void StartTask(uintptr_t task) override { Record(L"start " + std::to_wstring(task)); }
  void StopTask(uintptr_t task) override { Record(L"stop " + std::to_wstring(task)); }
  void DeleteTask(uintptr_t task) override { Record(L"delete " + std::to_wstring(task)); }
  void QueryTask(uintptr_t task, TaskFigures& f) override {
    LockHolder hold(lock_);
    ++queries_;
    f.engineFileName = L"image.gho";
    f.totalBytes = 3000000000LL;
    f.downloadedBytes = 1048576LL * queries_;
    f.progress = 0.5f;
    f.speed = 1536;
    if (finishAtQuery != 0 && queries_ >= finishAtQuery) {
      f.status = finishStatus;
      if (finishStatus == kTaskFailed) f.failCode = failCode;
    }
  }
  void DeleteTempFile(const std::wstring& fileName, const std::wstring& folder) override {
    Record(L"deltemp " + fileName + L" " + folder);
  }
  void Shutdown() override { Record(L"shutdown"); }

  std::vector<std::wstring> Calls() {
    LockHolder hold(lock_);
    return calls_;
  }
  int Queries() {
    LockHolder hold(lock_);
    return queries_;
  }
  int Count(const std::wstring& call) {
    int n = 0;
    for (const auto& c : Calls()) n += c == call;
    return n;
  }

 private:
  void Record(const std::wstring& call) {
    LockHolder hold(lock_);
    calls_.push_back(call);
  }
  SimpleLock lock_;
  std::vector<std::wstring> calls_;
  int queries_ = 0;
};

class RecordingView : public MonitorView {
 public:
  void SetSizeText(const wchar_t* t) override { Record(L"size", t); }
  void SetSpeedText(const wchar_t* t) override { Record(L"speed", t); }
  void SetFileNameData(const wchar_t* t) override { Record(L"data", t); }
  void SetFileNameText(const wchar_t* t) override { Record(L"name", t); }
  void SetProgressText(const wchar_t* t) override { Record(L"progress", t); }
  void SetDownloadedText(const wchar_t* t) override { Record(L"downloaded", t); }
  std::vector<std::wstring> Writes() {
    LockHolder hold(lock_);
    return writes_;
  }
  std::wstring Last(const std::wstring& what) {
    std::wstring last;
    for (const auto& w : Writes()) {
      if (w.compare(0, what.size() + 1, what + L"=") == 0) last = w.substr(what.size() + 1);
    }
    return last;
  }

 private:
  void Record(const wchar_t* what, const wchar_t* text) {
    LockHolder hold(lock_);
    writes_.push_back(std::wstring(what) + L"=" + text);
  }
  SimpleLock lock_;
  std::vector<std::wstring> writes_;
};

struct MonitorRun {
  ScriptedEngine engine;
  RecordingView view;
  DownloadJob job{L"http://127.0.0.1/a.gho", L"a.gho", L"D:\\VRLN\\Download"};
  wchar_t text[kMonitorTextCapacity];
  int result = -1;
  HANDLE thread = nullptr;

  static DWORD WINAPI Body(LPVOID p) {
    MonitorRun* run = static_cast<MonitorRun*>(p);
    run->result = RunDownload(run->text, kMonitorTextCapacity, run->job, run->engine, run->view);
    return 0;
  }
  void Start() { thread = CreateThread(nullptr, 0, Body, this, 0, nullptr); }
  bool Wait(DWORD ms) { return WaitForSingleObject(thread, ms) == WAIT_OBJECT_0; }
  ~MonitorRun() {
    if (thread != nullptr) CloseHandle(thread);
  }
};

// Waits up to ms for a condition checked every 20 ms.
template <typename Pred>
bool WaitFor(Pred pred, DWORD ms) {
  for (DWORD waited = 0; waited < ms; waited += 20) {
    if (pred()) return true;
    Sleep(20);
  }
  return pred();
}

class DownloadMonitor : public ::testing::Test {
 protected:
  void SetUp() override {
    DownloadPaused = 0;
    DownloadStopRequested = 0;
  }
  void TearDown() override {
    DownloadPaused = 0;
    DownloadStopRequested = 0;
    DownloadDiscardPartial = 0;
  }
};

TEST_F(DownloadMonitor, CompletionWithinFourPollsShowsNoFigures) {
  MonitorRun run;
  run.engine.finishAtQuery = 4;
  run.Start();
  ASSERT_TRUE(run.Wait(5000));
  EXPECT_EQ(run.result, kDownloadFinishedOutcome);
  EXPECT_EQ(OutcomeToEventCode(run.result), 0);
  EXPECT_TRUE(run.view.Writes().empty());
  EXPECT_EQ(run.engine.Calls(),
            (std::vector<std::wstring>{L"create http://127.0.0.1/a.gho a.gho D:\\VRLN\\Download", L"start 77"}));
}

TEST_F(DownloadMonitor, FiguresAppearOnTheFifthPollInPageOrder) {
  MonitorRun run;
  run.engine.finishAtQuery = 5;
  run.Start();
  ASSERT_TRUE(run.Wait(5000));
  EXPECT_EQ(run.result, kDownloadFinishedOutcome);
  EXPECT_EQ(run.view.Writes(), (std::vector<std::wstring>{
                                   L"size=2861.02MB",
                                   L"speed=1.50KB/s",
                                   L"data=D:\\VRLN\\Download\\image.gho",
                                   L"name=<f 1><u>D:\\VRLN\\Download\\image.gho</u></f>",
                                   L"progress=50.00%",
                                   L"downloaded=5MB",
                               }));
}

TEST_F(DownloadMonitor, RefreshesEveryFifthPoll) {
  MonitorRun run;
  run.engine.finishAtQuery = 16;
  run.Start();
  ASSERT_TRUE(run.Wait(10000));
  std::vector<std::wstring> amounts;
  for (const auto& w : run.view.Writes()) {
    if (w.compare(0, 11, L"downloaded=") == 0) amounts.push_back(w.substr(11));
  }
  EXPECT_EQ(amounts, (std::vector<std::wstring>{L"5MB", L"10MB", L"15MB"}));
}

TEST_F(DownloadMonitor, FailureDeletesTaskAndTemporaryFiles) {
  MonitorRun run;
  run.engine.finishAtQuery = 2;
  run.engine.finishStatus = kTaskFailed;
  run.Start();
  ASSERT_TRUE(run.Wait(5000));
  EXPECT_EQ(run.result, kDownloadFailedOutcome);
  EXPECT_EQ(OutcomeToEventCode(run.result), 1);
  auto calls = run.engine.Calls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[2], L"delete 77");
  EXPECT_EQ(calls[3], L"deltemp image.gho D:\\VRLN\\Download");
}

TEST_F(DownloadMonitor, PauseStopsTheTaskAndResumeStartsItAgain) {
  MonitorRun run;
  run.engine.finishAtQuery = 0;
  run.Start();
  ASSERT_TRUE(WaitFor([&] { return run.engine.Queries() >= 2; }, 3000));
  DownloadPaused = 1;
  ASSERT_TRUE(WaitFor([&] { return run.view.Last(L"speed") == kPausedText; }, 2000));
  EXPECT_EQ(run.engine.Count(L"stop 77"), 1);
  int queriesWhilePaused = run.engine.Queries();
  Sleep(800);
  EXPECT_EQ(run.engine.Queries(), queriesWhilePaused);  // no polling while paused
  EXPECT_EQ(run.engine.Count(L"start 77"), 1);

  DownloadPaused = 0;
  ASSERT_TRUE(WaitFor([&] { return run.engine.Count(L"start 77") == 2; }, 2000));
  ASSERT_TRUE(WaitFor([&] { return run.engine.Queries() > queriesWhilePaused; }, 2000));
  run.engine.finishAtQuery = run.engine.Queries() + 1;
  ASSERT_TRUE(run.Wait(3000));
  EXPECT_EQ(run.result, kDownloadFinishedOutcome);
  EXPECT_EQ(DownloadPaused.load(), 0);
}

TEST_F(DownloadMonitor, StopWhilePausedClearsBothFlagsAndShutsTheEngineDown) {
  MonitorRun run;
  run.Start();
  ASSERT_TRUE(WaitFor([&] { return run.engine.Queries() >= 1; }, 3000));
  DownloadPaused = 1;
  ASSERT_TRUE(WaitFor([&] { return run.view.Last(L"speed") == kPausedText; }, 2000));
  DownloadStopRequested = 1;
  ASSERT_TRUE(run.Wait(2000));
  EXPECT_EQ(run.result, kDownloadStoppedOutcome);
  EXPECT_EQ(OutcomeToEventCode(run.result), 2);
  EXPECT_EQ(DownloadPaused.load(), 0);
  EXPECT_EQ(DownloadStopRequested.load(), 0);
  auto calls = run.engine.Calls();
  ASSERT_GE(calls.size(), 4u);
  EXPECT_EQ(std::vector<std::wstring>(calls.end() - 4, calls.end()),
            (std::vector<std::wstring>{L"stop 77", L"stop 77", L"delete 77", L"shutdown"}));
}

TEST_F(DownloadMonitor, StopWhileRunningLeavesPauseFlagAlone) {
  MonitorRun run;
  run.Start();
  ASSERT_TRUE(WaitFor([&] { return run.engine.Queries() >= 1; }, 3000));
  DownloadStopRequested = 1;
  ASSERT_TRUE(run.Wait(2000));
  EXPECT_EQ(run.result, kDownloadStoppedOutcome);
  EXPECT_EQ(DownloadStopRequested.load(), 0);
  EXPECT_EQ(DownloadPaused.load(), 0);
  auto calls = run.engine.Calls();
  EXPECT_EQ(std::vector<std::wstring>(calls.end() - 2, calls.end()),
            (std::vector<std::wstring>{L"stop 77", L"delete 77"}));
  EXPECT_EQ(run.engine.Count(L"shutdown"), 0);
}

TEST_F(DownloadMonitor, StopBeforeTheFirstPollQueriesNothing) {
  MonitorRun run;
  DownloadStopRequested = 1;
  run.Start();
  ASSERT_TRUE(run.Wait(2000));
  EXPECT_EQ(run.result, kDownloadStoppedOutcome);
  EXPECT_EQ(run.engine.Queries(), 0);
  EXPECT_EQ(DownloadStopRequested.load(), 0);
}

// The window's step on acceptance (replacing an older image) runs after the engine created the task and
// before it starts; a task the engine refuses touches nothing and ends as failed.
TEST_F(DownloadMonitor, AcceptanceComesBeforeTheStartAndRefusalTouchesNothing) {
  MonitorRun run;
  run.engine.finishAtQuery = 1;
  run.job.onAccepted = [&run] { run.engine.Accepted(); };
  run.Start();
  ASSERT_TRUE(run.Wait(5000));
  EXPECT_EQ(run.result, kDownloadFinishedOutcome);
  EXPECT_EQ(run.engine.Calls(), (std::vector<std::wstring>{L"create http://127.0.0.1/a.gho a.gho D:\\VRLN\\Download",
                                                           L"accepted", L"start 77"}));

  MonitorRun refused;
  refused.engine.createdTask = 0;
  refused.job.onAccepted = [&refused] { refused.engine.Accepted(); };
  refused.Start();
  ASSERT_TRUE(refused.Wait(5000));
  EXPECT_EQ(refused.result, kDownloadRefusedOutcome);
  EXPECT_EQ(OutcomeToEventCode(refused.result), 1);
  EXPECT_EQ(refused.engine.Calls(),
            (std::vector<std::wstring>{L"create http://127.0.0.1/a.gho a.gho D:\\VRLN\\Download"}));
}

// A failure keeps the engine's files only when the complete data lacks nothing but its final name.
TEST_F(DownloadMonitor, FailureCodesDecideWhatIsKept) {
  const struct {
    int32_t failCode;
    int outcome;
    int eventCode;
    bool tempDeleted;
  } cases[] = {
      {5, kDownloadFailedOutcome, 1, true},
      {kTaskFailFinalName, kDownloadKeptOutcome, 4, false},
      {kTaskFailTooLarge, kDownloadTooLargeOutcome, 5, true},
  };
  for (const auto& c : cases) {
    MonitorRun run;
    run.engine.finishAtQuery = 1;
    run.engine.finishStatus = kTaskFailed;
    run.engine.failCode = c.failCode;
    run.Start();
    ASSERT_TRUE(run.Wait(5000));
    EXPECT_EQ(run.result, c.outcome) << c.failCode;
    EXPECT_EQ(OutcomeToEventCode(run.result), c.eventCode) << c.failCode;
    EXPECT_EQ(run.engine.Count(L"delete 77"), 1) << c.failCode;
    EXPECT_EQ(run.engine.Count(L"deltemp image.gho D:\\VRLN\\Download"), c.tempDeleted ? 1 : 0) << c.failCode;
  }
}

// Abandoning asks whether the partial file stays: it is removed after the task only when the user said so,
// while running and while paused; the choice is used once.
TEST_F(DownloadMonitor, AbandonRemovesThePartialFileOnlyWhenAsked) {
  for (bool paused : {false, true}) {
    for (bool discard : {false, true}) {
      MonitorRun run;
      run.Start();
      ASSERT_TRUE(WaitFor([&] { return run.engine.Queries() >= 1; }, 3000));
      if (paused) {
        DownloadPaused = 1;
        ASSERT_TRUE(WaitFor([&] { return run.view.Last(L"speed") == kPausedText; }, 2000));
      }
      DownloadDiscardPartial = discard ? 1 : 0;
      DownloadStopRequested = 1;
      ASSERT_TRUE(run.Wait(2000));
      EXPECT_EQ(run.result, kDownloadStoppedOutcome);
      auto calls = run.engine.Calls();
      std::vector<std::wstring> tail = {L"stop 77", L"delete 77"};
      if (discard) tail.push_back(L"deltemp a.gho D:\\VRLN\\Download");
      if (paused) tail.push_back(L"shutdown");
      ASSERT_GE(calls.size(), tail.size());
      EXPECT_EQ(std::vector<std::wstring>(calls.end() - tail.size(), calls.end()), tail) << paused << discard;
      EXPECT_EQ(DownloadDiscardPartial.load(), 0);
      DownloadPaused = 0;
    }
  }
}

}  // namespace
