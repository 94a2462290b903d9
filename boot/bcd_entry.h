// The one-time boot entry: through boot.ini on the oldest releases, else an entry of the boot-sector
// application type in the BCD store, made with the extracted bcdedit.
#pragma once
#include <string>
#include <vector>

#include "boot/boot_config.h"

// Unhide, add the entry of the kind by the release's rule, hide. Nothing is added on releases the program
// does not prepare (OsIndex 12 and above).
void RegisterBackupBootEntry();
void RegisterReinstallBootEntry();

// Adds the entry to the system store, saving the store to "%c:\BOOT\BCD_M" first when no saved copy is
// there. False when the entry's device cannot be resolved (the entry then has no device and is not the
// default).
bool AddBcdEntry(const std::wstring& loaderSector, const std::wstring& entryText, EntryKind kind);
// Makes the system partition bootable and active, saves its store to "%c:\BOOT\BCD_M" unless a saved copy
// exists, and adds the entry to the store on the system drive. False as AddBcdEntry.
bool AddBcdEntryToDriveStore(const std::wstring& loaderSector, const std::wstring& entryText, EntryKind kind);
// Copies the boot files onto the drive and marks its partition active: 0, or -1 when a tool cannot be
// started or the partition cannot be placed.
int MakeSystemPartitionBootable(const std::wstring& bcdbootPath, const std::wstring& partToolPath, wchar_t drive);
// The device text of the entry for a drive: its volume's NT device name, else partition 1 of its disk.
bool ResolveEntryDevice(wchar_t drive, std::wstring& device);

// The bcdedit argument lists of an entry. storePrefix is empty for the system store, else
// "/store X:\boot\bcd " for the store on a drive. The commands before the device is resolved:
std::vector<std::wstring> BcdEntryCommands(const std::wstring& storePrefix, const std::wstring& id,
                                           const std::wstring& entryText, const std::wstring& loaderSector);
// ... and after it.
std::vector<std::wstring> BcdDeviceCommands(const std::wstring& storePrefix, const std::wstring& id,
                                            const std::wstring& device);
