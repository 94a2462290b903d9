#include "cloud/http_fetch.h"

#include <windows.h>
#include <wininet.h>

#include <memory>
#include <new>
#include <vector>

#include "base/internet_handle.h"
#include "base/unique_handle.h"

namespace {

const DWORD kReadPiece = 1024;

HINTERNET OpenRoot() { return InternetOpenW(nullptr, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0); }

HINTERNET OpenUrl(HINTERNET root, const std::wstring& url) {
  return InternetOpenUrlW(root, url.c_str(), nullptr, 0, INTERNET_FLAG_NO_CACHE_WRITE, 0);
}

bool StatusIs200(HINTERNET request) {
  DWORD status = 0;
  DWORD size = sizeof(status);
  if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) {
    return false;
  }
  return status == 200;
}

// The Content-Length the server announced; false when there is none (or it is not a number).
bool AnnouncedLength(HINTERNET request, unsigned long long& length) {
  wchar_t text[32] = {0};
  DWORD size = sizeof(text) - sizeof(wchar_t);
  if (!HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) return false;
  if (text[0] == L'\0') return false;
  unsigned long long value = 0;
  for (const wchar_t* p = text; *p != L'\0'; ++p) {
    if (*p < L'0' || *p > L'9' || value > 0xFFFFFFFFFFFFull / 10) return false;
    value = value * 10 + static_cast<unsigned>(*p - L'0');
  }
  length = value;
  return true;
}

}  // namespace

std::wstring FetchUrlText(const std::wstring& url) {
  InternetHandle root(OpenRoot());
  if (!root) return std::wstring();
  InternetHandle request(OpenUrl(root.Get(), url));
  if (!request) return std::wstring();
  if (!StatusIs200(request.Get())) return std::wstring();

  std::vector<char> body;
  char piece[kReadPiece];
  for (;;) {
    DWORD got = 0;
    if (!InternetReadFile(request.Get(), piece, kReadPiece, &got)) return std::wstring();
    if (got == 0) break;
    body.insert(body.end(), piece, piece + got);
  }
  body.push_back('\0');

  int units = MultiByteToWideChar(CP_THREAD_ACP, 0, body.data(), -1, nullptr, 0);
  if (units <= 1) return std::wstring();
  std::wstring text(static_cast<size_t>(units), L'\0');
  if (MultiByteToWideChar(CP_THREAD_ACP, 0, body.data(), -1, &text[0], units) != units) return std::wstring();
  text.resize(static_cast<size_t>(units - 1));
  return text;
}

namespace {

// Copies the body into file; answers a DownloadResult.
int CopyBody(HINTERNET request, HANDLE file, char* buffer) {
  unsigned long long announced = 0;
  bool hasLength = AnnouncedLength(request, announced);
  unsigned long long total = 0;
  for (;;) {
    DWORD got = 0;
    if (!InternetReadFile(request, buffer, kReadPiece, &got)) return kDownloadReadFailed;
    if (got == 0) break;
    DWORD written = 0;
    if (!WriteFile(file, buffer, got, &written, nullptr) || written != got) return kDownloadWriteFailed;
    total += got;
  }
  if (hasLength && total != announced) return kDownloadIncomplete;
  return kDownloadOk;
}

}  // namespace

int DownloadUrlToFile(const std::wstring& url, const std::wstring& path) {
  InternetHandle root(OpenRoot());
  if (!root) return kDownloadNoInternet;
  InternetHandle request(OpenUrl(root.Get(), url));
  if (!request) return kDownloadNoUrl;
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[kReadPiece]);
  if (!buffer) return kDownloadNoBuffer;
  // The status is checked before the file is touched: an error page never replaces anything.
  if (!StatusIs200(request.Get())) return kDownloadBadStatus;

  int result;
  {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_ALL, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
    if (!file) return kDownloadNoFile;
    result = CopyBody(request.Get(), file.Get(), buffer.get());
  }
  if (result != kDownloadOk) DeleteFileW(path.c_str());
  return result;
}
