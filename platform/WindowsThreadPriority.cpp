#include "platform/ThreadPriority.h"

#include <windows.h>

void yieldToOtherThreads()
{
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_LOWEST);
}
