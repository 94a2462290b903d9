// The messages worker threads send the main window (with SendMessageW, so the worker waits until the
// window has handled them).
#pragma once
#include <windows.h>

// WM_DATA_JOB_DONE and its kinds are the data workers' own (databackup/data_workers.h).
#include "databackup/data_workers.h"

// A download ended. wParam kDownloadEnded; lParam one of DownloadOutcome.
constexpr UINT WM_DOWNLOAD_EVENT = WM_USER + 101;
constexpr WPARAM kDownloadEnded = 10;
// kDownloadVerifyFailed: the image was complete but did not match the catalogue's SHA-256 (and was deleted).
// kDownloadFinalNameHeld: the image was complete but another file (read-only or in use) holds its name; the
// engine kept the data. kDownloadTooLargeForVolume: the download folder's file system (FAT32) cannot hold
// the image.
enum DownloadOutcome : LPARAM {
  kDownloadFinished = 0,
  kDownloadFailed = 1,
  kDownloadAbandoned = 2,
  kDownloadVerifyFailed = 3,
  kDownloadFinalNameHeld = 4,
  kDownloadTooLargeForVolume = 5
};

// The check of an image kept with No (StartImageDownload) has ended; posted by its worker. wParam 0,
// lParam one of ImageVerdict (app/image_check.h).
constexpr UINT WM_IMAGE_VERIFIED = WM_USER + 103;
