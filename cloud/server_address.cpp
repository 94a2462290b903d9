#include "cloud/server_address.h"

#include "base/simple_lock.h"

#ifndef VORLANE_SERVER_URL
#error "VORLANE_SERVER_URL must be defined by the build"
#endif

const wchar_t kCataloguePath[] = L"/systeminfof.txt";
const wchar_t kVersionPath[] = L"/banben.txt";
const wchar_t kInstallerUrlPath[] = L"/anzhuangbao.txt";
const wchar_t kStatisticsPath[] = L"/tongji.php";

namespace {
SimpleLock& AddressLock() {
  static SimpleLock lock;
  return lock;
}
std::wstring& Address() {
  static std::wstring address = L"" VORLANE_SERVER_URL;
  return address;
}
std::wstring WithoutTrailingSlash(std::wstring url) {
  while (!url.empty() && url.back() == L'/') url.pop_back();
  return url;
}
}  // namespace

std::wstring ServerBaseUrl() {
  LockHolder hold(AddressLock());
  return WithoutTrailingSlash(Address());
}

void SetServerBaseUrl(const std::wstring& baseUrl) {
  LockHolder hold(AddressLock());
  Address() = WithoutTrailingSlash(baseUrl);
}

std::wstring ServerUrl(const wchar_t* path) { return ServerBaseUrl() + path; }
