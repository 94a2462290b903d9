#include "boot/ini_file.h"

#include <windows.h>

bool CIniFile::WriteString(const std::wstring& section, const std::wstring& key,
                           const std::wstring& value) const {
  return WritePrivateProfileStringW(section.c_str(), key.c_str(), value.c_str(), path_.c_str()) != FALSE;
}
