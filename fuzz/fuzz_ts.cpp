// A transport stream's PES headers read from hostile bytes, in chunks cut
// anywhere: never a crash, never a time that is not a number or a
// turn of the clock back, and the same packets however the bytes
// were cut.
#include "core/TsScan.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const int pid = (data[0] << 8 | data[1]) & 0x1fff;
    const QByteArrayView bytes(reinterpret_cast<const char *>(data + 2), qsizetype(size - 2));
    TsScan whole(pid);
    whole.feed(bytes);
    TsScan cut(pid);
    const qsizetype step = 1 + qsizetype(size % 37);
    for (qsizetype at = 0; at < bytes.size(); at += step)
        cut.feed(bytes.sliced(at, std::min(step, bytes.size() - at)));
    if (whole.packets().times != cut.packets().times)
        std::abort();
    // A clock that starts in the last minute before its 33-bit wrap reads
    // negative until it goes round (as ffmpeg reads it); never a turn back.
    for (double t : whole.packets().times)
        if (!std::isfinite(t) || t < -double(qint64(1) << 33) / 90000)
            std::abort();
    return 0;
}
