// An INI file named by its path, written through the platform's private-profile writer.
#pragma once
#include <string>

class CIniFile {
 public:
  CIniFile() = default;
  explicit CIniFile(std::wstring path) : path_(std::move(path)) {}
  virtual ~CIniFile() = default;

  const std::wstring& Path() const { return path_; }
  void SetPath(const std::wstring& path) { path_ = path; }
  // Writes one value, creating the file, section and key as needed and replacing an existing value.
  bool WriteString(const std::wstring& section, const std::wstring& key, const std::wstring& value) const;

 private:
  std::wstring path_;
};
