#include "core/MediaInfo.h"

#include "core/TimeText.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace media {

namespace {

double number(const QJsonValue &v)
{
    // ffprobe writes most numbers as strings ("362.028333").
    bool ok = false;
    const double d = v.isString() ? v.toString().toDouble(&ok) : v.toDouble();
    if (v.isString() && !ok)
        return 0;
    return std::isfinite(d) ? d : 0;
}

// "30000/1001" as a number; 0 for "0/0" and anything unreadable.
double rate(const QString &text)
{
    const qsizetype slash = text.indexOf(QLatin1Char('/'));
    if (slash < 0)
        return text.toDouble();
    bool okNum = false, okDen = false;
    const double num = text.left(slash).toDouble(&okNum);
    const double den = text.mid(slash + 1).toDouble(&okDen);
    if (!okNum || !okDen || den <= 0 || num <= 0)
        return 0;
    return num / den;
}

QString codecTitle(const QString &codec)
{
    static const struct
    {
        const char *name;
        const char *title;
    } kTitles[] = {
        {"mpeg1video", "MPEG-1"}, {"mpeg2video", "MPEG-2"}, {"h264", "H.264"},   {"hevc", "HEVC"},
        {"mp1", "MP1"},           {"mp2", "MP2"},           {"mp3", "MP3"},      {"ac3", "AC-3"},
        {"eac3", "E-AC-3"},       {"aac", "AAC"},           {"aac_latm", "AAC"}, {"dts", "DTS"},
        {"opus", "Opus"},
    };
    for (const auto &t : kTitles)
        if (codec == QLatin1String(t.name))
            return QString::fromLatin1(t.title);
    return codec.toUpper();
}

QString fpsText(double fps)
{
    // 29.97 and 59.94 as broadcasters say them, 25 not as "25.00".
    QString text = QString::number(fps, 'f', 2);
    while (text.endsWith(QLatin1Char('0')))
        text.chop(1);
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text;
}

bool isMpegVideo(const QString &codec)
{
    return codec == QLatin1String("mpeg2video") || codec == QLatin1String("mpeg1video");
}

bool programStreamAudio(const QString &codec)
{
    static const char *kAllowed[] = {"mp1", "mp2", "mp3", "ac3", "dts", "pcm_dvd", "pcm_s16be"};
    for (const char *a : kAllowed)
        if (codec == QLatin1String(a))
            return true;
    return false;
}

// The one role a transport stream's language descriptor carries, in the
// order ffmpeg's muxer picks it when several are set.
constexpr const char *kRoles[] = {"clean_effects", "hearing_impaired", "visual_impaired"};

QString roleOf(const QJsonObject &disposition)
{
    for (const char *role : kRoles)
        if (disposition.value(QLatin1String(role)).toInt() == 1)
            return QString::fromLatin1(role);
    return QString();
}

} // namespace

