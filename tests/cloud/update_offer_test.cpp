// Accepting the update offer for real, in a separate process (cloud_update_probe): a signed manifest with a
// greater version is offered, its installer downloaded into a private folder, checked against the
// manifest's size and SHA-256, held against changes and started there; the probe then ends with exit code
// 0. Every other case is refused with nothing started and nothing left behind.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_server.h"
#include "test_signing.h"

namespace {

std::wstring ExeFolder() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p(path);
  return p.substr(0, p.find_last_of(L'\\'));
}

// Runs the probe; answers its exit code, or -1 when it could not run or did not end.
int RunProbe(const std::wstring& parent, const std::wstring& log, bool tamper = false) {
  std::wstring command = L"\"" + ExeFolder() + L"\\cloud_update_probe.exe\" \"" + parent + L"\" \"" + log + L"\"";
  if (tamper) command += L" tamper";
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(pi.hProcess, 120000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return static_cast<int>(code);
}

std::wstring ReadWide(const std::wstring& path) {
  std::string bytes = test_server::ReadFileBytes(path);
  return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

std::wstring Lower(std::wstring s) {
  if (!s.empty()) CharLowerBuffW(&s[0], static_cast<DWORD>(s.size()));
  return s;
}

// The sub-folders of folder.
std::vector<std::wstring> SubFolders(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    std::wstring name = data.cFileName;
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return names;
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
    ranFile_ = folder_ + L"\\ran.txt";
    log_ = folder_ + L"\\log.txt";
    SetEnvironmentVariableW(L"VORLANE_TEST_RAN_FILE", ranFile_.c_str());
    installer_ = test_server::ReadFileBytes(ExeFolder() + L"\\cloud_fake_installer.exe");
    ASSERT_GT(installer_.size(), 1000u);
    ASSERT_TRUE(test_server::PutFile(L"/banben.txt", "5.5\r\n"));
    ASSERT_TRUE(test_server::PutFile(L"/anzhuangbao.txt", baseUrl_ + "/kxrupdate.exe"));
    ASSERT_TRUE(test_server::PutFile(L"/kxrupdate.exe", installer_));
  }
  void TearDown() override { SetEnvironmentVariableW(L"VORLANE_TEST_RAN_FILE", nullptr); }

  // Publishes a manifest for the installer, signed by secret (unsigned when empty).
  void Publish(const std::string& version, const std::string& secret, size_t size, const std::string& sha256,
               const std::string& alterAfterSigning = "") {
    std::string manifest = test_signing::Manifest(version, baseUrl_ + "/kxrupdate.exe", size, sha256);
    if (!secret.empty()) {
      ASSERT_TRUE(test_server::PutFile(L"/update.txt.sig", test_signing::Sign(secret, manifest)));
    }
    ASSERT_TRUE(test_server::PutFile(L"/update.txt", manifest + alterAfterSigning));
  }
  void PublishGood(const std::string& version = "5.5") {
    Publish(version, test_signing::DevelopmentSecret(), installer_.size(), test_signing::Sha256Hex(installer_));
  }
  bool Ran() {
    for (int i = 0; i < 100; ++i) {
      if (GetFileAttributesW(ranFile_.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
      Sleep(100);
    }
    return false;
  }

  std::string baseUrl_;
  std::wstring folder_, ranFile_, log_;
  std::string installer_;
};

TEST_F(UpdateOffer, ValidSignedUpdateIsCheckedAndStartedInAPrivateFolder) {
  PublishGood("5.10");
  EXPECT_EQ(RunProbe(folder_, log_), 0);
  ASSERT_TRUE(Ran());
  std::vector<std::wstring> made = SubFolders(folder_);
  ASSERT_EQ(made.size(), 1u);
  EXPECT_EQ(made[0].rfind(L"VorlaneUpdate.", 0), 0u) << made[0];
  std::wstring privateFolder = folder_ + L"\\" + made[0];
  // The installer ran in its private folder, which holds exactly the checked bytes.
  EXPECT_EQ(Lower(ReadWide(ranFile_)), Lower(privateFolder));
  EXPECT_EQ(test_server::ReadFileBytes(privateFolder + L"\\kxrupdate.exe"), installer_);
  EXPECT_EQ(ReadWide(log_),
            L"ask:Vorlane有新版本 V 5.10 立刻下载？\n"
            L"tip:正在下载新版本中，请稍候...\n"
            L"status:正在下载安装包...\n"
            L"checked\n"
            L"tip:正在安装新版本中，请稍候...\n"
            L"status:正在打开安装包...\n");
}

TEST_F(UpdateOffer, RefusedBeforeTheQuestion) {
  const std::string dev = test_signing::DevelopmentSecret();
  const std::string hash = test_signing::Sha256Hex(installer_);
  struct Case {
    const char* what;
    std::string version, secret, alter;
    bool publish;
  } cases[] = {
      {"no manifest", "5.5", dev, "", false},
      {"unsigned manifest", "5.5", "", "", true},
      {"bad signature", "5.5", dev, "\r\n", true},
      {"another key's signature", "5.5", test_signing::OtherSecret(), "", true},
      {"equal version", "5.4", dev, "", true},
      {"lower version", "5.3", dev, "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(test_server::Get("/_control/file?path=/update.txt&delete=1") != "\x01");
    ASSERT_TRUE(test_server::Get("/_control/file?path=/update.txt.sig&delete=1") != "\x01");
    if (c.publish) Publish(c.version, c.secret, installer_.size(), hash, c.alter);
    DeleteFileW(log_.c_str());
    EXPECT_EQ(RunProbe(folder_, log_), 3);
    EXPECT_EQ(ReadWide(log_), L"");  // no question, nothing downloaded
    EXPECT_FALSE(Ran());
    EXPECT_TRUE(SubFolders(folder_).empty());
  }
}

TEST_F(UpdateOffer, InstallerThatDiffersFromTheManifestIsNotStarted) {
  const std::string dev = test_signing::DevelopmentSecret();
  std::string changed = installer_;
  changed[changed.size() / 2] ^= 0x55;
  struct Case {
    const char* what;
    size_t size;
    std::string sha256;
  } cases[] = {
      {"other bytes of the same size", installer_.size(), test_signing::Sha256Hex(changed)},
      {"longer than announced", installer_.size() - 1, test_signing::Sha256Hex(installer_)},
      {"shorter than announced", installer_.size() + 1, test_signing::Sha256Hex(installer_)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Publish("5.5", dev, c.size, c.sha256);
    DeleteFileW(log_.c_str());
    EXPECT_EQ(RunProbe(folder_, log_), 3);
    EXPECT_EQ(ReadWide(log_),
              L"ask:Vorlane有新版本 V 5.5 立刻下载？\n"
              L"tip:正在下载新版本中，请稍候...\n"
              L"status:正在下载安装包...\n");
    EXPECT_FALSE(Ran());
    EXPECT_TRUE(SubFolders(folder_).empty());  // the download and its folder are gone
  }
}

TEST_F(UpdateOffer, AnotherProcessCannotChangeTheCheckedInstaller) {
  PublishGood();
  EXPECT_EQ(RunProbe(folder_, log_, true), 0);
  EXPECT_EQ(test_server::ReadFileBytes(folder_ + L"\\tamper.txt"), "write:denied\ndelete:denied\nmove:denied\n");
  ASSERT_TRUE(Ran());
  std::vector<std::wstring> made = SubFolders(folder_);
  ASSERT_EQ(made.size(), 1u);
  EXPECT_EQ(test_server::ReadFileBytes(folder_ + L"\\" + made[0] + L"\\kxrupdate.exe"), installer_);
}

}  // namespace
