// The update manifest's rules, version numbers compared as numbers, and the signature check with the
// development key, another key and altered bytes.
#include <gtest/gtest.h>

#include <string>

#include "cloud/signature.h"
#include "cloud/update_manifest.h"
#include "cloud/version_rules.h"
#include "test_signing.h"

namespace {

const std::string kHash(64, 'a');

TEST(VersionNumbers, ComparedAsNumbersPartByPart) {
  struct Case {
    const wchar_t* a;
    const wchar_t* b;
    int sign;
  } cases[] = {
      {L"5.10", L"5.9", 1}, {L"5.4", L"5.4", 0},  {L"5.4.0", L"5.4", 0}, {L"5.4.1", L"5.4", 1},
      {L"5.3", L"5.4", -1}, {L"6", L"5.99", 1},   {L"5.40", L"5.4", 1},  {L"05.4", L"5.4", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::wstring(c.a) + L" vs " + c.b);
    int r = CompareVersions(c.a, c.b);
    EXPECT_EQ((r > 0) - (r < 0), c.sign);
    EXPECT_EQ(IsNewerVersion(c.a, c.b), c.sign > 0);
  }
}

TEST(VersionNumbers, OnlyDigitsAndSingleDots) {
  for (const wchar_t* bad : {L"", L"5.", L".5", L"5..4", L"5.4a", L"v5", L" 5.4", L"1234567890.1", L"1.2.3.4.5.6.7.8.9"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(IsVersionNumber(bad));
    EXPECT_FALSE(IsNewerVersion(bad, L"5.4"));
  }
  EXPECT_TRUE(IsVersionNumber(L"123456789.1.2.3.4.5.6.7"));
}

TEST(VersionFile, OffersOnlyAGreaterNumber) {
  struct Case {
    const wchar_t* published;
    bool offer;
  } cases[] = {{L"5.5\r\n", true}, {L"5.10", true}, {L"5.40", true}, {L"5.4", false}, {L"5.4\n", false},
               {L"5.3", false},    {L"5.4a", false}, {L"  \r\n", false}, {L"", false},
               {L"123456789012345678901", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.published);
    EXPECT_EQ(JudgeServerVersion(c.published).offer, c.offer);
  }
}

TEST(UpdateManifest, ReadsTheFourKeys) {
  UpdateManifest m;
  std::string hash = "ABCDEF" + std::string(58, '0');
  ASSERT_TRUE(ParseUpdateManifest("version=5.10\r\nurl=https://h/x.exe\r\nsize=1234\r\nsha256=" + hash + "\r\n", m));
  EXPECT_EQ(m.version, L"5.10");
  EXPECT_EQ(m.url, L"https://h/x.exe");
  EXPECT_EQ(m.size, 1234u);
  EXPECT_EQ(m.sha256, "abcdef" + std::string(58, '0'));
  ASSERT_TRUE(ParseUpdateManifest("\nsha256=" + kHash + "\nsize=1\nurl=http://h/a\nversion=6\n", m));
  EXPECT_EQ(m.version, L"6");
}

TEST(UpdateManifest, RefusesWhatIsMissingRepeatedUnknownOrInvalid) {
  const std::string good = "version=5.5\nurl=http://h/a.exe\nsize=10\nsha256=" + kHash + "\n";
  UpdateManifest m;
  ASSERT_TRUE(ParseUpdateManifest(good, m));
  const std::string bad[] = {
      "",
      "url=http://h/a.exe\nsize=10\nsha256=" + kHash,                          // no version
      good + "version=5.6\n",                                                   // repeated
      good + "extra=1\n",                                                       // unknown
      good + "no equals sign\n",
      "version=5.5a\nurl=http://h/a.exe\nsize=10\nsha256=" + kHash,            // version
      "version=5.5\nurl=ftp://h/a.exe\nsize=10\nsha256=" + kHash,              // scheme
      "version=5.5\nurl=http://h/a b.exe\nsize=10\nsha256=" + kHash,           // blank in the URL
      "version=5.5\nurl=http://h/a.exe\nsize=0\nsha256=" + kHash,              // empty installer
      "version=5.5\nurl=http://h/a.exe\nsize=-1\nsha256=" + kHash,
      "version=5.5\nurl=http://h/a.exe\nsize=999999999999\nsha256=" + kHash,   // too large
      "version=5.5\nurl=http://h/a.exe\nsize=10\nsha256=" + kHash.substr(1),   // 63 digits
      "version=5.5\nurl=http://h/a.exe\nsize=10\nsha256=" + std::string(64, 'g'),
  };
  for (const std::string& text : bad) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(ParseUpdateManifest(text, m));
  }
}

TEST(Signature, HoldsOnlyForTheSameBytesAndTheBuiltInKey) {
  const std::string message = "version=5.5\r\n";
  const std::string sig = test_signing::Sign(test_signing::DevelopmentSecret(), message);
  EXPECT_TRUE(VerifySignature(message, sig, BuiltInPublicKey()));
  EXPECT_TRUE(VerifySignature(message, "  " + sig + "\r\n", BuiltInPublicKey()));
  EXPECT_FALSE(VerifySignature("version=5.6\r\n", sig, BuiltInPublicKey()));
  EXPECT_FALSE(VerifySignature(message + " ", sig, BuiltInPublicKey()));
  EXPECT_FALSE(VerifySignature(message, test_signing::Sign(test_signing::OtherSecret(), message), BuiltInPublicKey()));
  std::string flipped = sig;
  flipped[10] = flipped[10] == '0' ? '1' : '0';
  EXPECT_FALSE(VerifySignature(message, flipped, BuiltInPublicKey()));
  EXPECT_FALSE(VerifySignature(message, sig.substr(0, 126), BuiltInPublicKey()));
  EXPECT_FALSE(VerifySignature(message, "", BuiltInPublicKey()));
  EXPECT_FALSE(VerifySignature(message, std::string(128, 'z'), BuiltInPublicKey()));
  EXPECT_FALSE(VerifySignature(message, sig, "not a key"));
}

TEST(Signature, HexDecoding) {
  std::string out;
  EXPECT_TRUE(DecodeHex(" 0aFf\n", 2, out));
  EXPECT_EQ(out, std::string("\x0a\xff", 2));
  EXPECT_FALSE(DecodeHex("0aF", 2, out));
  EXPECT_FALSE(DecodeHex("0a f0", 2, out));
  EXPECT_FALSE(DecodeHex("0x0a", 2, out));
}

}  // namespace
