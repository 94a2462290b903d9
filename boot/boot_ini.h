// The one-time boot entry of releases that start through boot.ini.
#pragma once
#include <string>

#include "boot/boot_config.h"
#include "boot/ini_file.h"

// Points boot.ini's default at the set's loader file on the system drive, sets the menu time-out, adds the
// entry (without quotes) and writes the loader's MBR code with the partition tool. A backup edit first
// saves boot.ini as "boot.in_". False, with nothing touched, when the tool file at bcdeditPath is missing.
bool WriteBootIniEntry(const std::wstring& loaderName, const std::wstring& entryText, EntryKind kind);
// Writes timeout=3 under [boot loader].
bool WriteBootIniTimeout(const CIniFile& bootIni);
