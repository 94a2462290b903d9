#include "boot/ghost_job.h"

#include <windows.h>

#include <functional>

#include "base/text_format.h"
#include "base/unique_handle.h"
#include "boot/command_runner.h"
#include "sysinfo/disk_table.h"

namespace {

constexpr wchar_t kBackupTemplate[] =
    L"Ghost.exe -nousb -clone,mode=pdump,src=\"%s\",dst=\"%s\" -sure -rb -crcignore -fro -z3 -auto "
    L"-afile=\"GHOSTERR.TXT\"\r\nrestart\r\n";
constexpr wchar_t kRestoreTemplate[] =
    L"Ghost.exe -nousb -clone,mode=pload,src=\"%s:1\",dst=\"%s\" -fro -crcignore -sure -rb -fx "
    L"-afile=\"GHOSTERR.TXT\"\r\nrestart\r\n";

std::wstring RootPath(wchar_t drive, const wchar_t* name) { return Format(L"%c:\\%s", drive, name); }

bool WritePayload(wchar_t drive, const wchar_t* name, uint16_t id) {
  return WriteResourceToFile(RootPath(drive, name), id, TheBootConfig.payloadType);
}

// Creates the job file anew (not shared) and writes its bytes in one write.
bool WriteJobFile(const std::wstring& path, const std::string& bytes) {
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                                nullptr));
  if (!file) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  return ok != FALSE && written == bytes.size();
}

bool PrepareJob(const std::function<bool(BootStyle)>& writer) {
  UnhideBootFiles();
  BootStyle style;
  if (BootStyleForOsIndex(TheBootConfig.osIndex, style)) writer(style);
  HideBootFiles();
  return true;
}

}  // namespace

std::wstring BackupJobText(const std::wstring& sourceAddress, const std::wstring& destinationFile) {
  return Format(kBackupTemplate, sourceAddress.c_str(), destinationFile.c_str());
}

std::wstring RestoreJobText(const std::wstring& imageFile, const std::wstring& targetAddress) {
  return Format(kRestoreTemplate, imageFile.c_str(), targetAddress.c_str());
}

bool JobFileBytes(const std::wstring& text, bool trailingZero, std::string& bytes) {
  bytes.clear();
  if (!text.empty()) {
    int length = static_cast<int>(text.size());
    BOOL lossy = FALSE;
    int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), length, nullptr, 0, nullptr, &lossy);
    if (n <= 0 || lossy) return false;
    bytes.resize(static_cast<size_t>(n));
    if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), length, &bytes[0], n, nullptr, &lossy) != n ||
        lossy)
      return false;
  }
  if (trailingZero) bytes.push_back('\0');
  return true;
}

std::wstring GhostFileName(const std::wstring& path, wchar_t referenceDrive) {
  if (path.empty()) return L"";
  std::wstring address = GetGhostAddress(path[0], referenceDrive);
  if (address.empty()) return L"";
  return address + (path.size() > 2 ? path.substr(2) : std::wstring());
}

bool PrepareBackupJob(const std::wstring& destination) {
  return PrepareJob([&](BootStyle style) {
    return WriteBackupJob(TheBootConfig.systemDrive, destination, style);
  });
}

bool PrepareRestoreJob(const std::wstring& image) {
  return PrepareJob([&](BootStyle style) {
    return WriteRestoreJob(image, style, TheBootConfig.systemDrive);
  });
}

bool WriteBackupJob(wchar_t sourceDrive, const std::wstring& destination, BootStyle style) {
  const BootConfig& c = TheBootConfig;
  wchar_t s = c.systemDrive;
  std::wstring src = GetGhostAddress(sourceDrive, s);
  if (src.empty()) return false;
  std::wstring dst = GhostFileName(destination, s);
  if (dst.empty()) return false;
  std::string job;
  if (!JobFileBytes(BackupJobText(src, dst), false, job)) return false;
  if (!WritePayload(s, c.backupSetNames[0], c.backupSetIds[0])) return false;
  if (!WritePayload(s, c.backupSetNames[1], c.backupSetIds[1])) return false;
  if (!WriteJobFile(RootPath(s, c.backupJobName), job)) return false;
  if (style == BootStyleBcd && !WritePayload(s, c.backupSetNames[2], c.backupSetIds[2])) return false;
  return true;
}

bool WriteRestoreJob(const std::wstring& image, BootStyle style, wchar_t targetDrive) {
  const BootConfig& c = TheBootConfig;
  wchar_t s = c.systemDrive;
  std::wstring src = GhostFileName(image, s);
  if (src.empty()) return false;
  std::wstring dst = GetGhostAddress(targetDrive, s);
  if (dst.empty()) return false;
  std::string job;
  if (!JobFileBytes(RestoreJobText(src, dst), true, job)) return false;
  if (!WritePayload(s, c.reinstallSetNames[0], c.reinstallSetIds[0])) return false;
  if (!WritePayload(s, c.reinstallSetNames[1], c.reinstallSetIds[1])) return false;
  if (!WriteJobFile(RootPath(s, c.reinstallJobName), job)) return false;
  if (style == BootStyleBcd && !WritePayload(s, c.reinstallSetNames[2], c.reinstallSetIds[2])) return false;
  return true;
}
