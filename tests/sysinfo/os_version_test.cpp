// Classification of kernel versions into OsIndex, the display and recommendation tables.
#include <gtest/gtest.h>

#include "sysinfo/os_version.h"

namespace {

bool Native() { return false; }
bool UnderWow64() { return true; }
int g_wowQueries = 0;
bool CountingWow64() {
  ++g_wowQueries;
  return false;
}

struct Row {
  DWORD major, minor;
  WORD productType, arch;
  bool wow64;
  int32_t expected;
};

constexpr WORD kWork = VER_NT_WORKSTATION;
constexpr WORD kServer = VER_NT_SERVER;
constexpr WORD kDc = VER_NT_DOMAIN_CONTROLLER;
constexpr WORD kX86 = PROCESSOR_ARCHITECTURE_INTEL;
constexpr WORD kAmd64 = PROCESSOR_ARCHITECTURE_AMD64;

const Row kRows[] = {
    {5, 0, kWork, kX86, false, OsWin2000},
    {5, 1, kWork, kX86, false, OsWinXP},
    {5, 2, kServer, kAmd64, true, OsWinXP},   // XP x64 shares 5.2 with Server 2003
    {5, 2, kWork, kAmd64, false, OsWinXP},    // decided by the architecture, not the product type
    {5, 2, kServer, kX86, false, OsWin2003},
    {5, 2, kWork, kX86, false, OsWin2003},
    {5, 3, kWork, kX86, false, OsOther},
    {6, 0, kWork, kX86, false, OsWinVista},
    {6, 0, kServer, kX86, false, OsWin2008},
    {6, 0, kDc, kX86, true, OsWin2008},
    {6, 1, kWork, kX86, false, OsWin7x86},
    {6, 1, kWork, kX86, true, OsWin7x64},
    {6, 1, kServer, kX86, true, OsWin2008},
    {6, 1, kServer, kX86, false, OsWin2008},
    {6, 2, kWork, kX86, false, OsWin8x86},
    {6, 2, kWork, kX86, true, OsWin8x64},
    {6, 2, kServer, kX86, true, OsWin2012},
    {6, 3, kWork, kX86, false, OsWin81x86},
    {6, 3, kWork, kX86, true, OsWin81x64},
    {6, 3, kServer, kX86, false, OsWin2012},
    {6, 4, kServer, kX86, false, OsWin10x86},  // 6.4 ignores the product type
    {6, 4, kWork, kX86, true, OsWin10x64},
    {6, 5, kWork, kX86, false, OsOther},
    {10, 0, kWork, kX86, false, OsWin10x86},
    {10, 0, kServer, kX86, true, OsWin10x64},  // a server of that generation shows as Windows 10
    {10, 7, kDc, kX86, false, OsWin10x86},
    {4, 0, kWork, kX86, false, OsOther},
    {11, 0, kWork, kX86, false, OsOther},
    {0, 0, 0, 0, false, OsOther},
};

TEST(ClassifyOs, EveryRowOfTheReleaseTable) {
  for (const Row& r : kRows) {
    EXPECT_EQ(r.expected, ClassifyOs(r.major, r.minor, r.productType, r.arch, r.wow64 ? &UnderWow64 : &Native))
        << r.major << "." << r.minor << " type " << r.productType << " arch " << r.arch << " wow64 " << r.wow64;
  }
}

TEST(ClassifyOs, EveryIndexIsReachable) {
  bool seen[15] = {};
  for (const Row& r : kRows) seen[r.expected] = true;
  for (int i = 0; i < 15; ++i) EXPECT_TRUE(seen[i]) << "no row yields " << i;
}

TEST(ClassifyOs, AsksForBitnessOnlyWhereItMatters) {
  const struct { DWORD major, minor; WORD type; int queries; } cases[] = {
      {5, 1, kWork, 0}, {5, 2, kServer, 0}, {6, 0, kWork, 0}, {6, 1, kServer, 0},
      {6, 1, kWork, 1}, {6, 4, kServer, 1}, {10, 0, kWork, 1}, {7, 0, kWork, 0}};
  for (const auto& c : cases) {
    g_wowQueries = 0;
    ClassifyOs(c.major, c.minor, c.type, kX86, &CountingWow64);
    EXPECT_EQ(c.queries, g_wowQueries) << c.major << "." << c.minor;
  }
}

TEST(OsTables, DisplayNames) {
  const wchar_t* expected[15] = {
      L"Windows 2000", L"Windows XP", L"Windows 2003", L"Windows VISTA", L"Windows 2008",
      L"Windows 7 32位", L"Windows 7 64位", L"Windows 2012", L"Windows 8 32位", L"Windows 8 64位",
      L"Windows 8.1 32位", L"Windows 8.1 64位", L"Windows 10 32位", L"Windows 10 64位", L"Windows 其他"};
  for (int i = 0; i < 15; ++i) EXPECT_STREQ(expected[i], OsDisplayName(i)) << i;
  EXPECT_STREQ(L"Windows 其他", OsDisplayName(-1));
  EXPECT_STREQ(L"Windows 其他", OsDisplayName(15));
}

TEST(OsTables, Recommendations) {
  for (int i = -1; i <= 15; ++i) {
    const wchar_t* expected = L"Windows7 32位";
    if (i == OsWin7x64 || i == OsWin10x64) expected = L"Windows7 64位";
    if (i == OsWin8x86) expected = L"Windows8 32位";
    if (i == OsWin8x64) expected = L"Windows8 64位";
    EXPECT_STREQ(expected, RecommendedSystem(i)) << i;
  }
}

}  // namespace
