// Owning wrapper for a WinINet handle (session, connection or request): closed exactly once.
#pragma once
#include <windows.h>
#include <wininet.h>

#include <utility>

class InternetHandle {
 public:
  InternetHandle() = default;
  explicit InternetHandle(HINTERNET h) : h_(h) {}
  ~InternetHandle() { Reset(); }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  HINTERNET Get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }
  void Reset(HINTERNET h = nullptr) {
    if (h_) InternetCloseHandle(h_);
    h_ = h;
  }
  HINTERNET Release() { return std::exchange(h_, nullptr); }

 private:
  HINTERNET h_ = nullptr;
};
