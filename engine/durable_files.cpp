#include "engine/durable_files.h"

#include <vector>

#include "engine/xldl.h"

namespace {

bool IsDiskFull(DWORD error) { return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL; }

class Win32Files : public FileLayer {
 public:
  bool WriteAt(HANDLE file, int64_t offset, const void* data, DWORD size, DWORD* error) override {
    OVERLAPPED ov = {};
    ov.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
    ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD written = 0;
    if (!WriteFile(file, data, size, &written, &ov)) {
      *error = GetLastError();
      return false;
    }
    if (written != size) {
      *error = ERROR_DISK_FULL;  // a disk file takes fewer bytes only when its volume has no room left
      return false;
    }
    return true;
  }
  bool Flush(HANDLE file) override { return FlushFileBuffers(file) != FALSE; }
  bool SetSize(HANDLE file, int64_t size, DWORD* error) override {
    LARGE_INTEGER end;
    end.QuadPart = size;
    if (SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file)) return true;
    *error = GetLastError();
    return false;
  }
  bool Replace(const std::wstring& from, const std::wstring& to, DWORD* error) override {
    // A read-only file is never replaced (not every file system refuses that by itself).
    DWORD existing = GetFileAttributesW(to.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY) != 0) {
      *error = ERROR_ACCESS_DENIED;
      return false;
    }
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    *error = GetLastError();
    return false;
  }
  void Remove(const std::wstring& path) override { DeleteFileW(path.c_str()); }
};

}  // namespace

FileLayer& SystemFiles() {
  static Win32Files files;
  return files;
}

bool SaveStateAfterData(FileLayer& files, HANDLE data, HANDLE stateFile, const DownloadState& state) {
  if (!files.Flush(data)) return false;
  std::vector<uint8_t> slot = EncodeStateSlot(state);
  DWORD error = 0;
  int64_t offset = static_cast<int64_t>(state.sequence % 2) * static_cast<int64_t>(kStateSlotSize);
  if (!files.WriteAt(stateFile, offset, slot.data(), static_cast<DWORD>(slot.size()), &error)) return false;
  return files.Flush(stateFile);
}

bool MakeCompleteDurable(FileLayer& files, HANDLE data, HANDLE stateFile, const DownloadState& complete) {
  DWORD error = 0;
  if (!files.SetSize(data, complete.total, &error) || !files.Flush(data)) return false;
  // The state is worth having even if it cannot be written: the rename does not depend on it.
  SaveStateAfterData(files, data, stateFile, complete);
  return true;
}

int32_t GiveFinalName(FileLayer& files, const std::wstring& temp, const std::wstring& final,
                      const std::wstring& state) {
  DWORD error = 0;
  if (!files.Replace(temp, final, &error)) return kXlFailFinalName;
  files.Remove(state);
  return kXlFailNone;
}

bool TooLargeForFileSystem(int64_t size, const std::wstring& fileSystem) {
  return size > kMaxFatFileSize && fileSystem.compare(0, 3, L"FAT") == 0;
}

int32_t ReservationFailureCode(int64_t size, DWORD error, const std::wstring& fileSystem) {
  if (TooLargeForFileSystem(size, fileSystem)) return kXlFailTooLarge;
  if (IsDiskFull(error)) return kXlFailDiskFull;
  if (size > kMaxFatFileSize) return kXlFailTooLarge;
  return kXlFailWrite;
}

std::wstring FileSystemOf(const std::wstring& folder) {
  wchar_t volume[MAX_PATH + 1] = {};
  if (!GetVolumePathNameW(folder.c_str(), volume, MAX_PATH)) return std::wstring();
  std::wstring root = volume;
  if (root.empty() || root.back() != L'\\') root += L'\\';
  wchar_t name[MAX_PATH + 1] = {};
  if (!GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, nullptr, name, MAX_PATH)) {
    return std::wstring();
  }
  return name;
}
