#include "databackup/data_workers.h"

#include "base/text_format.h"
#include "base/unique_handle.h"

namespace {

using StepFn = bool (*)(const std::wstring& root, CopyStats& stats);

constexpr StepFn kBackupSteps[] = {&BackupDocuments, &BackupFavorites, &BackupDesktop};
constexpr StepFn kRestoreSteps[] = {&RestoreDocuments, &RestoreFavorites, &RestoreDesktop};

void RunDataJob(DataJobKind kind, DataJobParams& params) {
  const StepFn* steps = kind == DataJobBackup ? kBackupSteps : kRestoreSteps;
  CopyStats stats;
  for (UserFolder folder : kUserFolders) {
    if (!params.page->IsFolderSelected(folder)) continue;
    params.page->SetStatusText(DataJobStatusText(kind, folder));
    // The root as it reads when the step starts: the user may pick another folder meanwhile.
    std::wstring root = params.workFolder ? params.workFolder() : std::wstring();
    steps[static_cast<int>(folder)](root, stats);
  }
  params.page->SetStatusText(DataJobFinalText(kind, stats.failedFiles));
  SendMessageW(params.mainWindow, WM_DATA_JOB_DONE, kind, 0);
}

DWORD RunWorker(DataJobKind kind, LPVOID arg) {
  std::unique_ptr<DataJobParams> params(static_cast<DataJobParams*>(arg));
  if (params && params->page) RunDataJob(kind, *params);
  return 0;
}

}  // namespace

std::wstring DataJobStatusText(DataJobKind kind, UserFolder folder) {
  const wchar_t* verb = kind == DataJobBackup ? L"正在备份" : L"正在还原";
  return Format(L"%s\u201C%s\u201D", verb, CopyFolderName(folder));
}

std::wstring DataJobFinalText(DataJobKind kind, uint32_t failedFiles) {
  std::wstring text = kind == DataJobBackup ? L"备份资料完成" : L"还原资料完成";
  if (failedFiles > 0) text += Format(L"\uFF08%u个文件未能复制\uFF09", failedFiles);
  return text;
}

DWORD WINAPI DataBackupWorker(LPVOID params) { return RunWorker(DataJobBackup, params); }
DWORD WINAPI DataRestoreWorker(LPVOID params) { return RunWorker(DataJobRestore, params); }

bool StartDataJob(DataJobKind kind, std::unique_ptr<DataJobParams> params) {
  LPTHREAD_START_ROUTINE proc = kind == DataJobBackup ? &DataBackupWorker : &DataRestoreWorker;
  UniqueHandle thread(CreateThread(nullptr, 0, proc, params.get(), 0, nullptr));
  if (!thread) return false;
  params.release();
  return true;
}
