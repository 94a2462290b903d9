#include "ui/window.h"

#include <atomic>
#include <string>

namespace DuiLib {

namespace {

std::atomic<ToolkitMessageBoxFn> g_messageBox{nullptr};

int DefaultMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags) {
  return MessageBoxW(owner, text.c_str(), caption.c_str(), flags);
}

}  // namespace

void SetToolkitMessageBox(ToolkitMessageBoxFn fn) { g_messageBox = fn; }

int ShowToolkitMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags) {
  ToolkitMessageBoxFn fn = g_messageBox.load();
  return (fn != nullptr ? fn : DefaultMessageBox)(owner, text, caption, flags);
}

// ---- CWindowWnd

bool CWindowWnd::RegisterWindowClass() {
  WNDCLASSW wc = {};
  wc.style = GetClassStyle();
  wc.lpfnWndProc = CWindowWnd::__WndProc;
  wc.hInstance = CPaintManagerUI::GetInstance();
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.lpszClassName = GetWindowClassName();
  ATOM atom = RegisterClassW(&wc);
  return atom != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND CWindowWnd::Create(HWND parent, LPCWSTR name, DWORD style, DWORD exStyle, int x, int y, int cx, int cy,
                        HMENU menu) {
  if (!RegisterWindowClass()) return nullptr;
  m_hWnd = CreateWindowExW(exStyle, GetWindowClassName(), name, style, x, y, cx, cy, parent, menu,
                           CPaintManagerUI::GetInstance(), this);
  return m_hWnd;
}

void CWindowWnd::ShowWindow(bool show, bool takeFocus) {
  if (m_hWnd == nullptr) return;
  ::ShowWindow(m_hWnd, show ? (takeFocus ? SW_SHOWNORMAL : SW_SHOWNOACTIVATE) : SW_HIDE);
}

UINT CWindowWnd::ShowModal() {
  HWND hwnd = m_hWnd;  // the object may delete itself while the loop runs
  if (hwnd == nullptr) return 0;
  UINT ret = 0;
  HWND owner = GetWindow(hwnd, GW_OWNER);
  ::ShowWindow(hwnd, SW_SHOWNORMAL);
  if (owner != nullptr) EnableWindow(owner, FALSE);
  MSG msg = {};
  while (IsWindow(hwnd) && GetMessageW(&msg, nullptr, 0, 0)) {
    if (msg.message == WM_CLOSE && msg.hwnd == hwnd) {
      ret = static_cast<UINT>(msg.wParam);
      if (owner != nullptr) EnableWindow(owner, TRUE);
    }
    if (!CPaintManagerUI::TranslateMessage(&msg)) {
      ::TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  if (owner != nullptr) {
    EnableWindow(owner, TRUE);
    SetFocus(owner);
  }
  if (msg.message == WM_QUIT) PostQuitMessage(static_cast<int>(msg.wParam));
  return ret;
}

void CWindowWnd::Close(UINT ret) {
  if (m_hWnd != nullptr) ::PostMessageW(m_hWnd, WM_CLOSE, ret, 0);
}

void CWindowWnd::CenterWindow() {
  if (m_hWnd == nullptr) return;
  RECT rc;
  GetWindowRect(m_hWnd, &rc);
  RECT area;
  HWND owner = GetWindow(m_hWnd, GW_OWNER);
  if (owner != nullptr) {
    GetWindowRect(owner, &area);
  } else {
    MONITORINFO mi = {};
    mi.cbSize = sizeof(mi);
    if (GetMonitorInfoW(MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTONEAREST), &mi)) {
      area = mi.rcWork;
    } else {
      SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    }
  }
  int w = rc.right - rc.left, h = rc.bottom - rc.top;
  int x = area.left + ((area.right - area.left) - w) / 2;
  int y = area.top + ((area.bottom - area.top) - h) / 2;
  if (x < area.left) x = area.left;
  if (y < area.top) y = area.top;
  SetWindowPos(m_hWnd, nullptr, x, y, -1, -1, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CWindowWnd::SendMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
  return ::SendMessageW(m_hWnd, uMsg, wParam, lParam);
}

LRESULT CWindowWnd::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(m_hWnd, uMsg, wParam, lParam);
}

LRESULT CALLBACK CWindowWnd::__WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  CWindowWnd* self = nullptr;
  if (uMsg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<LPCREATESTRUCTW>(lParam);
    self = static_cast<CWindowWnd*>(cs->lpCreateParams);
    self->m_hWnd = hWnd;
    SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  } else {
    self = reinterpret_cast<CWindowWnd*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
  }
  if (self == nullptr) return DefWindowProcW(hWnd, uMsg, wParam, lParam);
  if (uMsg == WM_NCDESTROY) {
    LRESULT r = self->HandleMessage(uMsg, wParam, lParam);
    SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
    self->m_hWnd = nullptr;
    // Wakes a modal loop waiting in GetMessage so that it sees the window is gone.
    PostThreadMessageW(GetCurrentThreadId(), WM_NULL, 0, 0);
    self->OnFinalMessage(hWnd);
    return r;
  }
  return self->HandleMessage(uMsg, wParam, lParam);
}

// ---- WindowImplBase

void WindowImplBase::Notify(TNotifyUI& msg) { NotifyPump(msg); }

LRESULT WindowImplBase::MessageHandler(UINT, WPARAM, LPARAM, bool& bHandled) {
  bHandled = false;
  return 0;
}

bool WindowImplBase::LoadSkinPackage() {
  switch (GetResourceType()) {
    case UILIB_ZIPRESOURCE: {
      HINSTANCE instance = CPaintManagerUI::GetInstance();
      HRSRC res = FindResourceW(instance, MAKEINTRESOURCEW(GetResourceID()), L"ZIPRES");
      if (res == nullptr) return false;
      HGLOBAL loaded = LoadResource(instance, res);
      DWORD size = SizeofResource(instance, res);
      const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
      if (data == nullptr || size == 0) return false;
      return CPaintManagerUI::SetResourceZip(data, size);
    }
    case UILIB_ZIP: {
      // A ZIP file on disk named by the skin folder.
      HANDLE file = CreateFileW(GetSkinFolder().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
      if (file == INVALID_HANDLE_VALUE) return false;
      DWORD size = GetFileSize(file, nullptr);
      std::string bytes(size == INVALID_FILE_SIZE ? 0 : size, '\0');
      DWORD got = 0;
      bool read = !bytes.empty() && ReadFile(file, &bytes[0], size, &got, nullptr) && got == size;
      CloseHandle(file);
      return read && CPaintManagerUI::SetResourceZip(bytes.data(), bytes.size());
    }
    default:
      return CPaintManagerUI::HasResourceZip();
  }
}

LRESULT WindowImplBase::OnCreate(UINT, WPARAM, LPARAM, bool& bHandled) {
  LONG style = GetWindowLongW(m_hWnd, GWL_STYLE);
  style &= ~WS_CAPTION;
  SetWindowLongW(m_hWnd, GWL_STYLE, style | WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
  RECT rc;
  GetClientRect(m_hWnd, &rc);
  SetWindowPos(m_hWnd, nullptr, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, SWP_FRAMECHANGED);

  m_pm.Init(m_hWnd);
  m_pm.AddMessageFilter(this);
  CControlUI* root = nullptr;
  if (LoadSkinPackage()) {
    CDialogBuilder builder;
    root = builder.Create(GetSkinFolder().empty() || GetResourceType() == UILIB_ZIP ? GetSkinFile()
                                                                                     : GetSkinFolder() + L"\\" + GetSkinFile(),
                          this, &m_pm);
  }
  if (root == nullptr) {
    ShowToolkitMessageBox(nullptr, L"加载资源文件失败", L"Duilib", MB_OK | MB_ICONERROR);
    ExitProcess(1);
  }
  m_pm.AttachDialog(root);
  m_pm.AddNotifier(this);
  UiSize size = m_pm.GetInitSize();
  if (size.cx > 0 && size.cy > 0) {
    SetWindowPos(m_hWnd, nullptr, 0, 0, size.cx, size.cy, SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
  }
  InitWindow();
  bHandled = true;
  return 0;
}

LRESULT WindowImplBase::OnNcHitTest(UINT, WPARAM, LPARAM lParam, bool& bHandled) {
  bHandled = true;
  POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  ScreenToClient(m_hWnd, &pt);
  RECT client;
  GetClientRect(m_hWnd, &client);
  UiRect caption = m_pm.GetCaptionRect();
  if (pt.x >= client.left + caption.left && pt.x < client.right - caption.right && pt.y >= caption.top &&
      pt.y < caption.bottom) {
    CControlUI* hit = m_pm.FindControl(pt);
    if (hit == nullptr || !hit->IsInteractive()) return HTCAPTION;
  }
  return HTCLIENT;
}

LRESULT WindowImplBase::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
  bool handled = false;
  LRESULT res = 0;
  switch (uMsg) {
    case WM_CREATE:
      res = OnCreate(uMsg, wParam, lParam, handled);
      break;
    case WM_NCACTIVATE:
      if (!IsIconic(m_hWnd)) {
        handled = true;
        res = wParam == 0 ? TRUE : FALSE;
      }
      break;
    case WM_NCCALCSIZE:
    case WM_NCPAINT:
      handled = true;
      res = 0;
      break;
    case WM_NCHITTEST:
      res = OnNcHitTest(uMsg, wParam, lParam, handled);
      break;
    case WM_GETMINMAXINFO: {
      // The limits never shrink the window below the size its markup gives.
      auto* mmi = reinterpret_cast<MINMAXINFO*>(lParam);
      UiSize init = m_pm.GetInitSize(), mn = m_pm.GetMinInfo(), mx = m_pm.GetMaxInfo();
      if (mn.cx > 0) mmi->ptMinTrackSize.x = mn.cx;
      if (mn.cy > 0) mmi->ptMinTrackSize.y = mn.cy;
      if (mx.cx > 0) mmi->ptMaxTrackSize.x = mx.cx > init.cx ? mx.cx : init.cx;
      if (mx.cy > 0) mmi->ptMaxTrackSize.y = mx.cy > init.cy ? mx.cy : init.cy;
      handled = true;
      break;
    }
    case WM_SIZE: {
      UiSize round = m_pm.GetRoundCorner();
      if (round.cx > 0 && round.cy > 0 && !IsIconic(m_hWnd)) {
        RECT rc;
        GetWindowRect(m_hWnd, &rc);
        HRGN rgn = CreateRoundRectRgn(0, 0, rc.right - rc.left + 1, rc.bottom - rc.top + 1, round.cx, round.cy);
        SetWindowRgn(m_hWnd, rgn, TRUE);  // the system owns the region from here on
      }
      break;
    }
    default:
      break;
  }
  if (handled) return res;
  if (m_pm.PreMessageHandler(uMsg, wParam, lParam, res)) return res;
  if (m_pm.MessageHandler(uMsg, wParam, lParam, res)) return res;
  return CWindowWnd::HandleMessage(uMsg, wParam, lParam);
}

}  // namespace DuiLib
