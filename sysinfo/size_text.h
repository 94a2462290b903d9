// Texts the system pages show for sizes and partitions.
#pragma once
#include <cstdint>
#include <string>

// Bytes as GiB with two decimals and a blank: "4.00 GB" (physical memory).
std::wstring FormatMemoryGb(uint64_t bytes);
// Bytes as GiB with two decimals, no blank: "50.00GB" (drive free space).
std::wstring FormatDriveGb(uint64_t bytes);
// "分区大小：%.2lfGB" for a partition's total size.
std::wstring FormatPartitionSizeText(uint64_t totalBytes);
// "分区格式：" followed by the file-system name (which may be empty).
std::wstring FormatPartitionFormatText(const std::wstring& fileSystem);
// Every ASCII "Z" of text replaced by the drive letter.
std::wstring ReplaceZWithDrive(const std::wstring& text, wchar_t drive);
// "%c:" with the drive letter ("C:").
std::wstring FormatDriveText(wchar_t drive);
