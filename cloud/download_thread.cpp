#include "cloud/download_thread.h"

#include <cwchar>

#include "cloud/cloud_state.h"
#include "cloud/down_wrapper.h"
#include "cloud/download_figures.h"
#include "ui/control.h"

struct WrapperEngine::InfoRecord {
  XlTaskInfo info = MakeInitialTaskInfo();
};

WrapperEngine::WrapperEngine(std::unique_ptr<DownWrapper> wrapper)
    : wrapper_(std::move(wrapper)), info_(new InfoRecord) {}

// Only a stop during a pause unloads the engine (Shutdown). Otherwise the library stays loaded and
// initialised for the rest of the process: the engine may still run threads of its own for the task it keeps.
WrapperEngine::~WrapperEngine() { wrapper_.release(); }

namespace {
HANDLE AsTask(uintptr_t task) { return reinterpret_cast<HANDLE>(task); }
}  // namespace

uintptr_t WrapperEngine::CreateTask(const std::wstring& url, const std::wstring& fileName,
                                    const std::wstring& folder) {
  if (!wrapper_) return 0;
  std::unique_ptr<XlTaskParams> params(new XlTaskParams(MakeCreateTaskParams(url, fileName, folder)));
  return reinterpret_cast<uintptr_t>(wrapper_->CreateTask(*params));
}

void WrapperEngine::StartTask(uintptr_t task) {
  if (wrapper_) wrapper_->StartTask(AsTask(task));
}

void WrapperEngine::StopTask(uintptr_t task) {
  if (wrapper_) wrapper_->StopTask(AsTask(task));
}

void WrapperEngine::DeleteTask(uintptr_t task) {
  if (wrapper_) wrapper_->DeleteTask(AsTask(task));
}

void WrapperEngine::QueryTask(uintptr_t task, TaskFigures& figures) {
  if (!wrapper_) return;
  XlTaskInfo& info = info_->info;
  wrapper_->QueryTaskInfoEx(AsTask(task), info);
  figures.status = info.status;
  figures.failCode = info.failCode;
  // The engine's name field need not be terminated: read at most its capacity.
  const size_t capacity = sizeof(info.fileName) / sizeof(info.fileName[0]);
  figures.engineFileName.assign(info.fileName, wcsnlen(info.fileName, capacity));
  figures.totalBytes = info.totalSize;
  figures.downloadedBytes = info.downloadedSize;
  figures.progress = info.progress;
  figures.speed = info.speed;
}

void WrapperEngine::DeleteTempFile(const std::wstring& fileName, const std::wstring& folder) {
  if (!wrapper_) return;
  std::unique_ptr<XlTaskParams> params(new XlTaskParams(MakeDelTempParams(fileName, folder)));
  wrapper_->DelTempFile(*params);
}

void WrapperEngine::Shutdown() {
  if (!wrapper_) return;
  wrapper_->UnInit();
  wrapper_.reset();
}

namespace {
void SetText(DuiLib::CControlUI* control, const wchar_t* text) {
  if (control != nullptr) control->SetText(text);
}
}  // namespace

void ControlMonitorView::SetSizeText(const wchar_t* text) { SetText(job_.sizeLabel, text); }
void ControlMonitorView::SetSpeedText(const wchar_t* text) { SetText(job_.speedLabel, text); }
void ControlMonitorView::SetFileNameData(const wchar_t* path) {
  if (job_.fileNameButton != nullptr) job_.fileNameButton->SetUserData(path);
}
void ControlMonitorView::SetFileNameText(const wchar_t* text) { SetText(job_.fileNameButton, text); }
void ControlMonitorView::SetProgressText(const wchar_t* text) { SetText(job_.progressLabel, text); }
void ControlMonitorView::SetDownloadedText(const wchar_t* text) { SetText(job_.downloadedLabel, text); }

namespace {

// The catalogue entry's task; false when the index is outside the catalogue.
bool JobForEntry(const DownloadThreadParam& job, DownloadJob& out) {
  const auto& catalogue = TheCloudState.Catalogue;
  if (job.entryIndex < 0 || static_cast<size_t>(job.entryIndex) >= catalogue.size()) return false;
  const CatalogueEntry& entry = catalogue[static_cast<size_t>(job.entryIndex)];
  out.imageUrl = entry.imageUrl;
  out.fileName = entry.fileName;
  out.folder = job.downloadFolder;
  out.onAccepted = job.onAccepted;
  return true;
}

std::unique_ptr<DownWrapper> TryMakeWrapper(const WrapperFactory& makeWrapper) {
  try {
    return makeWrapper();
  } catch (const EngineLoadError&) {
    return nullptr;
  }
}

int Report(const DownloadThreadParam& job, int outcome) {
  int code = OutcomeToEventCode(outcome);
  if (code == 0 && job.checkComplete) code = job.checkComplete();
  if (job.window != nullptr) SendMessageW(job.window, kDownloadEventMessage, kDownloadEventWParam, code);
  return code;
}

}  // namespace

int RunDownloadJob(const DownloadThreadParam& job, const WrapperFactory& makeWrapper) {
  DownloadJob task;
  if (!JobForEntry(job, task)) return Report(job, kDownloadFailedOutcome);
  std::unique_ptr<DownWrapper> wrapper = TryMakeWrapper(makeWrapper);
  if (!wrapper) return Report(job, kDownloadFailedOutcome);

  std::unique_ptr<wchar_t[]> text(new wchar_t[kMonitorTextCapacity]);
  text[0] = L'\0';
  int outcome;
  {
    WrapperEngine engine(std::move(wrapper));
    ControlMonitorView view(job);
    outcome = RunDownload(text.get(), kMonitorTextCapacity, task, engine, view);
  }
  return Report(job, outcome);
}

DWORD WINAPI DownloadThread(LPVOID param) {
  std::unique_ptr<DownloadThreadParam> job(static_cast<DownloadThreadParam*>(param));
  if (job) RunDownloadJob(*job, [] { return CreateDownWrapper(); });
  return 0;
}
