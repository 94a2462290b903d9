// Another process trying to change a file: opens it for writing, deletes it, renames it. Writes one line
// per attempt to RESULT_FILE, "write:done" or "write:denied" and so on. Usage: cloud_tamper PATH RESULT_FILE
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  std::wstring path = argv[1];
  std::string report;
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(f, "EVIL", 4, &written, nullptr);
    CloseHandle(f);
    report += "write:done\n";
  } else {
    report += "write:denied\n";
  }
  report += DeleteFileW(path.c_str()) ? "delete:done\n" : "delete:denied\n";
  std::wstring moved = path + L".moved";
  report += MoveFileW(path.c_str(), moved.c_str()) ? "move:done\n" : "move:denied\n";
  HANDLE r = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (r == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  WriteFile(r, report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
  CloseHandle(r);
  return 0;
}
