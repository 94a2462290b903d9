// The shell helpers the commands use: choosers (through the dialogs of app/dialogs.h), Explorer on a
// folder, and the small path rules around them.
#pragma once
#include <string>

// The folder chooser; the chosen folder or an empty text.
std::wstring BrowseForFolder();
// The image-file chooser; true with the path when the user confirmed a file.
bool BrowseForImageFile(std::wstring& path);
// Creates the folder with its missing parents (failure ignored) and opens it in Explorer.
void OpenFolderInExplorer(const std::wstring& folder);
// The text before the last backslash; empty when there is none.
std::wstring FolderOfPath(const std::wstring& path);
// Explorer's parameters for a folder: /e, "folder".
std::wstring ExplorerParameters(const std::wstring& folder);
// The chosen folder of the system-backup page followed by "\BAKSYS.GHO"; empty when it would not fit
// 260 units.
std::wstring BackupImagePathIn(const std::wstring& folder);
