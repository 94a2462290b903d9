#include "boot/boot_config.h"

#include <windows.h>

#include "app/environment.h"
#include "app/text_format.h"
#include "app/unique_handle.h"

BootConfig TheBootConfig;

bool BootStyleForOsIndex(int32_t osIndex, BootStyle& style) {
  if (osIndex < 0 || osIndex >= 12) return false;
  style = osIndex <= 2 ? BootStyleLegacy : BootStyleBcd;
  return true;
}

void ExtractBootTools() {
  Environment& env = TheEnvironment;
  JoinPath(env.BcdeditPath, env.ToolFolder, L"bcdedit.exe");
  JoinPath(env.PartToolPath, env.ToolFolder, L"dspt.exe");
  JoinPath(env.BcdbootPath, env.ToolFolder, L"bcdboot.exe");
  WriteResourceToFile(env.BcdeditPath, kBcdeditResourceId, TheBootConfig.payloadType);
  WriteResourceToFile(env.PartToolPath, kPartToolResourceId, TheBootConfig.payloadType);
  WriteResourceToFile(env.BcdbootPath, kBcdbootResourceId, TheBootConfig.payloadType);
}

void InitBootConfig() {
  const Environment& env = TheEnvironment;
  BootConfig& config = TheBootConfig;
  config = BootConfig();
  config.systemDrive = env.SystemDrive;
  config.bcdbootPath = env.BcdbootPath;
  config.bcdeditPath = env.BcdeditPath;
  config.partToolPath = env.PartToolPath;
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
