// Value forms of the markup: colours, rectangles, sizes, image property lists, attribute lists, rich text.
#include <gtest/gtest.h>

#include "ui/ui_types.h"

using namespace DuiLib;

TEST(ValueForms, Colours) {
  struct Case {
    const wchar_t* text;
    bool ok;
    uint32_t argb;
  } cases[] = {
      {L"#FFFF00FF", true, 0xFFFF00FF}, {L"#80112233", true, 0x80112233}, {L"#00000000", true, 0},
      {L" #FF0A0b0C ", true, 0xFF0A0B0C}, {L"#112233", true, 0xFF112233}, {L"FF112233", false, 0},
      {L"#GG112233", false, 0}, {L"#FF11223", false, 0}, {L"", false, 0},
  };
  for (const Case& c : cases) {
    uint32_t v = 0xDEADBEEF;
    EXPECT_EQ(ParseColor(c.text, v), c.ok) << c.text;
    if (c.ok) EXPECT_EQ(v, c.argb) << c.text;
  }
}

TEST(ValueForms, RectanglesAndSizes) {
  UiRect rc;
  ASSERT_TRUE(ParseRect(L"1,2,3,4", rc));
  EXPECT_EQ(rc, UiRect(1, 2, 3, 4));
  ASSERT_TRUE(ParseRect(L" 10, -5 ,0,100", rc));
  EXPECT_EQ(rc, UiRect(10, -5, 0, 100));
  ASSERT_TRUE(ParseRect(L"7,8", rc));  // missing numbers read as 0
  EXPECT_EQ(rc, UiRect(7, 8, 0, 0));
  EXPECT_FALSE(ParseRect(L"abc", rc));
  UiSize sz;
  ASSERT_TRUE(ParseSize(L"800,580", sz));
  EXPECT_EQ(sz, UiSize(800, 580));
  EXPECT_FALSE(ParseSize(L"", sz));
  EXPECT_TRUE(ParseBool(L"true"));
  EXPECT_TRUE(ParseBool(L" TRUE "));
  EXPECT_FALSE(ParseBool(L"false"));
  EXPECT_FALSE(ParseBool(L"no"));
}

TEST(ValueForms, Integers) {
  EXPECT_EQ(ParseInt(L"3"), 3);
  EXPECT_EQ(ParseInt(L"  -12x"), -12);
  EXPECT_EQ(ParseInt(L"abc"), 0);
  EXPECT_EQ(ParseInt(L""), 0);
  EXPECT_EQ(ParseInt(L"99999999999"), 2147483647);
}

TEST(ImageProperties, BareNameAndPropertyLists) {
  ImageProps p;
  ASSERT_TRUE(ParseImageProps(L"pause.png", p));
  EXPECT_EQ(p.file, L"pause.png");
  EXPECT_FALSE(p.hasSource);
  EXPECT_FALSE(p.hasDest);

  ASSERT_TRUE(ParseImageProps(L"file='res\\Img_16.png' dest='2,2,23,20' source='0,0,21,18'", p));
  EXPECT_EQ(p.file, L"res/Img_16.png");
  EXPECT_TRUE(p.hasDest);
  EXPECT_EQ(p.dest, UiRect(2, 2, 23, 20));
  EXPECT_TRUE(p.hasSource);
  EXPECT_EQ(p.source, UiRect(0, 0, 21, 18));

  ASSERT_TRUE(ParseImageProps(L"file='scrollbar.bmp' source='0,32,16,80' corner='0,6,0,6' mask='#FFFF00FF'", p));
  EXPECT_EQ(p.corner, UiRect(0, 6, 0, 6));
  EXPECT_TRUE(p.hasMask);
  EXPECT_EQ(p.mask, 0xFFFF00FFu);

  ASSERT_TRUE(ParseImageProps(L".\\Img_53.png", p));
  EXPECT_EQ(p.file, L"Img_53.png");

  EXPECT_FALSE(ParseImageProps(L"", p));
  EXPECT_FALSE(ParseImageProps(L"source='0,0,1,1' dest='0,0,1,1'", p));  // no file
}

TEST(AttributeLists, QuotedValuesKeepInnerQuotes) {
  auto list = ParseAttributeList(L"bkimage=\"file='res\\Img_15.png' dest='2,2,23,20' source='0,0,21,18'\" text=\"a b\" width=30");
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].first, L"bkimage");
  EXPECT_EQ(list[0].second, L"file='res\\Img_15.png' dest='2,2,23,20' source='0,0,21,18'");
  EXPECT_EQ(list[1].second, L"a b");
  EXPECT_EQ(list[2].first, L"width");
  EXPECT_EQ(list[2].second, L"30");
}

TEST(RichText, FontAndUnderlineTagsAroundAPath) {
  auto runs = ParseRichText(L"<f 1><u>C:\\VRLN\\Download\\win7.GHO</u></f>");
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].text, L"C:\\VRLN\\Download\\win7.GHO");
  EXPECT_EQ(runs[0].font, 1);
  EXPECT_TRUE(runs[0].underline);
  EXPECT_EQ(StripRichText(L"<f 1><u>C:\\a</u></f>"), L"C:\\a");
}

TEST(RichText, NestedStylesEndWhereTheirTagsClose) {
  auto runs = ParseRichText(L"plain<f 2>big<u>under</u>big</f><b>bold</b><c #FFFF0000>red</c><n>next");
  ASSERT_EQ(runs.size(), 7u);
  EXPECT_EQ(runs[0].text, L"plain");
  EXPECT_EQ(runs[0].font, -1);
  EXPECT_FALSE(runs[0].underline);
  EXPECT_EQ(runs[1].font, 2);
  EXPECT_EQ(runs[2].text, L"under");
  EXPECT_TRUE(runs[2].underline);
  EXPECT_EQ(runs[2].font, 2);
  EXPECT_EQ(runs[3].text, L"big");
  EXPECT_FALSE(runs[3].underline);
  EXPECT_TRUE(runs[4].bold);
  EXPECT_EQ(runs[4].font, -1);
  EXPECT_TRUE(runs[5].hasColor);
  EXPECT_EQ(runs[5].color, 0xFFFF0000u);
  EXPECT_TRUE(runs[6].newline);
  EXPECT_EQ(runs[6].text, L"next");
  EXPECT_FALSE(runs[6].hasColor);
}

TEST(RichText, UnbalancedAndUnknownTagsDoNotLoseText) {
  EXPECT_EQ(StripRichText(L"</u>a<x>b</f>c"), L"abc");
  EXPECT_EQ(StripRichText(L"a < b"), L"a < b");
  EXPECT_EQ(StripRichText(L""), L"");
}
