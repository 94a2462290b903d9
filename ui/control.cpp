#include "ui/control.h"

#include "ui/paint_manager.h"
#include "ui/render.h"
#include "ui/ui_lock.h"

namespace DuiLib {

SimpleLock& UiLock() {
  static SimpleLock* lock = new SimpleLock();
  return *lock;
}

CControlUI::CControlUI() = default;

CControlUI::~CControlUI() {
  if (manager_ != nullptr) manager_->ReapObjects(this);
}

std::wstring CControlUI::GetName() const {
  UiLockGuard g;
  return name_;
}

std::wstring CControlUI::GetText() const {
  UiLockGuard g;
  return text_;
}

void CControlUI::SetText(const std::wstring& text) {
  UiLockGuard g;
  if (text_ == text) return;
  text_ = text;
  Invalidate();
}

std::wstring CControlUI::GetToolTip() const {
  UiLockGuard g;
  return tooltip_;
}

void CControlUI::SetToolTip(const std::wstring& text) {
  UiLockGuard g;
  tooltip_ = text;
}

std::wstring CControlUI::GetUserData() const {
  UiLockGuard g;
  return userData_;
}

void CControlUI::SetUserData(const std::wstring& data) {
  UiLockGuard g;
  userData_ = data;
}

bool CControlUI::IsEnabled() const {
  UiLockGuard g;
  return enabled_;
}

void CControlUI::SetEnabled(bool enabled) {
  UiLockGuard g;
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  if (!enabled) {
    hot_ = false;
    pushed_ = false;
  }
  Invalidate();
}

bool CControlUI::IsVisibleInTree() const {
  UiLockGuard g;
  for (const CControlUI* c = this; c != nullptr; c = c->parent_) {
    if (!c->visible_) return false;
  }
  return true;
}

std::wstring CControlUI::GetBkImage() const {
  UiLockGuard g;
  return bkImage_;
}

void CControlUI::SetBkImage(const std::wstring& image) {
  UiLockGuard g;
  if (bkImage_ == image) return;
  bkImage_ = image;
  Invalidate();
}

void CControlUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
  UiLockGuard g;
  SetAttributeLocked(name, value);
  NeedUpdate();
}

void CControlUI::ApplyAttributeList(const std::wstring& list) {
  UiLockGuard g;
  for (const auto& kv : ParseAttributeList(list)) SetAttributeLocked(kv.first, kv.second);
  NeedUpdate();
}

bool CControlUI::SetAttributeLocked(const std::wstring& name, const std::wstring& value) {
  UiRect rc;
  UiSize sz;
  if (name == L"name") {
    name_ = value;
  } else if (name == L"text") {
    text_ = value;
  } else if (name == L"tooltip") {
    tooltip_ = value;
  } else if (name == L"userdata") {
    userData_ = value;
  } else if (name == L"enabled") {
    enabled_ = ParseBool(value);
  } else if (name == L"visible") {
    visible_ = ParseBool(value);
  } else if (name == L"float") {
    float_ = ParseBool(value);
  } else if (name == L"pos") {
    if (ParseRect(value, rc)) {
      floatPos_ = rc;
      if (rc.right > rc.left) fixedWidth_ = rc.right - rc.left;
      if (rc.bottom > rc.top) fixedHeight_ = rc.bottom - rc.top;
    }
  } else if (name == L"width") {
    fixedWidth_ = ParseInt(value);
  } else if (name == L"height") {
    fixedHeight_ = ParseInt(value);
  } else if (name == L"padding") {
    if (ParseRect(value, rc)) padding_ = rc;
  } else if (name == L"bkcolor") {
    ParseColor(value, bkColor_);
  } else if (name == L"bordercolor") {
    ParseColor(value, borderColor_);
    if (borderSize_ == 0 && borderColor_ != 0) borderSize_ = 1;
  } else if (name == L"bordersize") {
    borderSize_ = ParseInt(value);
  } else if (name == L"bkimage") {
    bkImage_ = value;
  } else {
    return false;
  }
  return true;
}

