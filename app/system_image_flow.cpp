// The system backup and restore commands of pages 1 and 2: the checks before anything is written, the
// question with its three answers, and the preparation of the one-time boot.
#include <windows.h>

#include "app/dialogs.h"
#include "app/environment.h"
#include "app/fast_startup.h"
#include "app/flow_rules.h"
#include "app/frame_window.h"
#include "app/image_header.h"
#include "app/machine_checks.h"
#include "app/shell_helpers.h"
#include "base/folders.h"
#include "boot/preparation.h"
#include "sysinfo/disk_table.h"

using namespace DuiLib;

namespace {

constexpr wchar_t kInfoCaption[] = L"提示";
constexpr wchar_t kErrorCaption[] = L"错误";

wchar_t DriveOf(const std::wstring& path) { return path.empty() ? L'\0' : path[0]; }

std::wstring TextOf(CControlUI* c) { return c != nullptr ? c->GetText() : std::wstring(); }

// Shows what failed when a preparation did not succeed; true when it did.
bool Prepared(HWND window, PreparationKind kind, const PreparationResult& result) {
  if (result.ok) return true;
  Dialogs().ShowMessage(window, PreparationFailedMessage(kind, result.failure, result.undone), kErrorCaption,
                        MB_OK | MB_ICONERROR);
  return false;
}

}  // namespace

void CFrameWindowWnd::OnBackupSystem(TNotifyUI&) {
  std::wstring path = TextOf(editbacksys);
  if (RefusedOnThisMachine(m_hWnd)) return;
  // Drives attached since start-up are counted.
  BuildDiskTable();
  wchar_t system = TheEnvironment.SystemDrive;
  std::wstring source = GetGhostAddress(system, system);
  if (source.empty()) {
    Dialogs().ShowMessage(m_hWnd, kPartitionError1Message, kErrorCaption, MB_ICONERROR);
    return;
  }
  std::wstring destination = GetGhostAddress(DriveOf(path), system);
  if (destination.empty()) {
    Dialogs().ShowMessage(m_hWnd, kPartitionError2Message, kErrorCaption, MB_ICONERROR);
    return;
  }
  // The imaging environment cannot write the image onto the partition it reads.
  if (OnSystemPartition(DriveOf(path), system, destination, source)) {
    Dialogs().ShowMessage(m_hWnd, kNoImagePartitionMessage, kInfoCaption, MB_OK);
    return;
  }
  int answer = Dialogs().ShowMessage(m_hWnd, SystemBackupQuestion(source, destination), kInfoCaption, MB_YESNOCANCEL);
  if (answer != IDYES && answer != IDNO) return;
  if (!Prepared(m_hWnd, PreparationKind::Backup, PrepareBackup(path))) return;
  // A job is pending now: fast startup would leave the system volume hibernated at the restart.
  TurnOffFastStartupForJob(TheEnvironment.OsIndex);
  if (answer == IDYES) RestartCommand();
}

void CFrameWindowWnd::OnRestoreSystem(TNotifyUI&) {
  std::wstring path = TextOf(editrecosys);
  if (RefusedOnThisMachine(m_hWnd)) return;
  // The table as last built: at start-up, or by the last backup attempt.
  wchar_t system = TheEnvironment.SystemDrive;
  std::wstring source = GetGhostAddress(DriveOf(path), system);
  if (source.empty()) {
    Dialogs().ShowMessage(m_hWnd, kPartitionError1Message, kErrorCaption, MB_OK);
    return;
  }
  std::wstring destination = GetGhostAddress(system, system);
  if (destination.empty()) {
    Dialogs().ShowMessage(m_hWnd, kPartitionError2Message, kErrorCaption, MB_OK);
    return;
  }
  // The imaging environment cannot read the image from the partition it writes.
  if (OnSystemPartition(DriveOf(path), system, source, destination)) {
    Dialogs().ShowMessage(m_hWnd, kRestoreFromSystemMessage, kInfoCaption, MB_OK);
    return;
  }
  if (!FileExists(path)) {
    Dialogs().ShowMessage(m_hWnd, kBackupImageMissingMessage, kInfoCaption, MB_OK);
    return;
  }
  // A folder, a short file, a damaged image or one taken from a partition larger than the system partition
  // would only be refused after the restart.
  uint64_t systemBytes = static_cast<uint64_t>(GetPartitionLength(system));
  ImageSummary summary;
  ImageFault fault = CheckImageFile(path, systemBytes, summary);
  if (fault != ImageFault::None) {
    Dialogs().ShowMessage(m_hWnd, ImageFaultMessage(fault, summary, systemBytes), kInfoCaption, MB_OK);
    return;
  }
  int answer = Dialogs().ShowMessage(m_hWnd, SystemRestoreQuestion(source, destination), kInfoCaption, MB_YESNOCANCEL);
  if (answer != IDYES && answer != IDNO) return;
  if (!Prepared(m_hWnd, PreparationKind::Restore, PrepareReinstall(path))) return;
  // A job is pending now: fast startup would leave the system volume hibernated at the restart.
  TurnOffFastStartupForJob(TheEnvironment.OsIndex);
  if (answer == IDYES) RestartCommand();
}
