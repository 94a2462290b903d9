// The one place where disk and volume queries reach the system. The program uses the real implementation;
// tests and the sandbox install a simulated machine (sysinfo/simulated_machine.h).
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// An opened raw device ("\\.\PhysicalDrive0", "\\.\C:").
class IDevice {
 public:
  virtual ~IDevice() = default;
  // Issues one DeviceIoControl request without input; the output bytes go to out. Answers success.
  virtual bool Request(DWORD ioControlCode, void* out, DWORD outSize) = 0;
  // Reads size bytes (a whole number of sectors) at a byte offset of the device. Answers success.
  virtual bool ReadAt(int64_t offset, void* out, DWORD size) { return false; }
};

// What FindFirstVolumeW/FindNextVolumeW deliver: every name in order, and how the enumeration ended.
struct VolumeEnumeration {
  bool started = false;          // FindFirstVolumeW succeeded
  DWORD startError = 0;          // its error when it did not
  std::vector<std::wstring> names;
  DWORD endError = ERROR_NO_MORE_FILES;  // the error FindNextVolumeW ended with
};

class IDeviceIo {
 public:
  virtual ~IDeviceIo() = default;
  // Opens a raw device for reading with read and write sharing; null when the open fails.
  virtual std::unique_ptr<IDevice> Open(const std::wstring& deviceName) = 0;
  // GetDriveTypeW of a root path such as "C:\".
  virtual UINT DriveType(const std::wstring& root) = 0;
  // Enumerates the volume GUID paths ("\\?\Volume{...}\").
  virtual VolumeEnumeration EnumerateVolumes() = 0;
  // QueryDosDeviceW of a name without "\\?\" and without trailing backslash; false on failure.
  virtual bool QueryDosDeviceName(const std::wstring& name, std::wstring& target) = 0;
  // GetVolumePathNamesForVolumeNameW (the list of zero-terminated paths, ended by an empty one), with the
  // retry on ERROR_MORE_DATA; false on any other failure.
  virtual bool VolumePathNames(const std::wstring& volumeGuidPath, std::vector<wchar_t>& multiSz) = 0;
  // True when the machine was started through UEFI firmware (the firmware-variable call answers
  // ERROR_INVALID_FUNCTION only on legacy BIOS; a system without the call is legacy).
  virtual bool FirmwareIsUefi() = 0;
  // The machine's physical memory in bytes (GlobalMemoryStatusEx); false when the query fails.
  virtual bool PhysicalMemoryBytes(uint64_t& bytes) = 0;
};

// The physical memory as the system reports it, for implementations that do not describe their own.
bool SystemPhysicalMemoryBytes(uint64_t& bytes);

// The device access in force: the real one unless a test or the sandbox installed another.
IDeviceIo& DeviceIo();
// Installs a replacement (not owned); null restores the real implementation.
void SetDeviceIo(IDeviceIo* io);
