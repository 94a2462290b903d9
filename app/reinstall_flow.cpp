// The reinstall flow on the window's side: the catalogue list, the download of the chosen image with pause
// and abandon, the checks of the complete image, the preparation of the one-time boot and the ready
// question with its automatic restart.
#include <windows.h>

#include <memory>

#include "app/dialogs.h"
#include "app/environment.h"
#include "app/fast_startup.h"
#include "app/flow_rules.h"
#include "app/frame_window.h"
#include "app/image_check.h"
#include "app/image_header.h"
#include "app/machine_checks.h"
#include "app/shell_helpers.h"
#include "app/window_messages.h"
#include "base/file_name_rule.h"
#include "base/folders.h"
#include "base/sha256_file.h"
#include "base/text_format.h"
#include "base/unique_handle.h"
#include "boot/preparation.h"
#include "cloud/catalogue_list.h"
#include "cloud/cloud_state.h"
#include "cloud/download_thread.h"
#include "cloud/statistics_ping.h"
#include "sysinfo/disk_table.h"

using namespace DuiLib;

namespace {

constexpr wchar_t kInfoCaption[] = L"提示";
constexpr wchar_t kErrorCaption[] = L"错误";
constexpr wchar_t kCatalogueFailedMessage[] = L" 云引擎连接失败，请检查网络链接";
constexpr wchar_t kPauseImage[] = L"pause.png";
constexpr wchar_t kContinueImage[] = L"continue.png";
// The ready question restarts the machine by itself after this long.
constexpr DWORD kAutomaticRestartMs = 10000;

// The catalogue entry the index names, or null when it lies outside the catalogue.
const CatalogueEntry* EntryAt(int32_t index) {
  const auto& catalogue = TheCloudState.Catalogue;
  if (static_cast<uint32_t>(index) >= catalogue.size()) return nullptr;
  return &catalogue[static_cast<size_t>(index)];
}

// The expected SHA-256 of the image being prepared (empty when its record gives none).
std::wstring ExpectedHashOf(int32_t index) {
  const CatalogueEntry* entry = EntryAt(index);
  return entry != nullptr ? entry->sha256 : std::wstring();
}

void SetTextOf(CControlUI* c, const std::wstring& text) {
  if (c != nullptr) c->SetText(text);
}

void SetEnabledOf(CControlUI* c, bool enabled) {
  if (c != nullptr) c->SetEnabled(enabled);
}

std::wstring PercentText(uint64_t done, uint64_t total) {
  double fraction = total == 0 ? 1.0 : static_cast<double>(done) / static_cast<double>(total);
  return Format(L"%.2f%%", fraction * 100.0);
}

// What the worker that checks an image kept with No needs; it owns the record.
struct VerifyJob {
  HWND window = nullptr;
  std::wstring path;
  std::wstring expected;
  CControlUI* progressLabel = nullptr;
};

DWORD WINAPI VerifyImageWorker(LPVOID param) {
  std::unique_ptr<VerifyJob> job(static_cast<VerifyJob*>(param));
  uint64_t lastShown = 0;
  ImageVerdict verdict = kImageNotChecked;
  // A failure nobody foresaw leaves the image unchecked (the size checks follow) instead of ending the program.
  try {
    verdict = VerifyImage(job->path, job->expected, [&](uint64_t done, uint64_t total) {
      if (done - lastShown < (8u << 20) && done != total) return;
      lastShown = done;
      SetTextOf(job->progressLabel, PercentText(done, total));
    });
  } catch (...) {
    verdict = kImageNotChecked;
  }
  PostMessageW(job->window, WM_IMAGE_VERIFIED, 0, verdict);
  return 0;
}

}  // namespace

void RestartCommand() { Dialogs().RunRestart(kRestartCommand); }

void CFrameWindowWnd::SetPageOptionsEnabled(bool enabled) {
  SetEnabledOf(optmain, enabled);
  SetEnabledOf(optrecosystem, enabled);
  SetEnabledOf(optbacksystem, enabled);
  SetEnabledOf(optbackdata, enabled);
  SetEnabledOf(optrecodata, enabled);
}

void CFrameWindowWnd::BuildCatalogueList() {
  BuildCatalogueRows(listsystem, TheCloudState.Catalogue, [this]() -> CControlUI* {
    CDialogBuilder builder;
    return builder.Create(L"item1.xml", nullptr, &m_pm);
  });
}

