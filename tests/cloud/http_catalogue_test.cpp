// FetchUrlText, the catalogue load, the version check and the installer download against the reference
// server (started around this executable by server/with_server.py).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cloud/cloud_state.h"
#include "cloud/connection_sequence.h"
#include "cloud/http_fetch.h"
#include "cloud/server_address.h"
#include "test_server.h"
#include "test_signing.h"

namespace {

using test_server::AddFault;
using test_server::PutFile;

// Records what the connection sequence does to the window; answers the update question as told.
class RecordingWindow : public ConnectionWindow {
 public:
  bool answerYes = false;
  std::vector<std::wstring> calls;
  std::vector<std::wstring> questions;
  int endCode = -1;

  void SetInstallEnabled(bool enabled) override { calls.push_back(enabled ? L"enable" : L"disable"); }
  void SetInstallTip(const std::wstring& tip) override { calls.push_back(L"tip:" + tip); }
  void SetStatusText(const std::wstring& text) override { calls.push_back(L"status:" + text); }
  void ApplyStatusAttributes(const std::wstring& list) override { calls.push_back(L"attr:" + list); }
  bool AskYesNo(const std::wstring& text, const std::wstring& caption) override {
    questions.push_back(caption + L"|" + text);
    return answerYes;
  }
  void EndProcess(UINT code) override { endCode = static_cast<int>(code); }
};

// Publishes a manifest signed with the development key.
void PublishManifest(const std::string& version, const std::string& url, size_t size, const std::string& sha256) {
  std::string manifest = test_signing::Manifest(version, url, size, sha256);
  ASSERT_TRUE(PutFile(L"/update.txt", manifest));
  ASSERT_TRUE(PutFile(L"/update.txt.sig", test_signing::Sign(test_signing::DevelopmentSecret(), manifest)));
}

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = test_server::BaseUrl();
    if (base_.empty()) GTEST_SKIP() << "VORLANE_TEST_SERVER is not set";
    ASSERT_TRUE(test_server::Reset());
    SetServerBaseUrl(base_);
    TheCloudState.VersionChecked = 0;
    TheCloudState.ServerVersion.clear();
    TheCloudState.InstallerUrl.clear();
    TheCloudState.Catalogue.clear();
    CatalogueState = 0;
  }
  std::wstring Url(const wchar_t* path) { return base_ + path; }
  std::wstring base_;
};

TEST_F(ServerTest, FetchUrlTextAnswersOnlyAWholeOkBody) {
  ASSERT_TRUE(PutFile(L"/hello.txt", "hello\r\nworld"));
  EXPECT_EQ(FetchUrlText(Url(L"/hello.txt")), L"hello\r\nworld");

  ASSERT_TRUE(PutFile(L"/empty.txt", ""));
  EXPECT_EQ(FetchUrlText(Url(L"/empty.txt")), L"");

  ASSERT_TRUE(AddFault("path=/hello.txt&status=404&body=not+here"));
  EXPECT_EQ(FetchUrlText(Url(L"/hello.txt")), L"");
  EXPECT_EQ(FetchUrlText(Url(L"/missing.txt")), L"");
  EXPECT_EQ(FetchUrlText(L"http://127.0.0.1:1/systeminfof.txt"), L"");
  EXPECT_EQ(FetchUrlText(L"not a url"), L"");

  // Text stops at the first NUL byte.
  ASSERT_TRUE(PutFile(L"/nul.txt", std::string("ab\0cd", 5)));
  EXPECT_EQ(FetchUrlText(Url(L"/nul.txt")), L"ab");
}

TEST_F(ServerTest, FetchUrlTextReadsBodiesLongerThanOnePiece) {
  std::string big;
  for (int i = 0; i < 5000; ++i) big += "<line>x|1|</line>";
  ASSERT_TRUE(PutFile(L"/big.txt", big));
  EXPECT_EQ(FetchUrlText(Url(L"/big.txt")), std::wstring(big.begin(), big.end()));
}

