#include "core/StreamCheck.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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

namespace {
// Within one sound frame of the picture (MP2's is 24 ms, AC-3's 32 ms).
constexpr double kWithPicture = 0.05;
} // namespace

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
            // A cut to the picture begins the sound with the first picture
            // it can show, the recording's first key frame, where both
            // play; that the recording's sound began before a picture it
            // could not show says nothing of the copy.
            if (edge == Edge::Recording && at == &StreamInfo::start && std::abs(offset) <= kWithPicture)
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

QList<HashedPacket> parseHashedPackets(const QByteArray &json)
{
    QList<HashedPacket> packets;
    const QJsonDocument doc = QJsonDocument::fromJson(json);
    for (const QJsonValue &value : doc.object().value(QStringLiteral("packets")).toArray()) {
        const QJsonObject p = value.toObject();
        const QString hash = p.value(QStringLiteral("data_hash")).toString();
        bool ok = false;
        const double time = p.value(QStringLiteral("pts_time")).toString().toDouble(&ok);
        const int stream = p.value(QStringLiteral("stream_index")).toInt(-1);
        if (ok && std::isfinite(time) && !hash.isEmpty() && stream >= 0)
            packets.append(HashedPacket{stream, time, hash});
    }
    return packets;
}

QList<CutWindows> cutWindows(const QList<Span> &kept, double copyStart, double recordingStart)
{
    // Three seconds of the copy; the recording's wider on either side by
    // more than mencoder's copies gain or lose by a second cut.
    constexpr double kRead = 3;
    constexpr double kSlack = 2.5;
    QList<CutWindows> windows;
    for (const CutPlace &cut : cutPlaces(kept)) {
        const Span &next = cut.after;
        // A short span is followed by the next cut's: its packets are not
        // near this one's in the recording.
        const double length = std::min(kRead, next.end - next.start);
        windows.append(CutWindows{
            {copyStart + cut.inCopy, copyStart + cut.inCopy + length},
            {recordingStart + next.start - kSlack, recordingStart + next.start + length + kSlack}});
    }
    return windows;
}

std::optional<double> packetShift(const QList<HashedPacket> &copy, int copyStream, Span copyWindow,
                                  const QList<HashedPacket> &recording, int recordingStream,
                                  Span recordingWindow, double near)
{
    const auto inside = [](double t, const Span &w) { return t >= w.start && t <= w.end; };
    QHash<QString, QList<double>> found;
    for (const HashedPacket &p : recording)
        if (p.stream == recordingStream && inside(p.time, recordingWindow))
            found[p.hash].append(p.time);
    // Each packet found votes for the shifts it is found at, its vote
    // split among them: a packet found once (a picture, a sound that does
    // not repeat) counts fully, one of silence found at every place counts
    // for next to nothing.
    std::vector<std::pair<double, double>> votes;
    for (const HashedPacket &p : copy) {
        if (p.stream != copyStream || !inside(p.time, copyWindow))
            continue;
        const QList<double> times = found.value(p.hash);
        for (const double t : times)
            votes.emplace_back(p.time - t, 1.0 / double(times.size()));
    }
    std::sort(votes.begin(), votes.end());
    // Times are on a 90 kHz clock, printed to the microsecond: one shift
    // is a few microseconds wide.
    constexpr double kSame = 0.002;
    constexpr size_t kFewest = 3;
    double best = 0;
    std::optional<double> shift;
    for (size_t i = 0, j = 0; i < votes.size(); ++i) {
        double weight = 0;
        while (j < votes.size() && votes[j].first - votes[i].first <= kSame)
            ++j;
        for (size_t v = i; v < j; ++v)
            weight += votes[v].second;
        const size_t count = j - i;
        const double middle = votes[i + (count - 1) / 2].first;
        const bool tie = shift && std::abs(weight - best) < 1e-9;
        if (count >= kFewest
            && (!shift || (weight > best && !tie)
                || (tie && std::abs(middle - near) < std::abs(*shift - near)))) {
            best = std::max(best, weight);
            shift = middle;
        }
    }
    return shift;
}

