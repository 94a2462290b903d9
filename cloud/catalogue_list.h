// The catalogue page: one "item1.xml" row per catalogue entry in the list "listsystem", and the
// connection sequence's view of the main window's install button and status label.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "cloud/catalogue_entry.h"
#include "cloud/connection_sequence.h"

namespace DuiLib {
class CControlUI;
class CContainerUI;
}  // namespace DuiLib

// Height of a catalogue row in pixels.
constexpr int kCatalogueRowHeight = 95;
// The badge every row shows.
extern const wchar_t kCatalogueBadgeImage[];  // ".\Img_53.png"

// Builds one row's control tree (from "item1.xml"); null when it cannot be built.
using CatalogueRowFactory = std::function<DuiLib::CControlUI*()>;

// Rebuilds the rows of list from catalogue, in order. A row that cannot be built is skipped; when the list
// refuses a row at its index, building stops (the rows already in stay). Each row's "btnselectthis" carries
// its entry index as decimal text. Window thread only.
void BuildCatalogueRows(DuiLib::CContainerUI* list, const std::vector<CatalogueEntry>& catalogue,
                        const CatalogueRowFactory& makeRow);

// A Yes/No question owned by the main window (the window's own message-box path, scripted in the sandbox);
// true for Yes.
using YesNoQuestion = std::function<bool(const std::wstring& text, const std::wstring& caption)>;

// The connection sequence's window: the install button "btninstall" and the status label "labconnect",
// written through the toolkit's thread-safe setters, and the window's question box.
class ControlConnectionWindow : public ConnectionWindow {
 public:
  ControlConnectionWindow(DuiLib::CControlUI* installButton, DuiLib::CControlUI* connectLabel, YesNoQuestion ask,
                          std::function<void(UINT)> endProcess = nullptr)
      : install_(installButton), connect_(connectLabel), ask_(std::move(ask)), end_(std::move(endProcess)) {}
  void SetInstallEnabled(bool enabled) override;
  void SetInstallTip(const std::wstring& tip) override;
  void SetStatusText(const std::wstring& text) override;
  void ApplyStatusAttributes(const std::wstring& list) override;
  bool AskYesNo(const std::wstring& text, const std::wstring& caption) override;
  void EndProcess(UINT exitCode) override;

 private:
  DuiLib::CControlUI* install_;
  DuiLib::CControlUI* connect_;
  YesNoQuestion ask_;
  std::function<void(UINT)> end_;
};

// The record CatalogueThread receives (the thread owns it).
struct CatalogueThreadParam {
  DuiLib::CControlUI* installButton = nullptr;  // InstallButton
  DuiLib::CControlUI* connectLabel = nullptr;   // ConnectLabel
  YesNoQuestion ask;                            // the main window's Yes/No box
  std::function<void(UINT)> endProcess;         // ends the process after the update; ExitProcess when empty
};

// The connection sequence on its own thread; param is a CatalogueThreadParam* (deleted at the end).
// Returns 0.
DWORD WINAPI CatalogueThread(LPVOID param);