TEST_F(ServerTest, CatalogueOfTwoRecords) {
  ASSERT_TRUE(PutFile(L"/systeminfof.txt", "<line>A|1|u|f|d|s|</line>\r\n<line>B|2|u2|f2|d2|s2|</line>\r\n"));
  ASSERT_TRUE(LoadCatalogue());
  ASSERT_EQ(TheCloudState.Catalogue.size(), 2u);
  EXPECT_EQ(TheCloudState.Catalogue[0].name, L"A");
  EXPECT_EQ(TheCloudState.Catalogue[1].sizeText, L"s2");
  EXPECT_EQ(TheCloudState.Catalogue[1].description, L"d2");
}

TEST_F(ServerTest, CatalogueModes) {
  struct Case {
    const char* name;
    const char* body;    // nullptr: no file at all
    const char* fault;   // nullptr: none
    bool loaded;
    size_t entries;
  } cases[] = {
      {"empty body", "", nullptr, false, 0},
      {"404 with a page", "<line>A|1|u|f|d|s|</line>", "path=/systeminfof.txt&status=404&body=%3Cline%3EX|1|%3C/line%3E",
       false, 0},
      {"missing file", nullptr, nullptr, false, 0},
      {"text without records", "nothing to see here\r\n", nullptr, true, 0},
      {"empty first record", "<line></line><line>A|1|u|f|d|s|</line>", nullptr, true, 0},
      {"one record", "<line>A| 7abc|u|f|d|s|</line>", nullptr, true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(test_server::Reset());
    if (c.body != nullptr) {
      ASSERT_TRUE(PutFile(L"/systeminfof.txt", c.body));
    }
    if (c.fault != nullptr) {
      ASSERT_TRUE(AddFault(c.fault));
    }
    TheCloudState.Catalogue.assign(3, CatalogueEntry());  // a previous list never survives a load
    EXPECT_EQ(LoadCatalogue(), c.loaded);
    EXPECT_EQ(TheCloudState.Catalogue.size(), c.entries);
  }
  ASSERT_EQ(TheCloudState.Catalogue.size(), 1u);
  EXPECT_EQ(TheCloudState.Catalogue[0].pictureNumber, 7);
}

TEST_F(ServerTest, ChineseCatalogueInCodePage936) {
  ASSERT_EQ(GetACP(), 936u) << "the test runs with LANG=zh_CN.UTF-8";
  // "Windows 7 旗舰版" | 3 | url | file | "纯净安装" | "4.2G" in GBK bytes.
  const std::string record =
      "<line>Windows 7 \xC6\xEC\xBD\xA2\xB0\xE6|3|http://x/w7.gho|w7.gho|\xB4\xBF\xBE\xBB\xB0\xB2\xD7\xB0|4.2G|</line>";
  ASSERT_TRUE(PutFile(L"/systeminfof.txt", record));
  ASSERT_TRUE(LoadCatalogue());
  ASSERT_EQ(TheCloudState.Catalogue.size(), 1u);
  EXPECT_EQ(TheCloudState.Catalogue[0].name, L"Windows 7 旗舰版");
  EXPECT_EQ(TheCloudState.Catalogue[0].description, L"纯净安装");
  EXPECT_EQ(TheCloudState.Catalogue[0].pictureNumber, 3);
}

TEST_F(ServerTest, VersionCheckOffersOnlyASignedGreaterVersion) {
  struct Case {
    const char* published;   // "/banben.txt"; nullptr: missing
    const char* manifested;  // the signed manifest's version; nullptr: no manifest
    bool offer;
  } cases[] = {
      {"5.5\n", "5.5", true},   {"5.10", "5.10", true},   {"5.40", "5.40", true},  {"5.4\n", "5.5", false},
      {"5.3", "5.5", false},    {"5.4a", "5.5", false},   {"  \r\n  \n", "5.5", false},
      {"", "5.5", false},       {nullptr, "5.5", false},  {"123456789012345678901", "5.5", false},
      {"5.5", nullptr, false},  {"5.5", "5.4", false},    {"5.5", "5.3", false},   {"5.5", "5.4.0", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.published ? c.published : "(missing)") + " / " + (c.manifested ? c.manifested : "-"));
    ASSERT_TRUE(test_server::Reset());
    if (c.published != nullptr) {
      ASSERT_TRUE(PutFile(L"/banben.txt", c.published));
    }
    if (c.manifested != nullptr) {
      std::string manifest = test_signing::Manifest(c.manifested, "http://127.0.0.1:1/kxrupdate.exe", 10,
                                                    std::string(64, 'a'));
      ASSERT_TRUE(PutFile(L"/update.txt", manifest));
      ASSERT_TRUE(PutFile(L"/update.txt.sig", test_signing::Sign(test_signing::DevelopmentSecret(), manifest)));
    }
    TheCloudState.VersionChecked = 0;
    TheCloudState.InstallerUrl.clear();
    RecordingWindow window;
    RunUpdateOffer(window);
    EXPECT_EQ(TheCloudState.VersionChecked, 1);
    EXPECT_EQ(TheCloudState.CurrentVersion, L"5.4");
    if (!c.offer) {
      EXPECT_TRUE(window.questions.empty());
      EXPECT_EQ(TheCloudState.InstallerUrl, L"");
      continue;
    }
    std::wstring shown(c.manifested, c.manifested + strlen(c.manifested));
    ASSERT_EQ(window.questions.size(), 1u);
    EXPECT_EQ(window.questions[0], L"Vorlane有新版本|Vorlane有新版本 V " + shown + L" 立刻下载？");
    EXPECT_EQ(TheCloudState.ServerVersion, shown);
    EXPECT_EQ(TheCloudState.InstallerUrl, L"http://127.0.0.1:1/kxrupdate.exe");
    EXPECT_TRUE(window.calls.empty());  // declined: nothing changes on the window
  }
}

