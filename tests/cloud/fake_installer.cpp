// Stands in for the update installer: records that it ran, with its working folder, in "ran.txt" in that
// folder.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t folder[MAX_PATH] = {0};
  GetCurrentDirectoryW(MAX_PATH, folder);
  HANDLE f = CreateFileW(L"ran.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  WriteFile(f, folder, static_cast<DWORD>(lstrlenW(folder) * sizeof(wchar_t)), &written, nullptr);
  CloseHandle(f);
  return 0;
}
