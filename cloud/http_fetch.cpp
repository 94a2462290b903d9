#include "cloud/http_fetch.h"

#include <windows.h>
#include <wininet.h>

#include <exception>
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

FetchResult FetchUrlBytes(const std::wstring& url, size_t maxBytes, std::string& body) {
  body.clear();
  try {
    InternetHandle root(OpenRoot());
    if (!root) return kFetchFailed;
    InternetHandle request(OpenUrl(root.Get(), url));
    if (!request) return kFetchFailed;
    if (!StatusIs200(request.Get())) return kFetchFailed;
    unsigned long long announced = 0;
    if (AnnouncedLength(request.Get(), announced) && announced > maxBytes) return kFetchTooLong;

    std::string got;
    char piece[kReadPiece];
    for (;;) {
      DWORD n = 0;
      if (!InternetReadFile(request.Get(), piece, kReadPiece, &n)) return kFetchFailed;
      if (n == 0) break;
      if (got.size() + n > maxBytes) return kFetchTooLong;
      got.append(piece, n);
    }
    body.swap(got);
    return kFetchOk;
  } catch (const std::exception&) {
    body.clear();
    return kFetchFailed;
  }
}

std::wstring DecodeAnsiText(const std::string& bytes) {
  std::string z(bytes.c_str());  // up to the first NUL, as the text is read as a C string
  if (z.empty()) return std::wstring();
  int units = MultiByteToWideChar(CP_THREAD_ACP, 0, z.data(), static_cast<int>(z.size()), nullptr, 0);
  if (units <= 0) return std::wstring();
  std::wstring text(static_cast<size_t>(units), L'\0');
  if (MultiByteToWideChar(CP_THREAD_ACP, 0, z.data(), static_cast<int>(z.size()), &text[0], units) != units) {
    return std::wstring();
  }
  return text;
}

std::wstring FetchUrlText(const std::wstring& url, size_t maxBytes) {
  std::string body;
  if (FetchUrlBytes(url, maxBytes, body) != kFetchOk) return std::wstring();
  try {
    return DecodeAnsiText(body);
  } catch (const std::exception&) {
    return std::wstring();
  }
}

namespace {

// Copies the body into file; answers a DownloadResult.
int CopyBody(HINTERNET request, HANDLE file, char* buffer, uint64_t maxBytes) {
  unsigned long long announced = 0;
  bool hasLength = AnnouncedLength(request, announced);
  if (maxBytes != 0 && hasLength && announced > maxBytes) return kDownloadIncomplete;
  unsigned long long total = 0;
  for (;;) {
    DWORD got = 0;
    if (!InternetReadFile(request, buffer, kReadPiece, &got)) return kDownloadReadFailed;
    if (got == 0) break;
    if (maxBytes != 0 && total + got > maxBytes) return kDownloadIncomplete;
    DWORD written = 0;
    if (!WriteFile(file, buffer, got, &written, nullptr) || written != got) return kDownloadWriteFailed;
    total += got;
  }
  if (hasLength && total != announced) return kDownloadIncomplete;
  return kDownloadOk;
}

}  // namespace

int DownloadUrlToFile(const std::wstring& url, const std::wstring& path, uint64_t maxBytes) {
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
    result = CopyBody(request.Get(), file.Get(), buffer.get(), maxBytes);
  }
  if (result != kDownloadOk) DeleteFileW(path.c_str());
  return result;
}