TEST_F(ServerTest, ConnectionSequenceInCloudModeAfterADeclinedOffer) {
  ASSERT_TRUE(PutFile(L"/banben.txt", "5.5"));
  PublishManifest("5.5", "http://127.0.0.1:1/kxrupdate.exe", 10, std::string(64, 'a'));
  ASSERT_TRUE(PutFile(L"/systeminfof.txt", "<line>A|1|u|f|d|s|</line><line>B|2|u2|f2|d2|s2|</line>"));
  RecordingWindow window;
  RunConnectionSequence(window);
  EXPECT_EQ(window.questions.size(), 1u);
  EXPECT_EQ(CatalogueState.load(), 1);
  EXPECT_EQ(TheCloudState.Catalogue.size(), 2u);
  EXPECT_EQ(window.calls, (std::vector<std::wstring>{
                              L"disable",
                              L"tip:正在检测新版本中，请稍候...",
                              L"tip: 正在连接云引擎中，请稍候...",
                              L"attr:bkimage=\"file='res\\Img_15.png' dest='2,2,23,20' source='0,0,21,18'\"",
                              L"status: 云引擎连接成功，云模式",
                              L"enable",
                              L"tip:点击一键重装系统",
                          }));
  // The offer comes once per process.
  RecordingWindow again;
  RunUpdateOffer(again);
  EXPECT_TRUE(again.questions.empty());
}

TEST_F(ServerTest, ConnectionSequenceInLocalModeWhenTheCatalogueIsMissing) {
  ASSERT_TRUE(PutFile(L"/banben.txt", "5.4"));
  ASSERT_TRUE(AddFault("path=/systeminfof.txt&status=404"));
  RecordingWindow window;
  RunConnectionSequence(window);
  EXPECT_TRUE(window.questions.empty());
  EXPECT_EQ(CatalogueState.load(), -1);
  EXPECT_TRUE(TheCloudState.Catalogue.empty());
  ASSERT_EQ(window.calls.size(), 7u);
  EXPECT_EQ(window.calls[3], L"attr:bkimage=\"file='res\\Img_16.png' dest='2,2,23,20' source='0,0,21,18'\"");
  EXPECT_EQ(window.calls[4], L"status: 云引擎连接失败，本地模式");
  EXPECT_EQ(window.calls[5], L"enable");
}

