// The catalogue list rows built from the skin's "item1.xml", and the connection sequence writing the real
// install button and status label from its own thread against the reference server.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "cloud/catalogue_list.h"
#include "cloud/catalogue_text.h"
#include "cloud/cloud_state.h"
#include "cloud/server_address.h"
#include "cloud/statistics_ping.h"
#include "test_server.h"
#include "test_signing.h"
#include "ui/controls.h"
#include "ui/dialog_builder.h"
#include "ui/layout.h"

namespace {

using DuiLib::CControlUI;

std::string RowMarkup() {
  // The source tree is reachable from Wine through drive Z:.
  std::wstring path = L"Z:" VORLANE_SKIN_DIR L"/item1.xml";
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return test_server::ReadFileBytes(path);
}

CControlUI* BuildRow() {
  static const std::string markup = RowMarkup();
  DuiLib::CDialogBuilder builder;
  return builder.CreateFromBytes(markup);
}

std::vector<CatalogueEntry> ThreeEntries() {
  return ParseCatalogueText(
      L"<line>Windows XP|1|u0|xp.gho|经典|600M|</line>"
      L"<line>Windows 7| 7abc|u1|w7.gho|稳定|3.2G|</line>"
      L"<line>Windows 8.1|12|u2|w81.gho|最新|4.0G|</line>");
}

std::wstring TextOf(CControlUI* row, const wchar_t* name) {
  CControlUI* c = row->FindSubControl(name);
  return c ? c->GetText() : L"(missing)";
}

TEST(CatalogueRows, OneFilledRowPerEntry) {
  ASSERT_FALSE(RowMarkup().empty());
  DuiLib::CListUI list;
  BuildCatalogueRows(&list, ThreeEntries(), BuildRow);
  ASSERT_EQ(list.GetCount(), 3);
  const wchar_t* names[] = {L"Windows XP", L"Windows 7", L"Windows 8.1"};
  const wchar_t* pictures[] = {L"xt1.png", L"xt7.png", L"xt12.png"};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    CControlUI* row = list.GetItemAt(i);
    EXPECT_EQ(row->GetFixedHeight(), 95);
    EXPECT_EQ(row->FindSubControl(L"btnselectthis")->GetUserData(), std::to_wstring(i));
    EXPECT_EQ(TextOf(row, L"labsystemname"), names[i]);
    EXPECT_EQ(TextOf(row, L"labpic"), L"");
    EXPECT_EQ(row->FindSubControl(L"labpic")->GetBkImage(), pictures[i]);
    EXPECT_EQ(row->FindSubControl(L"labhot")->GetBkImage(), L".\\Img_53.png");
  }
  CControlUI* third = list.GetItemAt(2);
  EXPECT_EQ(third->FindSubControl(L"btnselectthis")->GetUserData(), L"2");
  EXPECT_EQ(TextOf(third, L"labdes"), L"最新");
  EXPECT_EQ(TextOf(third, L"labsize"), L"4.0G");

  // Rebuilding replaces the rows; an empty catalogue leaves an empty list.
  BuildCatalogueRows(&list, ThreeEntries(), BuildRow);
  EXPECT_EQ(list.GetCount(), 3);
  BuildCatalogueRows(&list, {}, BuildRow);
  EXPECT_EQ(list.GetCount(), 0);
}

TEST(CatalogueRows, AFailedRowEndsTheBuildAtTheNextIndex) {
  DuiLib::CListUI list;
  int built = 0;
  BuildCatalogueRows(&list, ThreeEntries(), [&]() -> CControlUI* {
    ++built;
    return built == 2 ? nullptr : BuildRow();
  });
  // Row 0 is in; entry 1 has no row; entry 2 cannot go to position 2 of a one-row list.
  ASSERT_EQ(list.GetCount(), 1);
  EXPECT_EQ(list.GetItemAt(0)->FindSubControl(L"btnselectthis")->GetUserData(), L"0");
  EXPECT_EQ(built, 3);
}

