// The frame-list parser and the sampling that follows from it.
#include "core/ResultParsers.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    const results::FrameList f = results::parseFrameList(text);
    for (const Commercial &c : f.commercials)
        if (c.length < results::kMinCommercialFrames)
            std::abort();
    if (!f.found && (!f.commercials.isEmpty() || f.totalRows != 0))
        std::abort();
    const results::Sampling s = results::samplingFor(f.totalRows);
    if (s.pointCount < 0 || s.pointCount > results::kMaxChartPoints || !(s.chunkSize >= 1.0f))
        std::abort();
    return 0;
}
