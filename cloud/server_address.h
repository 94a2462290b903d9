// The maker's web server. Its base address is built in (VORLANE_SERVER_URL); tests and the sandbox point
// the program at another server with SetServerBaseUrl before any worker starts.
#pragma once
#include <string>

// The base address without a trailing "/", e.g. "http://127.0.0.1:8750".
std::wstring ServerBaseUrl();
void SetServerBaseUrl(const std::wstring& baseUrl);

// Base address followed by a path such as "/systeminfof.txt".
std::wstring ServerUrl(const wchar_t* path);

// The server paths the program uses.
extern const wchar_t kCataloguePath[];     // "/systeminfof.txt"
extern const wchar_t kVersionPath[];       // "/banben.txt"
extern const wchar_t kInstallerUrlPath[];  // "/anzhuangbao.txt"
extern const wchar_t kStatisticsPath[];    // "/tongji.php"
