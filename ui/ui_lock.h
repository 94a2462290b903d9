// The toolkit's one lock. Control state is read and written under it, so that worker threads may set
// texts, images, tooltips and states while the window thread lays out and paints. It is recursive (a
// critical section): a notification handler may call setters while the window thread holds it.
// Never send a window message while holding it.
#pragma once
#include "base/simple_lock.h"

namespace DuiLib {

// Made at first use and never destroyed: worker threads may still set texts while the process ends.
SimpleLock& UiLock();

class UiLockGuard {
 public:
  UiLockGuard() : hold_(UiLock()) {}

 private:
  LockHolder hold_;
};

}  // namespace DuiLib