namespace {

// The longest stretch between two packets of the stream read in `read`
// that reaches into `reach`. Where the read starts or ends says nothing: a
// probe that seeks to a place on the picture's clock reads the sound from
// as far on as the muxer carries it ahead of its picture, and stops at the
// first picture past the end.
double longestSilence(const QList<HashedPacket> &packets, int stream, Span read, Span reach)
{
    QList<double> times;
    for (const HashedPacket &p : packets)
        if (p.stream == stream && p.time >= read.start && p.time <= read.end)
            times << p.time;
    std::sort(times.begin(), times.end());
    double longest = 0;
    for (qsizetype i = 1; i < times.size(); ++i)
        if (times.at(i) > reach.start && times.at(i - 1) < reach.end)
            longest = std::max(longest, times.at(i) - times.at(i - 1));
    return longest;
}

} // namespace

SoundAtCuts soundMovedAtCuts(const MediaInfo &recording, const MediaInfo &copy,
                             const QList<StreamPair> &pairs, const QList<HashedPacket> &recordingPackets,
                             const QList<HashedPacket> &copyPackets, const QList<CutWindows> &windows,
                             double limit)
{
    SoundAtCuts result;
    const auto video = std::find_if(pairs.cbegin(), pairs.cend(), [&](const StreamPair &p) {
        return recording.streams.at(p.recording).type == QLatin1String("video");
    });
    if (video == pairs.cend())
        return result;
    const auto shiftOf = [&](const StreamPair &pair, const CutWindows &w, double near) {
        return packetShift(copyPackets, copy.streams.at(pair.copy).index, w.copy, recordingPackets,
                           recording.streams.at(pair.recording).index, w.recording, near);
    };
    const qsizetype tracks =
        std::count_if(recording.streams.cbegin(), recording.streams.cend(),
                      [](const StreamInfo &s) { return s.type == QLatin1String("audio"); });
    double worstBy = limit;
    for (qsizetype k = 0; k < windows.size(); ++k) {
        const CutWindows &w = windows.at(k);
        // The copy's window starts where the recording's would without the
        // slack on either side.
        const double slack = ((w.recording.end - w.recording.start) - (w.copy.end - w.copy.start)) / 2;
        const std::optional<double> picture = shiftOf(*video, w, w.copy.start - (w.recording.start + slack));
        for (const StreamPair &pair : pairs) {
            if (recording.streams.at(pair.recording).type != QLatin1String("audio"))
                continue;
            const QString name = tracks > 1 ? trackName(recording, pair.recording) : QStringLiteral("sound");
            // Sound left out at a join moves nothing that remains: its
            // packets are measured in step around a hole.
            const int copyIndex = copy.streams.at(pair.copy).index;
            const int recordingIndex = recording.streams.at(pair.recording).index;
            // A hole a join leaves starts or ends there; near the read's
            // end, the sound a muxer carries behind its picture is not read.
            const double reach = std::min(1.0, (w.copy.end - w.copy.start) / 2);
            const double hole =
                longestSilence(copyPackets, copyIndex, {w.copy.start - kReadBeforeCut, w.copy.end},
                               {w.copy.start - 0.1, w.copy.start + reach});
            const double own = longestSilence(recordingPackets, recordingIndex, w.recording, w.recording);
            if (hole > own + limit && hole - own > worstBy) {
                worstBy = hole - own;
                result.problem =
                    QStringLiteral("%1 missing for %2 s at cut %3").arg(name, ms(hole)).arg(k + 1);
            }
            const std::optional<double> sound = picture ? shiftOf(pair, w, *picture) : std::nullopt;
            if (!sound) {
                result.unmeasured << QStringLiteral("%1 at cut %2").arg(name).arg(k + 1);
                continue;
            }
            const double by = *sound - *picture;
            result.measured << QStringLiteral("%1 at cut %2: %3 s").arg(name).arg(k + 1).arg(by, 0, 'f', 3);
            if (!(std::abs(by) > worstBy))
                continue;
            worstBy = std::abs(by);
            result.problem =
                QStringLiteral("%1 %2 s %3 its picture after cut %4")
                    .arg(name, ms(by), by > 0 ? QStringLiteral("behind") : QStringLiteral("ahead of"))
                    .arg(k + 1);
        }
    }
    return result;
}

} // namespace media
