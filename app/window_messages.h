// The messages worker threads send the main window (with SendMessageW, so the worker waits until the
// window has handled them).
#pragma once
#include <windows.h>

// A download ended. wParam kDownloadEnded; lParam one of DownloadOutcome.
constexpr UINT WM_DOWNLOAD_EVENT = WM_USER + 101;
constexpr WPARAM kDownloadEnded = 10;
enum DownloadOutcome : LPARAM { kDownloadFinished = 0, kDownloadFailed = 1, kDownloadAbandoned = 2 };

// A data job ended. wParam 1 backup, 2 restore; lParam 0.
constexpr UINT WM_DATA_JOB_DONE = WM_USER + 102;
constexpr WPARAM kDataBackupJob = 1;
constexpr WPARAM kDataRestoreJob = 2;
