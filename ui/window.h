// The toolkit's windows: CWindowWnd (a plain Win32 window owning its procedure) and WindowImplBase (a
// frameless window built from a skin file, hosting a CPaintManagerUI and receiving its notifications).
#pragma once
#include <windows.h>

#include <string>

#include "ui/control.h"
#include "ui/dialog_builder.h"
#include "ui/paint_manager.h"

namespace DuiLib {

// Where a window's skin comes from. The program uses the fourth: a ZIP archive among the executable's
// resources.
enum UILIB_RESOURCETYPE { UILIB_FILE = 1, UILIB_ZIP, UILIB_RESOURCE, UILIB_ZIPRESOURCE };

// The message box the toolkit shows itself (skin load failure). Replaceable so that the sandbox records it.
using ToolkitMessageBoxFn = int (*)(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags);
void SetToolkitMessageBox(ToolkitMessageBoxFn fn);
int ShowToolkitMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags);

class CWindowWnd {
 public:
  CWindowWnd() = default;
  virtual ~CWindowWnd() = default;
  CWindowWnd(const CWindowWnd&) = delete;
  CWindowWnd& operator=(const CWindowWnd&) = delete;

  HWND GetHWND() const { return m_hWnd; }
  operator HWND() const { return m_hWnd; }

  bool RegisterWindowClass();
  HWND Create(HWND parent, LPCWSTR name, DWORD style, DWORD exStyle, int x = CW_USEDEFAULT, int y = CW_USEDEFAULT,
              int cx = CW_USEDEFAULT, int cy = CW_USEDEFAULT, HMENU menu = nullptr);
  void ShowWindow(bool show = true, bool takeFocus = true);
  // Runs the message loop until the window is destroyed; answers the value passed to Close.
  UINT ShowModal();
  void Close(UINT ret = IDOK);
  // Centres the window on its owner, or on the work area of its monitor when it has none.
  void CenterWindow();
  LRESULT SendMessage(UINT uMsg, WPARAM wParam = 0, LPARAM lParam = 0);

 protected:
  virtual LPCWSTR GetWindowClassName() const = 0;
  virtual UINT GetClassStyle() const { return CS_DBLCLKS; }
  virtual LRESULT HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam);
  // Called after the window's last message; the object may delete itself here.
  virtual void OnFinalMessage(HWND hWnd) {}

  static LRESULT CALLBACK __WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

  HWND m_hWnd = nullptr;
};

// Dispatch helper for notification handling by type; windows may override NotifyPump.
class CNotifyPump {
 public:
  virtual ~CNotifyPump() = default;
  // Answers true when the notification was handled.
  virtual bool NotifyPump(TNotifyUI& msg) { return false; }
};

class WindowImplBase : public CWindowWnd,
                       public CNotifyPump,
                       public INotifyUI,
                       public IMessageFilterUI,
                       public IDialogBuilderCallback {
 public:
  WindowImplBase() = default;
  ~WindowImplBase() override = default;

  // Hooks the window overrides.
  virtual void InitWindow() {}
  virtual std::wstring GetSkinFolder() = 0;
  virtual std::wstring GetSkinFile() = 0;
  virtual UILIB_RESOURCETYPE GetResourceType() const { return UILIB_ZIPRESOURCE; }
  virtual UINT GetResourceID() const { return 0; }

  void Notify(TNotifyUI& msg) override;
  LRESULT MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled) override;
  CControlUI* CreateControl(const std::wstring& className) override { return nullptr; }

  CPaintManagerUI& PaintManager() { return m_pm; }

 protected:
  LRESULT HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) override;
  virtual LRESULT OnCreate(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
  virtual LRESULT OnNcHitTest(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
  // Loads the skin archive named by GetResourceType/GetResourceID; false when there is none.
  bool LoadSkinPackage();

  CPaintManagerUI m_pm;
};

}  // namespace DuiLib
