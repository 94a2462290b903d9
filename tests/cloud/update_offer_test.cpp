// Accepting the update offer for real: the installer replaces an older kxrupdate.exe in the tool folder, is
// started there, and the program ends with exit code 0. A failing installer address leaves no file and the
// program running.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "test_server.h"

namespace {

std::wstring ExeFolder() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p(path);
  return p.substr(0, p.find_last_of(L'\\'));
}

// Runs the probe; answers its exit code, or -1 when it could not run or did not end.
int RunProbe(const std::wstring& toolFolder, const std::wstring& log) {
  std::wstring command = L"\"" + ExeFolder() + L"\\cloud_update_probe.exe\" \"" + toolFolder + L"\" \"" + log + L"\"";
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return static_cast<int>(code);
}

std::wstring ReadWide(const std::wstring& path) {
  std::string bytes = test_server::ReadFileBytes(path);
  return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

class UpdateOffer : public ::testing::Test {
 protected:
  void SetUp() override {
    std::wstring base = test_server::BaseUrl();
    if (base.empty()) GTEST_SKIP() << "VORLANE_TEST_SERVER is not set";
    ASSERT_TRUE(test_server::Reset());
    baseUrl_.assign(base.begin(), base.end());
    folder_ = test_server::MakeTempFolder(L"vl-update-");
    ASSERT_FALSE(folder_.empty());
    ASSERT_TRUE(test_server::PutFile(L"/banben.txt", "5.5\r\n"));
    ASSERT_TRUE(test_server::PutFile(L"/anzhuangbao.txt", baseUrl_ + "/kxrupdate.exe"));
  }
  std::string baseUrl_;
  std::wstring folder_;
};

TEST_F(UpdateOffer, AcceptedUpdateReplacesStartsAndExits) {
  std::string installer = test_server::ReadFileBytes(ExeFolder() + L"\\cloud_fake_installer.exe");
  ASSERT_GT(installer.size(), 1000u);
  ASSERT_TRUE(test_server::PutFile(L"/kxrupdate.exe", installer));
  ASSERT_TRUE(test_server::WriteFileBytes(folder_ + L"\\kxrupdate.exe", "an older installer"));

  EXPECT_EQ(RunProbe(folder_, folder_ + L"\\log.txt"), 0);
  EXPECT_EQ(test_server::ReadFileBytes(folder_ + L"\\kxrupdate.exe"), installer);
  std::wstring ranIn;
  for (int i = 0; i < 100 && ranIn.empty(); ++i) {
    Sleep(100);
    ranIn = ReadWide(folder_ + L"\\ran.txt");
  }
  // The installer ran with the tool folder as its working folder (compared without regard to case).
  std::wstring expected = folder_;
  CharLowerBuffW(&expected[0], static_cast<DWORD>(expected.size()));
  CharLowerBuffW(&ranIn[0], static_cast<DWORD>(ranIn.size()));
  EXPECT_EQ(ranIn, expected);
  EXPECT_EQ(ReadWide(folder_ + L"\\log.txt"),
            L"ask:Vorlane有新版本 V 5.5 立刻下载？\n"
            L"tip:正在下载新版本中，请稍候...\n"
            L"status:正在下载安装包...\n"
            L"tip:正在安装新版本中，请稍候...\n"
            L"status:正在打开安装包...\n");
}

TEST_F(UpdateOffer, InstallerAddressAnswering404LeavesNoFileAndNoExit) {
  ASSERT_TRUE(test_server::AddFault("path=/kxrupdate.exe&status=404&body=MZ+error+page"));
  EXPECT_EQ(RunProbe(folder_, folder_ + L"\\log.txt"), 3);
  EXPECT_EQ(GetFileAttributesW((folder_ + L"\\kxrupdate.exe").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesW((folder_ + L"\\ran.txt").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
