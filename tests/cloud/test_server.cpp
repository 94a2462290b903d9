#include "test_server.h"

#include <windows.h>
#include <wininet.h>

#include <cstdlib>
#include <vector>

namespace test_server {

namespace {

std::string Narrow(const std::wstring& w) {
  std::string s;
  for (wchar_t c : w) s.push_back(static_cast<char>(c));
  return s;
}

// One request to the control interface; answers the body, or "\x01" on failure.
std::string Request(const char* method, const std::string& pathAndQuery, const std::string& body) {
  std::wstring base = BaseUrl();
  if (base.empty()) return "\x01";
  URL_COMPONENTSW parts = {};
  parts.dwStructSize = sizeof(parts);
  wchar_t host[256] = {0};
  parts.lpszHostName = host;
  parts.dwHostNameLength = 255;
  if (!InternetCrackUrlW(base.c_str(), 0, 0, &parts)) return "\x01";
  HINTERNET root = InternetOpenW(L"vorlane-test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  HINTERNET connection = InternetConnectW(root, host, parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  std::wstring object(pathAndQuery.begin(), pathAndQuery.end());
  std::wstring verb(method, method + strlen(method));
  HINTERNET request = HttpOpenRequestW(connection, verb.c_str(), object.c_str(), nullptr, nullptr, nullptr,
                                       INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD, 0);
  std::string answer = "\x01";
  if (request != nullptr &&
      HttpSendRequestW(request, nullptr, 0, const_cast<char*>(body.data()), static_cast<DWORD>(body.size()))) {
    answer.clear();
    char piece[4096];
    DWORD got = 0;
    while (InternetReadFile(request, piece, sizeof(piece), &got) && got > 0) answer.append(piece, got);
  }
  if (request) InternetCloseHandle(request);
  if (connection) InternetCloseHandle(connection);
  if (root) InternetCloseHandle(root);
  return answer;
}

}  // namespace

std::wstring BaseUrl() {
  const char* env = std::getenv("VORLANE_TEST_SERVER");
  if (env == nullptr) return std::wstring();
  std::string s(env);
  return std::wstring(s.begin(), s.end());
}

bool PutFile(const std::wstring& path, const std::string& bytes) {
  return Request("POST", "/_control/file?path=" + Narrow(path), bytes) != "\x01";
}

bool AddFault(const std::string& query) { return Request("GET", "/_control/fault?" + query, "") != "\x01"; }

std::string Get(const std::string& pathAndQuery) { return Request("GET", pathAndQuery, ""); }

bool Reset() { return Request("GET", "/_control/reset", "") != "\x01"; }

std::string Stats() { return Request("GET", "/_control/stats", ""); }

std::string ReadFileBytes(const std::wstring& path) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return std::string();
  std::string bytes;
  char piece[65536];
  DWORD got = 0;
  while (ReadFile(f, piece, sizeof(piece), &got, nullptr) && got > 0) bytes.append(piece, got);
  CloseHandle(f);
  return bytes;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size();
  CloseHandle(f);
  return ok;
}

std::wstring MakeTempFolder(const wchar_t* prefix) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  for (unsigned n = GetTickCount();; ++n) {
    std::wstring folder = std::wstring(temp) + prefix + std::to_wstring(n);
    if (CreateDirectoryW(folder.c_str(), nullptr)) return folder;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return std::wstring();
  }
}

}  // namespace test_server
