#include "sysinfo/device_io.h"

#include "base/unique_handle.h"

namespace {

class RealDevice : public IDevice {
 public:
  explicit RealDevice(UniqueHandle h) : h_(std::move(h)) {}
  bool Request(DWORD ioControlCode, void* out, DWORD outSize) override {
    DWORD returned = 0;
    return DeviceIoControl(h_.Get(), ioControlCode, nullptr, 0, out, outSize, &returned, nullptr) != FALSE;
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
    // Windows 2000 lacks this call; it is looked up at run time.
    using Fn = BOOL(WINAPI*)(LPCWSTR, LPWCH, DWORD, PDWORD);
    auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32"), "GetVolumePathNamesForVolumeNameW")));
    if (fn == nullptr) return false;
    DWORD length = 261;
    multiSz.assign(length, L'\0');
    if (fn(volumeGuidPath.c_str(), multiSz.data(), length, &length)) return true;
    if (GetLastError() != ERROR_MORE_DATA) return false;
    multiSz.assign(length, L'\0');
    return fn(volumeGuidPath.c_str(), multiSz.data(), length, &length) != FALSE;
  }

  bool FirmwareIsUefi() override {
    // Windows XP and later only; looked up at run time.
    using Fn = DWORD(WINAPI*)(LPCWSTR, LPCWSTR, PVOID, DWORD);
    auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32"), "GetFirmwareEnvironmentVariableW")));
    if (fn == nullptr) return false;
    SetLastError(ERROR_SUCCESS);
    fn(L"", L"{00000000-0000-0000-0000-000000000000}", nullptr, 0);
    return GetLastError() != ERROR_INVALID_FUNCTION;
  }
};

RealDeviceIo g_realDeviceIo;
IDeviceIo* g_deviceIo = nullptr;

}  // namespace

IDeviceIo& DeviceIo() { return g_deviceIo ? *g_deviceIo : g_realDeviceIo; }

void SetDeviceIo(IDeviceIo* io) { g_deviceIo = io; }
