#include "cloud/down_wrapper.h"

#include <cstring>

namespace {

template <typename Fn>
void Bind(HMODULE module, const char* name, Fn& slot) {
  slot = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Copies text into a fixed field, cut to fit and always NUL-terminated.
template <size_t N>
void CopyField(wchar_t (&field)[N], const std::wstring& text) {
  size_t count = text.size() < N ? text.size() : N - 1;
  std::memcpy(field, text.data(), count * sizeof(wchar_t));
  field[count] = L'\0';
}

}  // namespace

DownWrapper::DownWrapper(const std::wstring& libraryPath) {
  module.Reset(LoadLibraryW(libraryPath.c_str()));
  if (!module) throw EngineLoadError();
  HMODULE m = module.Get();
  Bind(m, "XL_Init", xlInit);
  Bind(m, "XL_UnInit", xlUnInit);
  Bind(m, "XL_CreateTask", xlCreateTask);
  Bind(m, "XL_DeleteTask", xlDeleteTask);
  Bind(m, "XL_StartTask", xlStartTask);
  Bind(m, "XL_StopTask", xlStopTask);
  Bind(m, "XL_QueryTaskInfo", xlQueryTaskInfo);
  Bind(m, "XL_QueryTaskInfoEx", xlQueryTaskInfoEx);
  Bind(m, "XL_SetSpeedLimit", xlSetSpeedLimit);
  Bind(m, "XL_SetUploadSpeedLimit", xlSetUploadSpeedLimit);
  Bind(m, "XL_DelTempFile", xlDelTempFile);
  Bind(m, "XL_SetProxy", xlSetProxy);
  Bind(m, "XL_SetUserAgent", xlSetUserAgent);
  Bind(m, "XL_GetFileSizeWithUrl", xlGetFileSizeWithUrl);
  Bind(m, "XL_ParseThunderPrivateUrl", xlParseThunderPrivateUrl);
  Bind(m, "XL_SetAdditionInfo", xlSetAdditionInfo);
  Bind(m, "XL_SetFileIdAndSize", xlSetFileIdAndSize);
}

BOOL DownWrapper::Init() { return xlInit ? xlInit() : FALSE; }
BOOL DownWrapper::UnInit() { return xlUnInit ? xlUnInit() : FALSE; }
HANDLE DownWrapper::CreateTask(XlTaskParams& params) { return xlCreateTask ? xlCreateTask(&params) : nullptr; }
BOOL DownWrapper::StartTask(HANDLE task) { return xlStartTask ? xlStartTask(task) : FALSE; }
BOOL DownWrapper::StopTask(HANDLE task) { return xlStopTask ? xlStopTask(task) : FALSE; }
BOOL DownWrapper::DeleteTask(HANDLE task) { return xlDeleteTask ? xlDeleteTask(task) : FALSE; }
BOOL DownWrapper::QueryTaskInfoEx(HANDLE task, XlTaskInfo& info) {
  return xlQueryTaskInfoEx ? xlQueryTaskInfoEx(task, &info) : FALSE;
}
BOOL DownWrapper::DelTempFile(XlTaskParams& params) { return xlDelTempFile ? xlDelTempFile(&params) : FALSE; }

std::wstring EngineLibraryPathFor(const std::wstring& executablePath) {
  size_t cut = executablePath.rfind(L'\\');
  std::wstring folder = cut == std::wstring::npos ? std::wstring() : executablePath.substr(0, cut);
  return folder + L"\\xldl.dll";
}

std::unique_ptr<DownWrapper> CreateDownWrapperAt(const std::wstring& libraryPath) {
  auto wrapper = std::make_unique<DownWrapper>(libraryPath);
  if (!wrapper->xlInit || wrapper->xlInit() == 0) return nullptr;
  return wrapper;
}

std::unique_ptr<DownWrapper> CreateDownWrapper() {
  wchar_t exe[260] = {};
  DWORD n = GetModuleFileNameW(nullptr, exe, 260);
  if (n >= 260) n = 259;  // a cut path still names a folder the system cannot load from: the error follows
  exe[n] = L'\0';
  return CreateDownWrapperAt(EngineLibraryPathFor(exe));
}

XlTaskParams MakeDelTempParams(const std::wstring& fileName, const std::wstring& saveFolder) {
  XlTaskParams p;
  std::memset(&p, 0, sizeof p);
  p.setting18096 = 0;
  p.setting18356 = 0;
  p.setting18360 = 5;
  p.setting18364 = 0;
  p.setting18368 = 1;
  CopyField(p.fileName, fileName);
  CopyField(p.saveFolder, saveFolder);
  return p;
}

XlTaskParams MakeCreateTaskParams(const std::wstring& url, const std::wstring& fileName,
                                  const std::wstring& saveFolder) {
  XlTaskParams p = MakeDelTempParams(fileName, saveFolder);
  CopyField(p.url, url);
  return p;
}

XlTaskInfo MakeInitialTaskInfo() {
  XlTaskInfo info;
  std::memset(&info, 0, sizeof info);
  info.status = kXlStatusRunning;
  info.failCode = 0;
  info.progress = 0.0f;
  info.flag1164 = 0;
  info.value1165 = 0.0f;
  return info;
}
