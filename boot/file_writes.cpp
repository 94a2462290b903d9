#include "boot/file_writes.h"

#include <windows.h>
#include <winioctl.h>

#include "base/unique_handle.h"

namespace {

// Asks for no compression; the answer is not looked at (FAT has no compression and refuses the request),
// the attributes are checked after the write instead.
void TurnCompressionOff(HANDLE file) {
  USHORT format = COMPRESSION_FORMAT_NONE;
  DWORD returned = 0;
  DeviceIoControl(file, FSCTL_SET_COMPRESSION, &format, sizeof(format), nullptr, 0, &returned, nullptr);
}

bool WriteAll(HANDLE file, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  size_t left = size;
  while (left > 0) {
    DWORD chunk = left > (1u << 24) ? (1u << 24) : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!WriteFile(file, p, chunk, &written, nullptr) || written != chunk) return false;
    p += chunk;
    left -= chunk;
  }
  return true;
}

// Flushed to the disk, of exactly the expected length, and stored plainly.
bool Complete(HANDLE file, const std::wstring& path, size_t size) {
  if (!FlushFileBuffers(file)) return false;
  LARGE_INTEGER length = {};
  length.LowPart = GetFileSize(file, reinterpret_cast<DWORD*>(&length.HighPart));
  if (length.LowPart == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
  if (static_cast<unsigned long long>(length.QuadPart) != size) return false;
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  return (attributes & (FILE_ATTRIBUTE_COMPRESSED | FILE_ATTRIBUTE_SPARSE_FILE)) == 0;
}

}  // namespace

bool WriteWholeFile(const std::wstring& path, const void* data, size_t size) {
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  TurnCompressionOff(file.Get());
  bool ok = WriteAll(file.Get(), data, size) && Complete(file.Get(), path, size);
  file.Reset();
  if (!ok) DeleteFileW(path.c_str());
  return ok;
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes) {
  bytes.clear();
  UniqueHandle file(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return false;
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.Get(), buffer, sizeof(buffer), &got, nullptr)) return false;
    if (got == 0) return true;
    bytes.append(buffer, got);
  }
}
