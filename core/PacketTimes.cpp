#include "core/PacketTimes.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace media {

namespace {

bool number(QByteArrayView field, double &value)
{
    field = field.trimmed();
    if (field.isEmpty())
        return false;
    const char *begin = field.data();
    const char *end = begin + field.size();
    const auto r = std::from_chars(begin, end, value);
    return r.ec == std::errc() && r.ptr == end && std::isfinite(value);
}

QString seconds(double s)
{
    return QString::number(s, 'f', 1);
}

// The usual step from one frame to the next (a median), 0 for fewer than
// two frames.
double typicalStep(const PacketTimes &packets)
{
    const std::vector<double> &t = packets.times;
    if (t.size() < 2)
        return 0;
    std::vector<double> steps;
    steps.reserve(std::min<size_t>(t.size() - 1, 4096));
    // A sample spread over the whole file is enough for a median.
    const size_t stride = std::max<size_t>(1, (t.size() - 1) / 4096);
    for (size_t i = 1; i < t.size(); i += stride)
        if (t[i] > t[i - 1])
            steps.push_back(t[i] - t[i - 1]);
    if (steps.empty())
        return 0;
    std::nth_element(steps.begin(), steps.begin() + long(steps.size() / 2), steps.end());
    return steps[steps.size() / 2];
}

} // namespace

bool parsePacketLine(QByteArrayView line, double &time, bool &key, qint64 &pos)
{
    // pts_time, dts_time, the place when asked for, flags, in ffprobe's
    // order; anything after is side data.
    QByteArrayView fields[4];
    int count = 0;
    for (qsizetype from = 0; count < 4;) {
        const qsizetype comma = line.indexOf(',', from);
        fields[count++] = comma < 0 ? line.sliced(from) : line.sliced(from, comma - from);
        if (comma < 0)
            break;
        from = comma + 1;
    }
    if (count < 2)
        return false;
    if (!number(fields[0], time) && !number(fields[1], time))
        return false;
    // A flags field starts with 'K' or '_'; a place is a number or "N/A".
    QByteArrayView flags = count > 2 ? fields[2] : QByteArrayView();
    pos = -1;
    if (count > 3 && !flags.isEmpty() && flags.front() != 'K' && flags.front() != '_') {
        // A byte place is a whole number; anything else (a fraction, or a value
        // too large for a file) leaves the packet without one.
        bool ok = false;
        const qint64 place = flags.trimmed().toLongLong(&ok);
        if (ok && place >= 0)
            pos = place;
        flags = fields[3];
    }
    key = !flags.isEmpty() && flags.front() == 'K';
    return true;
}

void addPacket(PacketTimes &packets, double time, bool key, qint64 pos)
{
    packets.times.push_back(time);
    if (!key)
        return;
    const bool first = packets.keys.empty();
    packets.keys.push_back({time, pos});
    if (first)
        packets.firstKey = time;
    else if (time > packets.lastKey)
        packets.maxKeyInterval = std::max(packets.maxKeyInterval, time - packets.lastKey);
    packets.lastKey = time;
}

std::optional<KeyPlace> keyAtOrBefore(const PacketTimes &packets, double t)
{
    // Read in file order; a clock that jumps back may put a later key
    // frame earlier, so every one is looked at.
    std::optional<KeyPlace> best;
    for (const KeyPlace &k : packets.keys)
        if (k.pos >= 0 && k.time <= t && (!best || k.time > best->time))
            best = k;
    return best;
}

qsizetype addPacketLines(PacketTimes &packets, QByteArrayView text)
{
    qsizetype used = 0;
    while (used < text.size()) {
        const qsizetype end = text.indexOf('\n', used);
        if (end < 0)
            break;
        double time = 0;
        bool key = false;
        qint64 pos = -1;
        if (parsePacketLine(text.sliced(used, end - used), time, key, pos))
            addPacket(packets, time, key, pos);
        used = end + 1;
    }
    return used;
}

void finishPackets(PacketTimes &packets)
{
    // Packets come in decoding order; B-frames show before the frames
    // they were decoded after.
    std::sort(packets.times.begin(), packets.times.end());
}

double groupSeconds(const PacketTimes &packets)
{
    // Read without the parsers, the recording's key frames are not known.
    return packets.maxKeyInterval > 0 ? std::clamp(packets.maxKeyInterval, 0.5, 5.0) : 2.0;
}

qint64 framesIn(const PacketTimes &packets, double from, double to)
{
    if (!(to > from))
        return 0;
    const auto &t = packets.times;
    const auto a = std::lower_bound(t.begin(), t.end(), from);
    const auto b = std::lower_bound(a, t.end(), to);
    return qint64(b - a);
}

