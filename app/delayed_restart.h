// The automatic restart that follows the reinstall's ready question: a worker waits on an event for the
// delay and runs the restart when nobody cancelled it. Cancel ends the wait cleanly.
#pragma once
#include <windows.h>

#include <functional>

#include "base/unique_handle.h"

class DelayedRestart {
 public:
  DelayedRestart() = default;
  ~DelayedRestart();
  DelayedRestart(const DelayedRestart&) = delete;
  DelayedRestart& operator=(const DelayedRestart&) = delete;

  // Arms the timer: after delayMs, unless cancelled, onElapsed runs on the worker thread. A timer armed
  // before is cancelled first. Answers false when the worker cannot be started.
  bool Start(DWORD delayMs, std::function<void()> onElapsed);
  // Cancels a waiting timer and waits for its worker to end. Answers true when the action had not run.
  bool Cancel();
  // True once the action has run.
  bool Fired() const;

 private:
  static DWORD WINAPI Worker(LPVOID self);
  UniqueHandle cancel_;
  UniqueHandle thread_;
  DWORD delayMs_ = 0;
  std::function<void()> action_;
  volatile LONG fired_ = 0;
};
