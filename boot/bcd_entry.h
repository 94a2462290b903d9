// The one-time boot entry: through boot.ini on the oldest releases, else an entry of the boot-sector
// application type in the BCD store, made with the extracted bcdedit and started once through the boot
// sequence, so the start after it goes to Windows again whatever happened.
#pragma once
#include <string>
#include <vector>

#include "boot/boot_config.h"
#include "boot/undo_log.h"

// Makes the entry of the kind by the release's rule; each command must run and exit 0. Every change is
// recorded in the log before it is made; at the first failure the log names what failed and false is
// answered (taking the changes back is the caller's: RunUndoPlan). Nothing is made on releases the
// program does not prepare (OsIndex 12 and above): false.
bool MakeBootEntry(EntryKind kind, PreparationLog& log);

// Unhide, make the entry of the kind (MakeBootEntry), take it back when it failed, hide; true when the
// entry was made.
bool RegisterBackupBootEntry();
bool RegisterReinstallBootEntry();

// Adds the entry to the system store, first saving the store to "%c:\BOOT\BCD_M" when no saved copy is
// there and to "%c:\BOOT\BCD_U" for the undo (put back with /import).
bool AddBcdEntry(const std::wstring& loaderSector, const std::wstring& entryText, EntryKind kind,
                 PreparationLog& log);
// Makes the system partition bootable and active (the previously active partition is made active again by
// the undo), saves its store to "%c:\BOOT\BCD_M" unless a saved copy exists, and adds the entry to the
// store on the system drive (a copy of that store taken before bcdboot is put back by the undo).
bool AddBcdEntryToDriveStore(const std::wstring& loaderSector, const std::wstring& entryText, EntryKind kind,
                             PreparationLog& log);
// Copies the boot files onto the drive and marks its partition active: 0, or -1 when a tool cannot be
// started or exits non-zero or the partition cannot be placed.
int MakeSystemPartitionBootable(const std::wstring& bcdbootPath, const std::wstring& partToolPath, wchar_t drive,
                                PreparationLog& log);
// The device text of the entry for a drive: its volume's NT device name, else partition 1 of its disk.
bool ResolveEntryDevice(wchar_t drive, std::wstring& device);

// The bcdedit argument lists of an entry. storePrefix is empty for the system store, else BcdStorePrefix.
// The "/store" prefix of the store on a drive: /store "X:\boot\bcd" and one blank.
std::wstring BcdStorePrefix(wchar_t drive);
// Removes an entry of ours left by an earlier preparation, so that /create can make it anew.
std::wstring BcdDeleteArguments(const std::wstring& storePrefix, const std::wstring& id);
// The commands before the device is resolved:
std::vector<std::wstring> BcdEntryCommands(const std::wstring& storePrefix, const std::wstring& id,
                                           const std::wstring& entryText, const std::wstring& loaderSector);
// ... and after it: the device, then the one-time boot sequence.
std::vector<std::wstring> BcdDeviceCommands(const std::wstring& storePrefix, const std::wstring& id,
                                            const std::wstring& device);
// The arguments of bcdboot for a drive, and of the partition tool's activation.
std::wstring BcdbootArguments(wchar_t drive);
std::wstring ActivateArguments(int32_t disk, int position);