double playingSeconds(const PacketTimes &packets)
{
    const double step = typicalStep(packets);
    if (!(step > 0))
        return 0;
    const double gap = std::max(10 * step, 1.0);
    double total = step;
    const auto &t = packets.times;
    for (size_t i = 1; i < t.size(); ++i) {
        const double d = t[i] - t[i - 1];
        total += d > gap ? step : d;
    }
    return total;
}

double clockSeconds(const PacketTimes &packets, double start)
{
    if (packets.empty())
        return 0;
    return std::max(0.0, packets.times.back() - start + typicalStep(packets));
}

Verdict verifyAgainstRecording(const PacketTimes &recording, double videoStart, double recordingSeconds,
                               const QList<Span> &cuts, const PacketTimes &copy, double fps, bool spanBySpan)
{
    Verdict v;
    const QList<Span> merged = normalisedCuts(cuts, recordingSeconds);
    const QList<Span> kept = keptSpans(merged, recordingSeconds);
    constexpr double kBefore = -std::numeric_limits<double>::infinity();
    constexpr double kAfter = std::numeric_limits<double>::infinity();
    // What the recording holds in each kept span; a span at either end of
    // the recording reaches past the file's end, as the cut does.
    QList<qint64> expected;
    for (qsizetype k = 0; k < kept.size(); ++k) {
        const Span &s = kept.at(k);
        // A recording that starts mid-stream begins with pictures that
        // cannot be shown without the key frame before them: a stream copy
        // starts at the first key frame.
        const double from = s.start > 0                       ? videoStart + s.start
                            : !std::isnan(recording.firstKey) ? recording.firstKey
                                                              : kBefore;
        const double to = s.end >= recordingSeconds ? kAfter : videoStart + s.end;
        expected.append(framesIn(recording, from, to));
        v.expectedFrames += expected.last();
    }
    // A stream copy starts each kept span at the key frame before it, so
    // it may hold up to a group of pictures more a cut; a break left in
    // is longer than that.
    const double gop = groupSeconds(recording);
    const double cutCount = double(merged.size());
    v.tolerance = 0.5 + 0.5 * cutCount;
    v.frames = copy.count();
    v.readable = !recording.empty() && v.frames > 0 && fps > 0;
    if (!v.readable) {
        v.problem = QStringLiteral("unreadable");
        return v;
    }
    v.expected = double(v.expectedFrames) / fps;
    v.actual = playingSeconds(copy);
    const double longLimit = 0.5 + gop * cutCount;
    const double shortBy = double(v.expectedFrames - v.frames) / fps;
    if (shortBy > v.tolerance)
        v.problem = QStringLiteral("%1 s shorter than expected").arg(seconds(shortBy));
    else if (-shortBy > longLimit)
        v.problem = QStringLiteral("%1 s longer than expected").arg(seconds(-shortBy));
    if (!v.problem.isEmpty() || !spanBySpan || kept.size() < 2) {
        v.ok = v.problem.isEmpty();
        return v;
    }
    // Span by span, where the copy's clock runs through the kept spans one
    // after another (a clock that leapt inside a span may have been closed
    // up by the cutter; then the total alone is judged).
    double keptClock = 0;
    for (const Span &s : kept)
        keptClock += s.end - s.start;
    if (std::abs(clockSeconds(copy, copy.times.front()) - keptClock) <= 2.0) {
        double at = copy.times.front();
        for (qsizetype k = 0; k < kept.size(); ++k) {
            const double length = kept.at(k).end - kept.at(k).start;
            const double from = k == 0 ? kBefore : at;
            const double to = k == kept.size() - 1 ? kAfter : at + length;
            at += length;
            const qint64 held = framesIn(copy, from, to);
            const double off = double(held - expected.at(k)) / fps;
            const double allowed = std::max(1.0 + gop, 0.05 * length);
            if (std::abs(off) > allowed) {
                v.problem = QStringLiteral("wrong in its part %1 of %2 (%3 s %4)")
                                .arg(k + 1)
                                .arg(kept.size())
                                .arg(seconds(std::abs(off)),
                                     off < 0 ? QStringLiteral("short") : QStringLiteral("long"));
                break;
            }
        }
    }
    v.ok = v.problem.isEmpty();
    return v;
}

DemuxerClock demuxerClockAt(qint64 firstTicks)
{
    // Whole turns rounded down: a clock read negative (one that started in
    // its last minute) is on the turn before.
    const qint64 turns =
        firstTicks >= 0 ? firstTicks / kClockWrap : -((-firstTicks + kClockWrap - 1) / kClockWrap);
    const qint64 raw = firstTicks - turns * kClockWrap;
    constexpr qint64 kLastMinute = 60 * 90000;
    DemuxerClock clock;
    clock.shift = turns * kClockWrap;
    clock.turnAdded = raw >= kClockWrap - kLastMinute;
    return clock;
}

} // namespace media
