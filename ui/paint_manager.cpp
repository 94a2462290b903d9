#include "ui/paint_manager.h"

#include <commctrl.h>

#include <algorithm>
#include <cwctype>
#include <functional>

#include "base/text_format.h"
#include "ui/controls.h"
#include "ui/render.h"
#include "ui/ui_lock.h"

namespace DuiLib {

namespace {

HINSTANCE g_instance = nullptr;
CSkinArchive g_archive;  // guarded by the toolkit lock
std::atomic<DWORD> g_firstPaintMs{0};

// Work handed from another thread to the window thread; owner is the control it concerns (dropped when
// the control leaves the tree first).
struct DeferredTask {
  CPaintManagerUI* manager;
  CControlUI* owner;
  std::function<void()> run;
};
std::vector<DeferredTask> g_deferred;  // guarded by the toolkit lock

DWORD MillisecondsSinceProcessStart() {
  FILETIME creation, exitTime, kernel, user, now;
  if (!GetProcessTimes(GetCurrentProcess(), &creation, &exitTime, &kernel, &user)) return 0;
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER a, b;
  a.LowPart = creation.dwLowDateTime;
  a.HighPart = creation.dwHighDateTime;
  b.LowPart = now.dwLowDateTime;
  b.HighPart = now.dwHighDateTime;
  if (b.QuadPart < a.QuadPart) return 1;
  ULONGLONG ms = (b.QuadPart - a.QuadPart) / 10000;
  return ms == 0 ? 1 : static_cast<DWORD>(ms);
}

}  // namespace

void CPaintManagerUI::SetInstance(HINSTANCE instance) { g_instance = instance; }

HINSTANCE CPaintManagerUI::GetInstance() { return g_instance; }

bool CPaintManagerUI::SetResourceZip(const void* data, size_t size) {
  UiLockGuard g;
  return g_archive.Open(data, size);
}

bool CPaintManagerUI::HasResourceZip() {
  UiLockGuard g;
  return g_archive.IsOpen();
}

bool CPaintManagerUI::LoadSkinFile(const std::wstring& name, std::string& bytes) {
  UiLockGuard g;
  return g_archive.IsOpen() && g_archive.Read(name, bytes);
}

DWORD CPaintManagerUI::FirstPaintMs() { return g_firstPaintMs; }

CPaintManagerUI::CPaintManagerUI() = default;

CPaintManagerUI::~CPaintManagerUI() {
  UiLockGuard g;
  CControlUI* root = root_;
  root_ = nullptr;
  delete root;
  for (auto& f : fontCache_) DeleteObject(f.second);
  fontCache_.clear();
  g_deferred.erase(std::remove_if(g_deferred.begin(), g_deferred.end(),
                                  [this](const DeferredTask& t) { return t.manager == this; }),
                   g_deferred.end());
  if (tooltip_ != nullptr) DestroyWindow(tooltip_);
}

void CPaintManagerUI::Init(HWND hwnd) {
  // The tooltip window class lives in the common controls.
  static bool commonControls = [] {
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
    return InitCommonControlsEx(&icc) != FALSE;
  }();
  (void)commonControls;
  UiLockGuard g;
  hwnd_ = hwnd;
  threadId_ = GetCurrentThreadId();
}

bool CPaintManagerUI::AttachDialog(CControlUI* root) {
  UiLockGuard g;
  if (root == nullptr) return false;
  root_ = root;
  root_->SetManager(this, nullptr);
  NeedUpdate();
  return true;
}

CControlUI* CPaintManagerUI::ReleaseRoot() {
  UiLockGuard g;
  CControlUI* root = root_;
  if (root == nullptr) return nullptr;
  root->ForEach([this](CControlUI* c) { KillTimers(c); });
  root->SetManager(nullptr, nullptr);
  root_ = nullptr;
  hover_ = capture_ = focus_ = nullptr;
  g_deferred.erase(std::remove_if(g_deferred.begin(), g_deferred.end(),
                                  [this](const DeferredTask& t) { return t.manager == this; }),
                   g_deferred.end());
  return root;
}

CControlUI* CPaintManagerUI::FindControl(const std::wstring& name) const {
  UiLockGuard g;
  return root_ ? root_->FindSubControl(name) : nullptr;
}

CControlUI* CPaintManagerUI::FindControl(POINT pt) const {
  UiLockGuard g;
  return root_ ? root_->FindControlAt(pt) : nullptr;
}

void CPaintManagerUI::SetInitSize(int cx, int cy) {
  initSize_ = UiSize(cx, cy);
  if (hwnd_ != nullptr && root_ == nullptr) {
    SetWindowPos(hwnd_, nullptr, 0, 0, cx, cy, SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
  }
}

int CPaintManagerUI::AddFont(const FontSpec& fontDesc, bool isDefault) {
  UiLockGuard g;
  fonts_.push_back(fontDesc);
  int index = static_cast<int>(fonts_.size()) - 1;
  if (isDefault) defaultFont_ = index;
  return index;
}

int CPaintManagerUI::GetFontCount() const {
  UiLockGuard g;
  return static_cast<int>(fonts_.size());
}

FontSpec CPaintManagerUI::GetFontSpec(int index) const {
  UiLockGuard g;
  if (index >= 0 && index < static_cast<int>(fonts_.size())) return fonts_[index];
  if (defaultFont_ >= 0) return fonts_[defaultFont_];
  if (!fonts_.empty()) return fonts_[0];
  return FontSpec();
}

HFONT CPaintManagerUI::GetFont(int index, bool underline, bool bold, bool italic) {
  UiLockGuard g;
  FontSpec fontDesc = GetFontSpec(index);
  fontDesc.underline = fontDesc.underline || underline;
  fontDesc.bold = fontDesc.bold || bold;
  fontDesc.italic = fontDesc.italic || italic;
  std::wstring key = fontDesc.face + L"|" + std::to_wstring(fontDesc.size) + (fontDesc.bold ? L"b" : L"") +
                     (fontDesc.italic ? L"i" : L"") + (fontDesc.underline ? L"u" : L"");
  auto it = fontCache_.find(key);
  if (it != fontCache_.end()) return it->second;
  HFONT font = CreateFontW(-fontDesc.size, 0, 0, 0, fontDesc.bold ? FW_BOLD : FW_NORMAL, fontDesc.italic, fontDesc.underline, FALSE,
                           DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                           DEFAULT_PITCH | FF_DONTCARE, fontDesc.face.c_str());
  if (font == nullptr) font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  fontCache_[key] = font;
  return font;
}

void CPaintManagerUI::AddDefaultAttributeList(const std::wstring& className, const std::wstring& list) {
  UiLockGuard g;
  defaults_[Lower(className)] = list;
}

std::wstring CPaintManagerUI::GetDefaultAttributeList(const std::wstring& className) const {
  UiLockGuard g;
  auto it = defaults_.find(Lower(className));
  return it == defaults_.end() ? std::wstring() : it->second;
}

const CImageUI* CPaintManagerUI::GetImage(const std::wstring& file, bool hasMask, uint32_t mask) {
  UiLockGuard g;
  std::wstring key = Lower(NormalizeEntryName(file));
  if (hasMask) key += L"|" + std::to_wstring(mask & 0x00FFFFFFu);
  auto it = images_.find(key);
  if (it != images_.end()) return it->second.get();
  std::unique_ptr<CImageUI> image;
  std::string bytes;
  DecodedImage decoded;
  if (LoadSkinFile(file, bytes) && DecodeImage(bytes, hasMask, mask, decoded)) {
    image = std::make_unique<CImageUI>(std::move(decoded));
  }
  const CImageUI* result = image.get();
  images_[key] = std::move(image);  // a missing image is remembered too, so it is not looked up per paint
  return result;
}

void CPaintManagerUI::AddNotifier(INotifyUI* notifier) {
  UiLockGuard g;
  if (std::find(notifiers_.begin(), notifiers_.end(), notifier) == notifiers_.end()) notifiers_.push_back(notifier);
}

void CPaintManagerUI::AddMessageFilter(IMessageFilterUI* filter) {
  UiLockGuard g;
  if (std::find(filters_.begin(), filters_.end(), filter) == filters_.end()) filters_.push_back(filter);
}

void CPaintManagerUI::PostTask(CControlUI* owner, std::function<void()> task) {
  HWND hwnd = nullptr;
  {
    UiLockGuard g;
    g_deferred.push_back(DeferredTask{this, owner, std::move(task)});
    hwnd = hwnd_;
  }
  if (hwnd != nullptr) PostMessageW(hwnd, WM_UI_DEFERRED_NOTIFY, 0, 0);
}

void CPaintManagerUI::RunDeferred() {
  for (;;) {
    std::function<void()> task;
    {
      UiLockGuard g;
      auto it = std::find_if(g_deferred.begin(), g_deferred.end(),
                             [this](const DeferredTask& t) { return t.manager == this; });
      if (it == g_deferred.end()) return;
      task = std::move(it->run);
      g_deferred.erase(it);
    }
    task();
  }
}

bool CPaintManagerUI::OnWindowThread() const {
  return hwnd_ == nullptr || GetCurrentThreadId() == threadId_;
}

void CPaintManagerUI::SendNotify(CControlUI* sender, const std::wstring& type, WPARAM wParam, LPARAM lParam) {
  TNotifyUI msg;
  msg.sType = type;
  msg.pSender = sender;
  msg.wParam = wParam;
  msg.lParam = lParam;
  if (!OnWindowThread()) {
    PostTask(sender, [this, msg]() mutable { DeliverNotify(msg); });
    return;
  }
  DeliverNotify(msg);
}

void CPaintManagerUI::DeliverNotify(TNotifyUI& msg) {
  std::vector<INotifyUI*> notifiers;
  {
    UiLockGuard g;
    notifiers = notifiers_;
  }
  // Handlers run without the toolkit lock: they may show message boxes while workers update controls.
  for (INotifyUI* n : notifiers) n->Notify(msg);
}

void CPaintManagerUI::AddOptionGroup(const std::wstring& group, COptionUI* option) {
  UiLockGuard g;
  auto& v = groups_[group];
  if (std::find(v.begin(), v.end(), option) == v.end()) v.push_back(option);
}

void CPaintManagerUI::RemoveOptionGroup(const std::wstring& group, COptionUI* option) {
  UiLockGuard g;
  auto it = groups_.find(group);
  if (it == groups_.end()) return;
  it->second.erase(std::remove(it->second.begin(), it->second.end(), option), it->second.end());
}

std::vector<COptionUI*> CPaintManagerUI::GetOptionGroup(const std::wstring& group) const {
  UiLockGuard g;
  auto it = groups_.find(group);
  return it == groups_.end() ? std::vector<COptionUI*>() : it->second;
}

bool CPaintManagerUI::SetTimer(CControlUI* control, UINT id, UINT elapseMs) {
  if (!OnWindowThread()) {
    PostTask(control, [this, control, id, elapseMs]() { SetTimer(control, id, elapseMs); });
    return true;
  }
  UiLockGuard g;
  if (hwnd_ == nullptr) return false;
  for (TimerInfo& t : timers_) {
    if (t.control == control && t.localId == id) {
      return ::SetTimer(hwnd_, t.winId, elapseMs, nullptr) != 0;
    }
  }
  UINT winId = nextTimerId_++;
  if (::SetTimer(hwnd_, winId, elapseMs, nullptr) == 0) return false;
  timers_.push_back(TimerInfo{control, id, winId});
  return true;
}

void CPaintManagerUI::KillTimer(CControlUI* control, UINT id) {
  if (!OnWindowThread()) {
    PostTask(control, [this, control, id]() { KillTimer(control, id); });
    return;
  }
  UiLockGuard g;
  for (auto it = timers_.begin(); it != timers_.end(); ++it) {
    if (it->control == control && it->localId == id) {
      if (hwnd_ != nullptr) ::KillTimer(hwnd_, it->winId);
      timers_.erase(it);
      return;
    }
  }
}

void CPaintManagerUI::KillTimers(CControlUI* control) {
  UiLockGuard g;
  for (auto it = timers_.begin(); it != timers_.end();) {
    if (it->control == control) {
      // Killing a timer of another thread's window fails harmlessly; its WM_TIMER then finds no owner.
      if (hwnd_ != nullptr) ::KillTimer(hwnd_, it->winId);
      it = timers_.erase(it);
    } else {
      ++it;
    }
  }
}

void CPaintManagerUI::Invalidate(const UiRect& rc) {
  if (hwnd_ == nullptr || rc.IsEmpty()) return;
  RECT r = {rc.left, rc.top, rc.right, rc.bottom};
  InvalidateRect(hwnd_, &r, FALSE);
}

void CPaintManagerUI::NeedUpdate() {
  needUpdate_ = true;
  if (hwnd_ != nullptr) InvalidateRect(hwnd_, nullptr, FALSE);
}

void CPaintManagerUI::ReapObjects(CControlUI* control) {
  UiLockGuard g;
  if (hover_ == control) hover_ = nullptr;
  if (capture_ == control) capture_ = nullptr;
  if (focus_ == control) focus_ = nullptr;
  KillTimers(control);
  g_deferred.erase(std::remove_if(g_deferred.begin(), g_deferred.end(),
                                  [control](const DeferredTask& t) { return t.owner == control; }),
                   g_deferred.end());
}

void CPaintManagerUI::SetFocus(CControlUI* control) {
  CControlUI* old = nullptr;
  {
    UiLockGuard g;
    if (focus_ == control) return;
    old = focus_;
    focus_ = control;
  }
  TEventUI e;
  if (old != nullptr) {
    e.type = UiEvent::KillFocus;
    e.pSender = old;
    old->DoEvent(e);
  }
  if (control != nullptr) {
    e.type = UiEvent::SetFocus;
    e.pSender = control;
    control->DoEvent(e);
  }
}

void CPaintManagerUI::SetHover(CControlUI* control, POINT pt) {
  CControlUI* old = nullptr;
  {
    UiLockGuard g;
    if (hover_ == control) return;
    old = hover_;
    hover_ = control;
  }
  TEventUI e;
  e.ptMouse = pt;
  if (old != nullptr) {
    e.type = UiEvent::MouseLeave;
    e.pSender = old;
    old->DoEvent(e);
  }
  if (control != nullptr) {
    e.type = UiEvent::MouseEnter;
    e.pSender = control;
    control->DoEvent(e);
  }
  UpdateToolTip(control);
  // Rows light up while the mouse is over any of their parts.
  if (root_ != nullptr) Invalidate(root_->GetPos());
}

void CPaintManagerUI::UpdateToolTip(CControlUI* control) {
  if (hwnd_ == nullptr) return;
  if (tooltip_ == nullptr) {
    tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr,
                               g_instance, nullptr);
    if (tooltip_ == nullptr) return;
  }
  TOOLINFOW ti = {};
  ti.cbSize = TTTOOLINFOW_V1_SIZE;
  ti.hwnd = hwnd_;
  ti.uId = 1;
  SendMessageW(tooltip_, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  if (control == nullptr) return;
  tooltipText_ = control->GetToolTip();
  if (tooltipText_.empty()) return;
  UiRect pos = control->GetPos();
  ti.rect = {pos.left, pos.top, pos.right, pos.bottom};
  ti.lpszText = &tooltipText_[0];
  SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
}

void CPaintManagerUI::LayoutIfNeeded(int width, int height) {
  if (root_ == nullptr) return;
  if (!needUpdate_ && laidOutSize_ == UiSize(width, height)) return;
  needUpdate_ = false;
  laidOutSize_ = UiSize(width, height);
  root_->SetPos(UiRect(0, 0, width, height));
}

void CPaintManagerUI::LayoutNow(int width, int height) {
  UiLockGuard g;
  needUpdate_ = true;
  LayoutIfNeeded(width, height);
}

void CPaintManagerUI::RenderTo(HDC dc, int width, int height, const UiRect& clip) {
  UiLockGuard g;
  LayoutIfNeeded(width, height);
  CRenderEngine::DrawColor(dc, clip, 0xFFFFFFFF);
  if (root_ == nullptr) return;
  PaintContext ctx;
  ctx.dc = dc;
  ctx.manager = this;
  root_->DoPaint(ctx, clip);
}

void CPaintManagerUI::Paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd_, &ps);
  RECT client;
  GetClientRect(hwnd_, &client);
  int w = client.right - client.left, h = client.bottom - client.top;
  if (w > 0 && h > 0) {
    HDC mem = CreateCompatibleDC(dc);
    HBITMAP bmp = CreateCompatibleBitmap(dc, w, h);
    HGDIOBJ old = SelectObject(mem, bmp);
    UiRect clip(ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right, ps.rcPaint.bottom);
    RenderTo(mem, w, h, clip);
    BitBlt(dc, clip.left, clip.top, clip.Width(), clip.Height(), mem, clip.left, clip.top, SRCCOPY);
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
  }
  EndPaint(hwnd_, &ps);
  if (g_firstPaintMs == 0 && root_ != nullptr) g_firstPaintMs = MillisecondsSinceProcessStart();
}

