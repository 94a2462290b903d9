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

// The user chose, when abandoning, whether the partial file stays for a later resume.
void DiscardPartialIfAsked(MonitorEngine& engine, const DownloadJob& job) {
  if (DownloadDiscardPartial.exchange(0) != 0) engine.DeleteTempFile(job.fileName, job.folder);
}

int StopRunning(MonitorEngine& engine, uintptr_t task, const DownloadJob& job) {
  engine.StopTask(task);
  engine.DeleteTask(task);
  DiscardPartialIfAsked(engine, job);
  DownloadStopRequested = 0;
  return kDownloadStoppedOutcome;
}

int StopPaused(MonitorEngine& engine, uintptr_t task, const DownloadJob& job) {
  engine.StopTask(task);
  engine.DeleteTask(task);
  DiscardPartialIfAsked(engine, job);
  engine.Shutdown();
  DownloadStopRequested = 0;
  DownloadPaused = 0;
  return kDownloadStoppedOutcome;
}

int Fail(MonitorEngine& engine, uintptr_t task, const TaskFigures& figures, const std::wstring& folder) {
  engine.DeleteTask(task);
  // A complete download whose final name is held by another file is kept whole for the next attempt.
  if (figures.failCode == kTaskFailFinalName) return kDownloadKeptOutcome;
  engine.DeleteTempFile(figures.engineFileName, folder);
  return figures.failCode == kTaskFailTooLarge ? kDownloadTooLargeOutcome : kDownloadFailedOutcome;
}

}  // namespace

int RunDownload(wchar_t* text, size_t cap, const DownloadJob& job, MonitorEngine& engine, MonitorView& view) {
  uintptr_t task = engine.CreateTask(job.imageUrl, job.fileName, job.folder);
  if (task == 0) return kDownloadRefusedOutcome;
  if (job.onAccepted) job.onAccepted();
  engine.StartTask(task);
  TaskFigures figures;
  int counter = 1;
  Sleep(kPollIntervalMs);
  if (DownloadStopRequested != 0) return StopRunning(engine, task, job);

  for (;;) {
    if (DownloadPaused != 0) {
      engine.StopTask(task);
      view.SetSpeedText(kPausedText);
      while (DownloadPaused != 0) {
        if (DownloadStopRequested != 0) return StopPaused(engine, task, job);
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
    if (DownloadStopRequested != 0) return StopRunning(engine, task, job);
  }
}

int OutcomeToEventCode(int outcome) {
  switch (outcome) {
    case kDownloadFinishedOutcome: return 0;
    case kDownloadFailedOutcome: return 1;
    case kDownloadRefusedOutcome: return 1;
    case kDownloadKeptOutcome: return 4;
    case kDownloadTooLargeOutcome: return 5;
    default: return 2;
  }
}
