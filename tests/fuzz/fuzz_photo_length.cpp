// The photo length rule over arbitrary photo bytes.
#include "scan/photo_length.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    const std::uint64_t length = photo_length(data, size);
    if (length > size)
        std::abort();
    if (length != 0 && (length < 2 || data[length - 2] != 0xFF || data[length - 1] != 0xD9))
        std::abort();
    return 0;
}
