// The EDL counter.
#include "core/ResultParsers.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<int> n = results::countEdlEntries(text);
    if (n && (*n < 0 || *n != text.count('\n')))
        std::abort();
    return 0;
}