void CFrameWindowWnd::OnInstall(TNotifyUI&) {
  // What cannot work on this machine is refused before the catalogue is even shown.
  if (RefusedOnThisMachine(m_hWnd)) return;
  if (CatalogueState == -1) {
    Dialogs().ShowMessage(m_hWnd, kCatalogueFailedMessage, kInfoCaption, MB_OK);
    return;
  }
  if (DownloadFolderRefused()) return;
  BuildCatalogueList();
  SelectPage(5);
}

// The download folder on the system partition: the imaging environment could not read the image while it
// writes that partition, so nothing is downloaded there.
bool CFrameWindowWnd::DownloadFolderRefused() {
  const std::wstring& folder = TheEnvironment.DownloadFolder;
  if (!DriveOnSystemPartition(folder.empty() ? L'\0' : folder[0])) return false;
  Dialogs().ShowMessage(m_hWnd, StorageBlockMessage(StorageBlock::OnSystemPartition), kInfoCaption, MB_OK);
  return true;
}

// Room for the image's size as the catalogue gives it, counting what its earlier files already hold: the
// engine's temporary file of a partial download and, when it is to be replaced, the old image.
bool CFrameWindowWnd::DownloadRoomRefused(const CatalogueEntry& entry, const std::wstring& path, bool replace) {
  uint64_t freeBytes = 0;
  if (!FreeBytesOnDriveOf(path, freeBytes)) return false;
  uint64_t held = FileBytes(path + L".vltmp") + (replace ? FileBytes(path) : 0);
  StorageBlock block = CheckDownloadRoom(CatalogueImageBytes(entry.sizeText), freeBytes, held);
  if (block == StorageBlock::None) return false;
  Dialogs().ShowMessage(m_hWnd, StorageBlockMessage(block), kInfoCaption, MB_OK);
  return true;
}

void CFrameWindowWnd::OnSelectImage(TNotifyUI& msg) {
  SelectedImageIndex = _wtoi(msg.pSender->GetUserData().c_str());
  StartImageDownload();
}

void CFrameWindowWnd::StartImageDownload() {
  const CatalogueEntry* entry = EntryAt(SelectedImageIndex);
  if (entry == nullptr) return;
  Environment& env = TheEnvironment;
  std::wstring path;
  // A file name the engine would refuse (the rule is shared) is refused here, before anything is asked or
  // touched.
  if (!IsUsableFileName(entry->fileName) || !JoinPath(path, env.DownloadFolder, entry->fileName)) {
    Dialogs().ShowMessage(m_hWnd, ImageNameInvalidMessage(entry->fileName), kInfoCaption, MB_OK);
    return;
  }
  if (RefusedOnThisMachine(m_hWnd) || DownloadFolderRefused()) return;
  env.ImagePath = path;

  bool replace = false;
  if (FileExists(path)) {
    if (Dialogs().ShowMessage(m_hWnd, kImageExistsQuestion, kInfoCaption, MB_YESNO) != IDYES) {
      CheckExistingImage();
      return;
    }
    replace = true;
  }
  if (DownloadRoomRefused(*entry, path, replace)) return;

  SetPageOptionsEnabled(false);
  if (btnpause != nullptr) btnpause->SetBkImage(kPauseImage);
  SetEnabledOf(btnpause, true);
  SetEnabledOf(btnstop, true);
  // No monitor runs here, so flags left over from an earlier download must not reach the new one.
  DownloadPaused = 0;
  DownloadStopRequested = 0;
  DownloadDiscardPartial = 0;

  auto* job = new DownloadThreadParam;
  job->progressLabel = labdownpro;
  job->sizeLabel = labfilesize;
  job->speedLabel = labdownspeed;
  job->downloadedLabel = labdownareadydown;
  job->fileNameButton = labfilename;
  job->downloadFolder = env.DownloadFolder;
  job->window = m_hWnd;
  job->entryIndex = SelectedImageIndex;
  if (replace) {
    // The old image goes only once the engine has accepted the new task; the user agreed to overwrite it,
    // read-only or not.
    job->onAccepted = [path]() {
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(path.c_str());
    };
  }
  std::wstring expected = entry->sha256;
  CControlUI* speed = labdownspeed;
  CControlUI* pause = btnpause;
  CControlUI* stop = btnstop;
  job->checkComplete = [path, expected, speed, pause, stop]() -> int {
    if (expected.empty()) return kDownloadFinished;
    // Pausing or abandoning means nothing any more while the complete image is hashed.
    SetEnabledOf(pause, false);
    SetEnabledOf(stop, false);
    SetTextOf(speed, kVerifyingText);
    ImageVerdict verdict = VerifyImage(path, expected);
    return verdict == kImageMismatch ? kDownloadVerifyFailed : kDownloadFinished;
  };

  if (gifprocess != nullptr) gifprocess->PlayGif();
  HANDLE thread = CreateThread(nullptr, 0, DownloadThread, job, 0, nullptr);
  if (thread == nullptr) {
    delete job;
    Dialogs().ShowMessage(m_hWnd, kDownloadFailedMessage, kInfoCaption, MB_OK);
    ShowMainPage();
    return;
  }
  CloseHandle(thread);
  SelectPage(6);
}

