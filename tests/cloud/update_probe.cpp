// Runs the update offer as the program does, answering Yes, with the real end of the process. Arguments:
// the folder under which the update's private folder is made, a log file that receives the window changes,
// one a line, and optionally "tamper": once the installer is checked, another process (cloud_tamper) tries
// to change it while the program holds it; its report goes to tamper.txt beside the log. Exit code 3 means
// the offer ended without ending the process.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "cloud/cloud_state.h"
#include "cloud/connection_sequence.h"
#include "cloud/server_address.h"

namespace {

class YesWindow : public ConnectionWindow {
 public:
  YesWindow(const std::wstring& log, bool tamper) : log_(log), tamper_(tamper) {}
  void SetInstallEnabled(bool) override {}
  void SetInstallTip(const std::wstring& tip) override { Log(L"tip:" + tip); }
  void SetStatusText(const std::wstring& text) override { Log(L"status:" + text); }
  void ApplyStatusAttributes(const std::wstring&) override {}
  bool AskYesNo(const std::wstring& text, const std::wstring&) override {
    Log(L"ask:" + text);
    return true;
  }
  void InstallerChecked(const std::wstring& path) override {
    Log(L"checked");
    if (tamper_) RunTamper(path);
  }

 private:
  void Log(const std::wstring& line) {
    HANDLE f = CreateFileW(log_.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    std::wstring text = line + L"\n";
    DWORD written = 0;
    WriteFile(f, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(f);
  }
  void RunTamper(const std::wstring& path) {
    wchar_t self[MAX_PATH] = {0};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder(self);
    folder = folder.substr(0, folder.find_last_of(L'\\'));
    std::wstring report = log_.substr(0, log_.find_last_of(L'\\')) + L"\\tamper.txt";
    std::wstring command = L"\"" + folder + L"\\cloud_tamper.exe\" \"" + path + L"\" \"" + report + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return;
    WaitForSingleObject(pi.hProcess, 60000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  std::wstring log_;
  bool tamper_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  const char* base = std::getenv("VORLANE_TEST_SERVER");
  if (base == nullptr) return 2;
  SetServerBaseUrl(std::wstring(base, base + strlen(base)));
  SetUpdateFolderParent(argv[1]);
  YesWindow window(argv[2], argc > 3 && std::wstring(argv[3]) == L"tamper");
  RunUpdateOffer(window);
  return 3;
}
