// Bounded formatting: results that do not fit are reported, never silently cut.
#include <gtest/gtest.h>

#include "base/text_format.h"

namespace {

TEST(TextFormat, FormatsWideStringsAndCharacters) {
  wchar_t buf[260];
  ASSERT_TRUE(FormatInto(buf, L"%c:\\%s", L'D', L"VRLN"));
  EXPECT_STREQ(L"D:\\VRLN", buf);
  EXPECT_EQ(L"1:2", Format(L"%d:%d", 1, 2));
  EXPECT_EQ(L"2861.02MB", Format(L"%.2lfMB", 3000000000.0 / 1048576.0));
}

TEST(TextFormat, TruncationIsReported) {
  wchar_t small[5];
  EXPECT_FALSE(FormatInto(small, L"%s", L"abcdef"));
  EXPECT_STREQ(L"abcd", small);
  EXPECT_TRUE(FormatInto(small, L"%s", L"abcd"));
  wchar_t buf[4];
  EXPECT_FALSE(CopyInto(buf, 4, L"abcd"));
  EXPECT_STREQ(L"abc", buf);
  EXPECT_TRUE(CopyInto(buf, 4, L"abc"));
}

TEST(TextFormat, LongResultsGrow) {
  std::wstring big(5000, L'x');
  EXPECT_EQ(big + L"!", Format(L"%s!", big.c_str()));
}

TEST(TextFormat, JoinPathRespectsTheCapacity) {
  std::wstring out = L"unchanged";
  EXPECT_TRUE(JoinPath(out, L"C:\\VRLN", L"Download"));
  EXPECT_EQ(L"C:\\VRLN\\Download", out);
  std::wstring folder(250, L'a');
  EXPECT_TRUE(JoinPath(out, folder, L"12345678"));      // 259 units
  EXPECT_FALSE(JoinPath(out, folder, L"123456789"));    // 260 units do not fit
  EXPECT_EQ(folder + L"\\12345678", out);
}

TEST(TextFormat, TrimAndLower) {
  struct Case { const wchar_t* text; const wchar_t* trimmed; const wchar_t* lowered; } cases[] = {
      {L"", L"", L""},
      {L"  \t", L"", L"  \t"},
      {L" Key = Value\r\n", L"Key = Value", L" key = value\r\n"},
      {L"\t路径 ", L"路径", L"\t路径 "},
      {L"MIXED Case", L"MIXED Case", L"mixed case"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Trim(c.text), c.trimmed) << static_cast<const void*>(c.text);
    EXPECT_EQ(Lower(c.text), c.lowered);
  }
}

}  // namespace
