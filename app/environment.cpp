#include "app/environment.h"

#include <shlobj.h>
#include <shlwapi.h>

#include "app/fast_startup.h"
#include "base/folders.h"
#include "base/text_format.h"
#include "boot/boot_config.h"
#include "cloud/cloud_state.h"
#include "sysinfo/os_version.h"

Environment TheEnvironment;

std::wstring Environment::WorkFolder() const {
  LockHolder hold(workFolderLock_);
  return workFolder_;
}

bool Environment::SetWorkFolder(const std::wstring& folder) {
  if (folder.size() >= kPathCapacity) return false;
  LockHolder hold(workFolderLock_);
  workFolder_ = folder;
  return true;
}

namespace {

constexpr wchar_t kWorkFolderName[] = L"VRLN";

DriveProbe ProbeDrive(wchar_t letter) {
  DriveProbe p;
  wchar_t root[8];
  FormatInto(root, L"%c:\\", letter);
  p.driveType = GetDriveTypeW(root);
  if (p.driveType != DRIVE_FIXED) return p;
  wchar_t folder[kPathCapacity];
  FormatInto(folder, L"%c:\\%s", letter, kWorkFolderName);
  p.hasWorkFolder = PathIsDirectoryW(folder) != FALSE;
  ULARGE_INTEGER freeToCaller = {};
  p.freeKnown = GetDiskFreeSpaceExW(root, &freeToCaller, nullptr, nullptr) != FALSE;
  p.freeBytes = p.freeKnown ? freeToCaller.QuadPart : 0;
  return p;
}

}  // namespace

wchar_t ChooseWorkDriveFrom(wchar_t systemDrive, const std::function<DriveProbe(wchar_t)>& probe) {
  wchar_t upperSystem = static_cast<wchar_t>(towupper(systemDrive));
  // An earlier working folder on a fixed drive is reused, whatever the free space.
  for (wchar_t letter = L'A'; letter <= L'Y'; ++letter) {
    if (letter == systemDrive) continue;
    DriveProbe p = probe(letter);
    if (p.driveType != DRIVE_FIXED) continue;
    if (p.hasWorkFolder) return letter;
  }
  // Otherwise the fixed drive with the most free space, at least 4 GiB; an unreadable drive counts as none.
  wchar_t best = 0;
  uint64_t bestFree = 0;
  for (wchar_t letter = L'A'; letter <= L'Y'; ++letter) {
    if (letter == upperSystem) continue;
    DriveProbe p = probe(letter);
    if (p.driveType != DRIVE_FIXED) continue;
    uint64_t freeBytes = p.freeKnown ? p.freeBytes : 0;
    if (freeBytes > bestFree && (freeBytes >> 30) > 3) {
      best = letter;
      bestFree = freeBytes;
    }
  }
  return best != 0 ? best : systemDrive;
}

wchar_t ChooseWorkDrive() { return ChooseWorkDriveFrom(TheEnvironment.SystemDrive, &ProbeDrive); }

void InitWorkPaths() {
  Environment& env = TheEnvironment;
  wchar_t windowsDir[kPathCapacity] = {};
  GetWindowsDirectoryW(windowsDir, kPathCapacity);
  env.SystemDrive = windowsDir[0];

  wchar_t tools[kPathCapacity] = {};
  if (GetSpecialFolderShortPath(tools, CSIDL_TEMPLATES)) env.ToolFolder = tools;

  env.OsIndex = DetectOsIndex();

  wchar_t work[kPathCapacity];
  FormatInto(work, L"%c:\\%s", ChooseWorkDrive(), kWorkFolderName);
  env.SetWorkFolder(work);
  JoinPath(env.SystemBackupFolder, work, L"BackSystem");
  JoinPath(env.DefaultSystemImagePath, env.SystemBackupFolder, L"BAKSYS.GHO");
  JoinPath(env.DataBackupFolder, work, L"VorlaneBak");
  JoinPath(env.DownloadFolder, work, L"Download");

  InitBootConfig(env.SystemDrive, env.OsIndex, env.ToolFolder);
  ExtractBootTools();
  TheCloudState.ToolFolder = env.ToolFolder;

  env.WorkDrive = work[0];

  // Fast startup turned off for a job that has run since is put back as it was.
  wchar_t systemRoot[4] = {env.SystemDrive, L':', L'\\', L'\0'};
  PutBackFastStartup(JobPending(systemRoot));

  CreateFolderWithParents(env.SystemBackupFolder);
  CreateFolderWithParents(env.DataBackupFolder);
  CreateFolderWithParents(env.DownloadFolder);
}
