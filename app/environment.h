// The program-wide record of paths and machine facts, filled once at start-up by InitWorkPaths.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "base/simple_lock.h"

// The boot side keeps its own copy of the system drive, release code and tool paths (TheBootConfig), the
// cloud services theirs of the tool folder (TheCloudState); InitWorkPaths hands them over.
struct Environment {
  std::wstring ImagePath;       // image of the current reinstall; empty until a download starts
  std::wstring DataBackupFolder;  // WorkFolder\VorlaneBak as set at start-up
  wchar_t SystemDrive = L'C';
  wchar_t WorkDrive = L'C';
  std::wstring ToolFolder;             // short path of the Templates folder; empty when unresolved
  std::wstring DefaultSystemImagePath; // SystemBackupFolder\BAKSYS.GHO
  std::wstring SystemBackupFolder;     // WorkFolder\BackSystem
  std::wstring DownloadFolder;         // WorkFolder\Download
  int32_t OsIndex = 14;

  // WorkFolder ("X:\VRLN" at start-up, or the folder the user picked on a data page) is read by the data
  // workers while the window may change it, so it is only reached through these guarded accessors.
  std::wstring WorkFolder() const;
  // Replaces WorkFolder; false (nothing changed) when the path does not fit 260 units.
  bool SetWorkFolder(const std::wstring& folder);

 private:
  mutable SimpleLock workFolderLock_;
  std::wstring workFolder_;
};

extern Environment TheEnvironment;

// Facts about one drive letter that the choice of the working drive needs.
struct DriveProbe {
  UINT driveType = DRIVE_NO_ROOT_DIR;
  bool hasWorkFolder = false;   // "X:\VRLN" exists as a directory
  bool freeKnown = false;       // the free-space query succeeded
  uint64_t freeBytes = 0;       // bytes free to the caller
};

// The working-drive rule on given facts: an existing VRLN folder on a fixed non-system drive wins; else the
// fixed non-system drive with the most free space of at least 4 GiB (earlier letter on ties); else the
// system drive. Letters A to Y only.
wchar_t ChooseWorkDriveFrom(wchar_t systemDrive, const std::function<DriveProbe(wchar_t)>& probe);

// The same on the real drives of this machine.
wchar_t ChooseWorkDrive();

// Settles the system drive, tool folder, OsIndex and work folders at start-up and creates the folders.
void InitWorkPaths();
