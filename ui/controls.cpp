#include "ui/controls.h"

#include <wininet.h>

#include "ui/paint_manager.h"
#include "ui/render.h"
#include "ui/ui_lock.h"

namespace DuiLib {

namespace {

HAlign ParseHAlign(const std::wstring& v) {
  if (v == L"center") return HAlign::Center;
  if (v == L"right") return HAlign::Right;
  return HAlign::Left;
}

VAlign ParseVAlign(const std::wstring& v) {
  if (v == L"top") return VAlign::Top;
  if (v == L"bottom") return VAlign::Bottom;
  return VAlign::Center;
}

constexpr uint32_t kDefaultTextColor = 0xFF000000;
constexpr uint32_t kDefaultDisabledTextColor = 0xFFA7A6AA;

}  // namespace

// ---- CLabelUI

uint32_t CLabelUI::GetTextColor() const {
  UiLockGuard g;
  return textColor_;
}

void CLabelUI::SetTextColor(uint32_t argb) {
  UiLockGuard g;
  textColor_ = argb;
  Invalidate();
}

int CLabelUI::GetFont() const {
  UiLockGuard g;
  return font_;
}

bool CLabelUI::IsShowHtml() const {
  UiLockGuard g;
  return showHtml_;
}

bool CLabelUI::SetAttributeLocked(const std::wstring& name, const std::wstring& value) {
  if (name == L"font") {
    font_ = ParseInt(value);
  } else if (name == L"textcolor") {
    ParseColor(value, textColor_);
  } else if (name == L"disabledtextcolor") {
    ParseColor(value, disabledTextColor_);
  } else if (name == L"align") {
    align_ = ParseHAlign(value);
  } else if (name == L"valign") {
    valign_ = ParseVAlign(value);
  } else if (name == L"textpadding") {
    ParseRect(value, textPadding_);
  } else if (name == L"showhtml") {
    showHtml_ = ParseBool(value);
  } else if (name == L"endellipsis") {
    endEllipsis_ = ParseBool(value);
  } else {
    return CControlUI::SetAttributeLocked(name, value);
  }
  return true;
}

uint32_t CLabelUI::CurrentTextColor() const {
  if (!enabled_) return disabledTextColor_ != 0 ? disabledTextColor_ : kDefaultDisabledTextColor;
  return textColor_ != 0 ? textColor_ : kDefaultTextColor;
}

void CLabelUI::PaintText(const PaintContext& ctx) {
  if (text_.empty()) return;
  UiRect rc(pos_.left + textPadding_.left, pos_.top + textPadding_.top, pos_.right - textPadding_.right,
            pos_.bottom - textPadding_.bottom);
  if (rc.IsEmpty()) return;
  if (showHtml_) {
    CRenderEngine::DrawRichText(ctx.dc, ctx.manager, rc, text_, CurrentTextColor(), font_, align_, valign_);
  } else {
    CRenderEngine::DrawText(ctx.dc, ctx.manager, rc, text_, CurrentTextColor(), font_, align_, valign_, endEllipsis_);
  }
}

// ---- CButtonUI

CButtonUI::CButtonUI() { align_ = HAlign::Center; }

bool CButtonUI::SetAttributeLocked(const std::wstring& name, const std::wstring& value) {
  if (name == L"normalimage") {
    normalImage_ = value;
  } else if (name == L"hotimage") {
    hotImage_ = value;
  } else if (name == L"pushedimage") {
    pushedImage_ = value;
  } else if (name == L"disabledimage") {
    disabledImage_ = value;
  } else if (name == L"focusedimage") {
    focusedImage_ = value;
  } else if (name == L"hottextcolor") {
    ParseColor(value, hotTextColor_);
  } else if (name == L"pushedtextcolor") {
    ParseColor(value, pushedTextColor_);
  } else if (name == L"focusedtextcolor") {
    ParseColor(value, focusedTextColor_);
  } else {
    return CLabelUI::SetAttributeLocked(name, value);
  }
  return true;
}

uint32_t CButtonUI::CurrentTextColor() const {
  if (enabled_) {
    if (pushed_ && pushedTextColor_ != 0) return pushedTextColor_;
    if (hot_ && hotTextColor_ != 0) return hotTextColor_;
    if (focused_ && focusedTextColor_ != 0) return focusedTextColor_;
  }
  return CLabelUI::CurrentTextColor();
}

void CButtonUI::PaintStatusImage(const PaintContext& ctx) {
  if (!enabled_ && !disabledImage_.empty() && DrawImage(ctx, disabledImage_)) return;
  if (enabled_ && pushed_ && !pushedImage_.empty() && DrawImage(ctx, pushedImage_)) return;
  if (enabled_ && hot_ && !hotImage_.empty() && DrawImage(ctx, hotImage_)) return;
  if (focused_ && !focusedImage_.empty() && DrawImage(ctx, focusedImage_)) return;
  if (!normalImage_.empty()) DrawImage(ctx, normalImage_);
}

void CButtonUI::DoEvent(TEventUI& event) {
  bool activate = false;
  {
    UiLockGuard g;
    switch (event.type) {
      case UiEvent::ButtonDown:
        if (enabled_) {
          pushed_ = true;
          Invalidate();
        }
        return;
      case UiEvent::MouseMove:
        if (pushed_ != false || hot_) Invalidate();
        return;
      case UiEvent::ButtonUp:
        if (pushed_) {
          pushed_ = false;
          Invalidate();
          activate = enabled_ && pos_.Contains(event.ptMouse.x, event.ptMouse.y);
        }
        break;
      case UiEvent::KeyDown:
        activate = event.wParam == VK_RETURN || event.wParam == VK_SPACE;
        break;
      default:
        break;
    }
  }
  // The click handler runs without the toolkit lock held, so a message box it shows does not stall the
  // worker threads that update controls.
  if (activate) {
    Activate();
    return;
  }
  if (event.type != UiEvent::ButtonUp && event.type != UiEvent::KeyDown) CLabelUI::DoEvent(event);
}

bool CButtonUI::Activate() {
  CPaintManagerUI* manager = nullptr;
  {
    UiLockGuard g;
    if (!enabled_ || !visible_) return false;
    manager = manager_;
  }
  if (manager != nullptr) manager->SendNotify(this, L"click");
  return true;
}

// ---- COptionUI

COptionUI::~COptionUI() {
  if (manager_ != nullptr && !group_.empty()) manager_->RemoveOptionGroup(group_, this);
}

void COptionUI::SetManager(CPaintManagerUI* manager, CControlUI* parent) {
  UiLockGuard g;
  if (manager_ != nullptr && !group_.empty()) manager_->RemoveOptionGroup(group_, this);
  CButtonUI::SetManager(manager, parent);
  if (manager_ != nullptr && !group_.empty()) manager_->AddOptionGroup(group_, this);
}

bool COptionUI::SetAttributeLocked(const std::wstring& name, const std::wstring& value) {
  if (name == L"group") {
    if (manager_ != nullptr && !group_.empty()) manager_->RemoveOptionGroup(group_, this);
    group_ = value;
    if (manager_ != nullptr && !group_.empty()) manager_->AddOptionGroup(group_, this);
  } else if (name == L"selected") {
    selected_ = ParseBool(value);
  } else if (name == L"selectedimage") {
    selectedImage_ = value;
  } else if (name == L"selectedhotimage") {
    selectedHotImage_ = value;
  } else if (name == L"selectedtextcolor") {
    ParseColor(value, selectedTextColor_);
  } else {
    return CButtonUI::SetAttributeLocked(name, value);
  }
  return true;
}

bool COptionUI::IsSelected() const {
  UiLockGuard g;
  return selected_;
}

void COptionUI::Selected(bool selected, bool sendNotify) {
  std::vector<COptionUI*> cleared;
  CPaintManagerUI* manager = nullptr;
  {
    UiLockGuard g;
    if (selected_ == selected) return;
    selected_ = selected;
    Invalidate();
    manager = manager_;
    if (selected && manager_ != nullptr && !group_.empty()) {
      for (COptionUI* other : manager_->GetOptionGroup(group_)) {
        if (other == this || !other->selected_) continue;
        other->selected_ = false;
        other->Invalidate();
        cleared.push_back(other);
      }
    }
  }
  if (!sendNotify || manager == nullptr) return;
  manager->SendNotify(this, L"selectchanged");
  for (COptionUI* other : cleared) manager->SendNotify(other, L"selectchanged");
}

bool COptionUI::Activate() {
  if (!CButtonUI::Activate()) return false;
  bool grouped = false, selected = false;
  {
    UiLockGuard g;
    grouped = !group_.empty();
    selected = selected_;
  }
  // A grouped option stays selected when clicked again; a check box toggles.
  Selected(grouped ? true : !selected);
  return true;
}

uint32_t COptionUI::CurrentTextColor() const {
  if (selected_ && enabled_ && selectedTextColor_ != 0) return selectedTextColor_;
  return CButtonUI::CurrentTextColor();
}

void COptionUI::PaintStatusImage(const PaintContext& ctx) {
  if (selected_) {
    if (hot_ && !selectedHotImage_.empty() && DrawImage(ctx, selectedHotImage_)) return;
    if (!selectedImage_.empty() && DrawImage(ctx, selectedImage_)) return;
  }
  CButtonUI::PaintStatusImage(ctx);
}

// ---- CEditUI

bool CEditUI::IsReadOnly() const {
  UiLockGuard g;
  return readOnly_;
}

bool CEditUI::SetAttributeLocked(const std::wstring& name, const std::wstring& value) {
  if (name == L"readonly") {
    readOnly_ = ParseBool(value);
  } else if (name == L"nativebkcolor") {
    ParseColor(value, nativeBkColor_);
  } else {
    return CLabelUI::SetAttributeLocked(name, value);
  }
  return true;
}

void CEditUI::PaintBkColor(const PaintContext& ctx) {
  uint32_t color = bkColor_ != 0 ? bkColor_ : nativeBkColor_;
  if (color != 0) CRenderEngine::DrawColor(ctx.dc, pos_, color);
}

// ---- CGifAnimUI

CGifAnimUI::~CGifAnimUI() {
  if (manager_ != nullptr) manager_->KillTimers(this);
}

bool CGifAnimUI::SetAttributeLocked(const std::wstring& name, const std::wstring& value) {
  if (name == L"autoplay") {
    autoPlay_ = ParseBool(value);
    return true;
  }
  if (name == L"bkimage") frame_ = 0;
  return CControlUI::SetAttributeLocked(name, value);
}

void CGifAnimUI::SetManager(CPaintManagerUI* manager, CControlUI* parent) {
  UiLockGuard g;
  CControlUI::SetManager(manager, parent);
}

void CGifAnimUI::ArmTimer() {
  if (manager_ == nullptr || bkImage_.empty()) return;
  ImageProps props;
  if (!ParseImageProps(bkImage_, props)) return;
  const CImageUI* img = manager_->GetImage(props.file, props.hasMask, props.mask);
  if (img == nullptr || img->FrameCount() < 2) return;
  manager_->SetTimer(this, 1, static_cast<UINT>(img->FrameDelay(frame_)));
}

void CGifAnimUI::PlayGif() {
  UiLockGuard g;
  if (playing_) return;
  playing_ = true;
  ArmTimer();
}

void CGifAnimUI::StopGif() {
  UiLockGuard g;
  playing_ = false;
  frame_ = 0;
  if (manager_ != nullptr) manager_->KillTimer(this, 1);
  Invalidate();
}

void CGifAnimUI::PauseGif() {
  UiLockGuard g;
  playing_ = false;
  if (manager_ != nullptr) manager_->KillTimer(this, 1);
}

bool CGifAnimUI::IsPlaying() const {
  UiLockGuard g;
  return playing_;
}

int CGifAnimUI::GetFrame() const {
  UiLockGuard g;
  return frame_;
}

void CGifAnimUI::DoEvent(TEventUI& event) {
  UiLockGuard g;
  if (event.type != UiEvent::Timer) {
    CControlUI::DoEvent(event);
    return;
  }
  if (manager_ == nullptr) return;
  manager_->KillTimer(this, 1);
  if (!playing_) return;
  ImageProps props;
  if (!ParseImageProps(bkImage_, props)) return;
  const CImageUI* img = manager_->GetImage(props.file, props.hasMask, props.mask);
  if (img == nullptr || img->FrameCount() < 2) return;
  frame_ = (frame_ + 1) % img->FrameCount();
  Invalidate();
  ArmTimer();
}

void CGifAnimUI::PaintBkImage(const PaintContext& ctx) {
  if (!bkImage_.empty()) CRenderEngine::DrawImageString(ctx.dc, ctx.manager, pos_, pos_, bkImage_, frame_);
}

// ---- CWebBrowserUI

namespace {

std::atomic<void (*)(const std::wstring&)> g_navigateObserver{nullptr};
std::atomic<int> g_requestsFinished{0};

DWORD WINAPI FetchThread(LPVOID param) {
  std::unique_ptr<std::wstring> url(static_cast<std::wstring*>(param));
  HINTERNET root = InternetOpenW(nullptr, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (root != nullptr) {
    HINTERNET request = InternetOpenUrlW(root, url->c_str(), nullptr, 0,
                                         INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD, 0);
    if (request != nullptr) {
      char buffer[1024];
      DWORD got = 0;
      // The page is requested for its effect on the server; its body is read and dropped.
      while (InternetReadFile(request, buffer, sizeof(buffer), &got) && got > 0) {
      }
      InternetCloseHandle(request);
    }
    InternetCloseHandle(root);
  }
  ++g_requestsFinished;
  return 0;
}

}  // namespace

void CWebBrowserUI::SetNavigateObserver(void (*observer)(const std::wstring& url)) { g_navigateObserver = observer; }

int CWebBrowserUI::RequestsFinished() { return g_requestsFinished; }

bool CWebBrowserUI::SetAttributeLocked(const std::wstring& name, const std::wstring& value) {
  if (name == L"homepage") {
    homePage_ = value;
    return true;
  }
  return CControlUI::SetAttributeLocked(name, value);
}

std::wstring CWebBrowserUI::GetHomePage() const {
  UiLockGuard g;
  return homePage_;
}

void CWebBrowserUI::Navigate(const std::wstring& url) {
  if (auto observer = g_navigateObserver.load()) observer(url);
  if (url.empty()) return;
  auto* copy = new std::wstring(url);
  HANDLE thread = CreateThread(nullptr, 0, FetchThread, copy, 0, nullptr);
  if (thread == nullptr) {
    delete copy;
    return;
  }
  CloseHandle(thread);
}

}  // namespace DuiLib
