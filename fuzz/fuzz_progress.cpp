// The progress-chunk scanner on any text a tool may print.
#include "core/ResultParsers.h"

#include <QString>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString chunk = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const results::ProgressScan scan = results::scanProgressChunk(chunk);
    // A value comes only from a progress chunk, and is at most four digits.
    if (scan.percent && (!scan.isProgress || *scan.percent < 0 || *scan.percent > 9999))
        std::abort();
    return 0;
}
