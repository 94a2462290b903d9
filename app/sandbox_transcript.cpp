#include "app/sandbox_transcript.h"

#include "app/restart.h"
#include "app/sandbox_script.h"
#include "base/text_format.h"
#include "sysinfo/simulated_machine.h"

Transcript::~Transcript() {
  if (file_ != nullptr) fclose(file_);
}

bool Transcript::Open(const std::wstring& path) {
  LockHolder hold(lock_);
  file_ = _wfopen(path.c_str(), L"wb");
  return file_ != nullptr;
}

void Transcript::Line(const std::wstring& text) {
  LockHolder hold(lock_);
  if (file_ == nullptr) return;
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(n), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], n, nullptr, nullptr);
  bytes += '\n';
  fwrite(bytes.data(), 1, bytes.size(), file_);
  fflush(file_);
}

std::wstring Quoted(const std::wstring& text) {
  std::wstring out = L"\"";
  for (wchar_t c : text) {
    if (c == L'"') {
      out += L"\\\"";
    } else if (c == L'\n') {
      out += L"\\n";
    } else if (c == L'\r') {
      out += L"\\r";
    } else {
      out += c;
    }
  }
  return out + L"\"";
}

void ScriptedDialogs::QueueAnswer(int answer, DWORD delayMs) {
  LockHolder hold(lock_);
  answers_.push_back(QueuedAnswer{answer, delayMs});
}

void ScriptedDialogs::QueueFolder(const std::wstring& path) {
  LockHolder hold(lock_);
  folders_.push_back(path);
}

void ScriptedDialogs::QueueFile(const std::wstring& path) {
  LockHolder hold(lock_);
  files_.push_back(path);
}

bool ScriptedDialogs::Pop(std::deque<std::wstring>& queue, std::wstring& out) {
  LockHolder hold(lock_);
  if (queue.empty()) return false;
  out = queue.front();
  queue.pop_front();
  return true;
}

namespace {

// Waits while the calling thread's windows go on receiving their messages, as under a modal box.
void PumpFor(DWORD ms) {
  DWORD start = GetTickCount();
  for (;;) {
    DWORD elapsed = GetTickCount() - start;
    if (elapsed >= ms) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

}  // namespace

int ScriptedDialogs::ShowMessage(HWND, const std::wstring& text, const std::wstring& caption, UINT flags) {
  QueuedAnswer queued{0, 0};
  bool fromScript = false;
  {
    LockHolder hold(lock_);
    if (!answers_.empty()) {
      queued = answers_.front();
      answers_.pop_front();
      fromScript = true;
    }
  }
  int answer = fromScript ? queued.answer : DefaultAnswer(flags);
  std::wstring box = L"caption=" + Quoted(caption) + Format(L" flags=0x%08X", flags) + L" text=" + Quoted(text);
  if (queued.delayMs > 0) {
    transcript_.Line(L"msgbox-open " + box);
    {
      LockHolder hold(lock_);
      open_ = true;
      openCaption_ = caption;
      openText_ = text;
      openFlags_ = flags;
    }
    ++shown_;
    PumpFor(queued.delayMs);
    {
      LockHolder hold(lock_);
      open_ = false;
    }
    transcript_.Line(L"msgbox " + box + L" answer=" + AnswerName(answer) + Format(L" (after %lu ms)", queued.delayMs));
    return answer;
  }
  transcript_.Line(L"msgbox " + box + L" answer=" + AnswerName(answer) + (fromScript ? L"" : L" (default)"));
  ++shown_;
  return answer;
}

bool ScriptedDialogs::OpenBox(std::wstring& caption, std::wstring& text, UINT& flags) {
  LockHolder hold(lock_);
  if (!open_) return false;
  caption = openCaption_;
  text = openText_;
  flags = openFlags_;
  return true;
}

std::wstring ScriptedDialogs::BrowseForFolder() {
  std::wstring path;
  bool queued = Pop(folders_, path);
  transcript_.Line(L"choose-folder title=\"请选择路径\" answer=" + (path.empty() ? std::wstring(L"cancel") : Quoted(path)) +
                   (queued ? L"" : L" (nothing queued)"));
  return path;
}

bool ScriptedDialogs::BrowseForImageFile(std::wstring& path) {
  std::wstring chosen;
  bool queued = Pop(files_, chosen);
  transcript_.Line(L"choose-file title=\"选择文件\" answer=" + (chosen.empty() ? std::wstring(L"cancel") : Quoted(chosen)) +
                   (queued ? L"" : L" (nothing queued)"));
  if (chosen.empty()) return false;
  path = chosen;
  return true;
}

void ScriptedDialogs::ShellOpen(const std::wstring& verb, const std::wstring& file, const std::wstring& parameters,
                                   int showCommand) {
  transcript_.Line(L"shell verb=" + Quoted(verb) + L" file=" + Quoted(file) + L" parameters=" + Quoted(parameters) +
                   Format(L" show=%d", showCommand));
}

namespace {

// The restart as the described machine fares with it (machine.ini "shutdown"): every way taken is recorded,
// nothing is run.
class RecordedRestart : public IRestartSystem {
 public:
  RecordedRestart(Transcript& transcript, RestartTool tool) : transcript_(transcript), tool_(tool) {}
  bool HasShutdownTool() override { return tool_ != RestartTool::Missing; }
  bool RunCommand(const std::string& commandLine) override {
    bool works = tool_ == RestartTool::Works;
    transcript_.Line(L"restart " + Quoted(std::wstring(commandLine.begin(), commandLine.end())) +
                     (works ? L"" : L" failed"));
    return works;
  }
  bool RebootCall() override {
    transcript_.Line(L"restart ExitWindowsEx(EWX_REBOOT)");
    return true;
  }

 private:
  Transcript& transcript_;
  RestartTool tool_;
};

}  // namespace

void ScriptedDialogs::RunRestart(const std::string& commandLine) {
  auto* machine = dynamic_cast<SimulatedMachine*>(&DeviceIo());
  RecordedRestart system(transcript_, machine != nullptr ? machine->Description().restartTool : RestartTool::Works);
  RestartMachine(commandLine, system);
}

void ScriptedDialogs::NoteCommand(const std::wstring& commandLine) { transcript_.Line(L"command " + Quoted(commandLine)); }

void ScriptedDialogs::EndProcess(UINT exitCode) {
  transcript_.Line(Format(L"exit %u", exitCode));
  ExitProcess(exitCode);
}
