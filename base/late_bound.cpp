#include "base/late_bound.h"

namespace {

template <typename Fn>
void Resolve(Fn& slot, HMODULE module, const char* name) {
  slot = module != nullptr ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

LateBoundCalls ResolveSystemCalls() {
  LateBoundCalls calls;
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  HMODULE shell = GetModuleHandleW(L"shell32.dll");
  Resolve(calls.isWow64Process, kernel, "IsWow64Process");
  Resolve(calls.rtlGetNtVersionNumbers, ntdll, "RtlGetNtVersionNumbers");
  Resolve(calls.getVolumePathNamesForVolumeNameW, kernel, "GetVolumePathNamesForVolumeNameW");
  Resolve(calls.getFirmwareEnvironmentVariableW, kernel, "GetFirmwareEnvironmentVariableW");
  Resolve(calls.shCreateDirectory, shell, MAKEINTRESOURCEA(165));
  Resolve(calls.freeLibraryAndExitThread, kernel, "FreeLibraryAndExitThread");
  Resolve(calls.createHardLinkW, kernel, "CreateHardLinkW");
  Resolve(calls.convertStringSecurityDescriptorToSecurityDescriptorW, LoadLibraryW(L"advapi32.dll"),
          "ConvertStringSecurityDescriptorToSecurityDescriptorW");
  Resolve(calls.wineGetVersion, ntdll, "wine_get_version");
  return calls;
}

}  // namespace

const LateBoundCalls& SystemCalls() {
  static const LateBoundCalls calls = ResolveSystemCalls();
  return calls;
}

bool RunsUnderWow64(const LateBoundCalls& calls) {
  BOOL wow64 = FALSE;
  return calls.isWow64Process != nullptr && calls.isWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

bool NtVersionNumbers(DWORD& major, DWORD& minor, DWORD& build, const LateBoundCalls& calls) {
  major = minor = build = 0;
  if (calls.rtlGetNtVersionNumbers == nullptr) return false;
  calls.rtlGetNtVersionNumbers(&major, &minor, &build);
  return true;
}

bool VolumePathNamesOf(const std::wstring& volumeGuidPath, std::vector<wchar_t>& multiSz,
                       const LateBoundCalls& calls) {
  auto fn = calls.getVolumePathNamesForVolumeNameW;
  if (fn == nullptr) return false;
  DWORD length = 261;
  multiSz.assign(length, L'\0');
  if (fn(volumeGuidPath.c_str(), multiSz.data(), length, &length)) return true;
  if (GetLastError() != ERROR_MORE_DATA) return false;
  multiSz.assign(length, L'\0');
  return fn(volumeGuidPath.c_str(), multiSz.data(), length, &length) != FALSE;
}

bool UefiFirmwareReported(const LateBoundCalls& calls) {
  if (calls.getFirmwareEnvironmentVariableW == nullptr) return false;
  SetLastError(ERROR_SUCCESS);
  calls.getFirmwareEnvironmentVariableW(L"", L"{00000000-0000-0000-0000-000000000000}", nullptr, 0);
  return GetLastError() != ERROR_INVALID_FUNCTION;
}

bool ShellCreateFolder(const std::wstring& path, const LateBoundCalls& calls) {
  if (calls.shCreateDirectory == nullptr) return false;
  calls.shCreateDirectory(nullptr, path.c_str());
  return true;
}

void FreeLibraryAndExit(HMODULE held, DWORD code, const LateBoundCalls& calls) {
  if (held != nullptr && calls.freeLibraryAndExitThread != nullptr) calls.freeLibraryAndExitThread(held, code);
  ExitThread(code);
}

bool CreateHardLinkIfAble(const std::wstring& link, const std::wstring& target, const LateBoundCalls& calls) {
  return calls.createHardLinkW != nullptr && calls.createHardLinkW(link.c_str(), target.c_str(), nullptr) != FALSE;
}

bool RunsUnderWine(const LateBoundCalls& calls) { return calls.wineGetVersion != nullptr; }