TEST_F(ServerTest, AcceptedOfferWithAFailingInstallerEndsSilently) {
  ASSERT_TRUE(PutFile(L"/banben.txt", "5.5"));
  std::wstring folder = test_server::MakeTempFolder(L"vl-tool-");
  SetUpdateFolderParent(folder);
  std::string url(base_.begin(), base_.end());
  PublishManifest("5.5", url + "/kxrupdate.exe", 19, test_signing::Sha256Hex("MZ not an installer"));
  ASSERT_TRUE(AddFault("path=/kxrupdate.exe&status=404&body=MZ+not+an+installer"));
  RecordingWindow window;
  window.answerYes = true;
  RunUpdateOffer(window);
  EXPECT_EQ(window.endCode, -1);
  EXPECT_TRUE(RemoveDirectoryW(folder.c_str()));  // empty: the private folder is gone again
  EXPECT_EQ(window.calls, (std::vector<std::wstring>{L"tip:正在下载新版本中，请稍候...", L"status:正在下载安装包..."}));
  SetUpdateFolderParent(L"");
}

// A signed catalogue vouches for its images by their SHA-256: entries without one are refused; a signature
// that fails gives local mode with the reason on the status label; without a signature all is as before.
TEST_F(ServerTest, SignedCatalogue) {
  const std::string hash(64, 'b');
  const std::string catalogue = "<line>A|1|u|f|d|s|" + hash + "|</line>\r\n<line>B|2|u2|f2|d2|s2|</line>\r\n"
                                "<line>C|3|u3|f3|d3|s3|" + hash + "|</line>\r\n";
  const std::string dev = test_signing::DevelopmentSecret();
  struct Case {
    const char* what;
    std::string signature;  // empty: none published
    std::string served;     // what the catalogue request answers
    const wchar_t* status;
    size_t entries;
  } cases[] = {
      {"valid signature", test_signing::Sign(dev, catalogue), catalogue, L"status: 云引擎连接成功，云模式", 2},
      {"no signature", "", catalogue, L"status: 云引擎连接成功，云模式", 3},
      {"a tampered line", test_signing::Sign(dev, catalogue),
       "<line>A|1|http://evil/a.gho|f|d|s|" + hash + "|</line>" + catalogue.substr(catalogue.find("\r\n")),
       L"status: 云引擎目录签名无效，本地模式", 0},
      {"another key", test_signing::Sign(test_signing::OtherSecret(), catalogue), catalogue,
       L"status: 云引擎目录签名无效，本地模式", 0},
      {"a signature that is no signature", "not a signature", catalogue, L"status: 云引擎目录签名无效，本地模式", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(test_server::Reset());
    ASSERT_TRUE(PutFile(L"/systeminfof.txt", c.served));
    if (!c.signature.empty()) {
      ASSERT_TRUE(PutFile(L"/systeminfof.txt.sig", c.signature));
    }
    TheCloudState.VersionChecked = 1;
    RecordingWindow window;
    RunConnectionSequence(window);
    ASSERT_EQ(window.calls.size(), 7u);
    EXPECT_EQ(window.calls[4], c.status);
    EXPECT_EQ(window.calls[5], L"enable");
    EXPECT_EQ(CatalogueState.load(), c.entries > 0 ? 1 : -1);
    ASSERT_EQ(TheCloudState.Catalogue.size(), c.entries);
    if (c.entries == 2) {
      EXPECT_EQ(TheCloudState.Catalogue[0].name, L"A");
      EXPECT_EQ(TheCloudState.Catalogue[1].name, L"C");
    }
  }
}

// 300 MB answers to the version, manifest and catalogue requests: each is a failed fetch, quickly, and
// the program goes on (no update offer; local mode for the catalogue).
TEST_F(ServerTest, HugeRepliesAreFailedFetches) {
  const char* paths[] = {"/banben.txt", "/update.txt", "/update.txt.sig", "/systeminfof.txt"};
  for (const char* huge : paths) {
    SCOPED_TRACE(huge);
    ASSERT_TRUE(test_server::Reset());
    ASSERT_TRUE(PutFile(L"/banben.txt", "5.5"));
    PublishManifest("5.5", "http://127.0.0.1:1/kxrupdate.exe", 10, std::string(64, 'a'));
    ASSERT_TRUE(PutFile(L"/systeminfof.txt", "<line>A|1|u|f|d|s|</line>"));
    ASSERT_NE(test_server::Get("/_control/file?path=" + std::string(huge) + "&delete=1"), "\x01");
    ASSERT_NE(test_server::Get(std::string("/_control/virtual?path=") + huge + "&size=300000000"), "\x01");
    TheCloudState.VersionChecked = 0;
    RecordingWindow window;
    RunConnectionSequence(window);
    bool offer = std::string(huge) != "/banben.txt" && std::string(huge) != "/update.txt" &&
                 std::string(huge) != "/update.txt.sig";
    EXPECT_EQ(window.questions.size(), offer ? 1u : 0u);
    bool cloud = std::string(huge) != "/systeminfof.txt";
    EXPECT_EQ(CatalogueState.load(), cloud ? 1 : -1);
  }
  // The cap itself: one byte more than allowed fails, exactly the cap is read.
  ASSERT_TRUE(test_server::Reset());
  std::string body;
  std::string big(kVersionTextLimit + 1, '5');
  ASSERT_TRUE(PutFile(L"/big.txt", big));
  EXPECT_EQ(FetchUrlBytes(Url(L"/big.txt"), kVersionTextLimit, body), kFetchTooLong);
  EXPECT_EQ(FetchUrlBytes(Url(L"/big.txt"), kVersionTextLimit + 1, body), kFetchOk);
  EXPECT_EQ(body, big);
  // Without a length announced the body itself is cut at the cap: a 300 MB catalogue sent that way.
  ASSERT_NE(test_server::Get("/_control/virtual?path=/endless.txt&size=300000000"), "\x01");
  ASSERT_TRUE(AddFault("path=/endless.txt&no_length=1"));
  EXPECT_EQ(FetchUrlBytes(Url(L"/endless.txt"), kCatalogueLimit, body), kFetchTooLong);
  EXPECT_TRUE(body.empty());
  ASSERT_TRUE(AddFault("path=/big.txt&no_length=1"));
  EXPECT_EQ(FetchUrlBytes(Url(L"/big.txt"), kVersionTextLimit, body), kFetchTooLong);
  EXPECT_EQ(FetchUrlBytes(Url(L"/big.txt"), kVersionTextLimit + 1, body), kFetchOk);
  EXPECT_EQ(body, big);
}

TEST_F(ServerTest, DownloadUrlToFileKeepsOnlyACompleteOkBody) {
  std::wstring folder = test_server::MakeTempFolder(L"vl-dl-");
  std::wstring path = folder + L"\\kxrupdate.exe";
  std::string payload;
  for (int i = 0; i < 300000; ++i) payload.push_back(static_cast<char>(i * 7));
  ASSERT_TRUE(PutFile(L"/setup.bin", payload));

  ASSERT_TRUE(test_server::WriteFileBytes(path, "older installer"));
  EXPECT_EQ(DownloadUrlToFile(Url(L"/setup.bin"), path), kDownloadOk);
  EXPECT_EQ(test_server::ReadFileBytes(path), payload);

  // Error page: nothing is written, and an existing file is not touched.
  ASSERT_TRUE(AddFault("path=/setup.bin&status=404&body=error+page&count=1"));
  EXPECT_EQ(DownloadUrlToFile(Url(L"/setup.bin"), path), kDownloadBadStatus);
  EXPECT_EQ(test_server::ReadFileBytes(path), payload);
  DeleteFileW(path.c_str());
  ASSERT_TRUE(AddFault("path=/setup.bin&status=500&count=1"));
  EXPECT_EQ(DownloadUrlToFile(Url(L"/setup.bin"), path), kDownloadBadStatus);
  EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);

  // A body cut short is removed.
  ASSERT_TRUE(AddFault("path=/setup.bin&drop_after=100000&count=1"));
  int cut = DownloadUrlToFile(Url(L"/setup.bin"), path);
  EXPECT_LT(cut, 0);
  EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);

  EXPECT_EQ(DownloadUrlToFile(L"http://127.0.0.1:1/setup.bin", path), kDownloadNoUrl);
  EXPECT_EQ(DownloadUrlToFile(L"", path), kDownloadNoUrl);
  EXPECT_EQ(DownloadUrlToFile(Url(L"/setup.bin"), folder + L"\\no\\such\\folder\\x.exe"), kDownloadNoFile);
  EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
  RemoveDirectoryW(folder.c_str());
}

}  // namespace
