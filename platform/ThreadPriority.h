#pragma once

// Lowers the calling thread's priority to the least, so that it takes the processor only when the
// program's other threads (the DNS server's) do not need it.
void yieldToOtherThreads();
