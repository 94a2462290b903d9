// Size and partition texts of the system pages.
#include <gtest/gtest.h>

#include "sysinfo/size_text.h"

namespace {

TEST(SizeText, MemoryAndDriveFormats) {
  EXPECT_EQ(L"4.00 GB", FormatMemoryGb(4294967296ull));
  EXPECT_EQ(L"3.00 GB", FormatMemoryGb(3221225472ull));
  EXPECT_EQ(L"0.00 GB", FormatMemoryGb(0));
  EXPECT_EQ(L"50.00GB", FormatDriveGb(53687091200ull));
  EXPECT_EQ(L"1.50GB", FormatDriveGb(1610612736ull));
  // Counts of 2^63 and more stay positive.
  EXPECT_EQ(L"8589934592.00GB", FormatDriveGb(1ull << 63));
}

TEST(SizeText, PartitionTexts) {
  EXPECT_EQ(L"分区大小：100.00GB", FormatPartitionSizeText(107374182400ull));
  EXPECT_EQ(L"分区格式：NTFS", FormatPartitionFormatText(L"NTFS"));
  EXPECT_EQ(L"分区格式：", FormatPartitionFormatText(L""));
  EXPECT_EQ(L"C:", FormatDriveText(L'C'));
}

TEST(SizeText, ReplaceZ) {
  EXPECT_EQ(L"备份分区：       C：", ReplaceZWithDrive(L"备份分区：       Z：", L'C'));
  EXPECT_EQ(L"备份分区：       C：", ReplaceZWithDrive(L"备份分区：       C：", L'D'));  // nothing left
  EXPECT_EQ(L"还原分区：       Z：", ReplaceZWithDrive(L"还原分区：       Z：", L'Z'));
  EXPECT_EQ(L"zDD", ReplaceZWithDrive(L"zZZ", L'D'));  // only the capital letter
}

}  // namespace