class ConnectionThread : public ::testing::Test {
 protected:
  void SetUp() override {
    std::wstring base = test_server::BaseUrl();
    if (base.empty()) GTEST_SKIP() << "VORLANE_TEST_SERVER is not set";
    ASSERT_TRUE(test_server::Reset());
    SetServerBaseUrl(base);
    TheCloudState.VersionChecked = 0;
    TheCloudState.Catalogue.clear();
    CatalogueState = 0;
    install_.SetToolTip(L"");
    connect_.SetText(L"正在连接云引擎...");
  }
  // Runs CatalogueThread on its own thread to its end; answers the questions it asked.
  std::vector<std::wstring> RunThread() {
    std::vector<std::wstring>* asked = new std::vector<std::wstring>;
    auto* param = new CatalogueThreadParam;
    param->installButton = &install_;
    param->connectLabel = &connect_;
    param->ask = [asked](const std::wstring& text, const std::wstring&) {
      asked->push_back(text);
      return false;
    };
    HANDLE thread = CreateThread(nullptr, 0, CatalogueThread, param, 0, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 30000), WAIT_OBJECT_0);
    CloseHandle(thread);
    std::vector<std::wstring> result = *asked;
    delete asked;
    return result;
  }
  DuiLib::CButtonUI install_;
  DuiLib::CLabelUI connect_;
};

TEST_F(ConnectionThread, CloudModeEnablesTheInstallButton) {
  ASSERT_TRUE(test_server::PutFile(L"/banben.txt", "5.4\r\n"));
  ASSERT_TRUE(test_server::PutFile(L"/systeminfof.txt", "<line>A|1|u|f|d|s|</line><line>B|2|u|f|d|s|</line>"));
  install_.SetEnabled(true);
  EXPECT_TRUE(RunThread().empty());
  EXPECT_EQ(CatalogueState.load(), 1);
  EXPECT_EQ(TheCloudState.Catalogue.size(), 2u);
  EXPECT_TRUE(install_.IsEnabled());
  EXPECT_EQ(install_.GetToolTip(), L"点击一键重装系统");
  EXPECT_EQ(connect_.GetText(), L" 云引擎连接成功，云模式");
  EXPECT_NE(connect_.GetBkImage().find(L"res\\Img_15.png"), std::wstring::npos) << connect_.GetBkImage();
}

TEST_F(ConnectionThread, LocalModeWithTheUpdateQuestionDeclined) {
  ASSERT_TRUE(test_server::PutFile(L"/banben.txt", "5.10"));
  std::string manifest = test_signing::Manifest("5.10", "http://127.0.0.1:1/kxrupdate.exe", 10, std::string(64, 'a'));
  ASSERT_TRUE(test_server::PutFile(L"/update.txt", manifest));
  ASSERT_TRUE(test_server::PutFile(L"/update.txt.sig", test_signing::Sign(test_signing::DevelopmentSecret(), manifest)));
  ASSERT_TRUE(test_server::AddFault("path=/systeminfof.txt&status=503"));
  std::vector<std::wstring> asked = RunThread();
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0], L"Vorlane有新版本 V 5.10 立刻下载？");
  EXPECT_EQ(CatalogueState.load(), -1);
  EXPECT_TRUE(install_.IsEnabled());
  EXPECT_EQ(connect_.GetText(), L" 云引擎连接失败，本地模式");
  EXPECT_NE(connect_.GetBkImage().find(L"res\\Img_16.png"), std::wstring::npos) << connect_.GetBkImage();
}

}  // namespace

namespace {

int TongjiCount() {
  std::string stats = test_server::Stats();
  size_t at = stats.find("\"tongji\":");
  return at == std::string::npos ? -1 : std::atoi(stats.c_str() + at + 9);
}

TEST(StatisticsPing, LoadsTheStatisticsPageInTheBackground) {
  std::wstring base = test_server::BaseUrl();
  if (base.empty()) GTEST_SKIP() << "VORLANE_TEST_SERVER is not set";
  ASSERT_TRUE(test_server::Reset());
  SetServerBaseUrl(base);
  EXPECT_EQ(StatisticsUrl(), base + L"/tongji.php");
  ASSERT_EQ(TongjiCount(), 0);
  DuiLib::CWebBrowserUI browser;
  DWORD start = GetTickCount();
  PingStatistics(&browser);
  EXPECT_LT(GetTickCount() - start, 1000u);  // returns at once
  for (int i = 0; i < 100 && TongjiCount() < 1; ++i) Sleep(100);
  EXPECT_EQ(TongjiCount(), 1);
  // The server being away changes nothing for the caller.
  SetServerBaseUrl(L"http://127.0.0.1:1");
  PingStatistics(&browser);
  PingStatistics(nullptr);
}

}  // namespace
