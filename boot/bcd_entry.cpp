#include "boot/bcd_entry.h"

#include <windows.h>

#include "base/folders.h"
#include "base/text_format.h"
#include "boot/boot_ini.h"
#include "boot/command_runner.h"
#include "sysinfo/disk_table.h"

namespace {

constexpr int kMenuTimeoutSeconds = 3;
constexpr wchar_t kBcdeditFailed[] = L"无法修改启动配置（bcdedit 出错）";
constexpr wchar_t kBcdbootFailed[] = L"无法写入系统启动文件（bcdboot 出错）";
constexpr wchar_t kActivateFailed[] = L"无法设置活动分区（分区工具出错）";
constexpr wchar_t kPartitionUnknown[] = L"无法确定系统分区的位置";
constexpr wchar_t kDeviceUnknown[] = L"无法确定系统分区的设备名";
constexpr wchar_t kStoreNotSaved[] = L"无法保存启动配置";
constexpr wchar_t kNotPrepared[] = L"当前系统暂不支持该功能";

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

std::wstring Bcdedit(const std::wstring& arguments) { return ToolCommandLine(TheBootConfig.bcdeditPath, arguments); }

bool RunBcdedit(const std::wstring& arguments, PreparationLog& log) {
  return RunHidden(Bcdedit(arguments)).Succeeded() || log.Fail(kBcdeditFailed);
}

bool RunBcdedit(const std::vector<std::wstring>& argumentLists, PreparationLog& log) {
  for (const std::wstring& arguments : argumentLists) {
    if (!RunBcdedit(arguments, log)) return false;
  }
  return true;
}

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }
std::wstring BootFolder(wchar_t drive) { return Format(L"%c:\\BOOT", drive); }
std::wstring SavedStore(wchar_t drive) { return Format(L"%c:\\BOOT\\BCD_M", drive); }
std::wstring UndoStore(wchar_t drive) { return Format(L"%c:\\BOOT\\BCD_U", drive); }

// The folder the store copies go to; created (and removed by the undo) when the drive has none.
bool EnsureBootFolder(wchar_t drive, PreparationLog& log) {
  std::wstring folder = BootFolder(drive);
  DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
  log.undo.Add(RemoveFolderStep(folder));
  return CreateDirectoryW(folder.c_str(), nullptr) != FALSE || log.Fail(kStoreNotSaved);
}

// Saves the system store into "%c:\BOOT\BCD_M" unless a saved copy is already there (the backup set's
// imaging environment puts it back).
bool ExportStoreUnlessSaved(wchar_t drive, PreparationLog& log) {
  std::wstring saved = SavedStore(drive);
  if (FileExists(saved)) return true;
  log.undo.Add(RemoveFileStep(saved));
  return RunBcdedit(L"/export " + Quoted(saved), log);
}

// The entry's commands once the store is saved: an entry of an earlier preparation is removed first (its
// result is not looked at: usually there is none), then every command must succeed. undoByDelete: the
// undo deletes the entry once it was created (where no copy of the store is put back).
bool AddEntry(const std::wstring& storePrefix, const std::wstring& loaderSector, const std::wstring& entryText,
              EntryKind kind, bool undoByDelete, PreparationLog& log) {
  const BootConfig& c = TheBootConfig;
  std::wstring id = c.entryIds[kind];
  RunHidden(Bcdedit(BcdDeleteArguments(storePrefix, id)));
  std::vector<std::wstring> commands = BcdEntryCommands(storePrefix, id, entryText, loaderSector);
  if (!RunBcdedit(commands.front(), log)) return false;
  if (undoByDelete) log.undo.Add(RunCommandStep(Bcdedit(BcdDeleteArguments(storePrefix, id))));
  if (!RunBcdedit(std::vector<std::wstring>(commands.begin() + 1, commands.end()), log)) return false;
  std::wstring device;
  if (!ResolveEntryDevice(c.systemDrive, device)) return log.Fail(kDeviceUnknown);
  return RunBcdedit(BcdDeviceCommands(storePrefix, id, device), log);
}

}  // namespace

std::wstring BcdStorePrefix(wchar_t drive) { return Format(L"/store \"%c:\\boot\\bcd\" ", drive); }

std::wstring BcdDeleteArguments(const std::wstring& storePrefix, const std::wstring& id) {
  return Format(L"%s/delete {%s} /f", storePrefix.c_str(), id.c_str());
}

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
      Format(L"%s/bootsequence {%s}", p, id.c_str()),
  };
}

std::wstring BcdbootArguments(wchar_t drive) { return Format(L"%c:\\windows /s %c: /l zh-cn", drive, drive); }

