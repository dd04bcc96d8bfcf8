// The libFuzzer entry point; FUZZ_TARGET names the body in FuzzTargets.h that this executable runs.
#include "fuzz/FuzzTargets.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (!FuzzTargets::FUZZ_TARGET(
            QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size))))
        __builtin_trap();
    return 0;
}
