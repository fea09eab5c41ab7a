// What ffprobe says of a hostile file, a cut list and typed time text: the
// parsers never crash, and the arithmetic of a cut holds whatever they
// read (kept and cut spans add up to the recording, in order, disjoint).
#include "core/BreakList.h"
#include "core/MediaInfo.h"
#include "core/PacketTimes.h"

#include <QString>

#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const media::MediaInfo info = media::parseProbe(bytes);
    media::describe(info);
    if (!std::isfinite(info.fps) || info.fps < 0 || info.duration < 0)
        std::abort();
    const double seconds = info.seconds() > 0 && info.seconds() < 1e7 ? info.seconds() : 3600.0;
    if (const auto cuts = media::parseEdlCuts(bytes)) {
        const QList<media::Span> merged = media::normalisedCuts(*cuts, seconds);
        const QList<media::Span> kept = media::keptSpans(*cuts, seconds);
        if (std::abs(media::totalLength(merged) + media::totalLength(kept) - seconds) > 1e-6 * seconds + 1e-9)
            std::abort();
        for (int i = 1; i < merged.size(); ++i)
            if (merged.at(i).start <= merged.at(i - 1).end)
                std::abort();
        media::concatList(QStringLiteral("recording.ts"), kept, seconds, info.videoStart);
        // The same bytes as ffprobe's packet list, for both the recording
        // and the copy: what is expected never exceeds what is there.
        media::PacketTimes packets;
        media::addPacketLines(packets, bytes);
        media::finishPackets(packets);
        const media::Verdict v =
            media::verifyAgainstRecording(packets, info.videoStart, seconds, *cuts, packets, 25.0, true);
        if ((v.ok && !v.readable) || v.expectedFrames > packets.count() || v.expectedFrames < 0)
            std::abort();
        if (std::isnan(media::playingSeconds(packets)))
            std::abort();
    }
    media::scanFfmpegProgress(QString::fromUtf8(bytes));
    const std::optional<int> frames = breaks::framesFromText(QString::fromUtf8(bytes), 29.97f);
    if (frames && *frames < 0)
        std::abort();
    return 0;
}