MediaInfo parseProbe(const QByteArray &json)
{
    MediaInfo info;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return info;
    const QJsonObject root = doc.object();
    const QJsonObject format = root.value(QStringLiteral("format")).toObject();
    const QJsonArray streams = root.value(QStringLiteral("streams")).toArray();
    if (format.isEmpty() && streams.isEmpty())
        return info;
    info.parsed = true;
    info.formatName = format.value(QStringLiteral("format_name")).toString();
    info.duration = std::max(0.0, number(format.value(QStringLiteral("duration"))));
    const QJsonValue formatStart = format.value(QStringLiteral("start_time"));
    for (const QJsonValue &value : root.value(QStringLiteral("chapters")).toArray()) {
        const QJsonObject c = value.toObject();
        info.chapters.append(
            {number(c.value(QStringLiteral("start_time"))), number(c.value(QStringLiteral("end_time"))),
             c.value(QStringLiteral("tags")).toObject().value(QStringLiteral("title")).toString()});
    }
    // ffprobe's stream index to the place in info.streams.
    QHash<int, qsizetype> byIndex;
    qsizetype videoAt = -1;
    for (const QJsonValue &value : streams) {
        const QJsonObject s = value.toObject();
        const QString type = s.value(QStringLiteral("codec_type")).toString();
        const QString codec = s.value(QStringLiteral("codec_name")).toString();
        const QJsonObject disposition = s.value(QStringLiteral("disposition")).toObject();
        // Cover art and thumbnails are pictures, not the programme.
        if (type == QLatin1String("video") && disposition.value(QStringLiteral("attached_pic")).toInt() == 1)
            continue;
        StreamInfo stream{
            type,
            codec,
            s.value(QStringLiteral("tags")).toObject().value(QStringLiteral("language")).toString(),
            roleOf(disposition),
            std::nullopt,
            std::nullopt};
        // "und" is how a muxer says it was told no language.
        if (stream.language == QLatin1String("und"))
            stream.language.clear();
        const QJsonValue start = s.value(QStringLiteral("start_time"));
        if (start.isString() && start.toString() != QLatin1String("N/A"))
            stream.start = number(start);
        stream.index = s.value(QStringLiteral("index")).toInt(-1);
        byIndex.insert(stream.index, info.streams.size());
        info.streams.append(stream);
        if (type == QLatin1String("video") && !info.hasVideo && !codec.isEmpty()) {
            info.hasVideo = true;
            videoAt = info.streams.size() - 1;
            info.videoCodec = codec;
            info.width = s.value(QStringLiteral("width")).toInt();
            info.height = s.value(QStringLiteral("height")).toInt();
            info.fps = rate(s.value(QStringLiteral("r_frame_rate")).toString());
            const double avg = rate(s.value(QStringLiteral("avg_frame_rate")).toString());
            if ((info.fps <= 0 || info.fps > 300) && avg > 0)
                info.fps = avg;
            if (info.fps > 300)
                info.fps = 0;
            info.videoStart = number(s.value(QStringLiteral("start_time")));
            // "0x100": the PID of a stream in a transport stream.
            bool pidOk = false;
            const int pid = s.value(QStringLiteral("id")).toString().toInt(&pidOk, 16);
            if (pidOk && pid >= 0 && pid < 0x2000)
                info.videoPid = pid;
            info.videoDuration = std::max(0.0, number(s.value(QStringLiteral("duration"))));
            const QJsonValue packets = s.value(QStringLiteral("nb_read_packets"));
            if (!packets.isUndefined())
                info.videoPackets = qint64(std::clamp(number(packets), 0.0, 1e15));
        } else if (type == QLatin1String("audio") && !codec.isEmpty()) {
            info.audio.append({codec, s.value(QStringLiteral("channels")).toInt(),
                               s.value(QStringLiteral("channel_layout")).toString()});
        } else if (type == QLatin1String("subtitle")) {
            ++info.subtitleStreams;
        }
    }
    double firstKey = std::numeric_limits<double>::quiet_NaN();
    for (const QJsonValue &value : root.value(QStringLiteral("packets")).toArray()) {
        const QJsonObject p = value.toObject();
        const auto at = byIndex.constFind(p.value(QStringLiteral("stream_index")).toInt(-1));
        const QJsonValue pts = p.value(QStringLiteral("pts_time"));
        bool ok = false;
        const double time = pts.toString().toDouble(&ok);
        if (at == byIndex.cend() || !ok || !std::isfinite(time))
            continue;
        if (p.contains(QStringLiteral("flags"))) {
            if (std::isnan(firstKey) && *at == videoAt
                && p.value(QStringLiteral("flags")).toString().startsWith(u'K'))
                firstKey = time;
            continue;
        }
        const double end = time + std::max(0.0, number(p.value(QStringLiteral("duration_time"))));
        std::optional<double> &known = info.streams[*at].end;
        known = known ? std::max(*known, end) : end;
    }
    // Without the container's own, its picture's start stands in.
    info.start = formatStart.isString() && formatStart.toString() != QLatin1String("N/A")
                     ? number(formatStart)
                     : info.videoStart;
    // A recording tuned in mid-group: the H.264 and MPEG-2 decoders show
    // nothing before its first key frame, and the detector counts from there
    // (measured with comskip and ffmpeg); the HEVC decoder shows the pictures
    // before it, and the detector counts them. An earlier key frame is a
    // clock gone round.
    if (shownFromKeyFrame(info.videoCodec) && firstKey > info.videoStart
        && firstKey - info.videoStart < kHeadSeconds)
        info.videoStart = firstKey;
    return info;
}

bool shownFromKeyFrame(const QString &codec)
{
    return codec == QLatin1String("h264") || codec == QLatin1String("mpeg2video")
           || codec == QLatin1String("mpeg1video");
}

QStringList dispositionOptions(const MediaInfo &recording)
{
    QStringList options;
    int audio = 0;
    int subtitle = 0;
    for (const StreamInfo &s : recording.streams) {
        const bool isAudio = s.type == QLatin1String("audio");
        if (!isAudio && s.type != QLatin1String("subtitle"))
            continue;
        const int n = isAudio ? audio++ : subtitle++;
        if (!s.role.isEmpty())
            options << QStringLiteral("-disposition:%1:%2")
                           .arg(isAudio ? QLatin1Char('a') : QLatin1Char('s'))
                           .arg(n)
                    << s.role;
    }
    return options;
}

QString describe(const MediaInfo &info)
{
    if (!info.hasVideo)
        return QString();
    QStringList parts;
    QString video = codecTitle(info.videoCodec);
    if (info.width > 0 && info.height > 0)
        video += QStringLiteral(" %1×%2").arg(info.width).arg(info.height);
    if (info.fps > 0)
        video += QStringLiteral(" %1 fps").arg(fpsText(info.fps));
    parts << video;
    QStringList sounds;
    for (const AudioStream &a : info.audio) {
        QString sound = codecTitle(a.codec);
        if (!a.layout.isEmpty())
            sound += QLatin1Char(' ') + a.layout;
        else if (a.channels > 0)
            sound += QStringLiteral(" %1 ch").arg(a.channels);
        sounds << sound;
    }
    if (!sounds.isEmpty())
        parts << sounds.join(QStringLiteral(", "));
    if (info.seconds() > 0)
        parts << timeText(info.seconds(), true);
    return parts.join(QStringLiteral(" · "));
}

