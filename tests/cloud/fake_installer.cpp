// Stands in for the update installer: records that it ran, with its working folder, in the file named by
// the environment variable VORLANE_TEST_RAN_FILE (or "ran.txt" in the working folder).
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t folder[MAX_PATH] = {0};
  GetCurrentDirectoryW(MAX_PATH, folder);
  wchar_t target[MAX_PATH] = L"ran.txt";
  DWORD n = GetEnvironmentVariableW(L"VORLANE_TEST_RAN_FILE", target, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) lstrcpyW(target, L"ran.txt");
  HANDLE f = CreateFileW(target, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  WriteFile(f, folder, static_cast<DWORD>(lstrlenW(folder) * sizeof(wchar_t)), &written, nullptr);
  CloseHandle(f);
  return 0;
}
