// Real folders and files for the data backup tests, in a scratch folder of the test prefix, and the user's
// shell folders pointed at folders of the test's own through the registry.
#pragma once
#include <windows.h>

#include <map>
#include <string>

// A fresh scratch folder, removed with everything in it when the object goes.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  const std::wstring& Path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

// Writes a file with the given content, creating missing folders on the way.
void WriteTextFile(const std::wstring& path, const std::string& content);
// The content of a file, or "<missing>".
std::string ReadTextFile(const std::wstring& path);
bool IsFile(const std::wstring& path);
bool IsDir(const std::wstring& path);
void MakeDirs(const std::wstring& path);
void RemoveTree(const std::wstring& path);

// Every file below a folder as relative path -> content; folders appear as "path\" -> "".
std::map<std::wstring, std::string> TreeOf(const std::wstring& folder);

// The user's Documents, Favorites (a folder inside Documents) and Desktop of the test process: folders of
// the test's own, set once for the whole run through HKCU User Shell Folders (the shell resolves the
// desktop once per process) and given back afterwards. Empty() clears their contents.
struct TestUserFolders {
  std::wstring documents, favorites, desktop;
  void Empty() const;
};
const TestUserFolders& UserFolders();

// The short (8.3) form of a path, as the steps resolve the user's folders.
std::wstring ShortPath(const std::wstring& path);

// Value of an INI key read back through the platform, "<none>" when absent.
std::wstring IniValue(const std::wstring& file, const std::wstring& section, const std::wstring& key);

// Another process that holds a file open without sharing from construction until destruction.
class FileHeldByAnotherProcess {
 public:
  explicit FileHeldByAnotherProcess(const std::wstring& path);
  ~FileHeldByAnotherProcess();
  bool Holding() const { return holding_; }

 private:
  HANDLE process_ = nullptr;
  HANDLE ready_ = nullptr;
  HANDLE release_ = nullptr;
  bool holding_ = false;
};
