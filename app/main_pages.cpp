// The pages the top options show: the system overview (page 0), the system backup and restore pages (1,
// 2) and the data backup and restore pages (3, 4).
#include <windows.h>

#include "app/environment.h"
#include "app/frame_window.h"
#include "base/text_format.h"
#include "sysinfo/os_version.h"
#include "sysinfo/size_text.h"

using namespace DuiLib;

namespace {

// Shown where the system cannot tell a size.
constexpr wchar_t kUnknownSize[] = L"未知";

void SetTextOf(CControlUI* c, const std::wstring& text) {
  if (c != nullptr) c->SetText(text);
}

void Enable(CControlUI* c) {
  if (c != nullptr) c->SetEnabled(true);
}

std::wstring RootOf(wchar_t drive) { return Format(L"%c:\\", drive); }

// "分区格式：NTFS"; the file-system name alone is asked for.
std::wstring PartitionFormatText(wchar_t drive) {
  wchar_t fileSystem[MAX_PATH + 1] = {};
  if (!GetVolumeInformationW(RootOf(drive).c_str(), nullptr, 0, nullptr, nullptr, nullptr, fileSystem, MAX_PATH + 1)) {
    fileSystem[0] = L'\0';
  }
  return FormatPartitionFormatText(fileSystem);
}

std::wstring PartitionSizeText(wchar_t drive) {
  ULARGE_INTEGER total = {};
  if (!GetDiskFreeSpaceExW(RootOf(drive).c_str(), nullptr, &total, nullptr)) {
    return std::wstring(L"分区大小：") + kUnknownSize;
  }
  return FormatPartitionSizeText(total.QuadPart);
}

bool AnySelected(COptionUI* a, COptionUI* b, COptionUI* c) {
  return (a != nullptr && a->IsSelected()) || (b != nullptr && b->IsSelected()) || (c != nullptr && c->IsSelected());
}

}  // namespace

void CFrameWindowWnd::SelectPage(int index) {
  if (tabswitch != nullptr) tabswitch->SelectItem(index);
}

void CFrameWindowWnd::ShowMainPage() {
  const Environment& env = TheEnvironment;
  Enable(optmain);
  Enable(optrecosystem);
  Enable(optbacksystem);
  Enable(optbackdata);
  Enable(optrecodata);
  SetTextOf(labsysver, OsDisplayName(env.OsIndex));
  SetTextOf(labrecomand, RecommendedSystem(env.OsIndex));

  MEMORYSTATUSEX memory = {};
  memory.dwLength = sizeof(memory);
  GlobalMemoryStatusEx(&memory);  // on failure the zeroed record shows 0.00 GB
  SetTextOf(labmemory, FormatMemoryGb(memory.ullTotalPhys));

  ULARGE_INTEGER freeBytes = {};
  if (GetDiskFreeSpaceExW(RootOf(env.SystemDrive).c_str(), nullptr, nullptr, &freeBytes)) {
    SetTextOf(labfreespace, FormatDriveGb(freeBytes.QuadPart));
  } else {
    SetTextOf(labfreespace, kUnknownSize);
  }
  SetTextOf(labinstpan, FormatDriveText(env.SystemDrive));
  SetTextOf(labdownsave, env.DownloadFolder);
  SelectPage(0);
}

void CFrameWindowWnd::ShowBackupSystemPage() {
  const Environment& env = TheEnvironment;
  SetTextOf(labbacksyspartformat, PartitionFormatText(env.SystemDrive));
  SetTextOf(labbacksyspartsize, PartitionSizeText(env.SystemDrive));
  if (labbackpart != nullptr) labbackpart->SetText(ReplaceZWithDrive(labbackpart->GetText(), env.SystemDrive));
  SetTextOf(editbacksys, env.DefaultSystemImagePath);
  SelectPage(1);
}

void CFrameWindowWnd::ShowRestoreSystemPage() {
  const Environment& env = TheEnvironment;
  SetTextOf(labrecosyspartformat, PartitionFormatText(env.SystemDrive));
  SetTextOf(labrecosyspartsize, PartitionSizeText(env.SystemDrive));
  SetTextOf(editrecosys, env.DefaultSystemImagePath);
  if (labrecopart != nullptr) labrecopart->SetText(ReplaceZWithDrive(labrecopart->GetText(), env.SystemDrive));
  SelectPage(2);
}

void CFrameWindowWnd::ShowDataBackupPage() {
  if (btnbackupdata != nullptr)
    btnbackupdata->SetEnabled(!DataBackupRunning && AnySelected(optbackupdocument, optbackupfavorite, optbackupdesktop));
  SetTextOf(editbackdata, TheEnvironment.WorkFolder());
  SelectPage(3);
}

void CFrameWindowWnd::ShowDataRestorePage() {
  if (btnrecoverydata != nullptr)
    btnrecoverydata->SetEnabled(!DataRestoreRunning &&
                                AnySelected(optrecoverydocument, optrecoveryfavorite, optrecoverydesktop));
  SetTextOf(editrecodata, TheEnvironment.WorkFolder());
  SelectPage(4);
}
