#include "boot/bcd_entry.h"

#include <windows.h>

#include "base/folders.h"
#include "base/text_format.h"
#include "boot/boot_ini.h"
#include "boot/command_runner.h"
#include "sysinfo/disk_table.h"

namespace {

constexpr int kMenuTimeoutSeconds = 3;

struct EntryNames {
  const wchar_t* legacyLoader;
  const wchar_t* loaderSector;
  const wchar_t* text;
};

EntryNames NamesOf(EntryKind kind) {
  const BootConfig& c = TheBootConfig;
  if (kind == EntryBackup) return {c.backupSetNames[1], c.backupSetNames[2], L"VorlaneBak"};
  return {c.reinstallSetNames[1], c.reinstallSetNames[2], L"Vorlane"};
}

void RunBcdedit(const std::vector<std::wstring>& argumentLists) {
  for (const std::wstring& arguments : argumentLists) RunTool(TheBootConfig.bcdeditPath, arguments);
}

// Saves the system store into "%c:\BOOT\BCD_M" unless a saved copy is already there.
void ExportStoreUnlessSaved(wchar_t drive) {
  std::wstring saved = Format(L"%c:\\BOOT\\BCD_M", drive);
  if (!FileExists(saved)) RunTool(TheBootConfig.bcdeditPath, L"/export " + saved);
}

// The common body of both store paths once the store is saved.
bool AddEntry(const std::wstring& storePrefix, const std::wstring& loaderSector, const std::wstring& entryText,
              EntryKind kind) {
  const BootConfig& c = TheBootConfig;
  std::wstring id = c.entryIds[kind];
  RunBcdedit(BcdEntryCommands(storePrefix, id, entryText, loaderSector));
  std::wstring device;
  if (!ResolveEntryDevice(c.systemDrive, device)) return false;
  RunBcdedit(BcdDeviceCommands(storePrefix, id, device));
  return true;
}

void RegisterBootEntry(EntryKind kind) {
  UnhideBootFiles();
  EntryNames names = NamesOf(kind);
  int32_t osIndex = TheBootConfig.osIndex;
  if (osIndex >= 0 && osIndex <= 2) {
    WriteBootIniEntry(names.legacyLoader, names.text, kind);
  } else if (osIndex >= 3 && osIndex <= 11) {
    if (GetPartitionBootFlag(TheBootConfig.systemDrive) == 0)
      AddBcdEntryToDriveStore(names.loaderSector, names.text, kind);
    else
      AddBcdEntry(names.loaderSector, names.text, kind);
  }
  HideBootFiles();
}

}  // namespace

std::vector<std::wstring> BcdEntryCommands(const std::wstring& storePrefix, const std::wstring& id,
                                           const std::wstring& entryText, const std::wstring& loaderSector) {
  const wchar_t* p = storePrefix.c_str();
  return {
      Format(L"%s/create {%s} /d \"%s\" /application bootsector", p, id.c_str(), entryText.c_str()),
      Format(L"%s/set {%s} path \\%s", p, id.c_str(), loaderSector.c_str()),
      Format(L"%s/displayorder {%s} /addlast", p, id.c_str()),
      Format(L"%s/timeout %d", p, kMenuTimeoutSeconds),
  };
}

std::vector<std::wstring> BcdDeviceCommands(const std::wstring& storePrefix, const std::wstring& id,
                                            const std::wstring& device) {
  const wchar_t* p = storePrefix.c_str();
  return {
      Format(L"%s/set {%s} device partition=%s", p, id.c_str(), device.c_str()),
      Format(L"%s/default {%s}", p, id.c_str()),
  };
}

void RegisterBackupBootEntry() { RegisterBootEntry(EntryBackup); }

void RegisterReinstallBootEntry() { RegisterBootEntry(EntryReinstall); }

bool AddBcdEntry(const std::wstring& loaderSector, const std::wstring& entryText, EntryKind kind) {
  ExportStoreUnlessSaved(TheBootConfig.systemDrive);
  return AddEntry(L"", loaderSector, entryText, kind);
}

bool AddBcdEntryToDriveStore(const std::wstring& loaderSector, const std::wstring& entryText, EntryKind kind) {
  const BootConfig& c = TheBootConfig;
  wchar_t s = c.systemDrive;
  MakeSystemPartitionBootable(c.bcdbootPath, c.partToolPath, s);
  std::wstring store = Format(L"%c:\\BOOT\\BCD", s);
  std::wstring saved = Format(L"%c:\\BOOT\\BCD_M", s);
  CopyFileW(store.c_str(), saved.c_str(), TRUE);
  ExportStoreUnlessSaved(s);
  return AddEntry(Format(L"/store %c:\\boot\\bcd ", s), loaderSector, entryText, kind);
}

int MakeSystemPartitionBootable(const std::wstring& bcdbootPath, const std::wstring& partToolPath, wchar_t drive) {
  if (!RunHidden(Format(L"%s %c:\\windows /s %c: /l zh-cn", bcdbootPath.c_str(), drive, drive))) return -1;
  int32_t disk = GetVolumeDiskNumber(drive);
  if (disk < 0) return -1;
  int position = PartitionPositionInTable(TheDiskTable, drive);
  if (position == 0) return -1;
  if (!RunHidden(Format(L"%s %d /act:%d", partToolPath.c_str(), disk, position))) return -1;
  return 0;
}

bool ResolveEntryDevice(wchar_t drive, std::wstring& device) {
  std::wstring name = GetVolumeDeviceName(drive);
  if (!name.empty()) {
    device = name;
    return true;
  }
  int32_t disk = GetVolumeDiskNumber(drive);
  if (disk < 0) return false;
  device = Format(L"\\Device\\Harddisk%d\\Partition1", disk);
  return true;
}
