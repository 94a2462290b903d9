#include "app/delayed_restart.h"

DelayedRestart::~DelayedRestart() { Cancel(); }

bool DelayedRestart::Start(DWORD delayMs, std::function<void()> onElapsed) {
  Cancel();
  cancel_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!cancel_) return false;
  delayMs_ = delayMs;
  action_ = std::move(onElapsed);
  InterlockedExchange(&fired_, 0);
  thread_.Reset(CreateThread(nullptr, 0, &DelayedRestart::Worker, this, 0, nullptr));
  return thread_.Valid();
}

bool DelayedRestart::Cancel() {
  if (!thread_) return InterlockedCompareExchange(&fired_, 0, 0) == 0;
  SetEvent(cancel_.Get());
  WaitForSingleObject(thread_.Get(), INFINITE);
  thread_.Reset();
  cancel_.Reset();
  return InterlockedCompareExchange(&fired_, 0, 0) == 0;
}

bool DelayedRestart::Fired() const { return InterlockedCompareExchange(const_cast<LONG*>(&fired_), 0, 0) != 0; }

DWORD WINAPI DelayedRestart::Worker(LPVOID param) {
  auto* self = static_cast<DelayedRestart*>(param);
  if (WaitForSingleObject(self->cancel_.Get(), self->delayMs_) != WAIT_TIMEOUT) return 0;
  InterlockedExchange(&self->fired_, 1);
  if (self->action_) self->action_();
  return 0;
}
