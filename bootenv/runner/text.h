// Small text helpers (ASCII case rules, as DOS and NTFS names need).
#pragma once
#include <string>

namespace vorlane {

std::string ToLower(std::string text);
bool EqualsNoCase(const std::string& a, const std::string& b);
bool StartsWith(const std::string& text, const std::string& prefix);
std::string Trim(const std::string& text);
std::string BaseName(const std::string& path);  // after the last '\', '/' or ':'
std::string FormatBytes(double bytes);          // "12.3 MB"
std::string FormatDuration(double seconds);     // "01:02:03" or "02:03"

}  // namespace vorlane
