#include "ui/layout.h"

#include <algorithm>

#include "ui/paint_manager.h"
#include "ui/render.h"
#include "ui/ui_lock.h"

namespace DuiLib {

namespace {

UiRect FloatRect(const ChildSpec& c, int ox, int oy) {
  const UiRect& f = c.floatPos;
  int right = f.right > f.left ? f.right : f.left + c.fixedWidth;
  int bottom = f.bottom > f.top ? f.bottom : f.top + c.fixedHeight;
  return UiRect(ox + f.left, oy + f.top, ox + right, oy + bottom);
}

// Views a rectangle or padding along the layout axis (main) and across it (cross).
struct AxisView {
  bool vertical;
  int MainStart(const UiRect& r) const { return vertical ? r.top : r.left; }
  int MainEnd(const UiRect& r) const { return vertical ? r.bottom : r.right; }
  int CrossStart(const UiRect& r) const { return vertical ? r.left : r.top; }
  int CrossEnd(const UiRect& r) const { return vertical ? r.right : r.bottom; }
  int MainFixed(const ChildSpec& c) const { return vertical ? c.fixedHeight : c.fixedWidth; }
  int CrossFixed(const ChildSpec& c) const { return vertical ? c.fixedWidth : c.fixedHeight; }
  UiRect Make(int mainStart, int mainEnd, int crossStart, int crossEnd) const {
    return vertical ? UiRect(crossStart, mainStart, crossEnd, mainEnd) : UiRect(mainStart, crossStart, mainEnd, crossEnd);
  }
};

}  // namespace

std::vector<UiRect> ArrangeStack(bool vertical, const UiRect& area, int ox, int oy,
                                 const std::vector<ChildSpec>& children, int childPadding) {
  AxisView ax{vertical};
  std::vector<UiRect> out(children.size());
  int fixedSum = 0, autoCount = 0, placed = 0;
  for (const ChildSpec& c : children) {
    if (!c.visible || c.isFloat) continue;
    fixedSum += ax.MainStart(c.padding) + ax.MainEnd(c.padding) + ax.MainFixed(c);
    if (ax.MainFixed(c) <= 0) ++autoCount;
    ++placed;
  }
  if (placed > 1) fixedSum += childPadding * (placed - 1);
  int areaLength = ax.MainEnd(area) - ax.MainStart(area);
  int remaining = std::max(0, areaLength - fixedSum);
  int share = autoCount > 0 ? remaining / autoCount : 0;
  int autoSeen = 0;
  int cursor = ax.MainStart(area);
  for (size_t i = 0; i < children.size(); ++i) {
    const ChildSpec& c = children[i];
    if (!c.visible) {
      out[i] = ax.Make(cursor, cursor, ax.CrossStart(area), ax.CrossStart(area));
      continue;
    }
    if (c.isFloat) {
      out[i] = FloatRect(c, ox, oy);
      continue;
    }
    cursor += ax.MainStart(c.padding);
    int length = ax.MainFixed(c);
    if (length <= 0) {
      ++autoSeen;
      length = autoSeen == autoCount ? remaining - share * (autoCount - 1) : share;
    }
    int crossStart = ax.CrossStart(area) + ax.CrossStart(c.padding);
    int crossEnd = ax.CrossFixed(c) > 0 ? crossStart + ax.CrossFixed(c) : ax.CrossEnd(area) - ax.CrossEnd(c.padding);
    if (crossEnd < crossStart) crossEnd = crossStart;
    out[i] = ax.Make(cursor, cursor + length, crossStart, crossEnd);
    cursor += length + ax.MainEnd(c.padding) + childPadding;
  }
  return out;
}

std::vector<UiRect> ArrangeOverlay(const UiRect& area, int ox, int oy, const std::vector<ChildSpec>& children) {
  std::vector<UiRect> out(children.size());
  for (size_t i = 0; i < children.size(); ++i) {
    const ChildSpec& c = children[i];
    if (!c.visible) continue;
    if (c.isFloat) {
      out[i] = FloatRect(c, ox, oy);
      continue;
    }
    int left = area.left + c.padding.left, top = area.top + c.padding.top;
    int right = c.fixedWidth > 0 ? left + c.fixedWidth : area.right - c.padding.right;
    int bottom = c.fixedHeight > 0 ? top + c.fixedHeight : area.bottom - c.padding.bottom;
    out[i] = UiRect(left, top, std::max(left, right), std::max(top, bottom));
  }
  return out;
}

// ---- CContainerUI

CContainerUI::~CContainerUI() {
  for (CControlUI* c : items_) delete c;
  items_.clear();
}

bool CContainerUI::Add(CControlUI* control) {
  UiLockGuard g;
  return AddAt(control, static_cast<int>(items_.size()));
}

bool CContainerUI::AddAt(CControlUI* control, int index) {
  UiLockGuard g;
  if (control == nullptr || index < 0 || index > static_cast<int>(items_.size())) return false;
  items_.insert(items_.begin() + index, control);
  control->SetManager(manager_, this);
  NeedUpdate();
  return true;
}

void CContainerUI::RemoveAll() {
  UiLockGuard g;
  std::vector<CControlUI*> old;
  old.swap(items_);
  for (CControlUI* c : old) delete c;
  NeedUpdate();
}

int CContainerUI::GetCount() const {
  UiLockGuard g;
  return static_cast<int>(items_.size());
}

CControlUI* CContainerUI::GetItemAt(int index) const {
  UiLockGuard g;
  if (index < 0 || index >= static_cast<int>(items_.size())) return nullptr;
  return items_[index];
}

UiRect CContainerUI::GetInset() const {
  UiLockGuard g;
  return inset_;
}

bool CContainerUI::SetAttributeLocked(const std::wstring& name, const std::wstring& value) {
  UiRect rc;
  if (name == L"inset") {
    if (ParseRect(value, rc)) inset_ = rc;
    return true;
  }
  if (name == L"childpadding") {
    childPadding_ = ParseInt(value);
    return true;
  }
  return CControlUI::SetAttributeLocked(name, value);
}

std::vector<ChildSpec> CContainerUI::ChildSpecs() const {
  std::vector<ChildSpec> specs;
  specs.reserve(items_.size());
  for (CControlUI* c : items_) {
    ChildSpec s;
    s.visible = c->visible_;
    s.isFloat = c->float_;
    s.floatPos = c->floatPos_;
    s.fixedWidth = c->fixedWidth_;
    s.fixedHeight = c->fixedHeight_;
    s.padding = c->padding_;
    specs.push_back(s);
  }
  return specs;
}

std::vector<UiRect> CContainerUI::ArrangeChildren(const UiRect& rc) {
  UiRect area(rc.left + inset_.left, rc.top + inset_.top, rc.right - inset_.right, rc.bottom - inset_.bottom);
  return ArrangeOverlay(area, rc.left, rc.top, ChildSpecs());
}

void CContainerUI::SetPos(const UiRect& rc) {
  UiLockGuard g;
  pos_ = rc;
  std::vector<UiRect> rects = ArrangeChildren(rc);
  for (size_t i = 0; i < items_.size() && i < rects.size(); ++i) items_[i]->SetPos(rects[i]);
}

void CContainerUI::SetManager(CPaintManagerUI* manager, CControlUI* parent) {
  UiLockGuard g;
  CControlUI::SetManager(manager, parent);
  for (CControlUI* c : items_) c->SetManager(manager, this);
}

void CContainerUI::ForEach(const std::function<void(CControlUI*)>& fn) {
  UiLockGuard g;
  fn(this);
  for (CControlUI* c : items_) c->ForEach(fn);
}

UiRect CContainerUI::ChildClip() const { return pos_; }

CControlUI* CContainerUI::FindControlAt(POINT pt) {
  UiLockGuard g;
  if (!visible_ || !pos_.Contains(pt.x, pt.y)) return nullptr;
  UiRect clip = ChildClip();
  if (clip.Contains(pt.x, pt.y)) {
    // Later children paint on top, so they are hit first.
    for (auto it = items_.rbegin(); it != items_.rend(); ++it) {
      if (CControlUI* hit = (*it)->FindControlAt(pt)) return hit;
    }
  }
  return this;
}

void CContainerUI::DoPaint(const PaintContext& ctx, const UiRect& clip) {
  UiRect visible = pos_.Intersect(clip);
  if (visible.IsEmpty()) return;
  CControlUI::DoPaint(ctx, clip);
  UiRect childClip = ChildClip().Intersect(clip);
  if (childClip.IsEmpty()) return;
  int saved = SaveDC(ctx.dc);
  IntersectClipRect(ctx.dc, childClip.left, childClip.top, childClip.right, childClip.bottom);
  for (CControlUI* c : items_) {
    if (c->visible_) c->DoPaint(ctx, childClip);
  }
  RestoreDC(ctx.dc, saved);
}

// ---- stacks and tabs

std::vector<UiRect> CVerticalLayoutUI::ArrangeChildren(const UiRect& rc) {
  UiRect area(rc.left + inset_.left, rc.top + inset_.top, rc.right - inset_.right, rc.bottom - inset_.bottom);
  return ArrangeStack(true, area, rc.left, rc.top, ChildSpecs(), childPadding_);
}

std::vector<UiRect> CHorizontalLayoutUI::ArrangeChildren(const UiRect& rc) {
  UiRect area(rc.left + inset_.left, rc.top + inset_.top, rc.right - inset_.right, rc.bottom - inset_.bottom);
  return ArrangeStack(false, area, rc.left, rc.top, ChildSpecs(), childPadding_);
}

bool CTabLayoutUI::SelectItem(int index) {
  UiLockGuard g;
  if (index < 0 || index >= static_cast<int>(items_.size())) return false;
  curSel_ = index;
  for (size_t i = 0; i < items_.size(); ++i) items_[i]->visible_ = static_cast<int>(i) == index;
  NeedUpdate();
  return true;
}

int CTabLayoutUI::GetCurSel() const {
  UiLockGuard g;
  return curSel_;
}

bool CTabLayoutUI::SetAttributeLocked(const std::wstring& name, const std::wstring& value) {
  if (name == L"selectedid") {
    curSel_ = ParseInt(value);
    return true;
  }
  return CContainerUI::SetAttributeLocked(name, value);
}

std::vector<UiRect> CTabLayoutUI::ArrangeChildren(const UiRect& rc) {
  // Pages added after the selection was made follow it: only the selected page is shown.
  for (size_t i = 0; i < items_.size(); ++i) items_[i]->visible_ = static_cast<int>(i) == curSel_;
  return CContainerUI::ArrangeChildren(rc);
}

// ---- list

namespace {
constexpr int kScrollBarWidth = 8;
constexpr int kDefaultRowHeight = 30;
constexpr int kWheelStep = 60;
}  // namespace

int CListUI::GetScrollPos() const {
  UiLockGuard g;
  return scrollPos_;
}

int CListUI::GetScrollRange() const {
  UiLockGuard g;
  int visible = pos_.Height() - inset_.top - inset_.bottom;
  return std::max(0, contentHeight_ - visible);
}

void CListUI::SetScrollPos(int pos) {
  UiLockGuard g;
  int range = GetScrollRange();
  scrollPos_ = std::max(0, std::min(pos, range));
  SetPos(pos_);
  Invalidate();
}

uint32_t CListUI::ItemHotBkColor() const {
  UiLockGuard g;
  return itemHotBkColor_;
}

bool CListUI::SetAttributeLocked(const std::wstring& name, const std::wstring& value) {
  if (name == L"vscrollbar") {
    showScrollBar_ = ParseBool(value);
    return true;
  }
  if (name == L"header") return true;  // the program's lists have no header row
  struct ColorAttr {
    const wchar_t* name;
    uint32_t CListUI::*member;
  };
  static const ColorAttr kColors[] = {
      {L"itemtextcolor", &CListUI::itemTextColor_},
      {L"itemselectedtextcolor", &CListUI::itemSelectedTextColor_},
      {L"itemselectedbkcolor", &CListUI::itemSelectedBkColor_},
      {L"itemhottextcolor", &CListUI::itemHotTextColor_},
      {L"itemhotbkcolor", &CListUI::itemHotBkColor_},
      {L"itemdisabledtextcolor", &CListUI::itemDisabledTextColor_},
      {L"itemdisabledbkcolor", &CListUI::itemDisabledBkColor_},
  };
  for (const ColorAttr& c : kColors) {
    if (name == c.name) {
      ParseColor(value, this->*(c.member));
      return true;
    }
  }
  return CVerticalLayoutUI::SetAttributeLocked(name, value);
}

std::vector<UiRect> CListUI::ArrangeChildren(const UiRect& rc) {
  UiRect area(rc.left + inset_.left, rc.top + inset_.top, rc.right - inset_.right, rc.bottom - inset_.bottom);
  // Rows keep their own height (or a default one); the list scrolls when they do not fit.
  std::vector<ChildSpec> specs = ChildSpecs();
  int content = 0;
  for (ChildSpec& s : specs) {
    if (!s.visible || s.isFloat) continue;
    if (s.fixedHeight <= 0) s.fixedHeight = kDefaultRowHeight;
    content += s.fixedHeight + s.padding.top + s.padding.bottom + childPadding_;
  }
  if (content > 0) content -= childPadding_;
  contentHeight_ = content;
  int visibleHeight = area.Height();
  if (showScrollBar_ && content > visibleHeight) area.right -= Look().width;
  int range = std::max(0, content - visibleHeight);
  if (scrollPos_ > range) scrollPos_ = range;
  UiRect virtualArea(area.left, area.top - scrollPos_, area.right, area.top - scrollPos_ + std::max(content, visibleHeight));
  return ArrangeStack(true, virtualArea, rc.left, rc.top, specs, childPadding_);
}

UiRect CListUI::ChildClip() const {
  return UiRect(pos_.left + inset_.left, pos_.top + inset_.top, pos_.right - inset_.right, pos_.bottom - inset_.bottom);
}

CControlUI* CListUI::FindControlAt(POINT pt) { return CContainerUI::FindControlAt(pt); }

bool CListUI::ScrollBarRects(UiRect& track, UiRect& thumb) const {
  UiRect view = ChildClip();
  int visibleHeight = view.Height();
  if (!showScrollBar_ || contentHeight_ <= visibleHeight || visibleHeight <= 0) return false;
  track = UiRect(view.right - Look().width, view.top, view.right, view.bottom);
  int thumbHeight = std::max(20, visibleHeight * visibleHeight / contentHeight_);
  int range = contentHeight_ - visibleHeight;
  int thumbTop = view.top + (visibleHeight - thumbHeight) * scrollPos_ / (range > 0 ? range : 1);
  thumb = UiRect(track.left, thumbTop, track.right, thumbTop + thumbHeight);
  return true;
}

void CListUI::DoEvent(TEventUI& event) {
  UiLockGuard g;
  UiRect track, thumb;
  bool bar = ScrollBarRects(track, thumb);
  const POINT& pt = event.ptMouse;
  switch (event.type) {
    case UiEvent::Wheel: {
      int delta = static_cast<short>(HIWORD(event.wParam));
      SetScrollPos(scrollPos_ + (delta > 0 ? -kWheelStep : kWheelStep));
      return;
    }
    case UiEvent::ButtonDown:
      if (!bar || !track.Contains(pt.x, pt.y)) break;
      if (thumb.Contains(pt.x, pt.y)) {
        // Dragging the thumb moves the rows in proportion.
        dragging_ = true;
        dragStartY_ = pt.y;
        dragStartPos_ = scrollPos_;
      } else {
        // A click on the track pages towards it.
        int page = ChildClip().Height();
        SetScrollPos(scrollPos_ + (pt.y < thumb.top ? -page : page));
      }
      return;
    case UiEvent::MouseMove:
      if (dragging_ && bar) {
        int travel = track.Height() - thumb.Height();
        if (travel > 0) SetScrollPos(dragStartPos_ + (pt.y - dragStartY_) * GetScrollRange() / travel);
        return;
      }
      break;
    case UiEvent::ButtonUp:
      if (dragging_) {
        dragging_ = false;
        return;
      }
      break;
    default:
      break;
  }
  CVerticalLayoutUI::DoEvent(event);
}

void CListUI::DoPaint(const PaintContext& ctx, const UiRect& clip) {
  CVerticalLayoutUI::DoPaint(ctx, clip);
  ScrollBarLook look = Look();
  UiRect track, thumb;
  if (!ScrollBarRects(track, thumb)) return;
  if (look.trackImage.empty() || !CRenderEngine::DrawImageString(ctx.dc, ctx.manager, track, track, look.trackImage)) {
    CRenderEngine::DrawColor(ctx.dc, track, 0xFFEDEFF2);
  }
  if (look.thumbImage.empty() || !CRenderEngine::DrawImageString(ctx.dc, ctx.manager, thumb, thumb, look.thumbImage)) {
    CRenderEngine::DrawColor(ctx.dc, UiRect(thumb.left + 1, thumb.top, thumb.right - 1, thumb.bottom), 0xFFB8C0CC);
  }
}

CListUI::ScrollBarLook CListUI::Look() const {
  ScrollBarLook look;
  look.width = kScrollBarWidth;
  if (manager_ == nullptr) return look;
  for (const auto& kv : ParseAttributeList(manager_->GetDefaultAttributeList(L"VScrollBar"))) {
    if (kv.first == L"width" && ParseInt(kv.second) > 0) look.width = ParseInt(kv.second);
    if (kv.first == L"bknormalimage") look.trackImage = kv.second;
    if (kv.first == L"thumbnormalimage") look.thumbImage = kv.second;
  }
  return look;
}

void CListContainerElementUI::DoPaint(const PaintContext& ctx, const UiRect& clip) {
  if (pos_.Intersect(clip).IsEmpty()) return;
  auto* list = dynamic_cast<CListUI*>(parent_);
  CControlUI* hover = manager_ ? manager_->GetHover() : nullptr;
  bool hot = false;
  for (CControlUI* c = hover; c != nullptr; c = c->GetParent()) {
    if (c == this) hot = true;
  }
  if (hot && list != nullptr && list->ItemHotBkColor() != 0) CRenderEngine::DrawColor(ctx.dc, pos_, list->ItemHotBkColor());
  CContainerUI::DoPaint(ctx, clip);
}

}  // namespace DuiLib
