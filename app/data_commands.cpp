// The start buttons of the two data pages: each hands its page's folder options and status label to a
// data worker, disables itself and returns at once; WM_DATA_JOB_DONE enables it again.
#include "app/environment.h"
#include "app/frame_window.h"
#include "databackup/data_workers.h"

using namespace DuiLib;

namespace {

// A data page's controls as the worker sees them. The toolkit's state setters and getters may be called
// from the worker's thread.
class DataPageControls : public DataJobPage {
 public:
  DataPageControls(COptionUI* documents, COptionUI* favorites, COptionUI* desktop, CLabelUI* status)
      : options_{documents, favorites, desktop}, status_(status) {}
  bool IsFolderSelected(UserFolder folder) override {
    COptionUI* option = options_[static_cast<int>(folder)];
    return option != nullptr && option->IsSelected();
  }
  void SetStatusText(const std::wstring& text) override {
    if (status_ != nullptr) status_->SetText(text);
  }

 private:
  COptionUI* options_[3];
  CLabelUI* status_;
};

// running stays true until the job's WM_DATA_JOB_DONE, so that the page cannot start the same job twice.
void StartPageJob(DataJobKind kind, HWND window, CButtonUI* button, bool& running,
                  std::unique_ptr<DataPageControls> page) {
  auto params = std::make_unique<DataJobParams>();
  params->page = std::move(page);
  params->mainWindow = window;
  params->workFolder = [] { return TheEnvironment.WorkFolder(); };
  if (button != nullptr) button->SetEnabled(false);
  running = true;
  if (StartDataJob(kind, std::move(params))) return;
  // Without a thread no completion message will come: the button comes back at once.
  running = false;
  if (button != nullptr) button->SetEnabled(true);
}

}  // namespace

void CFrameWindowWnd::OnBackupData(TNotifyUI&) {
  StartPageJob(DataJobBackup, m_hWnd, btnbackupdata, DataBackupRunning,
               std::make_unique<DataPageControls>(optbackupdocument, optbackupfavorite, optbackupdesktop,
                                                  labbackdatamsg));
}

void CFrameWindowWnd::OnRestoreData(TNotifyUI&) {
  StartPageJob(DataJobRestore, m_hWnd, btnrecoverydata, DataRestoreRunning,
               std::make_unique<DataPageControls>(optrecoverydocument, optrecoveryfavorite, optrecoverydesktop,
                                                  labrecodatamsg));
}
