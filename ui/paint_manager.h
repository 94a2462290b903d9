// Hosts a control tree in one window: lays it out, paints it double-buffered, routes mouse, hover, capture
// and keyboard to the controls, delivers notifications, and keeps the skin's fonts, images and defaults.
#pragma once
#include <windows.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ui/control.h"
#include "ui/image.h"
#include "ui/skin_archive.h"

namespace DuiLib {

class COptionUI;

// Posted to the host window when a control changed from another thread or a notification must be
// delivered on the window thread.
constexpr UINT WM_UI_DEFERRED_NOTIFY = WM_APP + 0x3A0;

struct FontSpec {
  std::wstring face = L"SimSun";
  int size = 12;
  bool bold = false, italic = false, underline = false;
};

class CPaintManagerUI {
 public:
  CPaintManagerUI();
  ~CPaintManagerUI();
  CPaintManagerUI(const CPaintManagerUI&) = delete;
  CPaintManagerUI& operator=(const CPaintManagerUI&) = delete;

  // Process-wide: the module whose resources hold the skin, and the skin archive in use.
  static void SetInstance(HINSTANCE instance);
  static HINSTANCE GetInstance();
  // Reads the archive from memory; false when it is not a readable ZIP (the archive is then unset).
  static bool SetResourceZip(const void* data, size_t size);
  static bool HasResourceZip();
  // The bytes of a skin file; false when the archive is unset or has no such entry.
  static bool LoadSkinFile(const std::wstring& name, std::string& bytes);

  void Init(HWND hwnd);
  HWND GetPaintWindow() const { return hwnd_; }
  // Attaches the root of the tree (the manager owns it from then on).
  bool AttachDialog(CControlUI* root);
  CControlUI* GetRoot() const { return root_; }
  // Takes the tree away from the manager: its controls keep working (setters change state, nothing is
  // painted) and the caller owns them. Used when the window goes while other threads may still hold
  // references to its controls.
  CControlUI* ReleaseRoot();
  CControlUI* FindControl(const std::wstring& name) const;
  CControlUI* FindControl(POINT pt) const;

  // Window-level markup values.
  void SetInitSize(int cx, int cy);
  UiSize GetInitSize() const { return initSize_; }
  void SetCaptionRect(const UiRect& rc) { caption_ = rc; }
  UiRect GetCaptionRect() const { return caption_; }
  void SetMinInfo(int cx, int cy) { minInfo_ = UiSize(cx, cy); }
  void SetMaxInfo(int cx, int cy) { maxInfo_ = UiSize(cx, cy); }
  UiSize GetMinInfo() const { return minInfo_; }
  UiSize GetMaxInfo() const { return maxInfo_; }
  void SetRoundCorner(int cx, int cy) { roundCorner_ = UiSize(cx, cy); }
  UiSize GetRoundCorner() const { return roundCorner_; }

  // Fonts of the markup, by index; -1 or an unknown index is the default font.
  int AddFont(const FontSpec& fontDesc, bool isDefault);
  int GetFontCount() const;
  FontSpec GetFontSpec(int index) const;
  HFONT GetFont(int index, bool underline = false, bool bold = false, bool italic = false);
  // Attribute lists applied to every new control of a class ("Default" markup element).
  void AddDefaultAttributeList(const std::wstring& className, const std::wstring& list);
  std::wstring GetDefaultAttributeList(const std::wstring& className) const;

  // An image of the skin package, decoded once (null when missing or unreadable).
  const CImageUI* GetImage(const std::wstring& file, bool hasMask = false, uint32_t mask = 0);

  // Notifications: delivered synchronously on the window thread; from another thread they are posted.
  void AddNotifier(INotifyUI* notifier);
  void SendNotify(CControlUI* sender, const std::wstring& type, WPARAM wParam = 0, LPARAM lParam = 0);
  void AddMessageFilter(IMessageFilterUI* filter);

  // Option groups of this window.
  void AddOptionGroup(const std::wstring& group, COptionUI* option);
  void RemoveOptionGroup(const std::wstring& group, COptionUI* option);
  std::vector<COptionUI*> GetOptionGroup(const std::wstring& group) const;

  // Timers owned by controls (the GIF animation).
  bool SetTimer(CControlUI* control, UINT id, UINT elapseMs);
  void KillTimer(CControlUI* control, UINT id);
  void KillTimers(CControlUI* control);

  // Repaint requests, from any thread.
  void Invalidate(const UiRect& rc);
  void NeedUpdate();
  // A control leaves the tree: forget hover, capture and focus pointing into it, and its timers.
  void ReapObjects(CControlUI* control);
  CControlUI* GetFocus() const { return focus_; }
  void SetFocus(CControlUI* control);
  CControlUI* GetHover() const { return hover_; }

  // Paints the tree into a device context of the client size (the window's paint uses it; so do
  // screenshots). Lays the tree out first when needed.
  void RenderTo(HDC dc, int width, int height, const UiRect& clip);
  // Lays the tree out for a client size at once (tests and screenshots use it without a window).
  void LayoutNow(int width, int height);
  // Runs a task on the window thread (posted); owner is the control it concerns, if any.
  void PostTask(CControlUI* owner, std::function<void()> task);
  bool OnWindowThread() const;
  // Milliseconds between process creation and the end of the first paint; 0 until it happened.
  static DWORD FirstPaintMs();

  // The window procedure's share: answers true when the message was handled (lRes holds the result).
  bool MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes);
  bool PreMessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes);
  // Keyboard translation for the message loop (Tab between controls is not used by the program).
  static bool TranslateMessage(const MSG* msg);

 private:
  void LayoutIfNeeded(int width, int height);
  void Paint();
  void RunDeferred();
  void UpdateToolTip(CControlUI* control);
  void SetHover(CControlUI* control, POINT pt);
  void DeliverNotify(TNotifyUI& msg);

  HWND hwnd_ = nullptr;
  DWORD threadId_ = 0;
  CControlUI* root_ = nullptr;
  CControlUI* hover_ = nullptr;
  CControlUI* capture_ = nullptr;
  CControlUI* focus_ = nullptr;
  bool mouseTracking_ = false;
  std::atomic<bool> needUpdate_{true};
  UiSize initSize_, minInfo_, maxInfo_, roundCorner_;
  UiRect caption_;
  UiSize laidOutSize_;
  std::vector<FontSpec> fonts_;
  int defaultFont_ = -1;
  std::map<std::wstring, HFONT> fontCache_;
  std::map<std::wstring, std::wstring> defaults_;
  std::map<std::wstring, std::unique_ptr<CImageUI>> images_;
  std::vector<INotifyUI*> notifiers_;
  std::vector<IMessageFilterUI*> filters_;
  std::map<std::wstring, std::vector<COptionUI*>> groups_;
  struct TimerInfo {
    CControlUI* control;
    UINT localId;
    UINT winId;
  };
  std::vector<TimerInfo> timers_;
  UINT nextTimerId_ = 0x1000;
  HWND tooltip_ = nullptr;
  std::wstring tooltipText_;
};

}  // namespace DuiLib
