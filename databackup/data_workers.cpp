#include "databackup/data_workers.h"

#include "base/text_format.h"
#include "base/unique_handle.h"

namespace {

using BackupFn = bool (*)(const std::wstring& root, CopyStats& stats);
using RestoreFn = bool (*)(const std::wstring& root, const std::wstring& stamp, CopyStats& stats);

constexpr BackupFn kBackupSteps[] = {&BackupDocuments, &BackupFavorites, &BackupDesktop};
constexpr RestoreFn kRestoreSteps[] = {&RestoreDocuments, &RestoreFavorites, &RestoreDesktop};

void RunDataJob(DataJobKind kind, DataJobParams& params) {
  CopyStats stats;
  // One keep folder for everything a restore job replaces.
  std::wstring stamp = RestoreStamp(CurrentTime());
  for (UserFolder folder : kUserFolders) {
    if (!params.page->IsFolderSelected(folder)) continue;
    params.page->SetStatusText(DataJobStatusText(kind, folder));
    // The root as it reads when the step starts: the user may pick another folder meanwhile.
    std::wstring root = params.workFolder ? params.workFolder() : std::wstring();
    int i = static_cast<int>(folder);
    if (kind == DataJobBackup) {
      kBackupSteps[i](root, stats);
    } else {
      kRestoreSteps[i](root, stamp, stats);
    }
  }
  params.page->SetStatusText(DataJobFinalText(kind, stats));
  SendMessageW(params.mainWindow, WM_DATA_JOB_DONE, kind, 0);
}

DWORD RunWorker(DataJobKind kind, LPVOID arg) {
  std::unique_ptr<DataJobParams> params(static_cast<DataJobParams*>(arg));
  if (!params || !params->page) return 0;
  // A failure nobody foresaw (memory, for one) ends the job with a plain message instead of the program;
  // the window still hears that the job ended.
  try {
    RunDataJob(kind, *params);
  } catch (...) {
    try {
      params->page->SetStatusText(kind == DataJobBackup ? L"备份资料未能完成" : L"还原资料未能完成");
    } catch (...) {
    }
    SendMessageW(params->mainWindow, WM_DATA_JOB_DONE, kind, 0);
  }
  return 0;
}

}  // namespace

std::wstring DataJobStatusText(DataJobKind kind, UserFolder folder) {
  const wchar_t* verb = kind == DataJobBackup ? L"正在备份" : L"正在还原";
  return Format(L"%s\u201C%s\u201D", verb, CopyFolderName(folder));
}

std::wstring DataJobFinalText(DataJobKind kind, const CopyStats& stats) {
  std::wstring text = kind == DataJobBackup ? L"备份资料完成" : L"还原资料完成";
  std::wstring details;
  auto add = [&details](const std::wstring& part) {
    if (!details.empty()) details += L"\uFF1B";
    details += part;
  };
  if (stats.failedFiles > 0) add(Format(L"%u个文件未能复制", stats.failedFiles));
  if (stats.keptPrevious > 0) add(Format(L"%u个文件无法读取，已保留上次备份的版本", stats.keptPrevious));
  if (stats.skippedLinks > 0) add(Format(L"%u个链接未复制", stats.skippedLinks));
  if (stats.savedFiles > 0) {
    add(Format(L"%u个被替换的文件已保存到\u201C%s\u201D", stats.savedFiles, stats.savedFolder.c_str()));
  }
  if (!details.empty()) text += L"\uFF08" + details + L"\uFF09";
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
