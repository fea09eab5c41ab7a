#include "jobs/CutMeasure.h"

#include "core/MediaInfo.h"
#include "jobs/Recording.h"
#include "jobs/RecordingMedia.h"

std::optional<CutMeasure> CutMeasure::of(const RunRequest &request, const RecordingMedia &media)
{
    const std::optional<media::MediaInfo> &info = media.info();
    bool opened = false;
    const std::optional<QList<media::Span>> cuts =
        media::parseEdlCuts(Recording(request.recording).read(QStringLiteral("edl"), &opened));
    if (!opened || !cuts || !info)
        return std::nullopt;
    const double seconds = media.clockSeconds();
    const QList<media::Span> merged = media::normalisedCuts(*cuts, seconds);
    CutMeasure measure;
    measure.breaksCut = int(merged.size());
    // Chapters and a skip list keep the whole recording.
    const QList<media::Span> kept = request.mode == RunRequest::Mode::Cut ? media::keptSpans(merged, seconds)
                                                                          : QList<media::Span>{{0, seconds}};
    // The programme's length is its frames': where the clock leaps (a
    // re-tuned multiplex), a span of the clock holds far fewer of them.
    const media::PacketTimes &packets = media.packets();
    if (!packets.empty() && info->fps > 0) {
        qint64 frames = 0;
        for (const media::Span &span : kept)
            frames += media::framesIn(packets, info->videoStart + span.start, info->videoStart + span.end);
        measure.keptSeconds = double(frames) / info->fps;
    } else {
        measure.keptSeconds = media::totalLength(kept);
    }
    return measure;
}