// An image kept with No: with an expected hash it is verified on a worker first (the download page shows
// "校验中" and the percentage), so that the window keeps responding; then the usual checks.
void CFrameWindowWnd::CheckExistingImage() {
  std::wstring expected = ExpectedHashOf(SelectedImageIndex);
  if (!IsSha256Hex(expected)) {
    OnDownloadFinished();
    return;
  }
  auto* job = new VerifyJob;
  job->window = m_hWnd;
  job->path = TheEnvironment.ImagePath;
  job->expected = expected;
  job->progressLabel = labdownpro;
  SetPageOptionsEnabled(false);
  SetEnabledOf(btnpause, false);
  SetEnabledOf(btnstop, false);
  SetTextOf(labfilename, Format(L"<f 1><u>%s</u></f>", job->path.c_str()));
  if (labfilename != nullptr) labfilename->SetUserData(job->path);
  SetTextOf(labdownspeed, kVerifyingText);
  SetTextOf(labdownpro, PercentText(0, 1));
  HANDLE thread = CreateThread(nullptr, 0, VerifyImageWorker, job, 0, nullptr);
  if (thread == nullptr) {
    delete job;
    OnImageVerified(kImageNotChecked);
    return;
  }
  CloseHandle(thread);
  SelectPage(6);
}

void CFrameWindowWnd::OnImageVerified(LPARAM verdict) {
  SetEnabledOf(btnpause, true);
  SetEnabledOf(btnstop, true);
  // The kept image's checks leave the page options as they were before the question: enabled.
  SetPageOptionsEnabled(true);
  if (verdict == kImageMismatch) {
    Dialogs().ShowMessage(m_hWnd, kImageHashMismatchMessage, kInfoCaption, MB_OK);
    ShowMainPage();
    return;
  }
  OnDownloadFinished();
}

void CFrameWindowWnd::OnPauseDownload(TNotifyUI&) {
  if (DownloadPaused != 0) {
    if (btnpause != nullptr) btnpause->SetBkImage(kPauseImage);
    if (gifprocess != nullptr) gifprocess->PlayGif();
    DownloadPaused = 0;
    return;
  }
  if (btnpause != nullptr) btnpause->SetBkImage(kContinueImage);
  if (gifprocess != nullptr) gifprocess->PauseGif();
  DownloadPaused = 1;
}

void CFrameWindowWnd::OnStopDownload(TNotifyUI&) {
  if (Dialogs().ShowMessage(m_hWnd, kAbandonQuestion, kInfoCaption, MB_YESNO) != IDYES) return;
  // The partial file stays for a later resume unless the user chooses to delete it.
  bool keep = Dialogs().ShowMessage(m_hWnd, kKeepPartialQuestion, kInfoCaption, MB_YESNO) == IDYES;
  DownloadDiscardPartial = keep ? 0 : 1;
  DownloadStopRequested = 1;
}

