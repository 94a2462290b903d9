// Times one CopyDirectoryTree run for scripts/bench-databackup: prints files copied, files failed and the
// seconds the copy took (the process start-up is not counted).
#include <windows.h>

#include <cstdio>
#include <string>

#include "databackup/copy_tree.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fwprintf(stderr, L"usage: databackup_bench SOURCE DESTINATION\n");
    return 2;
  }
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  CopyStats stats;
  bool ok = CopyDirectoryTree(argv[1], argv[2], false, stats);
  QueryPerformanceCounter(&end);
  double seconds = double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
  std::printf("copied=%u failed=%u seconds=%.3f ok=%d\n", stats.copiedFiles, stats.failedFiles, seconds, ok ? 1 : 0);
  return ok && stats.failedFiles == 0 ? 0 : 1;
}
