#include "cloud/download_monitor.h"

#include <windows.h>

#include "cloud/cloud_state.h"
#include "cloud/download_figures.h"

const wchar_t kPausedText[] = L"\u6682\u505c";  // 暂停

void ShowFigures(wchar_t* text, size_t cap, const TaskFigures& figures, const std::wstring& folder,
                 MonitorView& view) {
  FormatTotalSize(text, cap, figures.totalBytes);
  view.SetSizeText(text);
  FormatSpeed(text, cap, figures.speed);
  view.SetSpeedText(text);
  FormatImagePath(text, cap, folder, figures.engineFileName);
  view.SetFileNameData(text);
  FormatImagePathLink(text, cap, folder, figures.engineFileName);
  view.SetFileNameText(text);
  FormatProgress(text, cap, figures.progress);
  view.SetProgressText(text);
  FormatDownloaded(text, cap, figures.downloadedBytes);
  view.SetDownloadedText(text);
}

namespace {

int StopRunning(MonitorEngine& engine, uintptr_t task) {
  engine.StopTask(task);
  engine.DeleteTask(task);
  DownloadStopRequested = 0;
  return kDownloadStoppedOutcome;
}

int StopPaused(MonitorEngine& engine, uintptr_t task) {
  engine.StopTask(task);
  engine.DeleteTask(task);
  engine.Shutdown();
  DownloadStopRequested = 0;
  DownloadPaused = 0;
  return kDownloadStoppedOutcome;
}

int Fail(MonitorEngine& engine, uintptr_t task, const TaskFigures& figures, const std::wstring& folder) {
  engine.DeleteTask(task);
  engine.DeleteTempFile(figures.engineFileName, folder);
  return kDownloadFailedOutcome;
}

}  // namespace

int RunDownload(wchar_t* text, size_t cap, const DownloadJob& job, MonitorEngine& engine, MonitorView& view) {
  uintptr_t task = engine.CreateTask(job.imageUrl, job.fileName, job.folder);
  engine.StartTask(task);
  TaskFigures figures;
  int counter = 1;
  Sleep(kPollIntervalMs);
  if (DownloadStopRequested != 0) return StopRunning(engine, task);

  for (;;) {
    if (DownloadPaused != 0) {
      engine.StopTask(task);
      view.SetSpeedText(kPausedText);
      while (DownloadPaused != 0) {
        if (DownloadStopRequested != 0) return StopPaused(engine, task);
        Sleep(kPollIntervalMs);
      }
      engine.StartTask(task);
    }
    engine.QueryTask(task, figures);
    if (counter == 0) ShowFigures(text, cap, figures, job.folder, view);
    if (figures.status == kTaskCompleted) return kDownloadFinishedOutcome;
    if (figures.status == kTaskFailed) return Fail(engine, task, figures, job.folder);
    counter = (counter + 1) % 5;
    Sleep(kPollIntervalMs);
    if (DownloadStopRequested != 0) return StopRunning(engine, task);
  }
}

int OutcomeToEventCode(int outcome) {
  switch (outcome) {
    case kDownloadFinishedOutcome: return 0;
    case kDownloadFailedOutcome: return 1;
    default: return 2;
  }
}
