// Catalogue text: records, fields, the picture table and the k-th-between routine.
#include <gtest/gtest.h>

#include "cloud/catalogue_text.h"
#include "cloud/delimited_text.h"

namespace {

TEST(TextBetween, FindsTheKthPiece) {
  struct Case {
    const wchar_t* text;
    int k;
    const wchar_t* expected;
  } cases[] = {
      {L"a|b|c|", 1, L"b"},
      {L"a|b|c|", 2, L"c"},
      {L"a|b|c|", 3, L""},      // no right delimiter after the third "|"
      {L"a|b|c|", 4, L""},      // fewer than four "|"
      {L"a||c|", 1, L""},       // right delimiter at once
      {L"a||c|", 2, L"c"},      // the empty field still counts as a match
      {L"x<line>r1</line><line>r2</line>", 2, L""},  // different delimiters: see below
      {L"", 1, L""},
      {L"a|b|", 0, L""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TextBetween(c.text, L"|", L"|", c.k), c.expected) << c.text << " k=" << c.k;
  }
  EXPECT_EQ(TextBetween(L"x<line>r1</line>\r\n<line>r2</line>", L"<line>", L"</line>", 2), L"r2");
  EXPECT_EQ(TextBetween(L"<line>r1", L"<line>", L"</line>", 1), L"");
}

TEST(ParseDecimal, ReadsLikeTheCatalogueSays) {
  struct Case {
    const wchar_t* text;
    int32_t expected;
  } cases[] = {
      {L"7", 7}, {L" 7abc", 7}, {L"\t+12", 12}, {L"-3x", -3}, {L"abc", 0}, {L"", 0}, {L" ", 0},
      {L"012", 12}, {L"99999999999", 2147483647}, {L"-99999999999", -2147483647 - 1},
      // The full-width space of code page 936 text is a blank like the ASCII ones.
      {L"\u30007", 7}, {L"\u3000 \u3000-5", -5}, {L" \u30001\u30002", 1}, {L"\u3000", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseDecimal(c.text), c.expected) << c.text;
}

TEST(ParseCatalogue, TwoRecordsInOrder) {
  auto entries = ParseCatalogueText(L"<line>A|1|u|f|d|s|</line>\r\n<line>B|2|u2|f2|d2|s2|</line>\r\n");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].rawText, L"A|1|u|f|d|s|");
  EXPECT_EQ(entries[0].name, L"A");
  EXPECT_EQ(entries[0].pictureNumber, 1);
  EXPECT_EQ(entries[0].imageUrl, L"u");
  EXPECT_EQ(entries[0].fileName, L"f");
  EXPECT_EQ(entries[0].description, L"d");
  EXPECT_EQ(entries[0].sizeText, L"s");
  EXPECT_EQ(entries[0].sha256, L"");
  EXPECT_EQ(entries[1].name, L"B");
  EXPECT_EQ(entries[1].pictureNumber, 2);
  EXPECT_EQ(entries[1].imageUrl, L"u2");
  EXPECT_EQ(entries[1].fileName, L"f2");
  EXPECT_EQ(entries[1].description, L"d2");
  EXPECT_EQ(entries[1].sizeText, L"s2");
}

TEST(ParseCatalogue, MissingLastMarkLeavesSizeEmpty) {
  auto entries = ParseCatalogueText(L"<line>A|1|u|f|d|s</line>");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, L"A");
  EXPECT_EQ(entries[0].pictureNumber, 1);
  EXPECT_EQ(entries[0].imageUrl, L"u");
  EXPECT_EQ(entries[0].fileName, L"f");
  EXPECT_EQ(entries[0].description, L"d");
  EXPECT_EQ(entries[0].sizeText, L"");
}

TEST(ParseCatalogue, StopsAtTheFirstEmptyOrUnclosedRecord) {
  EXPECT_TRUE(ParseCatalogueText(L"<line></line><line>A|1|u|f|d|s|</line>").empty());
  EXPECT_TRUE(ParseCatalogueText(L"just some text without tags").empty());
  EXPECT_TRUE(ParseCatalogueText(L"").empty());
  auto entries = ParseCatalogueText(L"<line>A|1|u|f|d|s|</line><line>B|2|u|f|d|s|");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, L"A");
  // Tags are case-sensitive; text between records is ignored.
  entries = ParseCatalogueText(L"<LINE>X|1|</LINE>junk<line>A|1|u|f|d|s|</line>\n# note\n<line>B|1|</line>");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, L"A");
  EXPECT_EQ(entries[1].name, L"B");
}

TEST(ParseCatalogue, MalformedRecordsLeaveMembersEmpty) {
  CatalogueEntry noMarks = ParseCatalogueRecord(L"only a name");
  EXPECT_EQ(noMarks.name, L"");
  EXPECT_EQ(noMarks.rawText, L"only a name");
  EXPECT_EQ(noMarks.pictureNumber, 0);
  CatalogueEntry picture = ParseCatalogueRecord(L"N| 7abc|u|f|d|s|");
  EXPECT_EQ(picture.pictureNumber, 7);
  EXPECT_EQ(CataloguePictureName(picture.pictureNumber), L"xt7.png");
  CatalogueEntry wide = ParseCatalogueRecord(L"N|\u300012|u|f|d|s|");
  EXPECT_EQ(CataloguePictureName(wide.pictureNumber), L"xt12.png");
  CatalogueEntry extra = ParseCatalogueRecord(L"N|1|u|f|d|s|tail text");
  EXPECT_EQ(extra.sizeText, L"s");
  EXPECT_EQ(extra.sha256, L"");
}

TEST(ParseCatalogue, SeventhFieldIsTheImageDigestWhenItIs64HexDigits) {
  const std::wstring digest = L"0123456789ABCDEFabcdef0123456789abcdef0123456789abcdef0123456789";
  ASSERT_EQ(digest.size(), 64u);
  CatalogueEntry e = ParseCatalogueRecord(L"N|1|u|f|d|s|" + digest + L"|");
  EXPECT_EQ(e.sha256, L"0123456789abcdefabcdef0123456789abcdef0123456789abcdef0123456789");
  EXPECT_EQ(e.sizeText, L"s");
  EXPECT_EQ(ParseCatalogueRecord(L"N|1|u|f|d|s|" + digest).sha256, L"");            // not closed
  EXPECT_EQ(ParseCatalogueRecord(L"N|1|u|f|d|s|" + digest + L"0|").sha256, L"");    // 65 digits
  EXPECT_EQ(ParseCatalogueRecord(L"N|1|u|f|d|s|" + digest.substr(1) + L"g|").sha256, L"");
}

TEST(CataloguePicture, TableOfTwelve) {
  EXPECT_EQ(CataloguePictureName(1), L"xt1.png");
  EXPECT_EQ(CataloguePictureName(12), L"xt12.png");
  EXPECT_EQ(CataloguePictureName(0), L"");
  EXPECT_EQ(CataloguePictureName(13), L"");
  EXPECT_EQ(CataloguePictureName(-1), L"");
}

}  // namespace
