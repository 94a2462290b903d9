// Windows calls that not every supported system has (Windows 2000 lacks most of them), looked up once at
// run time, and for each the answer the program takes where the call is missing.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

// The entry points; an entry is null where the system does not export the call.
struct LateBoundCalls {
  BOOL(WINAPI* isWow64Process)(HANDLE, PBOOL) = nullptr;                                   // XP SP2 on
  void(WINAPI* rtlGetNtVersionNumbers)(DWORD*, DWORD*, DWORD*) = nullptr;                  // ntdll, XP on
  BOOL(WINAPI* getVolumePathNamesForVolumeNameW)(LPCWSTR, LPWCH, DWORD, PDWORD) = nullptr;  // XP on
  DWORD(WINAPI* getFirmwareEnvironmentVariableW)(LPCWSTR, LPCWSTR, PVOID, DWORD) = nullptr; // XP on
  int(WINAPI* shCreateDirectory)(HWND, LPCWSTR) = nullptr;  // shell32, exported by ordinal 165 only
  void(WINAPI* freeLibraryAndExitThread)(HMODULE, DWORD) = nullptr;
  BOOL(WINAPI* createHardLinkW)(LPCWSTR, LPCWSTR, LPSECURITY_ATTRIBUTES) = nullptr;
  BOOL(WINAPI* convertStringSecurityDescriptorToSecurityDescriptorW)(LPCWSTR, DWORD, PSECURITY_DESCRIPTOR*,
                                                                     PULONG) = nullptr;  // advapi32, 2000 on
  const char*(CDECL* wineGetVersion)() = nullptr;           // ntdll under Wine only
};

// This system's table, resolved at the first call. shell32 is looked up only when the process has loaded
// it (everything that creates folders imports it).
const LateBoundCalls& SystemCalls();

// True when this 32-bit process runs on a 64-bit system; false without the call.
bool RunsUnderWow64(const LateBoundCalls& calls = SystemCalls());
// The true version numbers (not those GetVersionEx reports to a program without a manifest); false
// without the call.
bool NtVersionNumbers(DWORD& major, DWORD& minor, DWORD& build, const LateBoundCalls& calls = SystemCalls());
// The mount paths of a volume as a list of NUL-ended texts; false without the call or when it fails.
bool VolumePathNamesOf(const std::wstring& volumeGuidPath, std::vector<wchar_t>& multiSz,
                       const LateBoundCalls& calls = SystemCalls());
// True when the firmware is UEFI (a firmware variable query is anything but "invalid function"); false
// without the call: such systems start only from a BIOS.
bool UefiFirmwareReported(const LateBoundCalls& calls = SystemCalls());
// Creates a folder with its parents through the shell; false without the call (nothing done).
bool ShellCreateFolder(const std::wstring& path, const LateBoundCalls& calls = SystemCalls());
// Ends the calling thread with code, giving back one reference to held in the same step; without the call
// (or without a module) the thread ends keeping the reference.
[[noreturn]] void FreeLibraryAndExit(HMODULE held, DWORD code, const LateBoundCalls& calls = SystemCalls());
// Makes link a second name of the existing file target; false without the call (nothing done) or when it
// fails (another volume, a file system without links).
bool CreateHardLinkIfAble(const std::wstring& link, const std::wstring& target,
                          const LateBoundCalls& calls = SystemCalls());
// True under Wine.
bool RunsUnderWine(const LateBoundCalls& calls = SystemCalls());
