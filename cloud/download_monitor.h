// The download monitor's loop: one engine task for a catalogue entry, polled every 200 ms, the page's
// figures refreshed on every fifth poll, pause and stop obeyed. The engine and the five page controls are
// reached through the two small interfaces below, so the loop itself is plain.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// What the engine reports about a task (the fields of its task information the monitor reads).
struct TaskFigures {
  int32_t status = 2;            // 1 failed, 4 completed, anything else still running
  int32_t failCode = 0;          // why a failed task failed
  std::wstring engineFileName;   // the name the engine saves the file under
  int64_t totalBytes = 0;
  int64_t downloadedBytes = 0;
  float progress = 0.0f;         // 0.0 to 1.0
  int32_t speed = 0;             // bytes per second
};

// Engine task statuses the monitor acts on.
constexpr int32_t kTaskFailed = 1;
constexpr int32_t kTaskCompleted = 4;
// Failure codes the monitor acts on: the complete file could not take its final name (the engine keeps the
// data), and the file is too large for the folder's file system.
constexpr int32_t kTaskFailFinalName = 8;
constexpr int32_t kTaskFailTooLarge = 9;

// The engine calls the monitor makes. Each call does nothing when the engine lacks the function.
class MonitorEngine {
 public:
  virtual ~MonitorEngine() = default;
  // A task for url saved as folder\fileName; 0 when the engine refuses the task or cannot create tasks.
  virtual uintptr_t CreateTask(const std::wstring& url, const std::wstring& fileName, const std::wstring& folder) = 0;
  virtual void StartTask(uintptr_t task) = 0;
  virtual void StopTask(uintptr_t task) = 0;
  virtual void DeleteTask(uintptr_t task) = 0;
  // Updates figures from the engine; leaves them as they are when the engine cannot be asked.
  virtual void QueryTask(uintptr_t task, TaskFigures& figures) = 0;
  // Removes the engine's temporary files of fileName in folder.
  virtual void DeleteTempFile(const std::wstring& fileName, const std::wstring& folder) = 0;
  // Uninitialises the engine and unloads it (stop during a pause). No engine call may follow.
  virtual void Shutdown() = 0;
};

// The download page's five controls as the monitor writes them.
class MonitorView {
 public:
  virtual ~MonitorView() = default;
  virtual void SetSizeText(const wchar_t* text) = 0;        // "labfilesize"
  virtual void SetSpeedText(const wchar_t* text) = 0;       // "labdownspeed"
  virtual void SetFileNameData(const wchar_t* path) = 0;    // "labfilename" user data
  virtual void SetFileNameText(const wchar_t* text) = 0;    // "labfilename" text
  virtual void SetProgressText(const wchar_t* text) = 0;    // "labdownpro"
  virtual void SetDownloadedText(const wchar_t* text) = 0;  // "labdownareadydown"
};

// The task the monitor runs: the entry's address and file name, and the folder to save into.
struct DownloadJob {
  std::wstring imageUrl;
  std::wstring fileName;
  std::wstring folder;
  // Runs once the engine accepted the task, before it starts (the window replaces an older image here).
  std::function<void()> onAccepted;
};

// Outcomes of RunDownload.
constexpr int kDownloadFailedOutcome = 0;
constexpr int kDownloadFinishedOutcome = 1;
constexpr int kDownloadStoppedOutcome = 2;
constexpr int kDownloadRefusedOutcome = 3;   // the engine did not accept the task: nothing was touched
constexpr int kDownloadKeptOutcome = 4;      // complete, but the final name is held by another file: data kept
constexpr int kDownloadTooLargeOutcome = 5;  // the folder's file system cannot hold a file this large

// The text shown in the speed label while paused.
extern const wchar_t kPausedText[];  // "暂停"

// Milliseconds between two polls.
constexpr unsigned kPollIntervalMs = 200;

// Runs the task to its end: 1 downloaded, 0 failed, 2 stopped by the user, or one of the outcomes above.
// text is the monitor's buffer of cap units (kMonitorTextCapacity). Reads DownloadPaused and
// DownloadStopRequested between engine calls; the stop paths clear DownloadStopRequested (and remove the
// partial file when DownloadDiscardPartial is set, which they clear), the stop during a pause also
// DownloadPaused and shuts the engine down. A failure removes the engine's temporary files, except when the
// complete data only lacks its final name.
int RunDownload(wchar_t* text, size_t cap, const DownloadJob& job, MonitorEngine& engine, MonitorView& view);

// Refreshes the five figures from one engine report, in the page's order: size, speed, file name,
// progress, downloaded amount.
void ShowFigures(wchar_t* text, size_t cap, const TaskFigures& figures, const std::wstring& folder,
                 MonitorView& view);

// The window's outcome code (WM_DOWNLOAD_EVENT's lParam) for a RunDownload result: 1 gives 0, 0 and 3
// give 1, 2 gives 2, 4 gives 4 (data kept), 5 gives 5 (too large for the volume).
int OutcomeToEventCode(int outcome);
