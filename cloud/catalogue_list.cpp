#include "cloud/catalogue_list.h"

#include <memory>

#include "cloud/catalogue_text.h"
#include "ui/control.h"
#include "ui/layout.h"

const wchar_t kCatalogueBadgeImage[] = L".\\Img_53.png";

namespace {

void SetTextOf(DuiLib::CControlUI* row, const wchar_t* name, const std::wstring& text) {
  if (DuiLib::CControlUI* c = row->FindSubControl(name)) c->SetText(text);
}

void FillRow(DuiLib::CControlUI* row, size_t index, const CatalogueEntry& entry) {
  if (DuiLib::CControlUI* button = row->FindSubControl(L"btnselectthis")) {
    button->SetUserData(std::to_wstring(index));
  }
  SetTextOf(row, L"labdes", entry.description);
  if (DuiLib::CControlUI* picture = row->FindSubControl(L"labpic")) {
    picture->SetText(L"");
    picture->SetBkImage(CataloguePictureName(entry.pictureNumber));
  }
  SetTextOf(row, L"labsystemname", entry.name);
  if (DuiLib::CControlUI* badge = row->FindSubControl(L"labhot")) badge->SetBkImage(kCatalogueBadgeImage);
  SetTextOf(row, L"labsize", entry.sizeText);
}

}  // namespace

void BuildCatalogueRows(DuiLib::CContainerUI* list, const std::vector<CatalogueEntry>& catalogue,
                        const CatalogueRowFactory& makeRow) {
  if (list == nullptr) return;
  list->RemoveAll();
  for (size_t i = 0; i < catalogue.size(); ++i) {
    std::unique_ptr<DuiLib::CControlUI> row(makeRow());
    if (!row) continue;
    row->SetFixedHeight(kCatalogueRowHeight);
    if (!list->AddAt(row.get(), static_cast<int>(i))) break;
    DuiLib::CControlUI* inserted = row.release();
    FillRow(inserted, i, catalogue[i]);
  }
}

void ControlConnectionWindow::SetInstallEnabled(bool enabled) {
  if (install_ != nullptr) install_->SetEnabled(enabled);
}

void ControlConnectionWindow::SetInstallTip(const std::wstring& tip) {
  if (install_ != nullptr) install_->SetToolTip(tip);
}

void ControlConnectionWindow::SetStatusText(const std::wstring& text) {
  if (connect_ != nullptr) connect_->SetText(text);
}

void ControlConnectionWindow::ApplyStatusAttributes(const std::wstring& list) {
  if (connect_ != nullptr) connect_->ApplyAttributeList(list);
}

bool ControlConnectionWindow::AskYesNo(const std::wstring& text, const std::wstring& caption) {
  return ask_ ? ask_(text, caption) : false;
}

void ControlConnectionWindow::EndProcess(UINT exitCode) {
  if (end_) {
    end_(exitCode);
    return;
  }
  ConnectionWindow::EndProcess(exitCode);
}

DWORD WINAPI CatalogueThread(LPVOID param) {
  std::unique_ptr<CatalogueThreadParam> p(static_cast<CatalogueThreadParam*>(param));
  if (!p) return 0;
  ControlConnectionWindow window(p->installButton, p->connectLabel, p->ask, p->endProcess);
  // Nothing the server sends may end the program: a failure the sequence did not foresee ends in local mode.
  try {
    RunConnectionSequence(window);
  } catch (...) {
    try {
      FinishInLocalMode(window, connection_text::kLocalModeText);
    } catch (...) {
    }
  }
  return 0;
}
