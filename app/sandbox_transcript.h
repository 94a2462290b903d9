// The sandbox's transcript (UTF-8, one event a line) and the scripted dialogs that answer from the
// script's queues and write every question, choice, shell open and command to it.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <deque>
#include <string>

#include "app/dialogs.h"
#include "base/simple_lock.h"

class Transcript {
 public:
  ~Transcript();
  bool Open(const std::wstring& path);
  // Appends one line and flushes it at once (the process may end abruptly).
  void Line(const std::wstring& text);

 private:
  SimpleLock lock_;
  FILE* file_ = nullptr;
};

// A text in double quotes, with line breaks and quotes escaped.
std::wstring Quoted(const std::wstring& text);

class ScriptedDialogs : public IDialogs {
 public:
  explicit ScriptedDialogs(Transcript& transcript) : transcript_(transcript) {}

  // Queues for the script's answer, choose-folder and choose-file verbs (an empty path means cancel).
  // delayMs keeps the box open that long first, as a user who does not answer at once (the window runs on).
  void QueueAnswer(int answer, DWORD delayMs = 0);
  void QueueFolder(const std::wstring& path);
  void QueueFile(const std::wstring& path);
  // The box held open by an answer-after, if one is: its caption, text and flags.
  bool OpenBox(std::wstring& caption, std::wstring& text, UINT& flags);
  // Message boxes shown so far (counted when they appear).
  int MessageBoxCount() const { return shown_; }

  int ShowMessage(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags) override;
  std::wstring BrowseForFolder() override;
  bool BrowseForImageFile(std::wstring& path) override;
  void ShellOpen(const std::wstring& verb, const std::wstring& file, const std::wstring& parameters,
                    int showCommand) override;
  void RunRestart(const std::string& commandLine) override;
  void NoteCommand(const std::wstring& commandLine) override;
  void EndProcess(UINT exitCode) override;

 private:
  bool Pop(std::deque<std::wstring>& queue, std::wstring& out);
  Transcript& transcript_;
  SimpleLock lock_;
  struct QueuedAnswer {
    int answer;
    DWORD delayMs;
  };
  std::deque<QueuedAnswer> answers_;
  std::deque<std::wstring> folders_, files_;
  std::atomic<int> shown_{0};
  bool open_ = false;
  std::wstring openCaption_, openText_;
  UINT openFlags_ = 0;
};
