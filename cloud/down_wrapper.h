// The download engine wrapper: loads xldl.dll from the program's folder, binds its seventeen calls by name
// and owns the module. Each call is skipped when the library does not export it.
#pragma once
#include <windows.h>
#include <exception>
#include <memory>
#include <string>
#include "base/unique_handle.h"
#include "engine/xldl.h"

// The one error raised as an exception: the library could not be loaded. Text() is "can not load xldl.dll".
class EngineLoadError : public std::exception {
 public:
  const wchar_t* Text() const { return L"can not load xldl.dll"; }
  const char* what() const noexcept override { return "can not load xldl.dll"; }
};

class DownWrapper {
 public:
  using InitFn = BOOL(XLDL_CALL*)();
  using UnInitFn = BOOL(XLDL_CALL*)();
  using CreateTaskFn = HANDLE(XLDL_CALL*)(XlTaskParams*);
  using TaskFn = BOOL(XLDL_CALL*)(HANDLE);
  using QueryFn = BOOL(XLDL_CALL*)(HANDLE, XlTaskInfo*);
  using SpeedFn = BOOL(XLDL_CALL*)(INT32);
  using DelTempFn = BOOL(XLDL_CALL*)(XlTaskParams*);
  using ProxyFn = BOOL(XLDL_CALL*)(const wchar_t*, const wchar_t*);
  using UserAgentFn = BOOL(XLDL_CALL*)(const wchar_t*);
  using SizeFn = BOOL(XLDL_CALL*)(const wchar_t*, INT64*);
  using ParseUrlFn = BOOL(XLDL_CALL*)(const wchar_t*, wchar_t*, INT32);
  using AdditionFn = BOOL(XLDL_CALL*)(HANDLE, const wchar_t*);
  using FileIdFn = BOOL(XLDL_CALL*)(HANDLE, const char*, INT64);

  // Loads the library at path and binds the seventeen names; throws EngineLoadError when it cannot load.
  explicit DownWrapper(const std::wstring& libraryPath);
  virtual ~DownWrapper() = default;
  DownWrapper(const DownWrapper&) = delete;
  DownWrapper& operator=(const DownWrapper&) = delete;

  // The program's calls; each does nothing (answering 0 or FALSE) when its pointer is null.
  BOOL Init();
  BOOL UnInit();
  HANDLE CreateTask(XlTaskParams& params);
  BOOL StartTask(HANDLE task);
  BOOL StopTask(HANDLE task);
  BOOL DeleteTask(HANDLE task);
  BOOL QueryTaskInfoEx(HANDLE task, XlTaskInfo& info);
  BOOL DelTempFile(XlTaskParams& params);

  // In the order of the engine's export table.
  UniqueModule module;
  InitFn xlInit = nullptr;
  UnInitFn xlUnInit = nullptr;
  CreateTaskFn xlCreateTask = nullptr;
  TaskFn xlDeleteTask = nullptr;
  TaskFn xlStartTask = nullptr;
  TaskFn xlStopTask = nullptr;
  QueryFn xlQueryTaskInfo = nullptr;
  QueryFn xlQueryTaskInfoEx = nullptr;
  SpeedFn xlSetSpeedLimit = nullptr;
  SpeedFn xlSetUploadSpeedLimit = nullptr;
  DelTempFn xlDelTempFile = nullptr;
  ProxyFn xlSetProxy = nullptr;
  UserAgentFn xlSetUserAgent = nullptr;
  SizeFn xlGetFileSizeWithUrl = nullptr;
  ParseUrlFn xlParseThunderPrivateUrl = nullptr;
  AdditionFn xlSetAdditionInfo = nullptr;
  FileIdFn xlSetFileIdAndSize = nullptr;
};

// The library path for an executable path: the text before its last "\" (empty without one) + "\xldl.dll".
std::wstring EngineLibraryPathFor(const std::wstring& executablePath);

// Loads the library at libraryPath and initialises it: none when XL_Init is missing or answers 0.
// Throws EngineLoadError when the library cannot be loaded.
std::unique_ptr<DownWrapper> CreateDownWrapperAt(const std::wstring& libraryPath);

// The program's wrapper: xldl.dll from the folder of the running executable.
std::unique_ptr<DownWrapper> CreateDownWrapper();

// The task description for creating a task: the three strings, each copy bounded by its field (a longer
// text is cut), and the program's defaults.
XlTaskParams MakeCreateTaskParams(const std::wstring& url, const std::wstring& fileName,
                                  const std::wstring& saveFolder);
// The task description for removing a failed task's temporary files: defaults, file name and folder.
XlTaskParams MakeDelTempParams(const std::wstring& fileName, const std::wstring& saveFolder);
// The record before the first query: zeroes, status 2 (running), failure code 0, progress 0.
XlTaskInfo MakeInitialTaskInfo();
