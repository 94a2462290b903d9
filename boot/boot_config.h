// The payload sets and boot tools carried as "GHOST_DATA" resources, the program-wide record that names
// them, and the routine that writes one of them to disk.
#pragma once
#include <cstdint>
#include <string>

// Which one-time boot entry (and payload set) an operation is about.
enum EntryKind { EntryBackup = 1, EntryReinstall = 2 };

// How the machine starts Windows: through boot.ini, or through the BCD store.
enum BootStyle { BootStyleLegacy = 1, BootStyleBcd = 2 };

struct BootConfig {
  wchar_t systemDrive = L'C';
  int32_t osIndex = 14;  // the release code of sysinfo/os_version.h
  std::wstring bcdbootPath;
  std::wstring bcdeditPath;
  std::wstring partToolPath;
  // Boot entry identifiers without braces, indexed by EntryKind (index 0 unused).
  const wchar_t* entryIds[3] = {L"", L"12310282-F678-420E-A313-468C5687342A",
                                L"A3B315FE-ADCA-4FB0-848C-EB3529FF0340"};
  // Resource ids and file names of a set, in the order boot image, loader, loader boot sector.
  uint16_t backupSetIds[3] = {130, 131, 134};
  uint16_t reinstallSetIds[3] = {132, 133, 135};
  const wchar_t* backupSetNames[3] = {L"KW.lsn", L"kwldr", L"kwldr.mbr"};
  const wchar_t* reinstallSetNames[3] = {L"KX.lsn", L"kxldr", L"kxldr.mbr"};
  const wchar_t* payloadType = L"GHOST_DATA";
  const wchar_t* backupJobName = L"Ghost.ba_";
  const wchar_t* reinstallJobName = L"ghost._KX";
  // Beside each job: its identity file and the loader's start record (docs/job-identity.md).
  const wchar_t* backupIdentityName = L"KW.vid";
  const wchar_t* reinstallIdentityName = L"KX.vid";
  const wchar_t* backupStartRecordName = L"KW.env";
  const wchar_t* reinstallStartRecordName = L"KX.env";
};

extern BootConfig TheBootConfig;

// Resource ids of the three tools.
constexpr uint16_t kBcdeditResourceId = 137;
constexpr uint16_t kPartToolResourceId = 142;
constexpr uint16_t kBcdbootResourceId = 143;

// The boot style of a release code: false for releases the program does not prepare (12 and above).
bool BootStyleForOsIndex(int32_t osIndex, BootStyle& style);

// Starts TheBootConfig afresh with the machine's facts, given by the program at start-up: the system drive,
// the release code and the folder the three tools are written to (their paths are formed there).
void InitBootConfig(wchar_t systemDrive, int32_t osIndex, const std::wstring& toolFolder);
// Writes the three tools to their paths in TheBootConfig, replacing earlier copies.
void ExtractBootTools();
// Writes resource id of the given type from the program's own module to path, replacing any file there,
// uncompressed (WriteWholeFile). False when the resource is missing or empty (nothing is written) or the
// file cannot be written whole (no file is left).
bool WriteResourceToFile(const std::wstring& path, uint16_t id, const wchar_t* type);
// The size of a resource of the program's own module; 0 when it is missing.
uint32_t ResourceSize(uint16_t id, const wchar_t* type);
