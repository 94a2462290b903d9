#include "app/fast_startup.h"

#include "sysinfo/os_version.h"

namespace {

// A registry key opened for as long as the holder lives.
class RegKey {
 public:
  RegKey() = default;
  ~RegKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  bool Open(HKEY root, const std::wstring& path, REGSAM access) {
    return RegOpenKeyExW(root, path.c_str(), 0, access, &key_) == ERROR_SUCCESS;
  }
  bool Create(HKEY root, const std::wstring& path) {
    return RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_QUERY_VALUE | KEY_SET_VALUE,
                           nullptr, &key_, nullptr) == ERROR_SUCCESS;
  }
  bool Read(const std::wstring& name, DWORD& value) const {
    DWORD type = 0;
    DWORD size = sizeof(value);
    return RegQueryValueExW(key_, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
               ERROR_SUCCESS &&
           type == REG_DWORD && size == sizeof(value);
  }
  bool Write(const std::wstring& name, DWORD value) const {
    return RegSetValueExW(key_, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)) ==
           ERROR_SUCCESS;
  }
  bool Delete(const std::wstring& name) const { return RegDeleteValueW(key_, name.c_str()) == ERROR_SUCCESS; }

 private:
  HKEY key_ = nullptr;
};

bool IsFile(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

bool ReleaseHasFastStartup(int32_t osIndex) { return osIndex >= OsWin8x86 && osIndex <= OsWin81x64; }

bool JobPending(const std::wstring& systemRoot) {
  return IsFile(systemRoot + L"ghost._KX") || IsFile(systemRoot + L"Ghost.ba_");
}

bool TurnOffFastStartupForJob(int32_t osIndex, const FastStartupKeys& keys) {
  if (!ReleaseHasFastStartup(osIndex)) return false;
  RegKey power;
  if (!power.Open(keys.root, keys.powerKey, KEY_QUERY_VALUE | KEY_SET_VALUE)) return false;
  DWORD current = 0;
  if (!power.Read(keys.value, current) || current == 0) return false;
  RegKey saved;
  if (!saved.Create(keys.root, keys.savedKey)) return false;
  DWORD earlier = 0;
  // The copy is written before the setting changes, so the user's setting is never lost.
  if (!saved.Read(keys.savedValue, earlier) && !saved.Write(keys.savedValue, current)) return false;
  return power.Write(keys.value, 0);
}

bool PutBackFastStartup(bool jobPending, const FastStartupKeys& keys) {
  if (jobPending) return false;
  RegKey saved;
  DWORD previous = 0;
  if (!saved.Open(keys.root, keys.savedKey, KEY_QUERY_VALUE | KEY_SET_VALUE) || !saved.Read(keys.savedValue, previous))
    return false;
  RegKey power;
  if (!power.Open(keys.root, keys.powerKey, KEY_QUERY_VALUE | KEY_SET_VALUE) || !power.Write(keys.value, previous))
    return false;
  saved.Delete(keys.savedValue);
  return true;
}
