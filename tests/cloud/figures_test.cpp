// The download page's figures and the version rules, at their boundaries.
#include <gtest/gtest.h>

#include "cloud/download_figures.h"
#include "cloud/version_rules.h"

namespace {

std::wstring Speed(int32_t s) {
  wchar_t buf[kMonitorTextCapacity];
  EXPECT_TRUE(FormatSpeed(buf, kMonitorTextCapacity, s));
  return buf;
}

TEST(DownloadFigures, SpeedThresholds) {
  struct Case {
    int32_t speed;
    const wchar_t* text;
  } cases[] = {
      {0, L"0B/s"},           {512, L"512B/s"},          {1023, L"1023B/s"},      {1024, L"1.00KB/s"},
      {1536, L"1.50KB/s"},    {1048575, L"1024.00KB/s"}, {1048576, L"1.00MB/s"},  {3145728, L"3.00MB/s"},
      {-5, L"-5B/s"},         {2147483647, L"2048.00MB/s"},
  };
  for (const Case& c : cases) EXPECT_EQ(Speed(c.speed), c.text) << c.speed;
}

TEST(DownloadFigures, SizesProgressAndAmount) {
  wchar_t buf[kMonitorTextCapacity];
  struct SizeCase {
    int64_t bytes;
    const wchar_t* total;
    const wchar_t* downloaded;
  } sizes[] = {
      {0, L"0.00MB", L"0MB"},
      {1048575, L"1.00MB", L"0MB"},
      {1048576, L"1.00MB", L"1MB"},
      {1572864, L"1.50MB", L"1MB"},
      {3000000000LL, L"2861.02MB", L"2861MB"},
      {(1LL << 52) + 5 * 1048576LL, L"4294967301.00MB", L"5MB"},  // only the low 32 bits of the MB count
  };
  for (const SizeCase& c : sizes) {
    EXPECT_TRUE(FormatTotalSize(buf, kMonitorTextCapacity, c.bytes));
    EXPECT_STREQ(buf, c.total) << c.bytes;
    EXPECT_TRUE(FormatDownloaded(buf, kMonitorTextCapacity, c.bytes));
    EXPECT_STREQ(buf, c.downloaded) << c.bytes;
  }
  struct ProgressCase {
    float fraction;
    const wchar_t* text;
  } progress[] = {{0.0f, L"0.00%"}, {0.5f, L"50.00%"}, {1.0f, L"100.00%"}, {0.12345f, L"12.35%"}};
  for (const ProgressCase& c : progress) {
    EXPECT_TRUE(FormatProgress(buf, kMonitorTextCapacity, c.fraction));
    EXPECT_STREQ(buf, c.text);
  }
}

TEST(DownloadFigures, FileNameButtonStaysWithinTheBuffer) {
  wchar_t buf[kMonitorTextCapacity];
  EXPECT_TRUE(FormatImagePath(buf, kMonitorTextCapacity, L"D:\\VRLN\\Download", L"win7.gho"));
  EXPECT_STREQ(buf, L"D:\\VRLN\\Download\\win7.gho");
  EXPECT_TRUE(FormatImagePathLink(buf, kMonitorTextCapacity, L"D:\\VRLN\\Download", L"win7.gho"));
  EXPECT_STREQ(buf, L"<f 1><u>D:\\VRLN\\Download\\win7.gho</u></f>");

  // 399 units fit exactly; one more does not, and then the file name alone is shown in the tags.
  const std::wstring tags = L"<f 1><u>\\</u></f>";
  std::wstring folder(399 - tags.size() - 4, L'F');
  EXPECT_TRUE(FormatImagePathLink(buf, kMonitorTextCapacity, folder, L"a.gh"));
  EXPECT_EQ(std::wstring(buf).size(), 399u);
  EXPECT_FALSE(FormatImagePathLink(buf, kMonitorTextCapacity, folder, L"a.gho"));
  EXPECT_STREQ(buf, L"<f 1><u>a.gho</u></f>");
  EXPECT_FALSE(FormatImagePathLink(buf, kMonitorTextCapacity, L"D:", std::wstring(500, L'n')));
  EXPECT_STREQ(buf, L"");
  EXPECT_FALSE(FormatImagePath(buf, kMonitorTextCapacity, std::wstring(300, L'F'), std::wstring(100, L'n')));
  EXPECT_STREQ(buf, L"");
}

TEST(VersionRules, TrimsEveryKindOfSpace) {
  EXPECT_EQ(TrimWideSpace(L" \t\r\n\v\f5.4\r\n"), L"5.4");
  EXPECT_EQ(TrimWideSpace(L"\u30005.4\u00a0\u2003"), L"5.4");
  EXPECT_EQ(TrimWideSpace(L"5 .4"), L"5 .4");
  EXPECT_EQ(TrimWideSpace(L" \r\n "), L"");
  EXPECT_FALSE(IsWideSpace(L'x'));
  EXPECT_FALSE(IsWideSpace(L'\u200b'));  // zero width space is not a space
}

TEST(VersionRules, OfferOnlyForAGreaterShortVersion) {
  struct Case {
    const wchar_t* fetched;
    bool offer;
    const wchar_t* version;
  } cases[] = {
      {L"", false, L""},
      {L"5.4", false, L"5.4"},
      {L"5.4\n", false, L"5.4"},
      {L"  5.4\r\n", false, L"5.4"},
      {L"5.3", false, L"5.3"},
      {L"5.10", true, L"5.10"},
      {L"5.40", true, L"5.40"},
      {L"5.4a", false, L"5.4a"},
      {L"5.4 ", false, L"5.4"},
      {L"  \r\n ", false, L""},
      {L"12345678901234567890", false, L"12345678901234567890"},
      {L"12345678.12345678.1", true, L"12345678.12345678.1"},
      {L"123456789012345678901", false, L"123456789012345678901"},
      {L" 123456789012345678901 \n", false, L"123456789012345678901"},
  };
  for (const Case& c : cases) {
    VersionVerdict v = JudgeServerVersion(c.fetched);
    EXPECT_EQ(v.offer, c.offer) << c.fetched;
    EXPECT_EQ(v.version, c.version) << c.fetched;
  }
}

}  // namespace
