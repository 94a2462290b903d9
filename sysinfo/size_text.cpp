#include "sysinfo/size_text.h"

#include "base/text_format.h"

namespace {
double ToGiB(uint64_t bytes) { return static_cast<double>(bytes) * (1.0 / 1073741824.0); }
}  // namespace

std::wstring FormatMemoryGb(uint64_t bytes) { return Format(L"%.2lf GB", ToGiB(bytes)); }

std::wstring FormatDriveGb(uint64_t bytes) { return Format(L"%.2lfGB", ToGiB(bytes)); }

std::wstring FormatPartitionSizeText(uint64_t totalBytes) {
  return Format(L"分区大小：%.2lfGB", ToGiB(totalBytes));
}

std::wstring FormatPartitionFormatText(const std::wstring& fileSystem) {
  return L"分区格式：" + fileSystem;
}

std::wstring ReplaceZWithDrive(const std::wstring& text, wchar_t drive) {
  std::wstring out = text;
  for (wchar_t& c : out) {
    if (c == L'Z') c = drive;
  }
  return out;
}

std::wstring FormatDriveText(wchar_t drive) { return Format(L"%c:", drive); }
