// The seventeen calls of xldl.dll: a registry of tasks, each with at most one run at a time.
#include <windows.h>
#include <cstring>
#include <string>
#include <vector>
#include "base/simple_lock.h"
#include "engine/download_run.h"
#include "engine/http_connection.h"
#include "engine/http_rules.h"
#include "engine/xldl.h"

namespace {

// Reads a NUL-terminated string that must end within its field; empty when it does not.
template <size_t N>
std::wstring FieldText(const wchar_t (&field)[N]) {
  size_t n = wcsnlen(field, N);
  return n == N ? std::wstring() : std::wstring(field, n);
}

template <size_t N>
void CopyField(wchar_t (&field)[N], const std::wstring& text) {
  size_t n = text.size() < N ? text.size() : N - 1;
  std::memcpy(field, text.data(), n * sizeof(wchar_t));
  field[n] = L'\0';
}

struct Task {
  std::wstring url;
  std::wstring folder;
  std::wstring name;
  DownloadRun* run = nullptr;  // the current or last run (one reference held)
  bool everStarted = false;
};

struct Engine {
  SimpleLock lock;
  int initCount = 0;
  std::vector<Task*> tasks;
  HttpSettings http;
};

Engine& TheEngine() {
  static Engine engine;
  return engine;
}

// The task behind a handle, or null when the handle is not a live task. Called with the engine lock held.
Task* FindTask(HANDLE handle) {
  for (Task* t : TheEngine().tasks) {
    if (t == handle) return t;
  }
  return nullptr;
}

// A run to stop outside the engine lock (stopping waits for the run's controller).
DownloadRun* TakeRunToStop(Task* task) {
  if (!task->run) return nullptr;
  task->run->AddRef();
  return task->run;
}

void StopRun(DownloadRun* run) {
  if (!run) return;
  run->Stop();
  run->Release();
}

}  // namespace

