#include "platform/ThreadPriority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

void yieldToOtherThreads()
{
    // On Linux a nice value belongs to the thread named by its id, not to the whole process.
    setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), 10);
}
