// The EDL counter.
#include "core/ResultParsers.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<int> n = results::countEdlEntries(text);
    // No more breaks than rows, the last one counting without its line feed.
    if (n && (*n < 0 || *n > text.count('\n') + 1))
        std::abort();
    return 0;
}
