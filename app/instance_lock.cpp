#include "app/instance_lock.h"

#include "platform/platform.h"

namespace {
constexpr wchar_t kInstanceLockName[] = L"Vel2LauncherLock";
constexpr int kLockBudgetMs = 1000;
constexpr int kLockRetryMs = 100;
}  // namespace

bool AcquireInstanceLock() {
    for (int budget = kLockBudgetMs; budget > 0; budget -= kLockRetryMs) {
        if (platform::TryNamedLock(kInstanceLockName) != platform::LockResult::kHeldElsewhere)
            return true;
        platform::SleepMs(kLockRetryMs);
    }
    return false;
}