int CControlUI::GetFixedHeight() const {
  UiLockGuard g;
  return fixedHeight_;
}

void CControlUI::SetFixedHeight(int cy) {
  UiLockGuard g;
  fixedHeight_ = cy < 0 ? 0 : cy;
  NeedUpdate();
}

bool CControlUI::IsFloat() const {
  UiLockGuard g;
  return float_;
}

UiRect CControlUI::GetFloatPos() const {
  UiLockGuard g;
  return floatPos_;
}

UiRect CControlUI::GetPadding() const {
  UiLockGuard g;
  return padding_;
}

UiRect CControlUI::GetPos() const {
  UiLockGuard g;
  return pos_;
}

void CControlUI::SetPos(const UiRect& rc) {
  UiLockGuard g;
  pos_ = rc;
}

void CControlUI::SetManager(CPaintManagerUI* manager, CControlUI* parent) {
  UiLockGuard g;
  manager_ = manager;
  parent_ = parent;
}

void CControlUI::ForEach(const std::function<void(CControlUI*)>& fn) { fn(this); }

CControlUI* CControlUI::FindSubControl(const std::wstring& name) {
  UiLockGuard g;
  CControlUI* found = nullptr;
  ForEach([&](CControlUI* c) {
    if (found == nullptr && c->name_ == name) found = c;
  });
  return found;
}

CControlUI* CControlUI::FindControlAt(POINT pt) {
  UiLockGuard g;
  if (!visible_) return nullptr;
  return pos_.Contains(pt.x, pt.y) ? this : nullptr;
}

void CControlUI::DoPaint(const PaintContext& ctx, const UiRect& clip) {
  if (pos_.Intersect(clip).IsEmpty()) return;
  PaintBkColor(ctx);
  PaintBkImage(ctx);
  PaintStatusImage(ctx);
  PaintText(ctx);
  PaintBorder(ctx);
}

void CControlUI::PaintBkColor(const PaintContext& ctx) {
  if (bkColor_ != 0) CRenderEngine::DrawColor(ctx.dc, pos_, bkColor_);
}

void CControlUI::PaintBkImage(const PaintContext& ctx) {
  if (!bkImage_.empty()) DrawImage(ctx, bkImage_);
}

void CControlUI::PaintBorder(const PaintContext& ctx) {
  if (borderSize_ > 0 && borderColor_ != 0) CRenderEngine::DrawBorder(ctx.dc, pos_, borderSize_, borderColor_);
}

bool CControlUI::DrawImage(const PaintContext& ctx, const std::wstring& image) {
  return CRenderEngine::DrawImageString(ctx.dc, ctx.manager, pos_, pos_, image);
}

void CControlUI::DoEvent(TEventUI& event) {
  UiLockGuard g;
  switch (event.type) {
    case UiEvent::MouseEnter:
      hot_ = true;
      Invalidate();
      break;
    case UiEvent::MouseLeave:
      hot_ = false;
      pushed_ = false;
      Invalidate();
      break;
    case UiEvent::SetFocus:
      focused_ = true;
      Invalidate();
      break;
    case UiEvent::KillFocus:
      focused_ = false;
      Invalidate();
      break;
    case UiEvent::Wheel:
      if (parent_ != nullptr) parent_->DoEvent(event);
      break;
    default:
      break;
  }
}

bool CControlUI::Activate() {
  UiLockGuard g;
  return enabled_ && visible_;
}

void CControlUI::Invalidate() {
  UiLockGuard g;
  if (manager_ != nullptr) manager_->Invalidate(pos_);
}

void CControlUI::NeedUpdate() {
  UiLockGuard g;
  if (manager_ != nullptr) manager_->NeedUpdate();
}

bool CControlUI::IsHot() const {
  UiLockGuard g;
  return hot_;
}

bool CControlUI::IsPushed() const {
  UiLockGuard g;
  return pushed_;
}

}  // namespace DuiLib
