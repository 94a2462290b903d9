// Containers and the layout computation. The arrangement of children is a plain function of sizes and
// rectangles (ArrangeStack), so it is tested without a window.
#pragma once
#include <vector>

#include "ui/control.h"

namespace DuiLib {

// What the arrangement needs to know of one child.
struct ChildSpec {
  bool visible = true;
  bool isFloat = false;
  UiRect floatPos;      // relative to the container's top-left corner
  int fixedWidth = 0;   // 0: fill / share
  int fixedHeight = 0;
  UiRect padding;       // margins around the child
};

// Places children one after another (vertical: top to bottom; else left to right) inside area. Children
// with a fixed size along the axis get it; the others share what is left equally. Across the axis a child
// fills the area unless it has a fixed size. Floating children are placed at their floatPos relative to
// origin (the container's own top-left corner) and take no room. Invisible children get an empty
// rectangle.
std::vector<UiRect> ArrangeStack(bool vertical, const UiRect& area, int origin_x, int origin_y,
                                 const std::vector<ChildSpec>& children, int childPadding);
// Every child in the whole area (a plain container or a tab page), floats at their floatPos.
std::vector<UiRect> ArrangeOverlay(const UiRect& area, int origin_x, int origin_y,
                                   const std::vector<ChildSpec>& children);

class CContainerUI : public CControlUI {
 public:
  ~CContainerUI() override;
  std::wstring GetClass() const override { return L"Container"; }
  bool IsContainer() const override { return true; }

  // Children (the container owns them). Add and AddAt answer false when the control is null or the
  // position is out of range.
  bool Add(CControlUI* control);
  bool AddAt(CControlUI* control, int index);
  void RemoveAll();
  int GetCount() const;
  CControlUI* GetItemAt(int index) const;

  UiRect GetInset() const;

  void SetPos(const UiRect& rc) override;
  void SetManager(CPaintManagerUI* manager, CControlUI* parent) override;
  void ForEach(const std::function<void(CControlUI*)>& fn) override;
  CControlUI* FindControlAt(POINT pt) override;
  void DoPaint(const PaintContext& ctx, const UiRect& clip) override;

 protected:
  bool SetAttributeLocked(const std::wstring& name, const std::wstring& value) override;
  // Computes the children's rectangles for the container's rectangle; containers override.
  virtual std::vector<UiRect> ArrangeChildren(const UiRect& rc);
  std::vector<ChildSpec> ChildSpecs() const;
  // The part of the container children may paint in.
  virtual UiRect ChildClip() const;

  std::vector<CControlUI*> items_;
  UiRect inset_;
  int childPadding_ = 0;
};

class CVerticalLayoutUI : public CContainerUI {
 public:
  std::wstring GetClass() const override { return L"VerticalLayout"; }

 protected:
  std::vector<UiRect> ArrangeChildren(const UiRect& rc) override;
};

class CHorizontalLayoutUI : public CContainerUI {
 public:
  std::wstring GetClass() const override { return L"HorizontalLayout"; }

 protected:
  std::vector<UiRect> ArrangeChildren(const UiRect& rc) override;
};

// Shows one child (page) at a time.
class CTabLayoutUI : public CContainerUI {
 public:
  std::wstring GetClass() const override { return L"TabLayout"; }
  // Selects a page by index; false when out of range.
  bool SelectItem(int index);
  int GetCurSel() const;

 protected:
  bool SetAttributeLocked(const std::wstring& name, const std::wstring& value) override;
  std::vector<UiRect> ArrangeChildren(const UiRect& rc) override;

 private:
  int curSel_ = 0;
};

// A vertically scrolling list of rows (usually CListContainerElementUI).
class CListUI : public CVerticalLayoutUI {
 public:
  std::wstring GetClass() const override { return L"List"; }
  int GetScrollPos() const;
  void SetScrollPos(int pos);
  int GetScrollRange() const;  // content height beyond the visible height
  void DoEvent(TEventUI& event) override;
  void DoPaint(const PaintContext& ctx, const UiRect& clip) override;
  CControlUI* FindControlAt(POINT pt) override;
  uint32_t ItemHotBkColor() const;

 protected:
  bool SetAttributeLocked(const std::wstring& name, const std::wstring& value) override;
  std::vector<UiRect> ArrangeChildren(const UiRect& rc) override;
  UiRect ChildClip() const override;

 private:
  // The vertical scroll bar as the skin's "VScrollBar" defaults describe it (width, track and thumb
  // images); a slim drawn bar when the skin gives none.
  struct ScrollBarLook {
    int width = 8;
    std::wstring trackImage, thumbImage;
  };
  ScrollBarLook Look() const;
  // Track and thumb rectangles; false when no scroll bar is shown.
  bool ScrollBarRects(UiRect& track, UiRect& thumb) const;
  int scrollPos_ = 0;
  bool dragging_ = false;
  int dragStartY_ = 0, dragStartPos_ = 0;
  int contentHeight_ = 0;
  bool showScrollBar_ = true;
  uint32_t itemTextColor_ = 0, itemSelectedTextColor_ = 0, itemSelectedBkColor_ = 0, itemHotTextColor_ = 0,
           itemHotBkColor_ = 0, itemDisabledTextColor_ = 0, itemDisabledBkColor_ = 0;
};

// One row of a list: a plain container whose background lights up while the mouse is over it.
class CListContainerElementUI : public CContainerUI {
 public:
  std::wstring GetClass() const override { return L"ListContainerElement"; }
  void DoPaint(const PaintContext& ctx, const UiRect& clip) override;
};

}  // namespace DuiLib
