#include "sysinfo/device_io.h"

#include "base/late_bound.h"
#include "base/unique_handle.h"

namespace {

class RealDevice : public IDevice {
 public:
  explicit RealDevice(UniqueHandle h) : h_(std::move(h)) {}
  bool Request(DWORD ioControlCode, void* out, DWORD outSize) override {
    DWORD returned = 0;
    return DeviceIoControl(h_.Get(), ioControlCode, nullptr, 0, out, outSize, &returned, nullptr) != FALSE;
  }
  bool ReadAt(int64_t offset, void* out, DWORD size) override {
    LARGE_INTEGER at;
    at.QuadPart = offset;
    DWORD read = 0;
    if (!SetFilePointerEx(h_.Get(), at, nullptr, FILE_BEGIN)) return false;
    return ReadFile(h_.Get(), out, size, &read, nullptr) != FALSE && read == size;
  }

 private:
  UniqueHandle h_;
};

class RealDeviceIo : public IDeviceIo {
 public:
  std::unique_ptr<IDevice> Open(const std::wstring& deviceName) override {
    UniqueHandle h(CreateFileW(deviceName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr));
    if (!h) return nullptr;
    return std::make_unique<RealDevice>(std::move(h));
  }

  UINT DriveType(const std::wstring& root) override { return GetDriveTypeW(root.c_str()); }

  VolumeEnumeration EnumerateVolumes() override {
    VolumeEnumeration e;
    wchar_t name[260] = {};
    UniqueFindVolumeHandle find(FindFirstVolumeW(name, 260));
    if (!find) {
      e.startError = GetLastError();
      return e;
    }
    e.started = true;
    do {
      e.names.push_back(name);
    } while (FindNextVolumeW(find.Get(), name, 260));
    e.endError = GetLastError();
    return e;
  }

  bool QueryDosDeviceName(const std::wstring& name, std::wstring& target) override {
    wchar_t buf[260] = {};
    if (::QueryDosDeviceW(name.c_str(), buf, 260) == 0) return false;
    target = buf;
    return true;
  }

  bool VolumePathNames(const std::wstring& volumeGuidPath, std::vector<wchar_t>& multiSz) override {
    return VolumePathNamesOf(volumeGuidPath, multiSz);
  }

  bool FirmwareIsUefi() override {
    return UefiFirmwareReported();
  }

  bool PhysicalMemoryBytes(uint64_t& bytes) override { return SystemPhysicalMemoryBytes(bytes); }
};

RealDeviceIo g_realDeviceIo;
IDeviceIo* g_deviceIo = nullptr;

}  // namespace

bool SystemPhysicalMemoryBytes(uint64_t& bytes) {
  MEMORYSTATUSEX status = {};
  status.dwLength = sizeof(status);
  bytes = 0;
  if (!GlobalMemoryStatusEx(&status)) return false;
  bytes = status.ullTotalPhys;
  return true;
}

IDeviceIo& DeviceIo() { return g_deviceIo ? *g_deviceIo : g_realDeviceIo; }

void SetDeviceIo(IDeviceIo* io) { g_deviceIo = io; }
