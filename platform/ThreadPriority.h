#pragma once

// Lowers the calling thread's priority: where it shares a processor with the program's other
// threads (the DNS server's), they come first, and it still gets enough time to keep up.
void yieldToOtherThreads();
