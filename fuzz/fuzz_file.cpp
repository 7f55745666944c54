// A host that hands the module the archive as a file: a handle to probe, then its name.
#include "fuzz/drivers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    driveFile(data, size);
    return 0;
}
