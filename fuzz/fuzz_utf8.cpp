// Decoding tool output read by read: however the bytes are split, the text
// is the same as decoding them at once.
#include "process/Utf8Tail.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const char *bytes = reinterpret_cast<const char *>(data) + 1;
    const qsizetype n = qsizetype(size) - 1;
    const int step = 1 + data[0] % 7;
    Utf8Tail tail;
    QString pieces;
    for (qsizetype at = 0; at < n; at += step)
        pieces += tail.decode(bytes + at, qMin<qsizetype>(step, n - at));
    pieces += tail.flush();
    if (pieces != QString::fromUtf8(bytes, n))
        std::abort();
    return 0;
}