extern "C" {

BOOL XLDL_CALL XL_Init(void) {
  Engine& e = TheEngine();
  LockHolder hold(e.lock);
  if (e.initCount == 0) {
    // Several connections to one server: WinINet's default allows only two per process.
    DWORD conns = 32;
    InternetSetOptionW(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &conns, sizeof conns);
    InternetSetOptionW(nullptr, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER, &conns, sizeof conns);
  }
  ++e.initCount;
  return TRUE;
}

BOOL XLDL_CALL XL_UnInit(void) {
  Engine& e = TheEngine();
  std::vector<Task*> ending;
  {
    LockHolder hold(e.lock);
    if (e.initCount == 0) return FALSE;
    if (--e.initCount > 0) return TRUE;
    ending.swap(e.tasks);
  }
  for (Task* t : ending) {
    if (t->run) {
      t->run->Stop();
      t->run->Release();
    }
    delete t;
  }
  return TRUE;
}

HANDLE XLDL_CALL XL_CreateTask(XlTaskParams* params) {
  if (!params) return nullptr;
  auto* task = new Task;
  task->url = FieldText(params->url);
  task->name = FieldText(params->fileName);
  task->folder = FieldText(params->saveFolder);
  // Only a task that can run is accepted: the caller may act on the acceptance (replace an older file).
  TaskPaths paths;
  HttpTarget target;
  if (!MakeTaskPaths(task->folder, task->name, &paths) || !ParseHttpUrl(task->url, &target)) {
    delete task;
    return nullptr;
  }
  Engine& e = TheEngine();
  LockHolder hold(e.lock);
  if (e.initCount == 0) {
    delete task;
    return nullptr;
  }
  e.tasks.push_back(task);
  return task;
}

BOOL XLDL_CALL XL_StartTask(HANDLE handle) {
  Engine& e = TheEngine();
  DownloadRun* previous = nullptr;
  DownloadRun* run = nullptr;
  {
    LockHolder hold(e.lock);
    Task* task = FindTask(handle);
    if (!task) return FALSE;
    if (task->run) {
      int32_t status = task->run->Snapshot().status;
      if (status == kXlStatusRunning || status == kXlStatusCompleted) return TRUE;
      previous = task->run;
    }
    RunParams params;
    params.url = task->url;
    params.folder = task->folder;
    params.name = task->name;
    params.http = e.http;
    run = new DownloadRun(params);
    task->run = run;
    task->everStarted = true;
    run->AddRef();  // held while starting, outside the lock
  }
  if (previous) previous->Release();
  BOOL ok = run->Start() ? TRUE : FALSE;
  run->Release();
  return ok;
}

BOOL XLDL_CALL XL_StopTask(HANDLE handle) {
  Engine& e = TheEngine();
  DownloadRun* run;
  {
    LockHolder hold(e.lock);
    Task* task = FindTask(handle);
    if (!task) return FALSE;
    run = TakeRunToStop(task);
  }
  StopRun(run);
  return TRUE;
}

BOOL XLDL_CALL XL_DeleteTask(HANDLE handle) {
  Engine& e = TheEngine();
  Task* task = nullptr;
  {
    LockHolder hold(e.lock);
    task = FindTask(handle);
    if (!task) return FALSE;
    for (size_t i = 0; i < e.tasks.size(); ++i) {
      if (e.tasks[i] == task) {
        e.tasks.erase(e.tasks.begin() + static_cast<long>(i));
        break;
      }
    }
  }
  if (task->run) {
    task->run->Stop();
    task->run->Release();
  }
  delete task;
  return TRUE;
}

BOOL XLDL_CALL XL_QueryTaskInfoEx(HANDLE handle, XlTaskInfo* info) {
  if (!info) return FALSE;
  Engine& e = TheEngine();
  DownloadRun* run = nullptr;
  std::wstring name;
  {
    LockHolder hold(e.lock);
    Task* task = FindTask(handle);
    if (!task) return FALSE;
    name = task->name;
    run = task->run;
    if (run) run->AddRef();
  }
  RunSnapshot s;
  if (run) {
    s = run->Snapshot();
    run->Release();
  } else {
    s.status = kXlStatusCreated;
  }
  info->status = s.status;
  info->failCode = s.status == kXlStatusFailed ? s.failCode : 0;
  CopyField(info->fileName, name);
  info->totalSize = s.total;
  info->downloadedSize = s.done;
  info->progress = s.total > 0 ? static_cast<float>(static_cast<double>(s.done) / static_cast<double>(s.total))
                               : (s.status == kXlStatusCompleted ? 1.0f : 0.0f);
  info->speed = s.speed;
  return TRUE;
}

BOOL XLDL_CALL XL_QueryTaskInfo(HANDLE handle, XlTaskInfo* info) { return XL_QueryTaskInfoEx(handle, info); }

BOOL XLDL_CALL XL_SetSpeedLimit(INT32 kibPerSecond) {
  GlobalSpeedLimiter().SetRate(kibPerSecond > 0 ? static_cast<int64_t>(kibPerSecond) * 1024 : 0);
  return TRUE;
}

BOOL XLDL_CALL XL_SetUploadSpeedLimit(INT32) { return FALSE; }

BOOL XLDL_CALL XL_DelTempFile(XlTaskParams* params) {
  if (!params) return FALSE;
  TaskPaths paths;
  if (!MakeTaskPaths(FieldText(params->saveFolder), FieldText(params->fileName), &paths)) return FALSE;
  DeleteFileW(paths.temp.c_str());
  DeleteFileW(paths.state.c_str());
  return GetFileAttributesW(paths.temp.c_str()) == INVALID_FILE_ATTRIBUTES &&
         GetFileAttributesW(paths.state.c_str()) == INVALID_FILE_ATTRIBUTES;
}

BOOL XLDL_CALL XL_SetProxy(const wchar_t* proxy, const wchar_t* bypass) {
  Engine& e = TheEngine();
  LockHolder hold(e.lock);
  e.http.proxy = proxy ? std::wstring(proxy, wcsnlen(proxy, 1024)) : std::wstring();
  e.http.bypass = bypass ? std::wstring(bypass, wcsnlen(bypass, 4096)) : std::wstring();
  return TRUE;
}

BOOL XLDL_CALL XL_SetUserAgent(const wchar_t* userAgent) {
  Engine& e = TheEngine();
  LockHolder hold(e.lock);
  e.http.userAgent = userAgent ? std::wstring(userAgent, wcsnlen(userAgent, 1024)) : std::wstring();
  return TRUE;
}

BOOL XLDL_CALL XL_GetFileSizeWithUrl(const wchar_t* url, INT64* size) {
  if (!url || !size) return FALSE;
  HttpSettings settings;
  {
    Engine& e = TheEngine();
    LockHolder hold(e.lock);
    settings = e.http;
  }
  HttpTarget target;
  if (!ParseHttpUrl(std::wstring(url, wcsnlen(url, 8264)), &target)) return FALSE;
  InternetHandle session(OpenHttpSession(settings));
  if (!session) return FALSE;
  InternetHandle connection, request;
  HttpAnswer answer;
  if (SendGet(session.Get(), target, L"Range: bytes=0-0\r\n", &connection, &request, &answer) != ERROR_SUCCESS) {
    return FALSE;
  }
  ContentRange range;
  int64_t length = 0;
  if (answer.status == 206 && ParseContentRange(answer.contentRange, &range) && range.total >= 0) {
    *size = range.total;
    return TRUE;
  }
  if (answer.status == 200 && ParseDecimal64(answer.contentLength, &length)) {
    *size = length;
    return TRUE;
  }
  return FALSE;
}

BOOL XLDL_CALL XL_ParseThunderPrivateUrl(const wchar_t*, wchar_t* out, INT32 capacity) {
  if (out && capacity > 0) out[0] = L'\0';
  return FALSE;
}

BOOL XLDL_CALL XL_SetAdditionInfo(HANDLE, const wchar_t*) { return FALSE; }

BOOL XLDL_CALL XL_SetFileIdAndSize(HANDLE, const char*, INT64) { return FALSE; }

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    SetEngineModule(instance);
  }
  return TRUE;
}
