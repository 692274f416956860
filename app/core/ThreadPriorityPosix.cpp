#include "app/core/ThreadPriority.h"

#ifdef __linux__
#include <sys/resource.h>
#endif

void LowerOwnPriority() {
#ifdef __linux__
    // The nice value is per thread on Linux; elsewhere it would slow the whole program.
    setpriority(PRIO_PROCESS, 0, getpriority(PRIO_PROCESS, 0) + 1);
#endif
}

void RaiseOwnPriority() {
    // An unprivileged process may not raise a thread above its start: the job keeps its own.
}
