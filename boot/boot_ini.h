// The one-time boot entry of releases that start through boot.ini.
#pragma once
#include <string>

#include "boot/boot_config.h"
#include "boot/ini_file.h"
#include "boot/undo_log.h"

// Points boot.ini's default at the set's loader file on the system drive, sets the menu time-out, adds the
// entry (without quotes) and writes the loader's MBR code with the partition tool. A backup edit first
// saves boot.ini as "boot.in_". Every write and the tool must succeed; the former content of boot.ini and
// "boot.in_" is recorded for the undo first. Fails before touching anything when the tool file at
// bcdeditPath is missing or the system drive's disk cannot be found.
bool AddBootIniEntry(const std::wstring& loaderName, const std::wstring& entryText, EntryKind kind,
                     PreparationLog& log);
// AddBootIniEntry, taking its changes back when it fails; true when the entry was made.
bool WriteBootIniEntry(const std::wstring& loaderName, const std::wstring& entryText, EntryKind kind);
// Writes timeout=3 under [boot loader].
bool WriteBootIniTimeout(const CIniFile& bootIni);
// The arguments of the partition tool that write the MBR boot code of a disk.
std::wstring MbrCodeArguments(int32_t disk);
