#include "core/StreamCheck.h"

#include <algorithm>
#include <cmath>

namespace media {

namespace {

bool judged(const QString &type)
{
    return type == QLatin1String("video") || type == QLatin1String("audio")
           || type == QLatin1String("subtitle");
}

const StreamInfo *firstVideo(const MediaInfo &info)
{
    for (const StreamInfo &s : info.streams)
        if (s.type == QLatin1String("video"))
            return &s;
    return nullptr;
}

QString ms(double seconds)
{
    return QString::number(std::abs(seconds), 'f', 2);
}

// "0.62 s before", "0.01 s after", "with"
QString placed(double offset)
{
    if (std::abs(offset) < 0.005)
        return QStringLiteral("together with");
    return QStringLiteral("%1 s %2").arg(ms(offset),
                                         offset < 0 ? QStringLiteral("before") : QStringLiteral("after"));
}

} // namespace

QString trackName(const MediaInfo &info, qsizetype place)
{
    const StreamInfo &s = info.streams.at(place);
    int number = 0;
    for (qsizetype i = 0; i <= place; ++i)
        if (info.streams.at(i).type == s.type)
            ++number;
    QString name = s.type == QLatin1String("audio")      ? QStringLiteral("sound track %1").arg(number)
                   : s.type == QLatin1String("subtitle") ? QStringLiteral("subtitles %1").arg(number)
                   : s.type == QLatin1String("video")    ? QStringLiteral("picture %1").arg(number)
                                                         : QStringLiteral("stream %1").arg(place + 1);
    QStringList about;
    if (!s.language.isEmpty())
        about << s.language;
    if (s.role == QLatin1String("visual_impaired"))
        about << QStringLiteral("audio description");
    else if (s.role == QLatin1String("hearing_impaired"))
        about << QStringLiteral("for the hard of hearing");
    else if (s.role == QLatin1String("clean_effects"))
        about << QStringLiteral("effects only");
    if (!about.isEmpty())
        name += QStringLiteral(" (%1)").arg(about.join(QStringLiteral(", ")));
    return name;
}

TrackCheck compareStreams(const MediaInfo &recording, const MediaInfo &copy)
{
    TrackCheck check;
    const bool labelled =
        copy.formatName == QLatin1String("mpegts") || copy.formatName.startsWith(QLatin1String("matroska"));
    QList<bool> taken(copy.streams.size(), false);
    QStringList lost;
    for (qsizetype r = 0; r < recording.streams.size(); ++r) {
        const StreamInfo &want = recording.streams.at(r);
        if (!judged(want.type))
            continue;
        qsizetype found = -1;
        for (qsizetype c = 0; c < copy.streams.size() && found < 0; ++c) {
            const StreamInfo &have = copy.streams.at(c);
            if (!taken.at(c) && have.type == want.type && have.codec == want.codec
                && (!labelled || (have.language == want.language && have.role == want.role)))
                found = c;
        }
        if (found < 0) {
            lost << trackName(recording, r);
            continue;
        }
        taken[found] = true;
        check.pairs.append({r, found});
    }
    if (!lost.isEmpty()) {
        const QString last = lost.takeLast();
        check.problem =
            QStringLiteral("missing ")
            + (lost.isEmpty() ? last : lost.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last);
    }
    return check;
}

QString soundOutOfStep(const MediaInfo &recording, const MediaInfo &copy, const QList<StreamPair> &pairs,
                       Edge start, Edge end, double limit)
{
    const StreamInfo *recordingVideo = firstVideo(recording);
    const StreamInfo *copyVideo = firstVideo(copy);
    if (!recordingVideo || !copyVideo)
        return QString();
    QString worst;
    double worstBy = limit;
    for (const StreamPair &pair : pairs) {
        const StreamInfo &sound = copy.streams.at(pair.copy);
        if (sound.type != QLatin1String("audio"))
            continue;
        const StreamInfo &original = recording.streams.at(pair.recording);
        const auto judge = [&](Edge edge, std::optional<double> StreamInfo::*at, const char *verb) {
            if (edge == Edge::NotJudged || !(sound.*at) || !(copyVideo->*at))
                return;
            const double offset = *(sound.*at) - *(copyVideo->*at);
            double expected = 0;
            if (edge == Edge::Recording) {
                // Unmeasured in the recording: nothing to hold the copy to.
                if (!(original.*at) || !(recordingVideo->*at))
                    return;
                expected = *(original.*at) - *(recordingVideo->*at);
            }
            // A stream copy leaves out the pictures before the recording's
            // first key frame, which cannot be shown, while its sound starts
            // where the recording's does: sound that starts earlier than the
            // picture by more than in the recording is that, not a drift.
            if (edge == Edge::Recording && at == &StreamInfo::start && offset < expected)
                return;
            const double by = std::abs(offset - expected);
            if (!(by > worstBy))
                return;
            worstBy = by;
            worst = QStringLiteral("out of step: %1 %2 %3 its picture (%4)")
                        .arg(trackName(recording, pair.recording), QLatin1String(verb), placed(offset),
                             edge == Edge::Recording
                                 ? QStringLiteral("in the recording, %1 it").arg(placed(expected))
                                 : QStringLiteral("where the recording plays both on"));
        };
        judge(start, &StreamInfo::start, "starts");
        judge(end, &StreamInfo::end, "ends");
    }
    return worst;
}

QList<int> decodeErrorsByInput(const QByteArray &ffmpegErrors, int inputs)
{
    QList<int> counts(std::max(0, inputs), 0);
    static const QByteArray kMark("Error while decoding stream #");
    for (qsizetype at = ffmpegErrors.indexOf(kMark); at >= 0; at = ffmpegErrors.indexOf(kMark, at + 1)) {
        qsizetype end = at + kMark.size();
        int input = 0;
        bool digits = false;
        while (end < ffmpegErrors.size() && ffmpegErrors.at(end) >= '0' && ffmpegErrors.at(end) <= '9'
               && input < 100000) {
            input = input * 10 + (ffmpegErrors.at(end++) - '0');
            digits = true;
        }
        if (digits && input < counts.size())
            ++counts[input];
    }
    return counts;
}

QString soundBrokenAtCuts(const QList<int> &copyErrors, const QList<int> &before, const QList<int> &after)
{
    for (qsizetype k = 0; k < copyErrors.size() && k < before.size() && k < after.size(); ++k) {
        // A cut through a sound frame breaks that frame: ffmpeg's own copy
        // of an MP2 program stream does, and a player passes over it.
        const int allowed = std::max(before.at(k), after.at(k)) + 1;
        if (copyErrors.at(k) > allowed)
            return QStringLiteral(
                       "sound that fails to decode at cut %1 (%2 frames, against %3 in the recording)")
                .arg(k + 1)
                .arg(copyErrors.at(k))
                .arg(allowed - 1);
    }
    return QString();
}

} // namespace media
