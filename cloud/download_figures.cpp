#include "cloud/download_figures.h"

#include "base/text_format.h"

namespace {
const double kBytesPerMB = 1048576.0;
const double kBytesPerKB = 1024.0;

bool Empty(wchar_t* buf, size_t cap) {
  if (buf != nullptr && cap > 0) buf[0] = L'\0';
  return false;
}
}  // namespace

bool FormatTotalSize(wchar_t* buf, size_t cap, int64_t totalBytes) {
  return FormatInto(buf, cap, L"%.2lfMB", static_cast<double>(totalBytes) * (1.0 / kBytesPerMB));
}

bool FormatSpeed(wchar_t* buf, size_t cap, int32_t bytesPerSecond) {
  if (bytesPerSecond < 1024) return FormatInto(buf, cap, L"%dB/s", bytesPerSecond);
  if (bytesPerSecond < 1048576) return FormatInto(buf, cap, L"%.2lfKB/s", bytesPerSecond / kBytesPerKB);
  return FormatInto(buf, cap, L"%.2lfMB/s", bytesPerSecond / kBytesPerMB);
}

bool FormatProgress(wchar_t* buf, size_t cap, float fraction) {
  return FormatInto(buf, cap, L"%.2lf%%", static_cast<double>(fraction) * 100.0);
}

bool FormatDownloaded(wchar_t* buf, size_t cap, int64_t downloadedBytes) {
  int64_t mb = downloadedBytes / 1048576;
  return FormatInto(buf, cap, L"%dMB", static_cast<int32_t>(static_cast<uint32_t>(mb & 0xFFFFFFFF)));
}

bool FormatImagePath(wchar_t* buf, size_t cap, const std::wstring& folder, const std::wstring& fileName) {
  if (FormatInto(buf, cap, L"%s\\%s", folder.c_str(), fileName.c_str())) return true;
  return Empty(buf, cap);
}

bool FormatImagePathLink(wchar_t* buf, size_t cap, const std::wstring& folder, const std::wstring& fileName) {
  if (FormatInto(buf, cap, L"<f 1><u>%s\\%s</u></f>", folder.c_str(), fileName.c_str())) return true;
  if (FormatInto(buf, cap, L"<f 1><u>%s</u></f>", fileName.c_str())) return false;
  return Empty(buf, cap);
}
