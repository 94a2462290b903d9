#include "boot/boot_ini.h"

#include <windows.h>

#include "base/folders.h"
#include "base/text_format.h"
#include "boot/command_runner.h"
#include "boot/file_writes.h"
#include "sysinfo/disk_table.h"

namespace {

constexpr wchar_t kBootLoaderSection[] = L"boot loader";
constexpr wchar_t kSystemsSection[] = L"operating systems";
constexpr int kMenuTimeoutSeconds = 3;
constexpr wchar_t kToolMissing[] = L"缺少启动配置工具";
constexpr wchar_t kDiskUnknown[] = L"无法确定系统盘所在的磁盘";
constexpr wchar_t kMbrCodeFailed[] = L"无法写入引导代码（分区工具出错）";

std::wstring EditFailed(const std::wstring& path) { return L"无法修改启动配置（" + path + L"）"; }

// Records how to put a file back as it is now (its bytes, or its absence); false when it exists but cannot
// be read.
bool RecordForUndo(const std::wstring& path, PreparationLog& log) {
  std::string bytes;
  bool exists = FileExists(path);
  if (exists && !ReadWholeFile(path, bytes)) return log.Fail(EditFailed(path));
  log.undo.Add(PutBackBytesStep(path, exists, bytes));
  return true;
}

}  // namespace

bool WriteBootIniTimeout(const CIniFile& bootIni) {
  return bootIni.WriteString(kBootLoaderSection, L"timeout", Format(L"%d", kMenuTimeoutSeconds));
}

std::wstring MbrCodeArguments(int32_t disk) { return Format(L"%d /mbr /noback /y", disk); }

bool AddBootIniEntry(const std::wstring& loaderName, const std::wstring& entryText, EntryKind kind,
                     PreparationLog& log) {
  const BootConfig& c = TheBootConfig;
  if (!FileExists(c.bcdeditPath)) return log.Fail(kToolMissing);
  wchar_t s = c.systemDrive;
  int32_t disk = GetVolumeDiskNumber(s);
  if (disk < 0) return log.Fail(kDiskUnknown);
  std::wstring bootIniPath = Format(L"%c:\\boot.ini", s);
  std::wstring savedCopy = Format(L"%c:\\boot.in_", s);
  std::wstring loaderPath = Format(L"%c:\\%s", s, loaderName.c_str());
  if (!RecordForUndo(bootIniPath, log)) return false;
  if (kind == EntryBackup) {
    if (!RecordForUndo(savedCopy, log)) return false;
    if (FileExists(bootIniPath) && !CopyFileW(bootIniPath.c_str(), savedCopy.c_str(), FALSE))
      return log.Fail(EditFailed(savedCopy));
  }
  CIniFile bootIni(bootIniPath);
  bool edited = bootIni.WriteString(kBootLoaderSection, L"default", loaderPath) && WriteBootIniTimeout(bootIni) &&
                bootIni.WriteString(kSystemsSection, loaderPath, entryText);
  if (!edited) return log.Fail(EditFailed(bootIniPath));
  // The MBR code is the standard one: it starts the active partition as before and is not taken back.
  return RunTool(c.partToolPath, MbrCodeArguments(disk)).Succeeded() || log.Fail(kMbrCodeFailed);
}

bool WriteBootIniEntry(const std::wstring& loaderName, const std::wstring& entryText, EntryKind kind) {
  PreparationLog log;
  if (AddBootIniEntry(loaderName, entryText, kind, log)) return true;
  RunUndoPlan(log.undo.Plan());
  return false;
}
