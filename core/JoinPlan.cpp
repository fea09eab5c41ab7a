#include "core/JoinPlan.h"

#include "core/TimeText.h"

#include <QByteArray>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace media {

namespace {

constexpr qint64 kClock = 90000;

} // namespace

JoinPlan planJoins(const std::vector<VideoPacket> &packets, const QList<Span> &kept, double videoStart,
                   double seconds, qint64 fileSize, int readBefore, const std::vector<VideoPacket> &others)
{
    JoinPlan plan;
    plan.origin = std::llround(videoStart * kClock);
    const qint64 n = qint64(packets.size());
    if (n == 0) {
        plan.problem = QStringLiteral("no video packets were found");
        return plan;
    }
    // Decode indices in presentation order.
    std::vector<qint64> shown(size_t(n), 0);
    for (qint64 i = 0; i < n; ++i)
        shown[size_t(i)] = i;
    std::stable_sort(shown.begin(), shown.end(),
                     [&](qint64 x, qint64 y) { return packets[size_t(x)].pts < packets[size_t(y)].pts; });
    const auto ptsAt = [&](qint64 rank) { return packets[size_t(shown[size_t(rank)])].pts; };
    // One picture's length: the commonest step, which a dropout or a
    // clock jump does not change.
    {
        std::vector<qint64> steps;
        for (qint64 r = 1; r < n; ++r)
            if (const qint64 d = ptsAt(r) - ptsAt(r - 1); d > 0)
                steps.push_back(d);
        if (steps.empty()) {
            plan.problem = QStringLiteral("the pictures have no times");
            return plan;
        }
        std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
        plan.frameTicks = steps[steps.size() / 2];
    }
    const qint64 fd = plan.frameTicks;
    std::vector<qint64> keys;
    for (qint64 i = 0; i < n; ++i)
        if (packets[size_t(i)].key)
            keys.push_back(i);
    if (keys.empty()) {
        plan.problem = QStringLiteral("the video has no key frames");
        return plan;
    }
    // A program stream packs small pictures several to a packet, and only
    // the first is given a place: a piece starts at the last place known
    // at or before its first packet and ends at the first known after.
    std::vector<qint64> floorPos(size_t(n), 0), ceilPos(size_t(n) + 1, fileSize);
    for (qint64 i = 0, last = 0; i < n; ++i) {
        if (packets[size_t(i)].pos >= 0)
            last = packets[size_t(i)].pos;
        floorPos[size_t(i)] = last;
    }
    for (qint64 i = n - 1, next = fileSize; i >= 0; --i) {
        if (packets[size_t(i)].pos >= 0)
            next = packets[size_t(i)].pos;
        ceilPos[size_t(i)] = next;
    }
    if (floorPos.back() == 0 && ceilPos.front() == fileSize) {
        plan.problem = QStringLiteral("the packets' places in the file are not known");
        return plan;
    }
    const qint64 firstKeyPts = packets[size_t(keys.front())].pts;
    const qint64 lastPts = ptsAt(n - 1);
    // The first picture shown at or after t.
    const auto firstShownFrom = [&](qint64 t) -> qint64 {
        qint64 lo = 0, hi = n;
        while (lo < hi) {
            const qint64 mid = (lo + hi) / 2;
            if (ptsAt(mid) < t)
                lo = mid + 1;
            else
                hi = mid;
        }
        return lo;
    };
    const auto countShown = [&](qint64 from, qint64 to) { return firstShownFrom(to) - firstShownFrom(from); };
    const auto decodeIndexOf = [&](qint64 pts) -> qint64 {
        const qint64 r = firstShownFrom(pts);
        return r < n && ptsAt(r) == pts ? shown[size_t(r)] : -1;
    };
    const auto posAt = [&](qint64 i) { return ceilPos[size_t(std::min(i, n))]; };
    // Where to read from to have the key frame `key` with its own time. A
    // key frame that begins inside a packet started by an earlier picture
    // carries no time: the demuxer counts one on from the pictures before
    // it, and counts as the whole file's reading does only from a picture
    // that carries its own time and a sequence header, which tells it how
    // far B-frames are shown late. Started anywhere else it was measured
    // a picture or three out (0.12 s at 25 fps; three black pictures at
    // 176x120, packed a dozen to a packet), so such a read starts at the
    // last key frame before with a packet of its own.
    const auto readFrom = [&](qint64 key) {
        qint64 at = key;
        if (readBefore > 0 && packets[size_t(key)].pos < 0) {
            auto k = std::upper_bound(keys.begin(), keys.end(), key);
            while (k != keys.begin() && packets[size_t(*(k - 1))].pos < 0)
                --k;
            if (k != keys.begin())
                at = *(k - 1);
        }
        return floorPos[size_t(std::max<qint64>(0, at - readBefore))];
    };
    // The bytes to decode the pictures [from, to): from the key frame that
    // the first of them needs (the one before, where it is a leading
    // picture of an open group) to a little past the last one, as a frame
    // may end inside the packet where the next begins.
    const auto encodePiece = [&](qint64 from, qint64 to) {
        Piece piece;
        piece.from = from;
        piece.to = to;
        const qint64 first = std::max<qint64>(0, decodeIndexOf(from));
        auto k = std::upper_bound(keys.begin(), keys.end(), first);
        if (k != keys.begin())
            --k;
        if (packets[size_t(*k)].pts > from && k != keys.begin())
            --k;
        qint64 last = *k;
        for (qint64 i = *k; i < n; ++i)
            if (packets[size_t(i)].pts < to)
                last = i;
        piece.byteFrom = readFrom(*k);
        piece.byteTo = std::max(posAt(std::min(n, last + 3)), piece.byteFrom + 1);
        return piece;
    };

    for (const Span &span : kept) {
        SpanPlan s;
        const bool atStart = span.start <= 0;
        const bool atEnd = span.end >= seconds;
        const qint64 a = std::llround((videoStart + span.start) * kClock);
        const qint64 b = std::llround((videoStart + span.end) * kClock);
        // Pictures before the first key frame cannot be shown from the file.
        const qint64 fromRank = firstShownFrom(atStart ? firstKeyPts : std::max(a - fd / 2, firstKeyPts));
        const qint64 toRank = atEnd ? n : firstShownFrom(b - fd / 2);
        if (fromRank >= toRank)
            continue;
        s.from = ptsAt(fromRank);
        s.to = toRank < n ? ptsAt(toRank) : lastPts + fd;
        s.frames = toRank - fromRank;
        {
            // The first and the last picture packet shown within margin of
            // the span, in decode order; {n, -1} for none.
            const auto near = [&](qint64 margin) {
                std::pair<qint64, qint64> found{n, -1};
                for (qint64 i = 0; i < n; ++i)
                    if (const qint64 t = packets[size_t(i)].pts; t >= s.from - margin && t < s.to + margin) {
                        found.first = std::min(found.first, i);
                        found.second = i;
                    }
                return found;
            };
            const auto [first, last] = near(3 * kClock);
            s.soundByteFrom = first < n ? floorPos[size_t(std::max<qint64>(0, first - readBefore))] : 0;
            s.soundByteTo = last >= 0 ? posAt(std::min(n, last + 2)) : fileSize;
            // A muxer may carry the sound further from its pictures than
            // that: ffmpeg's program streams at 720x576 hold it 4.4 s ahead,
            // and a read of the pictures' bytes began 1.5 s into the span's
            // sound. The sound's own packets say where it lies; those of the
            // same times from further off in the file (a clock that jumped
            // back) are not the span's. The read starts a second of sound
            // early: a packet of a program stream may begin inside a frame,
            // which a read from there passed on broken.
            const auto [nearest, far] = near(20 * kClock);
            const qint64 lowest = nearest < n ? floorPos[size_t(nearest)] : 0;
            const qint64 highest = far >= 0 ? posAt(far + 1) : fileSize;
            qint64 lastOther = -1;
            for (const VideoPacket &p : others)
                if (p.pos >= lowest && p.pos < highest && p.pts >= s.from - kClock && p.pts < s.to + fd) {
                    s.soundByteFrom = std::min(s.soundByteFrom, p.pos);
                    lastOther = std::max(lastOther, p.pos);
                }
            if (lastOther >= s.soundByteTo) {
                // To the start of whatever comes after that packet.
                qint64 next = fileSize;
                for (const VideoPacket &p : others)
                    if (p.pos > lastOther)
                        next = std::min(next, p.pos);
                const auto after = std::upper_bound(ceilPos.begin(), ceilPos.end(), lastOther);
                if (after != ceilPos.end())
                    next = std::min(next, *after);
                s.soundByteTo = next;
            }
        }

        // The first key frame a copy may start at, and the last key frame
        // before the out-point, where the copy ends (on decode order).
        qint64 k1 = -1;
        for (const qint64 k : keys)
            if (!packets[size_t(k)].cleanStart && packets[size_t(k)].pts >= s.from
                && packets[size_t(k)].pts < s.to)
                s.uncleanKeys = true;
        for (const qint64 k : keys)
            if (packets[size_t(k)].cleanStart && packets[size_t(k)].pts >= s.from
                && packets[size_t(k)].pts < s.to) {
                k1 = k;
                break;
            }
        qint64 kL = -1;
        qint64 until = 0; // the copy shows [k1, until)
        if (k1 >= 0) {
            if (atEnd) {
                kL = n;
                until = s.to;
            } else {
                for (const qint64 k : keys)
                    if (k > k1 && packets[size_t(k)].pts <= s.to)
                        kL = k;
                if (kL > k1) {
                    until = std::numeric_limits<qint64>::max();
                    for (qint64 i = kL; i < n; ++i)
                        until = std::min(until, packets[size_t(i)].pts);
                }
            }
        }
        // An edge of one picture encoded anew joins badly: a picture alone
        // is encoded without reordering, its neighbours with it, and the
        // join gives two pictures one time. Such an edge takes the group of
        // pictures beside it along.
        if (k1 >= 0 && kL > k1 && !atStart && countShown(s.from, packets[size_t(k1)].pts) == 1)
            for (const qint64 k : keys)
                if (k > k1 && k < kL && packets[size_t(k)].cleanStart) {
                    k1 = k;
                    break;
                }
        if (k1 >= 0 && kL > k1 && kL < n && countShown(until, s.to) == 1) {
            qint64 before = -1;
            for (const qint64 k : keys)
                if (k > k1 && k < kL)
                    before = k;
            if (before > k1) {
                kL = before;
                until = std::numeric_limits<qint64>::max();
                for (qint64 i = kL; i < n; ++i)
                    until = std::min(until, packets[size_t(i)].pts);
            }
        }
        bool middle = k1 >= 0 && kL > k1 && until > packets[size_t(k1)].pts;
        if (middle) {
            // The packets copied must be the pictures shown there, every one.
            const qint64 start = packets[size_t(k1)].pts;
            qint64 count = 0;
            for (qint64 i = k1; i < kL && middle; ++i) {
                const qint64 t = packets[size_t(i)].pts;
                if (t >= until)
                    middle = false;
                else if (t >= start)
                    ++count;
            }
            middle = middle && count == countShown(start, until) && until <= s.to;
        }
        if (!middle) {
            Piece whole = encodePiece(s.from, s.to);
            s.pieces << whole;
            s.in = atStart ? EdgeWay::Recording : EdgeWay::WholeSpan;
            s.out = atEnd ? EdgeWay::Recording : EdgeWay::WholeSpan;
            s.inTicks = s.outTicks = s.to - s.from;
            plan.spans << s;
            continue;
        }
        const qint64 start = packets[size_t(k1)].pts;
        if (s.from < start) {
            s.pieces << encodePiece(s.from, start);
            s.inTicks = start - s.from;
            // A key frame passed over on the way because it could not start
            // a copy (one passed over to take a group along could).
            bool passed = false;
            for (const qint64 k : keys)
                if (!packets[size_t(k)].cleanStart && packets[size_t(k)].pts >= s.from
                    && packets[size_t(k)].pts < start)
                    passed = true;
            s.in = passed ? EdgeWay::ToCleanStart : EdgeWay::Reencoded;
        } else {
            s.in = atStart ? EdgeWay::Recording : EdgeWay::OnKeyFrame;
        }
        Piece copy;
        copy.copy = true;
        copy.from = start;
        copy.to = until;
        copy.byteFrom = readFrom(k1);
        copy.byteTo = std::max(posAt(std::min(n, kL + 2)), copy.byteFrom + 1);
        s.pieces << copy;
        if (until < s.to) {
            s.pieces << encodePiece(until, s.to);
            s.outTicks = s.to - until;
            s.out = EdgeWay::Reencoded;
        } else {
            s.out = atEnd ? EdgeWay::Recording : EdgeWay::OnKeyFrame;
        }
        plan.spans << s;
    }
    if (plan.spans.isEmpty())
        plan.problem = QStringLiteral("nothing of the recording is kept");
    for (SpanPlan &s : plan.spans) {
        for (Piece &p : s.pieces)
            p.clock = demuxerClock(packets, p.byteFrom);
        s.soundClock = demuxerClock(packets, s.soundByteFrom);
    }
    return plan;
}

