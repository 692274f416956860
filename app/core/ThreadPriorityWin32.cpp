#include "app/core/ThreadPriority.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

void LowerOwnPriority() {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

void RaiseOwnPriority() {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
}
