// The download monitor thread: one per started download. It creates the engine wrapper, runs the download
// of one catalogue entry into the job's folder while writing the download page's controls, and reports the
// outcome to the main window with WM_DOWNLOAD_EVENT.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "cloud/download_monitor.h"

namespace DuiLib {
class CControlUI;
}
class DownWrapper;

// The result message: wParam kDownloadEventWParam, lParam 0 downloaded, 1 failed, 2 stopped by the user,
// 4 complete but the final name is held by another file (the data is kept), 5 too large for the folder's
// file system.
constexpr UINT kDownloadEventMessage = WM_USER + 101;
constexpr WPARAM kDownloadEventWParam = 10;

// The monitor's argument, created on the heap by the window; the thread owns it from then on.
struct DownloadThreadParam {
  DuiLib::CControlUI* progressLabel = nullptr;    // "labdownpro"
  DuiLib::CControlUI* sizeLabel = nullptr;        // "labfilesize"
  DuiLib::CControlUI* speedLabel = nullptr;       // "labdownspeed"
  DuiLib::CControlUI* downloadedLabel = nullptr;  // "labdownareadydown"
  DuiLib::CControlUI* fileNameButton = nullptr;   // "labfilename" (text and user data)
  std::wstring downloadFolder;                    // copy of DownloadFolder
  HWND window = nullptr;                          // receives WM_DOWNLOAD_EVENT
  int32_t entryIndex = -1;                        // index into Catalogue
  // Optional: runs on the thread once the image is complete, before the report, and answers the lParam to
  // report instead of 0 (the reinstall flow verifies the image here).
  std::function<int()> checkComplete;
  // Optional: runs on the thread once the engine accepted the task, before it starts (the reinstall flow
  // removes the image the user chose to overwrite here, never earlier).
  std::function<void()> onAccepted;
};

// Thread procedure: param is a DownloadThreadParam* (deleted at the end). Returns 0.
DWORD WINAPI DownloadThread(LPVOID param);

// Makes the engine wrapper; none when it cannot be made. May throw what CreateDownWrapper throws.
using WrapperFactory = std::function<std::unique_ptr<DownWrapper>()>;

// The thread's work with a chosen way of making the wrapper: answers the WM_DOWNLOAD_EVENT lParam it sent.
// No wrapper (library missing, XL_Init failing) and an index outside the catalogue end as failed (1).
int RunDownloadJob(const DownloadThreadParam& job, const WrapperFactory& makeWrapper);

// The engine operations of the monitor on a loaded wrapper. Shutdown uninitialises the engine and destroys
// the wrapper (freeing the library); later calls do nothing. Without Shutdown the wrapper is never destroyed.
class WrapperEngine : public MonitorEngine {
 public:
  explicit WrapperEngine(std::unique_ptr<DownWrapper> wrapper);
  ~WrapperEngine() override;
  uintptr_t CreateTask(const std::wstring& url, const std::wstring& fileName, const std::wstring& folder) override;
  void StartTask(uintptr_t task) override;
  void StopTask(uintptr_t task) override;
  void DeleteTask(uintptr_t task) override;
  void QueryTask(uintptr_t task, TaskFigures& figures) override;
  void DeleteTempFile(const std::wstring& fileName, const std::wstring& folder) override;
  void Shutdown() override;

 private:
  std::unique_ptr<DownWrapper> wrapper_;
  struct InfoRecord;
  std::unique_ptr<InfoRecord> info_;  // the engine's task record, kept across queries
};

// Writes the monitor's texts into the five controls of a DownloadThreadParam (the toolkit's setters may be
// called from any thread). Missing controls are skipped.
class ControlMonitorView : public MonitorView {
 public:
  explicit ControlMonitorView(const DownloadThreadParam& job) : job_(job) {}
  void SetSizeText(const wchar_t* text) override;
  void SetSpeedText(const wchar_t* text) override;
  void SetFileNameData(const wchar_t* path) override;
  void SetFileNameText(const wchar_t* text) override;
  void SetProgressText(const wchar_t* text) override;
  void SetDownloadedText(const wchar_t* text) override;

 private:
  const DownloadThreadParam& job_;
};
