// The worker threads of the data pages: back up or restore the folders the user ticked, naming each on the
// page's status label, and tell the main window when done.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "databackup/backup_steps.h"

// A data job ended: the worker sends (synchronously) this message to the main window. wParam
// kDataBackupJob or kDataRestoreJob, lParam 0.
constexpr UINT WM_DATA_JOB_DONE = WM_USER + 102;
constexpr WPARAM kDataBackupJob = 1;
constexpr WPARAM kDataRestoreJob = 2;

// The kind of job, also the wParam of the WM_DATA_JOB_DONE the worker sends at its end.
enum DataJobKind { DataJobBackup = kDataBackupJob, DataJobRestore = kDataRestoreJob };

// What a worker touches on its page: the three folder options, each read when its turn comes, and the
// status label. The window hands over its own controls; tests hand a recorder.
class DataJobPage {
 public:
  virtual ~DataJobPage() = default;
  virtual bool IsFolderSelected(UserFolder folder) = 0;
  virtual void SetStatusText(const std::wstring& text) = 0;
};

// Handed by the window to a worker, which owns it from then on.
struct DataJobParams {
  std::unique_ptr<DataJobPage> page;
  HWND mainWindow = nullptr;
  // The working folder whose VorlaneBak the steps use, asked when each step starts (the user may pick
  // another folder meanwhile).
  std::function<std::wstring()> workFolder;
};

// "正在备份“我的文档”" and the like.
std::wstring DataJobStatusText(DataJobKind kind, UserFolder folder);
// "备份资料完成" or "还原资料完成", followed in full-width brackets by what did not go plainly, parts
// separated by "；": "N个文件未能复制", "N个文件无法读取，已保留上次备份的版本", "N个链接未复制" and
// "N个被替换的文件已保存到“folder”".
std::wstring DataJobFinalText(DataJobKind kind, const CopyStats& stats);

// Thread procedures; the argument is a DataJobParams created with new. Both return 0.
DWORD WINAPI DataBackupWorker(LPVOID params);
DWORD WINAPI DataRestoreWorker(LPVOID params);

// Starts a worker on a new thread (the handle is not kept); false, with params released, when the thread
// could not be created.
bool StartDataJob(DataJobKind kind, std::unique_ptr<DataJobParams> params);
