// Drives xldl.dll (beside this executable) through the download wrapper, the way the download monitor
// does, for the engine tests and the benchmark.
//
// xldl_harness [options] --task URL FOLDER NAME [--task ...]
//   --stop-at BYTES     stop (XL_StopTask, XL_DeleteTask) once the first task has this many bytes; exit 3
//   --pause-at BYTES    pause the first task there for --pause-ms (default 1000), then continue
//   --poll-ms N         polling interval (default 100)
//   --timeout S         give up after S seconds; exit 6
//   --speed-limit KIB   XL_SetSpeedLimit
//   --deltemp-on-fail   after a failure: XL_DeleteTask, then XL_DelTempFile with the engine's file name
//   --deltemp           only XL_DelTempFile for each task's name and folder
//   --size URL          only XL_GetFileSizeWithUrl
//   --progress          print a progress line each second
// Prints "elapsed_ms=E" (from the start to the end of all tasks), "task I status=S code=C total=T done=D
// name=N" per task and "memory peak_working_set=W peak_private=P". Exit: 0 all completed, 1 one failed, 3 stopped, 4 library missing, 5 no wrapper, 6 timeout,
// 7 the engine refused to create a task ("task I refused").
#include <windows.h>
#include <psapi.h>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>
#include "cloud/down_wrapper.h"

namespace {

struct TaskArgs {
  std::wstring url, folder, name;
};

struct Options {
  std::vector<TaskArgs> tasks;
  long long stopAt = -1;
  long long pauseAt = -1;
  DWORD pauseMs = 1000;
  DWORD pollMs = 100;
  DWORD timeoutS = 600;
  int speedLimit = 0;
  bool delTempOnFail = false;
  bool delTempOnly = false;
  bool progress = false;
  std::wstring sizeUrl;
};

bool ParseOptions(int argc, wchar_t** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    std::wstring a = argv[i];
    auto next = [&](std::wstring* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    std::wstring v;
    if (a == L"--task") {
      TaskArgs t;
      if (!next(&t.url) || !next(&t.folder) || !next(&t.name)) return false;
      o->tasks.push_back(t);
    } else if (a == L"--stop-at" && next(&v)) {
      o->stopAt = _wtoi64(v.c_str());
    } else if (a == L"--pause-at" && next(&v)) {
      o->pauseAt = _wtoi64(v.c_str());
    } else if (a == L"--pause-ms" && next(&v)) {
      o->pauseMs = static_cast<DWORD>(_wtoi(v.c_str()));
    } else if (a == L"--poll-ms" && next(&v)) {
      o->pollMs = static_cast<DWORD>(_wtoi(v.c_str()));
    } else if (a == L"--timeout" && next(&v)) {
      o->timeoutS = static_cast<DWORD>(_wtoi(v.c_str()));
    } else if (a == L"--speed-limit" && next(&v)) {
      o->speedLimit = _wtoi(v.c_str());
    } else if (a == L"--deltemp-on-fail") {
      o->delTempOnFail = true;
    } else if (a == L"--deltemp") {
      o->delTempOnly = true;
    } else if (a == L"--progress") {
      o->progress = true;
    } else if (a == L"--size" && next(&v)) {
      o->sizeUrl = v;
    } else {
      return false;
    }
  }
  return !o->tasks.empty() || !o->sizeUrl.empty();
}

void PrintUtf8(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n : 1, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
  fputs(out.c_str(), stdout);
}

void PrintInfo(size_t index, const XlTaskInfo& info) {
  printf("task %u status=%d code=%d total=%lld done=%lld progress=%.4f speed=%d name=", static_cast<unsigned>(index),
         info.status, info.failCode, static_cast<long long>(info.totalSize),
         static_cast<long long>(info.downloadedSize), info.progress, info.speed);
  PrintUtf8(std::wstring(info.fileName, wcsnlen(info.fileName, 520)));
  printf("\n");
  fflush(stdout);
}

void PrintMemory() {
  PROCESS_MEMORY_COUNTERS pmc = {};
  pmc.cb = sizeof pmc;
  if (GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc)) {
    printf("memory peak_working_set=%lu peak_private=%lu\n", static_cast<unsigned long>(pmc.PeakWorkingSetSize),
           static_cast<unsigned long>(pmc.PeakPagefileUsage));
  }
  fflush(stdout);
}

