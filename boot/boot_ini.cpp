#include "boot/boot_ini.h"

#include <windows.h>

#include "base/folders.h"
#include "base/text_format.h"
#include "boot/command_runner.h"
#include "sysinfo/disk_table.h"

namespace {

constexpr wchar_t kBootLoaderSection[] = L"boot loader";
constexpr wchar_t kSystemsSection[] = L"operating systems";
constexpr int kMenuTimeoutSeconds = 3;

}  // namespace

bool WriteBootIniTimeout(const CIniFile& bootIni) {
  return bootIni.WriteString(kBootLoaderSection, L"timeout", Format(L"%d", kMenuTimeoutSeconds));
}

bool WriteBootIniEntry(const std::wstring& loaderName, const std::wstring& entryText, EntryKind kind) {
  const BootConfig& c = TheBootConfig;
  if (!FileExists(c.bcdeditPath)) return false;
  wchar_t s = c.systemDrive;
  std::wstring bootIniPath = Format(L"%c:\\boot.ini", s);
  std::wstring savedCopy = Format(L"%c:\\boot.in_", s);
  std::wstring loaderPath = Format(L"%c:\\%s", s, loaderName.c_str());
  CIniFile bootIni(bootIniPath);
  if (kind == EntryBackup) CopyFileW(bootIniPath.c_str(), savedCopy.c_str(), FALSE);
  bootIni.WriteString(kBootLoaderSection, L"default", loaderPath);
  WriteBootIniTimeout(bootIni);
  bootIni.WriteString(kSystemsSection, loaderPath, entryText);
  RunTool(c.partToolPath, Format(L"%d /mbr /noback /y", GetVolumeDiskNumber(s)));
  return true;
}
