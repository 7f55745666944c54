// A host that hands the module the archive as a memory image.
#include "fuzz/drivers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    driveMemoryImage(data, size);
    return 0;
}
