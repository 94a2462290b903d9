#include "engine/http_connection.h"
#include "engine/http_rules.h"

#include <vector>

bool ParseHttpUrl(const std::wstring& url, HttpTarget* out) {
  if (url.empty() || url.size() > 8192) return false;
  std::vector<wchar_t> host(url.size() + 1), object(url.size() + 1), user(url.size() + 1),
      password(url.size() + 1), extra(url.size() + 1);
  URL_COMPONENTSW parts = {};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host.data();
  parts.dwHostNameLength = static_cast<DWORD>(host.size());
  parts.lpszUrlPath = object.data();
  parts.dwUrlPathLength = static_cast<DWORD>(object.size());
  parts.lpszUserName = user.data();
  parts.dwUserNameLength = static_cast<DWORD>(user.size());
  parts.lpszPassword = password.data();
  parts.dwPasswordLength = static_cast<DWORD>(password.size());
  parts.lpszExtraInfo = extra.data();
  parts.dwExtraInfoLength = static_cast<DWORD>(extra.size());
  if (!InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) return false;
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return false;
  if (parts.dwHostNameLength == 0) return false;
  out->secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  out->host.assign(host.data(), parts.dwHostNameLength);
  out->port = parts.nPort;
  out->object.assign(object.data(), parts.dwUrlPathLength);
  out->object.append(extra.data(), parts.dwExtraInfoLength);
  if (out->object.empty()) out->object = L"/";
  out->user.assign(user.data(), parts.dwUserNameLength);
  out->password.assign(password.data(), parts.dwPasswordLength);
  return true;
}

HINTERNET OpenHttpSession(const HttpSettings& settings) {
  const wchar_t* agent = settings.userAgent.empty() ? L"Vorlane-Downloader/1.0" : settings.userAgent.c_str();
  HINTERNET session;
  if (settings.proxy.empty()) {
    session = InternetOpenW(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  } else if (settings.proxy == L"direct") {
    session = InternetOpenW(agent, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  } else {
    session = InternetOpenW(agent, INTERNET_OPEN_TYPE_PROXY, settings.proxy.c_str(),
                            settings.bypass.empty() ? nullptr : settings.bypass.c_str(), 0);
  }
  if (!session) return nullptr;
  DWORD connectMs = 15000, receiveMs = 30000, sendMs = 15000;
  InternetSetOptionW(session, INTERNET_OPTION_CONNECT_TIMEOUT, &connectMs, sizeof connectMs);
  InternetSetOptionW(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &receiveMs, sizeof receiveMs);
  InternetSetOptionW(session, INTERNET_OPTION_SEND_TIMEOUT, &sendMs, sizeof sendMs);
  InternetSetOptionW(session, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, &receiveMs, sizeof receiveMs);
  return session;
}

namespace {

std::wstring QueryHeader(HINTERNET request, DWORD which) {
  wchar_t small[512];
  DWORD size = sizeof small;
  DWORD index = 0;
  if (HttpQueryInfoW(request, which, small, &size, &index)) return std::wstring(small, size / sizeof(wchar_t));
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size > 65536) return std::wstring();
  std::vector<wchar_t> big(size / sizeof(wchar_t) + 1);
  index = 0;
  if (!HttpQueryInfoW(request, which, big.data(), &size, &index)) return std::wstring();
  return std::wstring(big.data(), size / sizeof(wchar_t));
}

}  // namespace

DWORD SendGet(HINTERNET session, const HttpTarget& target, const std::wstring& headers,
              InternetHandle* connection, InternetHandle* request, HttpAnswer* answer) {
  InternetHandle connect(InternetConnectW(session, target.host.c_str(), target.port,
                                          target.user.empty() ? nullptr : target.user.c_str(),
                                          target.password.empty() ? nullptr : target.password.c_str(),
                                          INTERNET_SERVICE_HTTP, 0, 0));
  if (!connect) return GetLastError();
  DWORD flags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD | INTERNET_FLAG_PRAGMA_NOCACHE |
                INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_COOKIES |
                INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS;
  if (target.secure) flags |= INTERNET_FLAG_SECURE;
  InternetHandle req(HttpOpenRequestW(connect.Get(), L"GET", target.object.c_str(), nullptr, nullptr, nullptr,
                                      flags, 0));
  if (!req) return GetLastError();
  if (!headers.empty() &&
      !HttpAddRequestHeadersW(req.Get(), headers.c_str(), static_cast<DWORD>(headers.size()),
                              HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE)) {
    return GetLastError();
  }
  if (!HttpSendRequestW(req.Get(), nullptr, 0, nullptr, 0)) return GetLastError();
  DWORD status = 0;
  DWORD size = sizeof status;
  DWORD index = 0;
  if (!HttpQueryInfoW(req.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, &index)) {
    return GetLastError();
  }
  answer->status = static_cast<int>(status);
  answer->contentRange = QueryHeader(req.Get(), HTTP_QUERY_CONTENT_RANGE);
  answer->contentLength = QueryHeader(req.Get(), HTTP_QUERY_CONTENT_LENGTH);
  answer->etag = QueryHeader(req.Get(), HTTP_QUERY_ETAG);
  answer->lastModified = QueryHeader(req.Get(), HTTP_QUERY_LAST_MODIFIED);
  answer->retryAfter = QueryHeader(req.Get(), HTTP_QUERY_RETRY_AFTER);
  wchar_t url[2048];
  DWORD urlSize = sizeof url;
  if (InternetQueryOptionW(req.Get(), INTERNET_OPTION_URL, url, &urlSize)) {
    answer->finalUrl.assign(url, wcsnlen(url, 2048));
  }
  if (IsRedirectDowngrade(target.secure, answer->finalUrl)) return ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR;
  connection->Reset(connect.Release());
  request->Reset(req.Release());
  return ERROR_SUCCESS;
}

bool ReadBody(HINTERNET request, char* buffer, DWORD size, DWORD minFill, DWORD* got) {
  DWORD total = 0;
  while (total < minFill && total < size) {
    DWORD n = 0;
    if (!InternetReadFile(request, buffer + total, size - total, &n)) {
      *got = total;
      return false;
    }
    if (n == 0) break;
    total += n;
  }
  *got = total;
  return true;
}

bool IsConnectionRefusal(DWORD error) {
  switch (error) {
    case ERROR_INTERNET_CANNOT_CONNECT:
    case ERROR_INTERNET_CONNECTION_RESET:
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_HTTP_INVALID_SERVER_RESPONSE:
      return true;
    default:
      return false;
  }
}

bool IsPermanentNetworkError(DWORD error) {
  switch (error) {
    case ERROR_INTERNET_INVALID_URL:
    case ERROR_INTERNET_UNRECOGNIZED_SCHEME:
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_REVOKED:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_REDIRECT_SCHEME_CHANGE:
    case ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR:
      return true;
    default:
      return false;
  }
}