void CFrameWindowWnd::OnDownloadEvent(WPARAM wParam, LPARAM lParam) {
  if (wParam != kDownloadEnded) return;
  switch (lParam) {
    case kDownloadFinished:
      OnDownloadFinished();
      break;
    case kDownloadFailed:
      // Page 6 stays with the options disabled: the message asks for a restart of the program.
      Dialogs().ShowMessage(m_hWnd, kDownloadFailedMessage, kInfoCaption, MB_OK);
      break;
    case kDownloadAbandoned:
      ShowMainPage();
      break;
    case kDownloadFinalNameHeld: {
      // The complete data waits under the engine's temporary name; the message says what holds the name.
      DWORD attributes = GetFileAttributesW(TheEnvironment.ImagePath.c_str());
      bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
      Dialogs().ShowMessage(m_hWnd, FinalNameHeldMessage(TheEnvironment.ImagePath, readOnly), kInfoCaption, MB_OK);
      ShowMainPage();
      break;
    }
    case kDownloadTooLargeForVolume:
      Dialogs().ShowMessage(m_hWnd, kTooLargeForFat32Message, kInfoCaption, MB_OK);
      ShowMainPage();
      break;
    case kDownloadVerifyFailed:
      // The damaged image is gone; the main page lets the user pick and download it again.
      Dialogs().ShowMessage(m_hWnd, kImageHashMismatchMessage, kInfoCaption, MB_OK);
      ShowMainPage();
      break;
    default:
      break;
  }
}

void CFrameWindowWnd::OnDownloadFinished() {
  SelectPage(7);
  const Environment& env = TheEnvironment;
  const std::wstring& image = env.ImagePath;
  {
    UniqueHandle file(CreateFileW(image.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
      Dialogs().ShowMessage(m_hWnd, kImageMissingMessage, kInfoCaption, MB_OK);
      return;
    }
    LARGE_INTEGER size = {};
    GetFileSizeEx(file.Get(), &size);
    if (!ImageLargeEnough(size.QuadPart)) {
      Dialogs().ShowMessage(m_hWnd, kImageTooSmallMessage, kInfoCaption, MB_OK);
      return;
    }
  }

  // Releases the program does not prepare, and UEFI machines, stop here: nothing is written, no restart.
  PreparationBlock block = CheckPreparation(env.OsIndex, IsUefiFirmware());
  if (block != PreparationBlock::None) {
    Dialogs().ShowMessage(m_hWnd, PreparationBlockMessage(block), kInfoCaption, MB_OK);
    return;
  }

  wchar_t imageDrive = image.empty() ? L'\0' : image[0];
  std::wstring source = GetGhostAddress(imageDrive, env.SystemDrive);
  std::wstring target = GetGhostAddress(env.SystemDrive, env.SystemDrive);
  if (source.empty() || target.empty()) {
    Dialogs().ShowMessage(m_hWnd, kPartitionErrorMessage, kErrorCaption, MB_OK);
    return;
  }
  // The imaging environment cannot read the image from the partition it writes.
  if (OnSystemPartition(imageDrive, env.SystemDrive, source, target)) {
    Dialogs().ShowMessage(m_hWnd, kNoImagePartitionMessage, kInfoCaption, MB_OK);
    ShowMainPage();
    return;
  }
  // Not one of our images, or taken from a partition larger than the system partition: refused here rather
  // than after the restart. The page options come back so that another image can be chosen.
  uint64_t systemBytes = static_cast<uint64_t>(GetPartitionLength(env.SystemDrive));
  ImageSummary summary;
  ImageFault fault = CheckImageFile(image, systemBytes, summary);
  if (fault != ImageFault::None) {
    bool sizeOrVersion = fault == ImageFault::LargerThanTarget || fault == ImageFault::UnknownVersion;
    Dialogs().ShowMessage(m_hWnd, sizeOrVersion ? ImageFaultMessage(fault, summary, systemBytes)
                                                : std::wstring(kDownloadedImageInvalidMessage),
                          kInfoCaption, MB_OK);
    ShowMainPage();
    return;
  }

  // Nothing is asked and nothing restarts unless every step of the preparation succeeded.
  PreparationResult prepared = PrepareReinstall(image);
  if (!prepared.ok) {
    Dialogs().ShowMessage(m_hWnd, PreparationFailedMessage(PreparationKind::Reinstall, prepared.failure, prepared.undone),
                          kErrorCaption, MB_OK | MB_ICONERROR);
    return;
  }
  // A job is pending now: fast startup would leave the system volume hibernated at the restart.
  TurnOffFastStartupForJob(env.OsIndex);
  std::wstring question = ReinstallQuestion(source, target);
  PingStatistics(webiedowned);
  delayedRestart_.Start(kAutomaticRestartMs, RestartCommand);
  int answer = Dialogs().ShowMessage(m_hWnd, question, kInfoCaption, MB_YESNO);
  if (answer == IDYES) {
    RestartCommand();
    return;
  }
  // Restart later: the automatic restart is called off; the job and the boot entry stay for the next start.
  delayedRestart_.Cancel();
}