DemuxerClock demuxerClock(const std::vector<VideoPacket> &packets, qint64 from)
{
    // The other tracks' first stamps are within a second or two of it.
    const auto first =
        std::find_if(packets.begin(), packets.end(), [from](const VideoPacket &p) { return p.pos >= from; });
    return first == packets.end() ? DemuxerClock() : demuxerClockAt(first->dts);
}

QList<Span> reencodedInCopy(const JoinPlan &plan)
{
    QList<Span> ranges;
    qint64 at = 0;
    for (const SpanPlan &s : plan.spans) {
        for (const Piece &p : s.pieces) {
            if (p.copy)
                continue;
            const double from = double(at + p.from - s.from) / kClock;
            const double to = double(at + p.to - s.from) / kClock;
            // A piece that follows another re-encoded one makes one range.
            if (!ranges.isEmpty() && std::abs(ranges.last().end - from) < 1e-6)
                ranges.last().end = to;
            else
                ranges << Span{from, to};
        }
        at += s.to - s.from;
    }
    return ranges;
}

QList<Span> keptInCopy(const JoinPlan &plan, const QList<Span> &kept)
{
    QList<Span> inCopy = kept;
    if (inCopy.isEmpty() || plan.spans.isEmpty())
        return inCopy;
    // Only a span that starts with a copy from a key frame can have begun
    // later than its list for want of a picture before that key frame: one
    // that starts with pictures encoded anew began where the list said.
    const SpanPlan &s = plan.spans.front();
    const double first = double(s.from - plan.origin) / kClock;
    if (!s.pieces.isEmpty() && s.pieces.front().copy && first > inCopy.front().start
        && first < inCopy.front().end)
        inCopy.front().start = first;
    return inCopy;
}