bool CPaintManagerUI::PreMessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes) {
  std::vector<IMessageFilterUI*> filters;
  {
    UiLockGuard g;
    filters = filters_;
  }
  for (IMessageFilterUI* f : filters) {
    bool handled = false;
    LRESULT r = f->MessageHandler(uMsg, wParam, lParam, handled);
    if (handled) {
      lRes = r;
      return true;
    }
  }
  return false;
}

bool CPaintManagerUI::TranslateMessage(const MSG*) { return false; }

bool CPaintManagerUI::MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes) {
  if (hwnd_ == nullptr) return false;
  POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  TEventUI e;
  e.ptMouse = pt;
  e.wParam = wParam;
  e.lParam = lParam;
  switch (uMsg) {
    case WM_ERASEBKGND:
      lRes = 1;
      return true;
    case WM_PAINT:
      Paint();
      lRes = 0;
      return true;
    case WM_SIZE:
      NeedUpdate();
      return false;
    case WM_SETCURSOR: {
      // A hand over what can be clicked.
      if (LOWORD(lParam) != HTCLIENT) return false;
      POINT cursor;
      GetCursorPos(&cursor);
      ScreenToClient(hwnd_, &cursor);
      CControlUI* hit = FindControl(cursor);
      if (hit == nullptr || !hit->IsInteractive() || !hit->IsEnabled()) return false;
      SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_HAND)));
      lRes = TRUE;
      return true;
    }
    case WM_UI_DEFERRED_NOTIFY:
      RunDeferred();
      lRes = 0;
      return true;
    case WM_TIMER: {
      CControlUI* target = nullptr;
      {
        UiLockGuard g;
        for (const TimerInfo& t : timers_) {
          if (t.winId == wParam) {
            target = t.control;
            e.wParam = t.localId;
          }
        }
      }
      if (target == nullptr) return false;
      e.type = UiEvent::Timer;
      e.pSender = target;
      target->DoEvent(e);
      lRes = 0;
      return true;
    }
    case WM_MOUSEMOVE: {
      if (tooltip_ != nullptr) {
        MSG m = {hwnd_, uMsg, wParam, lParam, 0, {pt.x, pt.y}};
        SendMessageW(tooltip_, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&m));
      }
      if (!mouseTracking_) {
        TRACKMOUSEEVENT tme = {sizeof(tme), TME_LEAVE, hwnd_, 0};
        mouseTracking_ = TrackMouseEvent(&tme) != FALSE;
      }
      CControlUI* capture = capture_;
      if (capture != nullptr) {
        e.type = UiEvent::MouseMove;
        e.pSender = capture;
        capture->DoEvent(e);
      } else {
        SetHover(FindControl(pt), pt);
      }
      return false;
    }
    case WM_MOUSELEAVE:
      mouseTracking_ = false;
      if (capture_ == nullptr) SetHover(nullptr, pt);
      return false;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
      CControlUI* hit = FindControl(pt);
      if (hit == nullptr) return false;
      ::SetFocus(hwnd_);
      if (hit->IsInteractive()) SetFocus(hit);
      SetCapture(hwnd_);
      capture_ = hit;
      e.type = UiEvent::ButtonDown;
      e.pSender = hit;
      hit->DoEvent(e);
      return false;
    }
    case WM_LBUTTONUP: {
      CControlUI* capture = capture_;
      if (capture == nullptr) return false;
      capture_ = nullptr;
      ReleaseCapture();
      e.type = UiEvent::ButtonUp;
      e.pSender = capture;
      capture->DoEvent(e);
      return false;
    }
    case WM_MOUSEWHEEL: {
      POINT screen = pt;
      ScreenToClient(hwnd_, &screen);
      CControlUI* hit = FindControl(screen);
      if (hit == nullptr) return false;
      e.type = UiEvent::Wheel;
      e.ptMouse = screen;
      e.pSender = hit;
      hit->DoEvent(e);
      lRes = 0;
      return true;
    }
    case WM_KEYDOWN: {
      CControlUI* focus = focus_;
      if (focus == nullptr) return false;
      e.type = UiEvent::KeyDown;
      e.pSender = focus;
      focus->DoEvent(e);
      return false;
    }
    default:
      return false;
  }
}

}  // namespace DuiLib
