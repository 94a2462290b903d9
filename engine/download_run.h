// One run of a download task, from XL_StartTask to its end (completed, failed or stopped): a controller
// thread that plans, saves the state and watches progress, and worker threads, one per connection, that
// fetch byte ranges and write them into the temporary file.
#pragma once
#include <windows.h>
#include <atomic>
#include <cstdint>
#include <string>
#include "base/simple_lock.h"
#include "base/unique_handle.h"
#include "engine/durable_files.h"
#include "engine/http_connection.h"
#include "engine/range_plan.h"
#include "engine/speed_meter.h"
#include "engine/state_file.h"
#include "engine/task_paths.h"

// Shared by every task of the process: the overall speed limit (bytes per second, 0 for none).
class SpeedLimiter {
 public:
  void SetRate(int64_t bytesPerSecond);
  // Waits until n bytes may be received (returns at once without a limit).
  void Acquire(int64_t n, HANDLE stopEvent);
  int64_t Rate();

 private:
  SimpleLock lock_;
  int64_t rate_ = 0;
  double tokens_ = 0;
  DWORD last_ = 0;
};

SpeedLimiter& GlobalSpeedLimiter();

// Takes a reference on this module for a thread that runs its code, and gives it back as the thread ends.
void SetEngineModule(HMODULE module);
HMODULE AcquireEngineModule();
[[noreturn]] void ExitEngineThread(HMODULE held, DWORD code);

struct RunSnapshot {
  int32_t status = 0;
  int32_t failCode = 0;
  int64_t total = 0;
  int64_t done = 0;
  int32_t speed = 0;
};

struct RunParams {
  std::wstring url;
  std::wstring folder;
  std::wstring name;
  HttpSettings http;
  int maxConnections = 8;
};

class DownloadRun {
 public:
  explicit DownloadRun(const RunParams& params);
  // Starts the controller thread. False when no thread could be started (the run is then failed).
  bool Start();
  // Asks the run to stop and waits until its state is on disk.
  void Stop();
  RunSnapshot Snapshot();

  void AddRef() { refs_.fetch_add(1); }
  void Release() {
    if (refs_.fetch_sub(1) == 1) delete this;
  }

 private:
  enum class FetchResult { kDone, kRetry, kRefused, kFatal, kStop };

  ~DownloadRun();
  static DWORD WINAPI ControllerMain(void* self);
  static DWORD WINAPI WorkerMain(void* self);
  void Control();
  bool Prepare();
  bool OpenFiles(bool resume, const DownloadState& state);
  bool CreateFolder();
  void Tick();
  void SpawnWorkers();
  bool SpawnWorker();
  void SaveState();
  bool SnapshotState(DownloadState* state, HANDLE* data, HANDLE* stateFile);
  void Finish();
  void EndRun(int32_t status);
  void Work(int id);
  FetchResult Fetch(int id, Assignment* a, char* buffer, uint32_t* delayMs);
  FetchResult OnFullAnswer(int id, Assignment* a, const HttpAnswer& answer);
  FetchResult OnPartialAnswer(int id, const Assignment& a, const HttpAnswer& answer);
  FetchResult ReadInto(int id, const Assignment& a, HINTERNET request, char* buffer, int64_t answerEnd);
  void Fail(int32_t code);
  bool Preallocate(int64_t total);
  std::wstring RangeHeaders(const Assignment& a);
  void RememberValidators(const HttpAnswer& answer);
  bool SameVersionAs(const HttpAnswer& answer, int64_t size);
  uint32_t NextRandom();

  RunParams params_;
  TaskPaths paths_;
  FileLayer& files_ = SystemFiles();
  std::wstring fileSystem_;  // of the save folder's volume, empty when unknown
  HttpTarget target_;
  std::atomic<long> refs_{1};
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> ended_{false};  // the run finished or stopped: connections end at their next read
  UniqueHandle controller_;
  UniqueHandle wake_;       // auto-reset: progress worth saving, a worker ended
  UniqueHandle stopEvent_;  // manual-reset: set when the run ends (interrupts back-off waits)
  InternetHandle session_;

  SimpleLock lock_;  // guards everything below
  RangePlan plan_;
  SpeedMeter meter_;
  int32_t status_ = 2;
  int32_t failCode_ = 0;
  bool stopped_ = false;         // no more writes
  bool validated_ = false;       // the server's answer matched what we have
  bool rangesSupported_ = true;
  bool resumed_ = false;
  std::string etag_;
  std::string lastModified_;
  UniqueHandle data_;
  UniqueHandle state_;
  uint64_t stateSequence_ = 0;
  int64_t savedBytes_ = 0;
  DWORD lastSave_ = 0;
  int active_ = 0;
  int cap_ = 0;     // connections allowed once the server's first answer is validated
  int nextWorker_ = 0;
  int failures_ = 0;
  int mismatches_ = 0;
  DWORD lastRefusal_ = 0;
  int64_t preallocated_ = -1;
  uint32_t random_ = 0;
};
