// What the program asks of its user and of the shell: message boxes, the folder and file choosers, shell
// opens and the restart command. vorlane.exe uses the real Win32 calls; the sandbox installs a scripted
// implementation that answers from its script and writes everything to its transcript.
#pragma once
#include <windows.h>

#include <string>

class IDialogs {
 public:
  virtual ~IDialogs() = default;
  // MessageBoxW: the pressed button (IDOK, IDCANCEL, IDYES, IDNO, ...).
  virtual int ShowMessage(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags) = 0;
  // The shell's folder browser (title "请选择路径", edit field); the chosen folder or an empty text.
  virtual std::wstring BrowseForFolder() = 0;
  // The open-file dialog for images ("GHO文件" *.GHO, "所有文件(*.*)"); false when cancelled.
  virtual bool BrowseForImageFile(std::wstring& path) = 0;
  // ShellExecuteW with no owner and no directory; its result is not reported.
  virtual void ShellOpen(const std::wstring& verb, const std::wstring& file, const std::wstring& parameters,
                            int showCommand) = 0;
  // Starts the restart command line hidden, without waiting (WinExec).
  virtual void RunRestart(const std::string& commandLine) = 0;
  // Told about every external command line the program runs (the sandbox records them).
  virtual void NoteCommand(const std::wstring& commandLine) {}
  // Ends the process at once (ExitProcess), whatever runs.
  virtual void EndProcess(UINT exitCode) { ExitProcess(exitCode); }
};

// The implementation in force: the real one unless another was installed.
IDialogs& Dialogs();
// Installs a replacement (not owned); null restores the real one.
void SetDialogs(IDialogs* dialogs);

// The real Win32 implementation.
class Win32Dialogs : public IDialogs {
 public:
  int ShowMessage(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags) override;
  std::wstring BrowseForFolder() override;
  bool BrowseForImageFile(std::wstring& path) override;
  void ShellOpen(const std::wstring& verb, const std::wstring& file, const std::wstring& parameters,
                    int showCommand) override;
  void RunRestart(const std::string& commandLine) override;
};
