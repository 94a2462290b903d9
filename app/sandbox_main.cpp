// vorlane-sandbox.exe: the program with the simulated machine, scripted dialogs and a transcript. It reads
// VORLANE_SANDBOX_DIR\machine.ini and script.txt and writes transcript.txt there (docs/sandbox.md).
#include <windows.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>

#include "app/frame_window.h"
#include "app/sandbox_script.h"
#include "app/sandbox_transcript.h"
#include "base/text_format.h"
#include "boot/command_runner.h"
#include "cloud/server_address.h"
#include "sysinfo/simulated_machine.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

using namespace DuiLib;

namespace {

// Runs a function on the window thread (sent, so the script waits for it).
constexpr UINT WM_SANDBOX_CALL = WM_APP + 0x3B0;

std::wstring g_dir;
Transcript g_transcript;
ScriptedDialogs g_dialogs(g_transcript);
// Every machine described so far; a replaced one stays alive, as a worker may still be asking it.
std::vector<std::unique_ptr<SimulatedMachine>> g_machines;
// The machine in force, for the command recorder (which may run while the script attaches another).
std::atomic<const SimulatedMachine*> g_machine{nullptr};
CFrameWindowWnd* g_window = nullptr;
HWND g_hwnd = nullptr;

bool ReadFileBytes(const std::wstring& path, std::string& bytes) {
  std::ifstream in(path.c_str(), std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

std::wstring Utf8ToWide(const std::string& bytes) {
  std::string b = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? bytes.substr(3) : bytes;
  if (b.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, b.data(), static_cast<int>(b.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, b.data(), static_cast<int>(b.size()), &out[0], n);
  return out;
}

// A relative path names a file in the sandbox folder.
std::wstring InSandbox(const std::wstring& path) {
  bool absolute = path.size() > 1 && (path[1] == L':' || path[0] == L'\\' || path[0] == L'/');
  return absolute ? path : g_dir + L"\\" + path;
}

// One disk with one NTFS partition lettered C, when no machine.ini is given.
const wchar_t kDefaultMachine[] =
    L"[disk0]\nentry = 1M, 60G, 1, 07, active\n[volume C]\ndisk = 0\noffset = 1M\ndevice = \\Device\\HarddiskVolume1\n";

// Describes the machine from a file (kDefaultMachine when the file is absent and mayBeAbsent) and installs
// it as the device access; answers an error text, empty on success.
std::wstring LoadMachine(const std::wstring& path, bool mayBeAbsent = false) {
  std::string bytes;
  std::wstring text;
  if (ReadFileBytes(path, bytes)) {
    text = Utf8ToWide(bytes);
  } else if (mayBeAbsent) {
    text = kDefaultMachine;
  } else {
    return L"cannot read the file";
  }
  MachineDescription machine;
  std::wstring error;
  if (!ParseMachineDescription(text, machine, error)) return error;
  g_machines.push_back(std::make_unique<SimulatedMachine>(machine));
  SetDeviceIo(g_machines.back().get());
  g_machine = g_machines.back().get();
  return std::wstring();
}

// Every command is recorded. Folder removals of the data backup only touch folders of the Wine prefix
// and are run for real, so that a second backup can replace the first; boot tools and attribute
// commands are only recorded (the partition tool would act on real disks) and answer success, or what the
// machine description's [commands] section says for them.
CommandResult RecordCommand(const std::wstring& commandLine) {
  g_dialogs.NoteCommand(commandLine);
  static const wchar_t kFolderRemoval[] = L"cmd.exe\" /c rd /s /q \"";
  if (commandLine.find(kFolderRemoval) != std::wstring::npos) return RunHiddenProcess(commandLine);
  CommandResult result;
  const SimulatedMachine* machine = g_machine.load();
  const CommandFault* fault = machine != nullptr ? FaultForCommand(machine->Description(), commandLine) : nullptr;
  result.started = fault == nullptr || !fault->startFails;
  result.exitCode = fault != nullptr ? fault->exitCode : 0;
  return result;
}

class SandboxFilter : public IMessageFilterUI {
 public:
  LRESULT MessageHandler(UINT uMsg, WPARAM, LPARAM lParam, bool& handled) override {
    if (uMsg != WM_SANDBOX_CALL) return 0;
    (*reinterpret_cast<std::function<void()>*>(lParam))();
    handled = true;
    return 0;
  }
};
SandboxFilter g_filter;

void OnUi(const std::function<void()>& fn) {
  SendMessageW(g_hwnd, WM_SANDBOX_CALL, 0, reinterpret_cast<LPARAM>(&fn));
}

// Polls a condition every 50 ms up to the given seconds.
bool WaitFor(const std::wstring& seconds, const std::function<bool()>& condition) {
  DWORD limit = static_cast<DWORD>(_wtoi(seconds.c_str())) * 1000;
  DWORD start = GetTickCount();
  for (;;) {
    if (condition()) return true;
    if (GetTickCount() - start >= limit) return false;
    Sleep(50);
  }
}

CControlUI* FindNamed(const std::wstring& name) { return g_window->PaintManager().FindControl(name); }

std::wstring Describe(CControlUI* c) {
  std::wstring selected = L"-";
  if (auto* option = dynamic_cast<COptionUI*>(c)) selected = option->IsSelected() ? L"1" : L"0";
  return L"control " + c->GetName() + L" class=" + c->GetClass() + L" enabled=" + (c->IsEnabled() ? L"1" : L"0") +
         L" visible=" + (c->IsVisibleInTree() ? L"1" : L"0") + L" selected=" + selected + L" text=" + Quoted(c->GetText());
}

// The image state of the download page's animation and pause button.
std::wstring DescribeImage(CControlUI* c) {
  std::wstring line = L"image " + c->GetName() + L" bkimage=" + Quoted(c->GetBkImage());
  if (auto* gif = dynamic_cast<CGifAnimUI*>(c)) line += Format(L" playing=%d", gif->IsPlaying() ? 1 : 0);
  return line;
}

void Dump() {
  OnUi([] {
    g_transcript.Line(L"dump begin");
    CControlUI* root = g_window->PaintManager().GetRoot();
    if (root != nullptr) {
      root->ForEach([](CControlUI* c) {
        if (c->GetName().empty()) return;
        g_transcript.Line(Describe(c));
        if (c->GetName() == L"gifprocess" || c->GetName() == L"btnpause") g_transcript.Line(DescribeImage(c));
      });
    }
    int page = g_window->tabswitch ? g_window->tabswitch->GetCurSel() : -1;
    g_transcript.Line(Format(L"page %d", page));
    g_transcript.Line(L"dump end");
  });
}

bool WritePng(const std::wstring& path, int w, int h, const std::vector<unsigned char>& rgba) {
  std::string png;
  auto sink = [](void* ctx, void* data, int size) {
    static_cast<std::string*>(ctx)->append(static_cast<const char*>(data), static_cast<size_t>(size));
  };
  if (!stbi_write_png_to_func(sink, &png, w, h, 4, rgba.data(), w * 4)) return false;
  std::ofstream out(path.c_str(), std::ios::binary);
  out.write(png.data(), static_cast<std::streamsize>(png.size()));
  return static_cast<bool>(out);
}

// The button texts of a message box's button set.
std::vector<std::wstring> ButtonTexts(UINT flags) {
  switch (flags & MB_TYPEMASK) {
    case MB_OKCANCEL: return {L"确定", L"取消"};
    case MB_YESNO: return {L"是(Y)", L"否(N)"};
    case MB_YESNOCANCEL: return {L"是(Y)", L"否(N)", L"取消"};
    default: return {L"确定"};
  }
}

// Draws a message box held open by the script over the window's picture, centred, as the system's box
// would stand over the window (caption bar, text, buttons).
void PaintOpenBox(HDC dc, int w, int h) {
  std::wstring caption, text;
  UINT flags = 0;
  if (!g_dialogs.OpenBox(caption, text, flags)) return;
  HFONT font = CreateFontW(-14, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, CLEARTYPE_QUALITY, 0, L"微软雅黑");
  HGDIOBJ oldFont = SelectObject(dc, font);
  const int boxW = 520, pad = 20, captionH = 32, buttonH = 30, buttonW = 88;
  RECT measure = {0, 0, boxW - 2 * pad, 0};
  DrawTextW(dc, text.c_str(), -1, &measure, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
  int boxH = captionH + pad + (measure.bottom - measure.top) + pad + buttonH + 16 + 16;
  RECT box = {(w - boxW) / 2, (h - boxH) / 2, (w + boxW) / 2, (h + boxH) / 2};
  HBRUSH shadow = CreateSolidBrush(RGB(150, 150, 150));
  RECT shade = {box.left + 4, box.top + 4, box.right + 4, box.bottom + 4};
  FillRect(dc, &shade, shadow);
  DeleteObject(shadow);
  HBRUSH body = CreateSolidBrush(RGB(255, 255, 255));
  FillRect(dc, &box, body);
  DeleteObject(body);
  RECT bar = {box.left, box.top, box.right, box.top + captionH};
  HBRUSH barBrush = CreateSolidBrush(RGB(232, 238, 247));
  FillRect(dc, &bar, barBrush);
  DeleteObject(barBrush);
  HBRUSH frame = CreateSolidBrush(RGB(120, 140, 170));
  FrameRect(dc, &box, frame);
  DeleteObject(frame);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(20, 20, 20));
  RECT captionText = {bar.left + 12, bar.top, bar.right, bar.bottom};
  DrawTextW(dc, caption.c_str(), -1, &captionText, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  RECT textRect = {box.left + pad, bar.bottom + pad, box.right - pad, bar.bottom + pad + (measure.bottom - measure.top)};
  DrawTextW(dc, text.c_str(), -1, &textRect, DT_WORDBREAK | DT_NOPREFIX);
  RECT footer = {box.left, box.bottom - buttonH - 32, box.right, box.bottom};
  HBRUSH footerBrush = CreateSolidBrush(RGB(240, 240, 240));
  FillRect(dc, &footer, footerBrush);
  DeleteObject(footerBrush);
  std::vector<std::wstring> buttons = ButtonTexts(flags);
  int x = box.right - pad - static_cast<int>(buttons.size()) * (buttonW + 10) + 10;
  for (const std::wstring& label : buttons) {
    RECT b = {x, box.bottom - buttonH - 16, x + buttonW, box.bottom - 16};
    HBRUSH face = CreateSolidBrush(RGB(225, 225, 225));
    FillRect(dc, &b, face);
    DeleteObject(face);
    HBRUSH edge = CreateSolidBrush(RGB(173, 173, 173));
    FrameRect(dc, &b, edge);
    DeleteObject(edge);
    DrawTextW(dc, label.c_str(), -1, &b, DT_SINGLELINE | DT_VCENTER | DT_CENTER | DT_NOPREFIX);
    x += buttonW + 10;
  }
  SelectObject(dc, oldFont);
  DeleteObject(font);
}

// Paints the window's tree exactly as the window does, into a bitmap, and saves it as PNG (with a message
// box the script holds open drawn over it).
bool Screenshot(const std::wstring& path) {
  bool ok = false;
  OnUi([&] {
    RECT rc;
    GetClientRect(g_hwnd, &rc);
    int w = rc.right - rc.left, h = rc.bottom - rc.top;
    if (w <= 0 || h <= 0) return;
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = w;
    bmi.bmiHeader.biHeight = -h;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bmp = CreateDIBSection(dc, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bmp == nullptr) {
      DeleteDC(dc);
      return;
    }
    HGDIOBJ old = SelectObject(dc, bmp);
    g_window->PaintManager().RenderTo(dc, w, h, UiRect(0, 0, w, h));
    PaintOpenBox(dc, w, h);
    GdiFlush();
    std::vector<unsigned char> rgba(static_cast<size_t>(w) * h * 4);
    const auto* px = static_cast<const uint32_t*>(bits);
    for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) {
      rgba[i * 4] = static_cast<unsigned char>(px[i] >> 16);
      rgba[i * 4 + 1] = static_cast<unsigned char>(px[i] >> 8);
      rgba[i * 4 + 2] = static_cast<unsigned char>(px[i]);
      rgba[i * 4 + 3] = 255;
    }
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
    ok = WritePng(path, w, h, rgba);
  });
  return ok;
}

// Clicks a control as the user would: only an enabled control on the page shown acts.
std::wstring Click(CControlUI* c, const std::wstring& what) {
  if (c == nullptr) return what + L": no such control";
  if (!c->IsVisibleInTree()) return what + L": control is not shown";
  if (!c->IsEnabled()) return what + L": control is disabled";
  OnUi([c] { c->Activate(); });
  return std::wstring();
}

// Runs one command; answers an error text, empty on success.
std::wstring Run(const ScriptCommand& cmd, int& msgboxesSeen) {
  const std::wstring& v = cmd.verb;
  const auto& a = cmd.args;
  if (v == L"click") return Click(FindNamed(a[0]), L"click " + a[0]);
  if (v == L"click-row") {
    auto* list = dynamic_cast<CContainerUI*>(FindNamed(L"listsystem"));
    auto* row = list ? dynamic_cast<CContainerUI*>(list->GetItemAt(_wtoi(a[0].c_str()))) : nullptr;
    if (row == nullptr) return L"click-row " + a[0] + L": no such row";
    return Click(row->FindSubControl(a[1]), L"click-row " + a[0] + L" " + a[1]);
  }
  if (v == L"answer") {
    g_dialogs.QueueAnswer(AnswerFromName(a[0]));
    return std::wstring();
  }
  if (v == L"answer-after") {
    g_dialogs.QueueAnswer(AnswerFromName(a[1]), static_cast<DWORD>(_wtoi(a[0].c_str())));
    return std::wstring();
  }
  if (v == L"note") {
    g_transcript.Line(L"note " + a[0]);
    return std::wstring();
  }
  if (v == L"attach-machine") {
    std::wstring error = LoadMachine(InSandbox(a[0]));
    if (!error.empty()) return L"attach-machine " + a[0] + L": " + error;
    g_transcript.Line(L"machine " + Quoted(a[0]));
    return std::wstring();
  }
  if (v == L"choose-folder" || v == L"choose-file") {
    std::wstring path = a[0] == L"cancel" ? std::wstring() : a[0];
    if (v == L"choose-folder") g_dialogs.QueueFolder(path);
    if (v == L"choose-file") g_dialogs.QueueFile(path);
    return std::wstring();
  }
  if (v == L"wait-enabled" || v == L"wait-disabled") {
    bool want = v == L"wait-enabled";
    CControlUI* c = FindNamed(a[0]);
    if (c == nullptr) return v + L" " + a[0] + L": no such control";
    if (!WaitFor(a[1], [c, want] { return c->IsEnabled() == want; })) return v + L" " + a[0] + L": timed out";
    return std::wstring();
  }
  if (v == L"wait-text") {
    CControlUI* c = FindNamed(a[0]);
    if (c == nullptr) return L"wait-text " + a[0] + L": no such control";
    std::wstring text = a[1];
    if (!WaitFor(a[2], [c, text] { return c->GetText().find(text) != std::wstring::npos; }))
      return L"wait-text " + a[0] + L": timed out, text is " + Quoted(c->GetText());
    return std::wstring();
  }
  if (v == L"wait-page") {
    int page = _wtoi(a[0].c_str());
    CTabLayoutUI* tab = g_window->tabswitch;
    if (tab == nullptr) return L"wait-page: no tabswitch";
    if (!WaitFor(a[1], [tab, page] { return tab->GetCurSel() == page; }))
      return Format(L"wait-page %d: timed out on page %d", page, tab->GetCurSel());
    return std::wstring();
  }
  if (v == L"wait-msgbox") {
    if (!WaitFor(a[0], [&] { return g_dialogs.MessageBoxCount() > msgboxesSeen; })) return L"wait-msgbox: timed out";
    ++msgboxesSeen;
    return std::wstring();
  }
  if (v == L"screenshot") {
    std::wstring path = InSandbox(a[0]);
    if (!Screenshot(path)) return L"screenshot " + a[0] + L": cannot write it";
    g_transcript.Line(L"screenshot " + Quoted(a[0]));
    return std::wstring();
  }
  if (v == L"dump") {
    Dump();
    return std::wstring();
  }
  if (v == L"sleep") {
    Sleep(static_cast<DWORD>(_wtoi(a[0].c_str())));
    return std::wstring();
  }
  if (v == L"close") {
    PostMessageW(g_hwnd, WM_CLOSE, 0, 0);
    return std::wstring();
  }
  return L"verb not handled: " + v;
}

DWORD WINAPI ScriptThread(LPVOID) {
  std::string bytes;
  if (!ReadFileBytes(g_dir + L"\\script.txt", bytes)) {
    g_transcript.Line(L"script none");
    return 0;
  }
  std::vector<std::wstring> errors;
  std::vector<ScriptCommand> commands = ParseScript(bytes, errors);
  for (const std::wstring& e : errors) g_transcript.Line(L"error script " + e);
  int msgboxesSeen = 0;
  for (const ScriptCommand& cmd : commands) {
    std::wstring line = cmd.verb;
    for (const std::wstring& arg : cmd.args) line += L" " + arg;
    g_transcript.Line(Format(L"script %d: ", cmd.line) + line);
    std::wstring error = Run(cmd, msgboxesSeen);
    if (!error.empty()) g_transcript.Line(Format(L"error line %d: ", cmd.line) + error);
    if (cmd.verb == L"close") break;
  }
  g_transcript.Line(L"script end");
  return 0;
}

void OnFrameReady(CFrameWindowWnd* window) {
  g_window = window;
  g_hwnd = window->GetHWND();
  window->PaintManager().AddMessageFilter(&g_filter);
  g_transcript.Line(L"window ready");
  HANDLE thread = CreateThread(nullptr, 0, ScriptThread, nullptr, 0, nullptr);
  if (thread != nullptr) CloseHandle(thread);
}

int ToolkitMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags) {
  return g_dialogs.ShowMessage(owner, text, caption, flags);
}

void OnNavigate(const std::wstring& url) { g_transcript.Line(L"navigate " + Quoted(url)); }

// Reports the first paint once it happened (the start-up benchmark reads it).
DWORD WINAPI FirstPaintWatch(LPVOID) {
  for (int i = 0; i < 600 && CPaintManagerUI::FirstPaintMs() == 0; ++i) Sleep(50);
  if (CPaintManagerUI::FirstPaintMs() != 0) g_transcript.Line(Format(L"first-paint %lu ms", CPaintManagerUI::FirstPaintMs()));
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
  wchar_t dir[kPathCapacity] = {};
  DWORD n = GetEnvironmentVariableW(L"VORLANE_SANDBOX_DIR", dir, kPathCapacity);
  if (n == 0 || n >= kPathCapacity) GetCurrentDirectoryW(kPathCapacity, dir);
  g_dir = dir;
  while (!g_dir.empty() && (g_dir.back() == L'\\' || g_dir.back() == L'/')) g_dir.pop_back();
  if (!g_transcript.Open(g_dir + L"\\transcript.txt")) return 2;
  g_transcript.Line(L"start vorlane-sandbox");

  std::wstring error = LoadMachine(g_dir + L"\\machine.ini", true);
  if (!error.empty()) {
    g_transcript.Line(L"error " + error);
    return 2;
  }
  // The maker's server: the built-in address unless VORLANE_SANDBOX_SERVER names another.
  wchar_t server[kPathCapacity] = {};
  DWORD serverLength = GetEnvironmentVariableW(L"VORLANE_SANDBOX_SERVER", server, kPathCapacity);
  if (serverLength > 0 && serverLength < kPathCapacity) SetServerBaseUrl(server);
  SetCommandRunnerHook(RecordCommand);

  SetDialogs(&g_dialogs);
  SetToolkitMessageBox(ToolkitMessageBox);
  CWebBrowserUI::SetNavigateObserver(OnNavigate);
  SetFrameReadyHook(OnFrameReady);
  HANDLE watch = CreateThread(nullptr, 0, FirstPaintWatch, nullptr, 0, nullptr);
  if (watch != nullptr) CloseHandle(watch);

  int code = RunVorlane(instance);
  g_transcript.Line(Format(L"exit %d", code));
  return code;
}
