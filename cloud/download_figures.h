// The download page's figures as texts. Each formatter writes into a caller's buffer of cap units (the
// monitor's one 400-unit buffer) and answers false when the text did not fit (the buffer then holds what
// the function documents for that case, never an unterminated text).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Capacity of the monitor's text buffer, NUL included.
constexpr size_t kMonitorTextCapacity = 400;

// Total size in MB (1,048,576 bytes) with two decimals: "2861.02MB".
bool FormatTotalSize(wchar_t* buf, size_t cap, int64_t totalBytes);

// Speed in bytes per second: below 1024 "%dB/s"; below 1048576 "%.2lfKB/s"; otherwise "%.2lfMB/s".
bool FormatSpeed(wchar_t* buf, size_t cap, int32_t bytesPerSecond);

// Progress fraction 0.0 to 1.0 as a percentage with two decimals: "50.00%".
bool FormatProgress(wchar_t* buf, size_t cap, float fraction);

// Downloaded bytes as whole MB, truncated in 64-bit arithmetic, shown from the low 32 bits: "1MB".
bool FormatDownloaded(wchar_t* buf, size_t cap, int64_t downloadedBytes);

// The file-name button's user data: folder + "\" + file name. Empty when the path does not fit.
bool FormatImagePath(wchar_t* buf, size_t cap, const std::wstring& folder, const std::wstring& fileName);

// The file-name button's text: the same path underlined in font 1, "<f 1><u>%s\%s</u></f>". When the
// whole path does not fit, the file name alone is shown in the same tags; when even that does not fit,
// the text is empty.
bool FormatImagePathLink(wchar_t* buf, size_t cap, const std::wstring& folder, const std::wstring& fileName);
