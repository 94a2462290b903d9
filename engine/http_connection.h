// WinINet at the edge: one session per download run, one GET per range.
#pragma once
#include <windows.h>
#include <wininet.h>
#include <string>

#include "base/internet_handle.h"

struct HttpTarget {
  bool secure = false;
  std::wstring host;
  INTERNET_PORT port = 0;
  std::wstring object;  // path and query
  std::wstring user;
  std::wstring password;
};

// Splits an http:// or https:// URL; false for any other.
bool ParseHttpUrl(const std::wstring& url, HttpTarget* out);

struct HttpSettings {
  std::wstring userAgent;
  std::wstring proxy;   // empty: the system's settings; "direct": none
  std::wstring bypass;
};

// The session handle with the engine's time-outs; null on failure.
HINTERNET OpenHttpSession(const HttpSettings& settings);

struct HttpAnswer {
  int status = 0;
  std::wstring contentRange;
  std::wstring contentLength;
  std::wstring etag;
  std::wstring lastModified;
  std::wstring retryAfter;
  std::wstring finalUrl;  // after redirects
};

// Sends a GET with the extra header lines (each ending in "\r\n"). On success (any HTTP status) the
// connection and request handles are handed over and the answer's headers filled; otherwise the Win32 or
// WinINet error is returned.
DWORD SendGet(HINTERNET session, const HttpTarget& target, const std::wstring& headers,
              InternetHandle* connection, InternetHandle* request, HttpAnswer* answer);

// Reads at least minFill bytes (fewer only at the end of the body), at most size. false on a transfer
// error; *got then counts the bytes read before it.
bool ReadBody(HINTERNET request, char* buffer, DWORD size, DWORD minFill, DWORD* got);

// Whether a failed send or read means the server refused or dropped the connection (then fewer
// connections may help) rather than anything else.
bool IsConnectionRefusal(DWORD error);
// Whether an error cannot improve by retrying (bad URL, certificate problems).
bool IsPermanentNetworkError(DWORD error);
