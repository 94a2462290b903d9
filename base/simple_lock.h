// A critical section that is ready from construction, and a scoped holder for it. Used where our own
// shared state needs guarding (the shipped build has no std::mutex: it uses the win32 thread model).
#pragma once
#include <windows.h>

class SimpleLock {
 public:
  SimpleLock() { InitializeCriticalSection(&cs_); }
  ~SimpleLock() { DeleteCriticalSection(&cs_); }
  SimpleLock(const SimpleLock&) = delete;
  SimpleLock& operator=(const SimpleLock&) = delete;
  void Enter() { EnterCriticalSection(&cs_); }
  void Leave() { LeaveCriticalSection(&cs_); }

 private:
  CRITICAL_SECTION cs_;
};

class LockHolder {
 public:
  explicit LockHolder(SimpleLock& l) : l_(l) { l_.Enter(); }
  ~LockHolder() { l_.Leave(); }
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;

 private:
  SimpleLock& l_;
};
