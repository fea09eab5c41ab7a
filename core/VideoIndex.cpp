#include "core/VideoIndex.h"

#include "core/PacketTimes.h"

#include <QByteArray>

#include <algorithm>
#include <limits>

namespace media {

namespace {

constexpr qint64 kWrap = kClockWrap;

bool toInt(QByteArrayView field, qint64 &value)
{
    bool ok = false;
    value = QByteArray(field.data(), field.size()).trimmed().toLongLong(&ok);
    return ok;
}

} // namespace

std::vector<VideoPacket> parseVideoPackets(QByteArrayView text, int stream)
{
    std::vector<VideoPacket> packets;
    qint64 wraps = 0;
    qint64 lastDts = std::numeric_limits<qint64>::min();
    qsizetype at = 0;
    while (at < text.size()) {
        qsizetype end = text.indexOf('\n', at);
        if (end < 0)
            end = text.size();
        const QByteArrayView line = text.sliced(at, end - at);
        at = end + 1;
        if (!line.startsWith("packet|"))
            continue;
        const auto field = [&line](QByteArrayView name, qint64 &value) {
            const qsizetype k = line.indexOf(QByteArray("|") + name.toByteArray() + '=');
            if (k < 0)
                return false;
            const qsizetype from = k + name.size() + 2;
            qsizetype to = line.indexOf('|', from);
            if (to < 0)
                to = line.size();
            return toInt(line.sliced(from, to - from), value);
        };
        VideoPacket p;
        if (qint64 index = -1; stream >= 0 && (!field("stream_index", index) || index != stream))
            continue;
        qint64 dts = 0;
        if (!field("pts", p.pts))
            continue;
        if (!field("dts", dts))
            dts = p.pts;
        if (!field("pos", p.pos))
            p.pos = -1;
        p.key = line.contains("|flags=K");
        // The clock goes round every 26.5 hours; the decode order never
        // goes back by half of that.
        if (lastDts != std::numeric_limits<qint64>::min() && dts + wraps < lastDts - kWrap / 2)
            wraps += kWrap;
        qint64 pts = p.pts + wraps;
        if (pts < dts + wraps - kWrap / 2)
            pts += kWrap;
        p.dts = dts + wraps;
        p.pts = pts;
        lastDts = p.dts;
        packets.push_back(p);
    }
    return packets;
}

void markCleanStarts(std::vector<VideoPacket> &packets, QByteArrayView trace, const QString &codec)
{
    const bool h264 = codec == QLatin1String("h264");
    const bool hevc = codec == QLatin1String("hevc");
    if (!h264 && !hevc) {
        for (VideoPacket &p : packets)
            p.cleanStart = p.key;
        return;
    }
    // "Packet: 14232 bytes, key frame, pts 540000, dts 522000, ..." then a
    // line per NAL unit; the first slice's type decides.
    std::vector<qint64> clean;
    qint64 current = std::numeric_limits<qint64>::min();
    bool decided = true;
    qsizetype at = 0;
    while (at < trace.size()) {
        qsizetype end = trace.indexOf('\n', at);
        if (end < 0)
            end = trace.size();
        const QByteArray line(trace.data() + at, end - at);
        at = end + 1;
        const qsizetype packet = line.indexOf("Packet: ");
        if (packet >= 0) {
            const qsizetype p = line.indexOf(", pts ", packet);
            qint64 pts = 0;
            decided = true;
            if (p >= 0) {
                const qsizetype e = line.indexOf(',', p + 6);
                if (toInt(QByteArrayView(line).sliced(p + 6, (e < 0 ? line.size() : e) - p - 6), pts)) {
                    current = pts;
                    decided = false;
                }
            }
            continue;
        }
        if (decided || !line.contains("nal_unit_type"))
            continue;
        const qsizetype eq = line.lastIndexOf('=');
        qint64 type = -1;
        if (eq < 0 || !toInt(QByteArrayView(line).sliced(eq + 1), type))
            continue;
        const bool slice =
            h264 ? (type == 1 || type == 5) : (type >= 0 && type <= 21 && !(type >= 10 && type <= 15));
        if (!slice)
            continue;
        decided = true;
        // IDR for H.264; BLA, IDR or CRA for HEVC, whose leading pictures
        // are left out of a copy.
        if (h264 ? type == 5 : type >= 16)
            clean.push_back(current);
    }
    std::sort(clean.begin(), clean.end());
    for (VideoPacket &p : packets) {
        // The trace tells times modulo the clock's wrap.
        const qint64 raw = ((p.pts % kWrap) + kWrap) % kWrap;
        p.cleanStart = p.key
                       && (std::binary_search(clean.begin(), clean.end(), p.pts)
                           || std::binary_search(clean.begin(), clean.end(), raw));
    }
}

QList<ProbedStream> parseProbedStreams(QByteArrayView text)
{
    QList<ProbedStream> streams;
    for (const QByteArray &line : text.toByteArray().split('\n')) {
        if (!line.startsWith("stream|"))
            continue;
        ProbedStream stream;
        for (const QByteArray &pair : line.split('|')) {
            const qsizetype eq = pair.indexOf('=');
            if (eq < 0)
                continue;
            const QByteArray key = pair.left(eq);
            const QString value = QString::fromUtf8(pair.mid(eq + 1));
            if (key == "index")
                stream.index = value.toInt();
            else if (key == "codec_type")
                stream.type = value;
            else if (key == "codec_name")
                stream.codec = value;
            else if (key == "profile")
                stream.profile = value;
            else if (key == "level")
                stream.level = value.toInt();
            else if (key == "pix_fmt")
                stream.pixFmt = value;
            else if (key == "field_order")
                stream.fieldOrder = value;
            else if (key == "color_range")
                stream.colorRange = value;
            else if (key == "color_space")
                stream.colorSpace = value;
            else if (key == "color_transfer")
                stream.colorTransfer = value;
            else if (key == "color_primaries")
                stream.colorPrimaries = value;
        }
        streams << stream;
    }
    return streams;
}

} // namespace media
