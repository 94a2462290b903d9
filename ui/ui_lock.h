// The toolkit's one lock. Control state is read and written under it, so that worker threads may set
// texts, images, tooltips and states while the window thread lays out and paints. It is recursive (a
// critical section): a notification handler may call setters while the window thread holds it.
// Never send a window message while holding it.
#pragma once
#include <windows.h>

namespace DuiLib {

CRITICAL_SECTION& UiLockSection();

class UiLockGuard {
 public:
  UiLockGuard() { EnterCriticalSection(&UiLockSection()); }
  ~UiLockGuard() { LeaveCriticalSection(&UiLockSection()); }
  UiLockGuard(const UiLockGuard&) = delete;
  UiLockGuard& operator=(const UiLockGuard&) = delete;
};

}  // namespace DuiLib
