#include "test_folders.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

#include <atomic>
#include <vector>

namespace {

constexpr wchar_t kShellFoldersKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr const wchar_t* kShellFolderValues[] = {L"Personal", L"Favorites", L"Desktop"};

void CollectTree(const std::wstring& folder, const std::wstring& prefix, std::map<std::wstring, std::string>& out) {
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      out[prefix + name + L"\\"] = "";
      CollectTree(folder + L"\\" + name, prefix + name + L"\\", out);
    } else {
      out[prefix + name] = ReadTextFile(folder + L"\\" + name);
    }
  } while (FindNextFileW(find, &entry));
  FindClose(find);
}

}  // namespace

ScratchFolder::ScratchFolder() {
  static std::atomic<int> counter{0};
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  path_ = std::wstring(temp) + L"vldb" + std::to_wstring(GetCurrentProcessId()) + L"_" +
          std::to_wstring(counter++);
  if (path_.back() == L'\\') path_.pop_back();
  RemoveTree(path_);
  MakeDirs(path_);
}

ScratchFolder::~ScratchFolder() { RemoveTree(path_); }

void MakeDirs(const std::wstring& path) {
  for (size_t i = 3; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == L'\\') CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
  }
}

void WriteTextFile(const std::wstring& path, const std::string& content) {
  MakeDirs(path.substr(0, path.rfind(L'\\')));
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  CloseHandle(h);
}

std::string ReadTextFile(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<missing>";
  std::string content;
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) content.append(buf, got);
  CloseHandle(h);
  return content;
}

bool IsFile(const std::wstring& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsDir(const std::wstring& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring child = path + L"\\" + name;
      SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
  }
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  RemoveDirectoryW(path.c_str());
  DeleteFileW(path.c_str());
}

std::map<std::wstring, std::string> TreeOf(const std::wstring& folder) {
  std::map<std::wstring, std::string> out;
  CollectTree(folder, L"", out);
  return out;
}

namespace {

// Points the three shell folders at folders of the test run and puts the previous values back at the end.
class UserFoldersEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    base_ = std::wstring(temp) + L"vldb-user" + std::to_wstring(GetCurrentProcessId());
    folders_.documents = base_ + L"\\Docs";
    folders_.favorites = folders_.documents + L"\\Favorites";
    folders_.desktop = base_ + L"\\Desk";
    folders_.Empty();
    HKEY key;
    RegCreateKeyExW(HKEY_CURRENT_USER, kShellFoldersKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    const std::wstring* values[] = {&folders_.documents, &folders_.favorites, &folders_.desktop};
    for (int i = 0; i < 3; ++i) {
      wchar_t old[1024] = {};
      DWORD size = sizeof old;
      if (RegQueryValueExW(key, kShellFolderValues[i], nullptr, nullptr, reinterpret_cast<BYTE*>(old), &size) ==
          ERROR_SUCCESS)
        saved_[kShellFolderValues[i]] = old;
      SetValue(key, kShellFolderValues[i], *values[i]);
    }
    RegCloseKey(key);
  }

  void TearDown() override {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kShellFoldersKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
      for (const wchar_t* name : kShellFolderValues) {
        auto it = saved_.find(name);
        if (it == saved_.end()) {
          RegDeleteValueW(key, name);
        } else {
          SetValue(key, name, it->second);
        }
      }
      RegCloseKey(key);
    }
    RemoveTree(base_);
  }

  const TestUserFolders& Folders() const { return folders_; }

 private:
  static void SetValue(HKEY key, const wchar_t* name, const std::wstring& v) {
    RegSetValueExW(key, name, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(v.c_str()),
                   static_cast<DWORD>((v.size() + 1) * sizeof(wchar_t)));
  }
  std::wstring base_;
  TestUserFolders folders_;
  std::map<std::wstring, std::wstring> saved_;
};

UserFoldersEnvironment* const g_userFolders =
    static_cast<UserFoldersEnvironment*>(::testing::AddGlobalTestEnvironment(new UserFoldersEnvironment));

}  // namespace

void TestUserFolders::Empty() const {
  for (const std::wstring* folder : {&documents, &desktop}) {
    RemoveTree(*folder);
    MakeDirs(*folder);
  }
  MakeDirs(favorites);
}

const TestUserFolders& UserFolders() { return g_userFolders->Folders(); }

std::wstring ShortPath(const std::wstring& path) {
  wchar_t buf[MAX_PATH] = {};
  DWORD n = GetShortPathNameW(path.c_str(), buf, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::wstring(buf) : path;
}

std::wstring IniValue(const std::wstring& file, const std::wstring& section, const std::wstring& key) {
  wchar_t buf[256] = {};
  GetPrivateProfileStringW(section.c_str(), key.c_str(), L"<none>", buf, 256, file.c_str());
  return buf;
}

FileHeldByAnotherProcess::FileHeldByAnotherProcess(const std::wstring& path) {
  static std::atomic<int> counter{0};
  std::wstring id = std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(counter++);
  std::wstring readyName = L"VorlaneHoldReady" + id, releaseName = L"VorlaneHoldRelease" + id;
  ready_ = CreateEventW(nullptr, TRUE, FALSE, readyName.c_str());
  release_ = CreateEventW(nullptr, TRUE, FALSE, releaseName.c_str());
  // The helper lies beside the test executable.
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring helper = self;
  helper = helper.substr(0, helper.rfind(L'\\') + 1) + L"hold_file.exe";
  std::wstring command = L"\"" + helper + L"\" \"" + path + L"\" " + readyName + L" " + releaseName;
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(helper.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return;
  CloseHandle(pi.hThread);
  process_ = pi.hProcess;
  HANDLE waits[] = {ready_, process_};
  holding_ = WaitForMultipleObjects(2, waits, FALSE, 30000) == WAIT_OBJECT_0;
}

FileHeldByAnotherProcess::~FileHeldByAnotherProcess() {
  if (release_ != nullptr) SetEvent(release_);
  if (process_ != nullptr) {
    WaitForSingleObject(process_, 30000);
    CloseHandle(process_);
  }
  if (ready_ != nullptr) CloseHandle(ready_);
  if (release_ != nullptr) CloseHandle(release_);
}
