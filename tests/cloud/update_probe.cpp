// Runs the update offer as the program does, answering Yes, with the real end of the process. Arguments:
// the tool folder and a log file that receives the window changes, one a line. Exit code 3 means the offer
// ended without ending the process.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "cloud/cloud_state.h"
#include "cloud/connection_sequence.h"
#include "cloud/server_address.h"

namespace {

class YesWindow : public ConnectionWindow {
 public:
  explicit YesWindow(const std::wstring& log) : log_(log) {}
  void SetInstallEnabled(bool) override {}
  void SetInstallTip(const std::wstring& tip) override { Log(L"tip:" + tip); }
  void SetStatusText(const std::wstring& text) override { Log(L"status:" + text); }
  void ApplyStatusAttributes(const std::wstring&) override {}
  bool AskYesNo(const std::wstring& text, const std::wstring&) override {
    Log(L"ask:" + text);
    return true;
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
  std::wstring log_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  const char* base = std::getenv("VORLANE_TEST_SERVER");
  if (base == nullptr) return 2;
  SetServerBaseUrl(std::wstring(base, base + strlen(base)));
  TheCloudState.ToolFolder = argv[1];
  YesWindow window(argv[2]);
  RunUpdateOffer(window);
  return 3;
}
