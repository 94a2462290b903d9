#include "boot/boot_config.h"

#include <windows.h>

#include "base/text_format.h"
#include "base/unique_handle.h"

BootConfig TheBootConfig;

bool BootStyleForOsIndex(int32_t osIndex, BootStyle& style) {
  if (osIndex < 0 || osIndex >= 12) return false;
  style = osIndex <= 2 ? BootStyleLegacy : BootStyleBcd;
  return true;
}

void InitBootConfig(wchar_t systemDrive, int32_t osIndex, const std::wstring& toolFolder) {
  BootConfig& config = TheBootConfig;
  config = BootConfig();
  config.systemDrive = systemDrive;
  config.osIndex = osIndex;
  JoinPath(config.bcdeditPath, toolFolder, L"bcdedit.exe");
  JoinPath(config.partToolPath, toolFolder, L"dspt.exe");
  JoinPath(config.bcdbootPath, toolFolder, L"bcdboot.exe");
}

void ExtractBootTools() {
  const BootConfig& config = TheBootConfig;
  WriteResourceToFile(config.bcdeditPath, kBcdeditResourceId, config.payloadType);
  WriteResourceToFile(config.partToolPath, kPartToolResourceId, config.payloadType);
  WriteResourceToFile(config.bcdbootPath, kBcdbootResourceId, config.payloadType);
}

bool WriteResourceToFile(const std::wstring& path, uint16_t id, const wchar_t* type) {
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  HMODULE self = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(self, MAKEINTRESOURCEW(id), type);
  if (found == nullptr) return false;
  HGLOBAL loaded = LoadResource(self, found);
  DWORD size = SizeofResource(self, found);
  const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (data == nullptr || size == 0) return false;
  DWORD written = 0;
  return WriteFile(file.Get(), data, size, &written, nullptr) != FALSE && written == size;
}