QString cutterName(Cutter cutter)
{
    return cutter == Cutter::Mencoder ? QStringLiteral("mencoder") : QStringLiteral("ffmpeg");
}

Cutter cutterFor(const MediaInfo &info, bool mencoderAsked, bool frameExact)
{
    if ((frameExact && !mencoderAsked) || !isMpegVideo(info.videoCodec))
        return Cutter::Ffmpeg;
    // mencoder copies one sound track and no subtitles: a second language
    // or the subtitles would be lost.
    if (info.audio.size() > 1 || info.subtitleStreams > 0)
        return Cutter::Ffmpeg;
    for (const AudioStream &a : info.audio)
        if (a.codec != QLatin1String("mp2") && a.codec != QLatin1String("ac3"))
            return Cutter::Ffmpeg;
    return Cutter::Mencoder;
}

Container containerFor(const MediaInfo &info, Cutter cutter)
{
    if (cutter == Cutter::Mencoder)
        return Container::ProgramStream;
    if (info.formatName == QLatin1String("mpegts"))
        return Container::TransportStream;
    // A program stream, or another container (dvr-ms is ASF): a program
    // stream where it can hold every audio stream, else a transport stream.
    for (const AudioStream &a : info.audio)
        if (!programStreamAudio(a.codec))
            return Container::TransportStream;
    // Nor has it a place for subtitles a broadcast sends, or for a
    // language or a track's role.
    if (info.subtitleStreams > 0)
        return Container::TransportStream;
    for (const StreamInfo &s : info.streams)
        if (!s.language.isEmpty() || !s.role.isEmpty())
            return Container::TransportStream;
    if (info.formatName == QLatin1String("mpeg") || isMpegVideo(info.videoCodec))
        return Container::ProgramStream;
    return Container::TransportStream;
}

QString muxerName(Container container)
{
    switch (container) {
    case Container::ProgramStream:
        // An MPEG-2 program stream, as recorders write them: ffmpeg's
        // "mpeg" writes MPEG-1 system packs, in which small pictures packed
        // several to a packet were read back 0.1 s out of step with their
        // sound after a join.
        return QStringLiteral("vob");
    case Container::TransportStream:
        return QStringLiteral("mpegts");
    case Container::Matroska:
        break;
    }
    return QStringLiteral("matroska");
}

QString extensionFor(Container container, const QString &recordingExtension)
{
    const QString ext = recordingExtension.toLower();
    if (container == Container::Matroska)
        return QStringLiteral("mkv");
    if (container == Container::ProgramStream)
        return ext == QLatin1String("mpg") || ext == QLatin1String("mpeg") || ext == QLatin1String("vob")
                   ? recordingExtension
                   : QStringLiteral("mpg");
    return ext == QLatin1String("ts") || ext == QLatin1String("tp") || ext == QLatin1String("m2ts")
                   || ext == QLatin1String("mts")
               ? recordingExtension
               : QStringLiteral("ts");
}

std::optional<double> scanFfmpegProgress(QStringView chunk)
{
    static constexpr QStringView kKey = u"out_time_us=";
    std::optional<double> found;
    qsizetype at = chunk.lastIndexOf(kKey);
    while (at >= 0) {
        const qsizetype from = at + kKey.size();
        qsizetype end = from;
        while (end < chunk.size() && chunk.at(end).isDigit())
            ++end;
        // A value is complete only when its line is.
        if (end > from && end < chunk.size() && (chunk.at(end) == u'\n' || chunk.at(end) == u'\r')) {
            const QByteArray digits = chunk.mid(from, end - from).toLatin1();
            long long us = 0;
            const auto r = std::from_chars(digits.constData(), digits.constData() + digits.size(), us);
            if (r.ec == std::errc())
                found = double(us) / 1e6;
            break;
        }
        at = at > 0 ? chunk.lastIndexOf(kKey, at - 1) : -1;
    }
    return found;
}

double recordingSeconds(const MediaInfo &info, int detectorFrames, float detectorFps)
{
    const double probed = info.seconds();
    if (detectorFrames <= 0 || !(detectorFps > 0))
        return probed;
    const double counted = double(detectorFrames) / double(detectorFps);
    // The container's clock is exact where it runs straight; one that jumps
    // (a broadcast's timestamps) says nonsense, and the detector's count of
    // the frames it decoded is taken instead.
    if (!(probed > 0) || std::abs(probed - counted) > 0.05 * counted)
        return counted;
    return probed;
}

} // namespace media