int Run(const Options& o) {
  std::unique_ptr<DownWrapper> wrapper;
  try {
    wrapper = CreateDownWrapper();
  } catch (const EngineLoadError& e) {
    printf("error: ");
    PrintUtf8(e.Text());
    printf("\n");
    return 4;
  }
  if (!wrapper) {
    printf("error: no wrapper\n");
    return 5;
  }
  if (!o.sizeUrl.empty()) {
    INT64 size = -1;
    BOOL ok = wrapper->xlGetFileSizeWithUrl ? wrapper->xlGetFileSizeWithUrl(o.sizeUrl.c_str(), &size) : FALSE;
    printf("size ok=%d size=%lld\n", ok ? 1 : 0, static_cast<long long>(size));
    return ok ? 0 : 1;
  }
  if (o.delTempOnly) {
    for (const TaskArgs& t : o.tasks) {
      XlTaskParams p = MakeDelTempParams(t.name, t.folder);
      printf("deltemp %d\n", wrapper->DelTempFile(p) ? 1 : 0);
    }
    return 0;
  }
  if (o.speedLimit > 0 && wrapper->xlSetSpeedLimit) wrapper->xlSetSpeedLimit(o.speedLimit);

  std::vector<HANDLE> handles;
  std::vector<XlTaskInfo> infos;
  for (const TaskArgs& t : o.tasks) {
    XlTaskParams p = MakeCreateTaskParams(t.url, t.name, t.folder);
    HANDLE h = wrapper->CreateTask(p);
    if (h == nullptr) {
      printf("task %u refused\n", static_cast<unsigned>(handles.size()));
      return 7;
    }
    wrapper->StartTask(h);
    handles.push_back(h);
    infos.push_back(MakeInitialTaskInfo());
  }
  DWORD started = GetTickCount();
  DWORD lastPrint = started;
  bool paused = false;
  for (;;) {
    Sleep(o.pollMs);
    bool allEnded = true;
    for (size_t i = 0; i < handles.size(); ++i) {
      wrapper->QueryTaskInfoEx(handles[i], infos[i]);
      if (infos[i].status != 1 && infos[i].status != 4) allEnded = false;
    }
    const XlTaskInfo& first = infos[0];
    if (o.progress && GetTickCount() - lastPrint >= 1000) {
      lastPrint = GetTickCount();
      for (size_t i = 0; i < infos.size(); ++i) PrintInfo(i, infos[i]);
    }
    if (o.pauseAt >= 0 && !paused && first.downloadedSize >= o.pauseAt && first.status == 2) {
      paused = true;
      wrapper->StopTask(handles[0]);
      printf("paused at %lld\n", static_cast<long long>(first.downloadedSize));
      Sleep(o.pauseMs);
      wrapper->StartTask(handles[0]);
    }
    if (o.stopAt >= 0 && first.downloadedSize >= o.stopAt && first.status == 2) {
      wrapper->StopTask(handles[0]);
      wrapper->QueryTaskInfoEx(handles[0], infos[0]);
      wrapper->DeleteTask(handles[0]);
      PrintInfo(0, infos[0]);
      PrintMemory();
      return 3;
    }
    if (allEnded) break;
    if (GetTickCount() - started > o.timeoutS * 1000) {
      for (size_t i = 0; i < infos.size(); ++i) PrintInfo(i, infos[i]);
      printf("timeout\n");
      return 6;
    }
  }
  printf("elapsed_ms=%lu\n", static_cast<unsigned long>(GetTickCount() - started));
  int exitCode = 0;
  for (size_t i = 0; i < handles.size(); ++i) {
    PrintInfo(i, infos[i]);
    if (infos[i].status == 1) {
      exitCode = 1;
      if (o.delTempOnFail) {
        wrapper->DeleteTask(handles[i]);
        XlTaskParams p = MakeDelTempParams(std::wstring(infos[i].fileName, wcsnlen(infos[i].fileName, 520)),
                                           o.tasks[i].folder);
        wrapper->DelTempFile(p);
      }
    }
  }
  PrintMemory();
  return exitCode;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options o;
  if (!ParseOptions(argc, argv, &o)) {
    fprintf(stderr, "usage: xldl_harness [options] --task URL FOLDER NAME [--task ...] | --size URL\n");
    return 2;
  }
  int code = Run(o);
  fflush(stdout);
  // Worker threads of stopped tasks may still wait on the network: end the process without waiting.
  ExitProcess(static_cast<UINT>(code));
}
