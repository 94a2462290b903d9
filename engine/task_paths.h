// File names of a task: the final file, the temporary file and the state file, as extended-length paths
// ("\\?\C:\..." or "\\?\UNC\server\share\...") so that any length the system allows works.
#pragma once
#include <string>

#include "base/file_name_rule.h"  // IsUsableFileName: the names the engine accepts

// An absolute folder (drive or UNC, "\" or "/" as separators, "." and ".." already resolved by the
// caller) as an extended-length path without a trailing "\". Empty when the folder is not absolute.
std::wstring ExtendedFolderPath(const std::wstring& folder);

// The parent folders of an extended-length folder path that must exist, from the outermost creatable one
// ("\\?\C:\a", "\\?\C:\a\b", ...); the drive or share itself is not listed.
std::wstring::size_type FirstCreatableSeparator(const std::wstring& extendedFolder);

struct TaskPaths {
  std::wstring folder;  // extended-length folder
  std::wstring final;   // folder\name
  std::wstring temp;    // folder\name.vltmp
  std::wstring state;   // folder\name.vlstate
};

constexpr wchar_t kTempSuffix[] = L".vltmp";
constexpr wchar_t kStateSuffix[] = L".vlstate";

// False when the name is not usable or the folder not absolute.
bool MakeTaskPaths(const std::wstring& folder, const std::wstring& name, TaskPaths* out);
