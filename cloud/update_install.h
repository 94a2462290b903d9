// Where the update installer is written, checked and started: a fresh folder only administrators can
// write, a handle that denies writing and deleting held from the check until the process has started.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "base/unique_handle.h"

// The Windows folder's "Temp" (e.g. C:\WINDOWS\Temp); empty when the Windows folder is unknown.
std::wstring DefaultUpdateParent();

// Creates a new folder "VorlaneUpdate.<process>.<n>" under parent whose access list grants full access to
// administrators and the system only (not inherited; on file systems without access lists the folder is
// plain). False when no such folder could be created.
bool CreatePrivateFolder(const std::wstring& parent, std::wstring& folder);

enum InstallerCheck {
  kInstallerOk = 0,
  kInstallerUnreadable = 1,  // cannot be opened with writes and deletes denied, or not read
  kInstallerWrongSize = 2,
  kInstallerWrongHash = 3,
};

// Opens path for reading with writing and deleting denied to everyone else and checks its size and
// SHA-256 (lower-case hex) through that handle. On kInstallerOk held keeps the handle: the file cannot
// change until it is closed.
InstallerCheck OpenAndCheckInstaller(const std::wstring& path, uint64_t size, const std::string& sha256,
                                     UniqueHandle& held);

// Starts path (no arguments) with folder as its working folder; true once the process exists.
bool StartInstaller(const std::wstring& path, const std::wstring& folder);

// Deletes the installer and its folder (after a refused check); what cannot be removed stays.
void RemoveUpdateFolder(const std::wstring& folder, const std::wstring& path);
