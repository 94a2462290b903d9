// The bytes of the job's identity file, against the example of docs/job-identity.md.
#include "boot/job_identity.h"

#include <gtest/gtest.h>

namespace {

JobIdentity Example() {
  JobIdentity j;
  j.image = L"\\VRLN\\Download\\\u6DF1\u5EA6XP.GHO";
  j.source = {0x1A2B3C4D, 80026361856ull, 16384000000ull, 63998361600ull};
  j.target = {0x1A2B3C4D, 80026361856ull, 32256ull, 16383967744ull};
  return j;
}

TEST(JobIdentity, RestoreBytesAsDocumented) {
  std::string bytes;
  ASSERT_TRUE(JobIdentityBytes(Example(), bytes));
  EXPECT_EQ(bytes,
            "vorlane-job-identity 1\r\n"
            "job=restore\r\n"
            "image=\\VRLN\\Download\\\xE6\xB7\xB1\xE5\xBA\xA6XP.GHO\r\n"
            "source.disk.signature=1A2B3C4D\r\n"
            "source.disk.size=80026361856\r\n"
            "source.partition.start=16384000000\r\n"
            "source.partition.length=63998361600\r\n"
            "target.disk.signature=1A2B3C4D\r\n"
            "target.disk.size=80026361856\r\n"
            "target.partition.start=32256\r\n"
            "target.partition.length=16383967744\r\n");
}

TEST(JobIdentity, BackupAndSmallSignature) {
  JobIdentity j = Example();
  j.backup = true;
  j.source.diskSignature = 0xAB;
  j.image = L"\\a\U0001F600.gho";
  std::string bytes;
  ASSERT_TRUE(JobIdentityBytes(j, bytes));
  EXPECT_NE(bytes.find("job=backup\r\n"), std::string::npos);
  EXPECT_NE(bytes.find("source.disk.signature=000000AB\r\n"), std::string::npos);
  EXPECT_NE(bytes.find("image=\\a\xF0\x9F\x98\x80.gho\r\n"), std::string::npos);
}

TEST(JobIdentity, RefusesPathsThatCannotBeOneLine) {
  const std::wstring bad[] = {L"", L"VRLN\\a.gho", L"\\a\r\nb.gho", std::wstring(L"\\a") + wchar_t(0xD800) + L".gho",
                              std::wstring(L"\\a") + wchar_t(0xDC00)};
  for (const std::wstring& path : bad) {
    JobIdentity j = Example();
    j.image = path;
    std::string bytes = "x";
    EXPECT_FALSE(JobIdentityBytes(j, bytes));
    EXPECT_TRUE(bytes.empty());
  }
}

}  // namespace
