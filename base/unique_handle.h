// Owning wrappers for Win32 handles: each closes its handle exactly once, when it goes out of scope.
#pragma once
#include <windows.h>
#include <utility>

// Closes kernel object handles (files, devices, processes, threads, events).
struct HandleCloser {
  static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { CloseHandle(h); }
};
// Closes FindFirstFileW enumerations.
struct FindCloser {
  static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { FindClose(h); }
};
// Closes FindFirstVolumeW enumerations.
struct FindVolumeCloser {
  static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { FindVolumeClose(h); }
};

template <typename Closer>
class BasicUniqueHandle {
 public:
  BasicUniqueHandle() = default;
  explicit BasicUniqueHandle(HANDLE h) : h_(h) {}
  ~BasicUniqueHandle() { Reset(); }
  BasicUniqueHandle(const BasicUniqueHandle&) = delete;
  BasicUniqueHandle& operator=(const BasicUniqueHandle&) = delete;
  BasicUniqueHandle(BasicUniqueHandle&& o) noexcept : h_(o.Release()) {}
  BasicUniqueHandle& operator=(BasicUniqueHandle&& o) noexcept {
    if (this != &o) Reset(o.Release());
    return *this;
  }
  HANDLE Get() const { return h_; }
  bool Valid() const { return Closer::IsValid(h_); }
  explicit operator bool() const { return Valid(); }
  HANDLE Release() { return std::exchange(h_, nullptr); }
  void Reset(HANDLE h = nullptr) {
    if (Closer::IsValid(h_)) Closer::Close(h_);
    h_ = h;
  }

 private:
  HANDLE h_ = nullptr;
};

using UniqueHandle = BasicUniqueHandle<HandleCloser>;
using UniqueFindHandle = BasicUniqueHandle<FindCloser>;
using UniqueFindVolumeHandle = BasicUniqueHandle<FindVolumeCloser>;

// Frees a module loaded with LoadLibraryW.
class UniqueModule {
 public:
  UniqueModule() = default;
  explicit UniqueModule(HMODULE m) : m_(m) {}
  ~UniqueModule() { Reset(); }
  UniqueModule(const UniqueModule&) = delete;
  UniqueModule& operator=(const UniqueModule&) = delete;
  UniqueModule(UniqueModule&& o) noexcept : m_(std::exchange(o.m_, nullptr)) {}
  HMODULE Get() const { return m_; }
  explicit operator bool() const { return m_ != nullptr; }
  void Reset(HMODULE m = nullptr) {
    if (m_) FreeLibrary(m_);
    m_ = m;
  }

 private:
  HMODULE m_ = nullptr;
};
