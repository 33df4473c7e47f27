// libFuzzer target: backup image validation and the restore conversions.
#include "fuzz/ConfigImageFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ConfigImageFuzz::run(data, size);
    return 0;
}
