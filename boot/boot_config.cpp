#include "boot/boot_config.h"

#include <windows.h>

#include "base/text_format.h"
#include "boot/file_writes.h"

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

namespace {

// The bytes of a resource of the program's own module; false when it is missing or empty.
bool FindOwnResource(uint16_t id, const wchar_t* type, const void*& data, DWORD& size) {
  HMODULE self = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(self, MAKEINTRESOURCEW(id), type);
  if (found == nullptr) return false;
  HGLOBAL loaded = LoadResource(self, found);
  size = SizeofResource(self, found);
  data = loaded != nullptr ? LockResource(loaded) : nullptr;
  return data != nullptr && size != 0;
}

}  // namespace

bool WriteResourceToFile(const std::wstring& path, uint16_t id, const wchar_t* type) {
  const void* data = nullptr;
  DWORD size = 0;
  if (!FindOwnResource(id, type, data, size)) return false;
  return WriteWholeFile(path, data, size);
}

uint32_t ResourceSize(uint16_t id, const wchar_t* type) {
  const void* data = nullptr;
  DWORD size = 0;
  return FindOwnResource(id, type, data, size) ? size : 0;
}