QString edgesText(const JoinPlan &plan)
{
    QStringList special;
    const auto seconds = [](qint64 ticks) { return QString::number(double(ticks) / kClock, 'f', 1); };
    const auto at = [&](qint64 t) {
        const double x = std::max(0.0, double(t - plan.origin) / kClock);
        return timeText(x, true) + QLatin1Char('.') + QString::number(qint64(x * 10) % 10);
    };
    int edges = 0;
    qint64 reencoded = 0;
    for (const SpanPlan &s : plan.spans) {
        edges += (s.in != EdgeWay::Recording) + (s.out != EdgeWay::Recording);
        if (s.in == EdgeWay::WholeSpan || s.out == EdgeWay::WholeSpan) {
            reencoded += s.to - s.from;
            special << QStringLiteral("%1 to %2 was re-encoded whole (%3 s): %4")
                           .arg(at(s.from), at(s.to), seconds(s.to - s.from),
                                s.uncleanKeys ? QStringLiteral("its key frames are I-frames that no copy can "
                                                               "start at (not IDR)")
                                              : QStringLiteral("it holds no whole group of pictures"));
            continue;
        }
        reencoded += s.inTicks + s.outTicks;
        if (s.in == EdgeWay::ToCleanStart)
            special << QStringLiteral("after %1 the pictures were re-encoded up to the next key frame a copy "
                                      "can start at (%2 s)")
                           .arg(at(s.from), seconds(s.inTicks));
    }
    if (edges == 0)
        return QString();
    QString text =
        QStringLiteral("Frame-exact at %1 (%2 s re-encoded).")
            .arg(edges == 1 ? QStringLiteral("its edge") : QStringLiteral("all %1 edges").arg(edges),
                 seconds(reencoded));
    if (!special.isEmpty()) {
        special.first()[0] = special.first().at(0).toUpper();
        text += QLatin1Char(' ') + special.join(QStringLiteral("; ")) + QLatin1Char('.');
    }
    return text;
}

} // namespace media