std::wstring ActivateArguments(int32_t disk, int position) { return Format(L"%d /act:%d", disk, position); }

bool MakeBootEntry(EntryKind kind, PreparationLog& log) {
  EntryNames names = NamesOf(kind);
  const BootConfig& c = TheBootConfig;
  BootStyle style;
  if (!BootStyleForOsIndex(c.osIndex, style)) return log.Fail(kNotPrepared);
  if (style == BootStyleLegacy) return AddBootIniEntry(names.legacyLoader, names.text, kind, log);
  if (GetPartitionBootFlag(c.systemDrive) == 0) return AddBcdEntryToDriveStore(names.loaderSector, names.text, kind, log);
  return AddBcdEntry(names.loaderSector, names.text, kind, log);
}

namespace {

bool RegisterBootEntry(EntryKind kind) {
  UnhideBootFiles();
  PreparationLog log;
  bool made = MakeBootEntry(kind, log);
  if (!made) RunUndoPlan(log.undo.Plan());
  HideBootFiles();
  return made;
}

}  // namespace

bool RegisterBackupBootEntry() { return RegisterBootEntry(EntryBackup); }

bool RegisterReinstallBootEntry() { return RegisterBootEntry(EntryReinstall); }

bool AddBcdEntry(const std::wstring& loaderSector, const std::wstring& entryText, EntryKind kind,
                 PreparationLog& log) {
  wchar_t s = TheBootConfig.systemDrive;
  if (!EnsureBootFolder(s, log) || !ExportStoreUnlessSaved(s, log)) return false;
  // The undo puts the whole store back as it was before the first change.
  std::wstring undoCopy = UndoStore(s);
  DeleteFileW(undoCopy.c_str());
  log.undo.Add(RemoveFileStep(undoCopy));
  if (!RunBcdedit(L"/export " + Quoted(undoCopy), log)) return false;
  log.undo.Add(RunCommandStep(Bcdedit(L"/import " + Quoted(undoCopy))));
  if (!AddEntry(L"", loaderSector, entryText, kind, false, log)) return false;
  DeleteFileW(undoCopy.c_str());
  return true;
}

bool AddBcdEntryToDriveStore(const std::wstring& loaderSector, const std::wstring& entryText, EntryKind kind,
                             PreparationLog& log) {
  const BootConfig& c = TheBootConfig;
  wchar_t s = c.systemDrive;
  std::wstring store = Format(L"%c:\\BOOT\\BCD", s);
  std::wstring undoCopy = UndoStore(s);
  // The store on the drive as it was before bcdboot: put back by the undo; without one, our entry is
  // deleted from the store bcdboot made.
  bool hadStore = FileExists(store);
  if (hadStore) {
    DeleteFileW(undoCopy.c_str());
    if (!CopyFileW(store.c_str(), undoCopy.c_str(), TRUE)) return log.Fail(kStoreNotSaved);
    log.undo.Add(CopyBackStep(undoCopy, store));
  }
  if (MakeSystemPartitionBootable(c.bcdbootPath, c.partToolPath, s, log) != 0) return false;
  std::wstring saved = SavedStore(s);
  if (!FileExists(saved)) {
    log.undo.Add(RemoveFileStep(saved));
    CopyFileW(store.c_str(), saved.c_str(), TRUE);
  }
  if (!ExportStoreUnlessSaved(s, log)) return false;
  if (!AddEntry(BcdStorePrefix(s), loaderSector, entryText, kind, !hadStore, log)) return false;
  if (hadStore) DeleteFileW(undoCopy.c_str());
  return true;
}

int MakeSystemPartitionBootable(const std::wstring& bcdbootPath, const std::wstring& partToolPath, wchar_t drive,
                                PreparationLog& log) {
  int32_t disk = GetVolumeDiskNumber(drive);
  int position = PartitionPositionInTable(TheDiskTable, drive);
  if (disk < 0 || position == 0) {
    log.Fail(kPartitionUnknown);
    return -1;
  }
  if (!RunHidden(ToolCommandLine(bcdbootPath, BcdbootArguments(drive))).Succeeded()) {
    log.Fail(kBcdbootFailed);
    return -1;
  }
  // The partition that was active is made active again by the undo.
  int previous = ActivePositionOnDiskOf(TheDiskTable, drive);
  if (previous != 0 && previous != position)
    log.undo.Add(RunCommandStep(ToolCommandLine(partToolPath, ActivateArguments(disk, previous))));
  if (!RunHidden(ToolCommandLine(partToolPath, ActivateArguments(disk, position))).Succeeded()) {
    log.Fail(kActivateFailed);
    return -1;
  }
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
