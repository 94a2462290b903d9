// The base of every control: its properties (thread-safe setters), its place in the tree, the layout
// hooks (measure, arrange) and the painting and event hooks. Controls are windowless: one window hosts
// the whole tree through CPaintManagerUI.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ui/ui_types.h"

namespace DuiLib {

class CControlUI;
class CPaintManagerUI;

// A notification delivered to the window (INotifyUI): "click", "selectchanged", ...
struct TNotifyUI {
  std::wstring sType;
  CControlUI* pSender = nullptr;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

class INotifyUI {
 public:
  virtual ~INotifyUI() = default;
  virtual void Notify(TNotifyUI& msg) = 0;
};

// Sees every window message before the toolkit does; setting handled stops further processing.
class IMessageFilterUI {
 public:
  virtual ~IMessageFilterUI() = default;
  virtual LRESULT MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled) = 0;
};

enum class UiEvent { MouseEnter, MouseLeave, MouseMove, ButtonDown, ButtonUp, Wheel, KeyDown, SetFocus, KillFocus, Timer };

struct TEventUI {
  UiEvent type = UiEvent::MouseMove;
  CControlUI* pSender = nullptr;
  POINT ptMouse = {0, 0};
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

// Drawing surface handed to DoPaint.
struct PaintContext {
  HDC dc = nullptr;
  CPaintManagerUI* manager = nullptr;
};

class CControlUI {
 public:
  CControlUI();
  virtual ~CControlUI();
  CControlUI(const CControlUI&) = delete;
  CControlUI& operator=(const CControlUI&) = delete;

  virtual std::wstring GetClass() const { return L"Control"; }
  virtual bool IsContainer() const { return false; }
  // Controls that take part in hit testing for clicks (buttons, options) keep the caption area from
  // dragging the window.
  virtual bool IsInteractive() const { return false; }

  // Properties. Every getter and setter may be called from any thread.
  std::wstring GetName() const;
  std::wstring GetText() const;
  virtual void SetText(const std::wstring& text);
  std::wstring GetToolTip() const;
  void SetToolTip(const std::wstring& text);
  std::wstring GetUserData() const;
  void SetUserData(const std::wstring& data);
  bool IsEnabled() const;
  virtual void SetEnabled(bool enabled);
  bool IsVisibleInTree() const;
  std::wstring GetBkImage() const;
  void SetBkImage(const std::wstring& image);

  // Sets one property by its markup name; unknown names are ignored. Safe from any thread.
  void SetAttribute(const std::wstring& name, const std::wstring& value);
  // Applies a list such as bkimage="file='a.png'" text="x".
  void ApplyAttributeList(const std::wstring& list);

  // Layout properties.
  int GetFixedHeight() const;
  void SetFixedHeight(int cy);
  bool IsFloat() const;
  UiRect GetFloatPos() const;
  UiRect GetPadding() const;
  // The rectangle the layout gave this control (window client coordinates).
  UiRect GetPos() const;
  // Arranges the control (and a container its children) in rc.
  virtual void SetPos(const UiRect& rc);

  // Tree.
  CControlUI* GetParent() const { return parent_; }
  CPaintManagerUI* GetManager() const { return manager_; }
  virtual void SetManager(CPaintManagerUI* manager, CControlUI* parent);
  // Every control of this subtree, this one first.
  virtual void ForEach(const std::function<void(CControlUI*)>& fn);
  // The first control of this subtree with the name (case-sensitive), or null.
  CControlUI* FindSubControl(const std::wstring& name);
  // The topmost visible, enabled-or-not control at a point (client coordinates), or null.
  virtual CControlUI* FindControlAt(POINT pt);

  // Painting (window thread, under the toolkit lock).
  virtual void DoPaint(const PaintContext& ctx, const UiRect& clip);
  // Events routed by the paint manager (window thread).
  virtual void DoEvent(TEventUI& event);
  // What a click or the Enter key does; answers false when the control cannot act.
  virtual bool Activate();

  // Repaints the control's rectangle (posted to the window thread).
  void Invalidate();
  // Asks the window to lay the tree out again before the next paint.
  void NeedUpdate();

  // State seen by painting.
  bool IsHot() const;
  bool IsPushed() const;

 protected:
  // Attribute handling of a class; called under the lock. Answers true when the name was known.
  virtual bool SetAttributeLocked(const std::wstring& name, const std::wstring& value);
  virtual void PaintBkColor(const PaintContext& ctx);
  virtual void PaintBkImage(const PaintContext& ctx);
  virtual void PaintStatusImage(const PaintContext& ctx) {}
  virtual void PaintText(const PaintContext& ctx) {}
  virtual void PaintBorder(const PaintContext& ctx);
  // Draws an image attribute in the control's rectangle; false when it could not be drawn.
  bool DrawImage(const PaintContext& ctx, const std::wstring& image);

  // State, guarded by the toolkit lock.
  std::wstring name_, text_, tooltip_, userData_;
  bool enabled_ = true;
  bool visible_ = true;
  bool float_ = false;
  UiRect floatPos_;
  int fixedWidth_ = 0, fixedHeight_ = 0;
  UiRect padding_;
  UiRect pos_;
  uint32_t bkColor_ = 0;
  uint32_t borderColor_ = 0;
  int borderSize_ = 0;
  std::wstring bkImage_;
  bool hot_ = false, pushed_ = false, focused_ = false;
  CPaintManagerUI* manager_ = nullptr;
  CControlUI* parent_ = nullptr;

  friend class CPaintManagerUI;
  friend class CContainerUI;
  friend class CTabLayoutUI;
  friend class CListUI;
};

}  // namespace DuiLib
