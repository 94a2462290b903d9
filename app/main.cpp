// Process entry of vorlane.exe.
#include <windows.h>

#include "app/environment.h"
#include "sysinfo/disk_table.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
  if (FAILED(CoInitialize(nullptr))) return 0;
  BuildDiskTable();
  InitWorkPaths();
  CoUninitialize();
  return 0;
}
