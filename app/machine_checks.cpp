#include "app/machine_checks.h"

#include "app/dialogs.h"
#include "app/environment.h"
#include "base/late_bound.h"
#include "base/text_format.h"
#include "sysinfo/disk_table.h"

namespace {

// The system's own bcdboot.exe, reached through Sysnative from this 32-bit program under WOW64.
bool SystemHasBcdboot() {
  wchar_t windows[MAX_PATH] = {};
  UINT n = GetSystemWindowsDirectoryW(windows, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return false;
  std::wstring path = std::wstring(windows) + (RunsUnderWow64() ? L"\\Sysnative" : L"\\System32") + L"\\bcdboot.exe";
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

PreparationBlock MachineBlock() {
  const Environment& env = TheEnvironment;
  MachineFacts facts;
  facts.osIndex = env.OsIndex;
  facts.uefiFirmware = IsUefiFirmware();
  // The release and the firmware decide alone; the devices are asked only where they might.
  PreparationBlock early = CheckMachine(facts);
  if (early != PreparationBlock::None) return early;
  facts.memoryKnown = GetPhysicalMemoryBytes(facts.memoryBytes);
  facts.bitLockerSystemVolume = VolumeIsBitLocker(env.SystemDrive);
  facts.driveStorePath = TakesDriveStorePath(env.OsIndex, GetPartitionBootFlag(env.SystemDrive));
  facts.hasBcdboot = facts.driveStorePath && SystemHasBcdboot();
  return CheckMachine(facts);
}

bool RefusedOnThisMachine(HWND window) {
  PreparationBlock block = MachineBlock();
  if (block == PreparationBlock::None) return false;
  Dialogs().ShowMessage(window, PreparationBlockMessage(block), L"提示", MB_OK);
  return true;
}

bool DriveOnSystemPartition(wchar_t drive) {
  wchar_t system = TheEnvironment.SystemDrive;
  return OnSystemPartition(drive, system, GetGhostAddress(drive, system), GetGhostAddress(system, system));
}

bool FreeBytesOnDriveOf(const std::wstring& path, uint64_t& freeBytes) {
  freeBytes = 0;
  if (path.size() < 2 || path[1] != L':') return false;
  wchar_t root[4] = {path[0], L':', L'\\', L'\0'};
  ULARGE_INTEGER freeToCaller = {};
  if (!GetDiskFreeSpaceExW(root, &freeToCaller, nullptr, nullptr)) return false;
  freeBytes = freeToCaller.QuadPart;
  return true;
}

uint64_t FileBytes(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return 0;
  return static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}
