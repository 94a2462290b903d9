// Folders of the machine: creating a path with its parents, and the short path of a shell folder.
#pragma once
#include <string>

#include "base/late_bound.h"

// Creates the folder and every missing parent (through the shell where it can, else one level at a time);
// true when the folder exists afterwards.
bool CreateFolderWithParents(const std::wstring& path, const LateBoundCalls& calls = SystemCalls());

// True when the path names an existing file or folder.
bool FileExists(const std::wstring& path);

// Resolves a shell folder (CSIDL id) to its short 8.3 path in buffer (kPathCapacity units); false when any
// step fails.
bool GetSpecialFolderShortPath(wchar_t* buffer, int csidl);
