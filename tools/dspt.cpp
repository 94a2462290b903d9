// "dspt.exe": "dspt N /act:P" makes partition P of disk N the active one; "dspt N /mbr /noback /y" writes
// the built-in MBR boot code onto disk N, keeping its signature and partition table. Any doubt about the
// disk (unreadable, GPT, no MBR, partition out of range) changes nothing and ends with a nonzero code.
#include <windows.h>
#include <winioctl.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/late_bound.h"
#include "base/unique_handle.h"
#include "tools/dspt_logic.h"

namespace {

constexpr int kBootCodeResourceId = 1;
constexpr size_t kLayoutBufferSize = kLayoutHeaderSize + 128 * kLayoutEntrySize;
constexpr DWORD kMaxSectorSize = 4096;

int Fail(int code, const std::wstring& message) {
  fwprintf(stderr, L"dspt: %ls\n", message.c_str());
  return code;
}

std::wstring ErrorText(const wchar_t* what, uint32_t disk) {
  return std::wstring(what) + L" disk " + std::to_wstring(disk) + L" (error " + std::to_wstring(GetLastError()) +
         L"); nothing changed";
}

std::vector<uint8_t> BuiltInBootCode() {
  HMODULE self = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(self, MAKEINTRESOURCEW(kBootCodeResourceId), MAKEINTRESOURCEW(10));  // RCDATA
  if (found == nullptr) return {};
  HGLOBAL loaded = LoadResource(self, found);
  const uint8_t* data = loaded != nullptr ? static_cast<const uint8_t*>(LockResource(loaded)) : nullptr;
  if (data == nullptr) return {};
  return std::vector<uint8_t>(data, data + SizeofResource(self, found));
}

// Under Wine a raw disk name can reach the host's own disk: the tool never touches disks there.
bool UnderWine() { return RunsUnderWine(); }

UniqueHandle OpenDisk(uint32_t disk) {
  std::wstring name = L"\\\\.\\PhysicalDrive" + std::to_wstring(disk);
  return UniqueHandle(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
}

bool ReadLayout(HANDLE disk, std::vector<uint8_t>& layout) {
  layout.assign(kLayoutBufferSize, 0);
  DWORD returned = 0;
  return DeviceIoControl(disk, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, layout.data(),
                         static_cast<DWORD>(layout.size()), &returned, nullptr) != FALSE;
}

int Activate(const DsptCommand& command) {
  UniqueHandle disk = OpenDisk(command.disk);
  if (!disk) return Fail(kDsptDeviceError, ErrorText(L"cannot open", command.disk));
  std::vector<uint8_t> layout;
  if (!ReadLayout(disk.Get(), layout)) return Fail(kDsptDeviceError, ErrorText(L"cannot read the layout of", command.disk));
  bool changed = false;
  std::wstring error;
  if (!ActivateInLayout(layout, command.partition, changed, error)) return Fail(kDsptRefused, error);
  if (changed) {
    DWORD returned = 0;
    if (!DeviceIoControl(disk.Get(), IOCTL_DISK_SET_DRIVE_LAYOUT_EX, layout.data(),
                         static_cast<DWORD>(LayoutRequestSize(layout)), nullptr, 0, &returned, nullptr))
      return Fail(kDsptDeviceError, ErrorText(L"cannot write the layout of", command.disk));
    DeviceIoControl(disk.Get(), IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &returned, nullptr);
  }
  fwprintf(stdout, L"dspt: partition %u of disk %u is active\n", command.partition, command.disk);
  return kDsptOk;
}

int WriteMbr(const DsptCommand& command) {
  std::vector<uint8_t> code = BuiltInBootCode();
  if (code.size() != kMbrBootCodeSize)
    return Fail(kDsptRefused, L"no MBR boot code is built into this tool; nothing changed");
  UniqueHandle disk = OpenDisk(command.disk);
  if (!disk) return Fail(kDsptDeviceError, ErrorText(L"cannot open", command.disk));
  std::vector<uint8_t> layout;
  if (!ReadLayout(disk.Get(), layout)) return Fail(kDsptDeviceError, ErrorText(L"cannot read the layout of", command.disk));
  if (layout[0] != PARTITION_STYLE_MBR) return Fail(kDsptRefused, L"the disk is not partitioned in the MBR style; nothing changed");
  DISK_GEOMETRY geometry = {};
  DWORD returned = 0;
  if (!DeviceIoControl(disk.Get(), IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry, sizeof(geometry),
                       &returned, nullptr))
    return Fail(kDsptDeviceError, ErrorText(L"cannot read the geometry of", command.disk));
  DWORD sectorSize = geometry.BytesPerSector;
  if (sectorSize < kMbrSectorSize || sectorSize > kMaxSectorSize || sectorSize % kMbrSectorSize != 0)
    return Fail(kDsptRefused, L"unsupported sector size " + std::to_wstring(sectorSize) + L"; nothing changed");
  alignas(4096) static uint8_t sector[kMaxSectorSize];
  DWORD done = 0;
  if (SetFilePointer(disk.Get(), 0, nullptr, FILE_BEGIN) != 0 ||
      !ReadFile(disk.Get(), sector, sectorSize, &done, nullptr) || done != sectorSize)
    return Fail(kDsptDeviceError, ErrorText(L"cannot read the first sector of", command.disk));
  uint8_t mbr[kMbrSectorSize];
  std::memcpy(mbr, sector, kMbrSectorSize);
  std::wstring error;
  if (!ApplyMbrBootCode(mbr, code, error)) return Fail(kDsptRefused, error);
  std::memcpy(sector, mbr, kMbrSectorSize);
  if (SetFilePointer(disk.Get(), 0, nullptr, FILE_BEGIN) != 0 ||
      !WriteFile(disk.Get(), sector, sectorSize, &done, nullptr) || done != sectorSize)
    return Fail(kDsptDeviceError, ErrorText(L"cannot write the first sector of", command.disk));
  FlushFileBuffers(disk.Get());
  fwprintf(stdout, L"dspt: MBR boot code written to disk %u\n", command.disk);
  return kDsptOk;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> args(argv + 1, argv + argc);
  DsptCommand command;
  std::wstring error;
  if (!ParseDsptArguments(args, command, error)) return Fail(kDsptBadArguments, error);
  if (UnderWine()) return Fail(kDsptRefused, L"running under Wine, where disks are never touched; nothing changed");
  return command.kind == DsptCommand::Activate ? Activate(command) : WriteMbr(command);
}
