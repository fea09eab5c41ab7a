// The arithmetic of the frame-exact cut on packet lists read from generated
// recordings (tests/data/joinplan): which pictures each piece shows, which
// bytes it reads, and how each edge is made.

#include "core/JoinPlan.h"

#include <QFile>
#include <QTest>

#include <algorithm>
#include <cmath>

using namespace media;

Q_DECLARE_METATYPE(media::EdgeWay)

namespace {

QByteArray data(const char *name)
{
    QFile f(QStringLiteral(TRIMLET_TEST_DATA "/joinplan/") + QLatin1String(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

qint64 shownIn(const std::vector<VideoPacket> &packets, qint64 from, qint64 to)
{
    return std::count_if(packets.cbegin(), packets.cend(),
                         [&](const VideoPacket &p) { return p.pts >= from && p.pts < to; });
}

// What any plan must hold: each span's pieces follow one another with no
// picture twice or left out, each copy starts at a key frame a copy may
// start at, and every picture a piece shows lies in the bytes it reads.
void checkPieces(const std::vector<VideoPacket> &packets, const JoinPlan &plan, int readBefore)
{
    for (const SpanPlan &s : plan.spans) {
        QVERIFY(!s.pieces.isEmpty());
        QCOMPARE(s.pieces.first().from, s.from);
        QCOMPARE(s.pieces.last().to, s.to);
        QCOMPARE(shownIn(packets, s.from, s.to), s.frames);
        for (qsizetype k = 1; k < s.pieces.size(); ++k)
            QCOMPARE(s.pieces.at(k).from, s.pieces.at(k - 1).to);
        for (const Piece &p : s.pieces) {
            QVERIFY(p.from < p.to);
            // One picture encoded alone joins its copied neighbours badly.
            QVERIFY(p.copy || s.pieces.size() == 1 || shownIn(packets, p.from, p.to) > 1);
            if (p.copy) {
                const auto key = std::find_if(packets.cbegin(), packets.cend(),
                                              [&](const VideoPacket &v) { return v.pts == p.from; });
                QVERIFY(key != packets.cend());
                QVERIFY(key->key && key->cleanStart);
                // A key frame without a place of its own is given its time
                // by the demuxer from the pictures before it: the read must
                // start at a key frame before it that has a packet of its own.
                if (readBefore > 0 && key->pos < 0) {
                    const auto placed =
                        std::find_if(std::make_reverse_iterator(key), packets.crend(),
                                     [](const VideoPacket &v) { return v.key && v.pos >= 0; });
                    QVERIFY(placed != packets.crend() && p.byteFrom <= placed->pos);
                }
            } else if (readBefore == 0) {
                const auto first = std::find_if(packets.cbegin(), packets.cend(),
                                                [&](const VideoPacket &v) { return v.pos == p.byteFrom; });
                QVERIFY(first != packets.cend());
                QVERIFY(first->key);
            }
            for (const VideoPacket &v : packets)
                if (v.pts >= p.from && v.pts < p.to && v.pos >= 0) {
                    QVERIFY2(v.pos >= p.byteFrom && v.pos < p.byteTo,
                             qPrintable(QStringLiteral("picture %1 outside the bytes %2-%3")
                                            .arg(v.pts)
                                            .arg(p.byteFrom)
                                            .arg(p.byteTo)));
                }
        }
    }
}

QByteArray idrAt(qint64 pts)
{
    return "Packet: 100 bytes, key frame, pts " + QByteArray::number(pts) + ", dts 0, duration 3600.\n"
           + "3           nal_unit_type                 00101 = 5\n";
}

} // namespace

class TestJoinPlan : public QObject
{
    Q_OBJECT
private slots:
    void testEdges_data();
    void testEdges();
    void testAcrossTheClockWrap();
    void testSoundCarriedAhead();
    void testReencodedRangesInCopy();
};

void TestJoinPlan::testEdges_data()
{
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<QByteArray>("trace"); // empty: every key frame can start a copy
    QTest::addColumn<QString>("codec");
    QTest::addColumn<double>("from");
    QTest::addColumn<double>("to");
    QTest::addColumn<qint64>("frames");
    QTest::addColumn<media::EdgeWay>("in");
    QTest::addColumn<media::EdgeWay>("out");
    QTest::addColumn<QString>("says");

    const QByteArray ps = data("mpeg2-ps-open.txt");
    const QByteArray h264 = data("h264-open.txt");
    const QByteArray trace = data("h264-open.trace");
    // MPEG-2 with open groups of pictures in a program stream, pictures
    // packed several to a packet: 25 fps, key frames at 0, 0.12 (a scene
    // cut), 2.4, 4.8, ... 12.04 s; cut [2.3, 12.5).
    QTest::newRow("mpeg2 ps, both edges inside groups")
        << ps << QByteArray() << "mpeg2video" << 2.3 << 12.5 << qint64(255) << EdgeWay::Reencoded
        << EdgeWay::Reencoded << "Frame-exact at all 2 edges";
    // The in-point a picture before the key frame at 2.4 s: the head takes
    // the group after it along rather than be one picture encoded alone.
    QTest::newRow("mpeg2 ps, an edge a picture before a key frame")
        << ps << QByteArray() << "mpeg2video" << 2.36 << 12.5 << qint64(253) << EdgeWay::Reencoded
        << EdgeWay::Reencoded << "Frame-exact at all 2 edges";
    // The key frame at 19.62 s begins in a packet that black pictures
    // before it started.
    QTest::newRow("mpeg2 ps, copied from a key frame without a place")
        << ps << QByteArray() << "mpeg2video" << 18.7 << 28.1 << qint64(235) << EdgeWay::Reencoded
        << EdgeWay::Reencoded << "Frame-exact at all 2 edges";
    QTest::newRow("mpeg2 ps, to the end")
        << ps << QByteArray() << "mpeg2video" << 2.3 << 31.0 << qint64(718) << EdgeWay::Reencoded
        << EdgeWay::Recording << "Frame-exact at its edge";
    // H.264 with a 6 s group of pictures, only the first key frame an IDR:
    // the others are I-frames with a recovery point that a copy cannot
    // start at.
    QTest::newRow("h264 open gop, no IDR inside")
        << h264 << trace << "h264" << 2.3 << 12.5 << qint64(255) << EdgeWay::WholeSpan << EdgeWay::WholeSpan
        << "re-encoded whole (10.2 s): its key frames are I-frames that no copy can start at (not IDR)";
    // The same with an IDR at 12 s: encoded up to it, copied from it.
    QTest::newRow("h264 open gop, an IDR inside")
        << h264 << trace + idrAt(1213200) << "h264" << 2.3 << 28.1 << qint64(645) << EdgeWay::ToCleanStart
        << EdgeWay::Reencoded << "re-encoded up to the next key frame a copy can start at (9.7 s)";
    // Taken as if every key frame were an IDR: the copy ends before the last
    // key frame's leading pictures, which the tail encodes again.
    QTest::newRow("h264 open gop, in-point on a key frame")
        << h264 << QByteArray() << "mpeg2video" << 6.0 << 20.0 << qint64(350) << EdgeWay::OnKeyFrame
        << EdgeWay::Reencoded << "Frame-exact at all 2 edges";
}

void TestJoinPlan::testEdges()
{
    QFETCH(QByteArray, list);
    QFETCH(QByteArray, trace);
    QFETCH(QString, codec);
    QFETCH(double, from);
    QFETCH(double, to);
    QFETCH(qint64, frames);
    QFETCH(media::EdgeWay, in);
    QFETCH(media::EdgeWay, out);
    QFETCH(QString, says);
    std::vector<VideoPacket> packets = parseVideoPackets(list);
    QCOMPARE(packets.size(), size_t(775));
    markCleanStarts(packets, trace, codec);
    const double videoStart = double(std::min_element(packets.cbegin(), packets.cend(),
                                                      [](auto &x, auto &y) { return x.pts < y.pts; })
                                         ->pts)
                              / 90000;
    const qint64 size = 50'000'000;
    const int readBefore = codec == QLatin1String("mpeg2video") && list.contains("pos=N/A") ? 2 : 0;
    const JoinPlan plan = planJoins(packets, {Span{from, to}}, videoStart, 31.0, size, readBefore);
    QVERIFY2(plan.problem.isEmpty(), qPrintable(plan.problem));
    QCOMPARE(plan.frameTicks, qint64(3600));
    QCOMPARE(plan.spans.size(), 1);
    const SpanPlan &s = plan.spans.first();
    QCOMPARE(s.frames, frames);
    QCOMPARE(s.in, in);
    QCOMPARE(s.out, out);
    QVERIFY2(edgesText(plan).contains(says), qPrintable(edgesText(plan)));
    checkPieces(packets, plan, readBefore);
    if (out == EdgeWay::Recording)
        QCOMPARE(s.pieces.last().byteTo, size);
}

void TestJoinPlan::testAcrossTheClockWrap()
{
    // A closed group of pictures every 25 packets (I P B B ...), the clock
    // going round in the middle of the third.
    const qint64 wrap = qint64(1) << 33;
    const qint64 start = wrap - 60 * 3600;
    QByteArray list;
    for (int i = 0; i < 100; ++i) {
        const int g = i % 25;
        // Decode order I P B B P B B ...: a P shown two later than it comes.
        const int shownAt = g == 0 ? i : (g % 3 == 1 ? i + 2 : i - 1);
        const qint64 pts = (start + qint64(shownAt) * 3600) % wrap;
        const qint64 dts = (start + qint64(i - 1) * 3600) % wrap;
        list += "packet|pts=" + QByteArray::number(pts) + "|dts=" + QByteArray::number(dts)
                + "|pos=" + QByteArray::number(i * 1000) + "|flags=" + (g == 0 ? "K_" : "__") + '\n';
    }
    std::vector<VideoPacket> packets = parseVideoPackets(list);
    QCOMPARE(packets.size(), size_t(100));
    for (size_t k = 1; k < packets.size(); ++k)
        QVERIFY(packets[k].dts > packets[k - 1].dts);
    markCleanStarts(packets, {}, QStringLiteral("mpeg2video"));
    // Kept: pictures 10 to 80, across the wrap at picture 60.
    const JoinPlan plan =
        planJoins(packets, {Span{10 / 25.0, 80 / 25.0}}, double(start) / 90000, 4.0, 100000);
    QVERIFY2(plan.problem.isEmpty(), qPrintable(plan.problem));
    QCOMPARE(plan.spans.size(), 1);
    QCOMPARE(plan.spans.first().frames, qint64(70));
    QCOMPARE(plan.spans.first().pieces.size(), 3);
    QCOMPARE(plan.spans.first().pieces.at(1).from, start + 25 * 3600);
    QCOMPARE(plan.spans.first().pieces.at(1).to, start + 75 * 3600);
    // Read from its first byte, a piece before the wrap starts in the
    // clock's last minute, which the demuxer counts from the next turn, and
    // the one after it on the turn after.
    const QList<Piece> &pieces = plan.spans.first().pieces;
    QVERIFY(pieces.at(0).clock.turnAdded);
    QCOMPARE(pieces.at(0).clock.shift, qint64(0));
    QVERIFY(!pieces.at(2).clock.turnAdded);
    QCOMPARE(pieces.at(2).clock.shift, wrap);
    checkPieces(packets, plan, 0);
}

void TestJoinPlan::testSoundCarriedAhead()
{
    // 30 s of pictures, a key frame every 12, each 10000 bytes; the sound
    // in 24 ms packets carried 4.4 s ahead of its picture in the file, as
    // ffmpeg muxes a program stream at 720x576.
    QByteArray list;
    QList<std::pair<qint64, qint64>> sound; // time, place
    for (int i = 0; i < 750; ++i) {
        const QByteArray pts = QByteArray::number(45000 + i * 3600);
        list += "packet|stream_index=0|pts=" + pts + "|dts=" + pts + "|pos=" + QByteArray::number(i * 10000)
                + "|flags=" + (i % 12 == 0 ? "K_" : "__") + '\n';
    }
    for (qint64 t = 45000; t < 45000 + 30 * 90000; t += 2160) {
        const qint64 pos = std::max<qint64>(0, (t - 45000 - 396000) * 10000 / 3600) + 5000;
        sound.append({t, pos});
        list += "packet|stream_index=1|pts=" + QByteArray::number(t) + "|dts=" + QByteArray::number(t)
                + "|pos=" + QByteArray::number(pos) + "|flags=K_\n";
    }
    std::vector<VideoPacket> packets = parseVideoPackets(list, 0);
    const std::vector<VideoPacket> others = parseVideoPackets(list, 1);
    QCOMPARE(packets.size(), size_t(750));
    QCOMPARE(others.size(), size_t(sound.size()));
    markCleanStarts(packets, {}, QStringLiteral("mpeg2video"));
    const JoinPlan plan =
        planJoins(packets, {Span{0, 12.96}, Span{18.96, 30}}, 0.5, 30, 7'500'000, 2, others);
    QVERIFY2(plan.problem.isEmpty(), qPrintable(plan.problem));
    QCOMPARE(plan.spans.size(), 2);
    for (const SpanPlan &s : plan.spans) {
        // Every packet of the span's sound lies in the bytes read, and the
        // read does not start at the file's start for a span in its middle.
        qint64 first = -1, last = -1;
        for (const auto &[t, pos] : std::as_const(sound))
            if (t >= s.from && t < s.to) {
                first = first < 0 ? pos : first;
                last = pos;
            }
        QVERIFY2(s.soundByteFrom <= first && s.soundByteTo > last,
                 qPrintable(QStringLiteral("sound at %1-%2, read %3-%4")
                                .arg(first)
                                .arg(last)
                                .arg(s.soundByteFrom)
                                .arg(s.soundByteTo)));
        QVERIFY(s.from < 90000 || s.soundByteFrom > first - 500'000);
    }
}

void TestJoinPlan::testReencodedRangesInCopy()
{
    std::vector<VideoPacket> packets = parseVideoPackets(data("mpeg2-ps-open.txt"));
    markCleanStarts(packets, {}, QStringLiteral("mpeg2video"));
    const double videoStart = 0.5;
    // Two spans whose tail and head meet in the copy, and a last one that
    // is only a part of a group of pictures.
    const JoinPlan plan = planJoins(packets, {Span{2.3, 12.5}, Span{18.7, 28.1}, Span{29.0, 29.5}},
                                    videoStart, 31.0, 9'000'000, 2);
    QVERIFY(plan.problem.isEmpty());
    QCOMPARE(plan.spans.size(), 3);
    const QList<Span> ranges = reencodedInCopy(plan);
    // Seconds in the copy: the first span's head, its tail with the second
    // span's head, the second's tail with the whole of the third.
    const double first = double(plan.spans.at(0).to - plan.spans.at(0).from) / 90000;
    const double second = double(plan.spans.at(1).to - plan.spans.at(1).from) / 90000;
    QCOMPARE(ranges.size(), 3);
    QCOMPARE(ranges.at(0).start, 0.0);
    QCOMPARE(ranges.at(0).end, double(plan.spans.at(0).inTicks) / 90000);
    QVERIFY(std::abs(ranges.at(1).start - (first - double(plan.spans.at(0).outTicks) / 90000)) < 1e-6);
    QVERIFY(std::abs(ranges.at(1).end - (first + double(plan.spans.at(1).inTicks) / 90000)) < 1e-6);
    QCOMPARE(plan.spans.at(2).frames, qint64(12));
    QVERIFY(std::abs(ranges.at(2).end - (first + second + 12 * 0.04)) < 1e-6);
    QCOMPARE(plan.spans.at(2).in, EdgeWay::WholeSpan);
    // A span that starts with pictures encoded anew starts where its list
    // says; one kept from before the first key frame (a recording tuned in
    // mid-group, counted from a picture no copy can start at) starts in the
    // copy at that key frame, 0.54 s on, and the later spans as listed.
    const QList<Span> listed{Span{2.3, 12.5}, Span{18.7, 28.1}, Span{29.0, 29.5}};
    QCOMPARE(keptInCopy(plan, listed).front().start, 2.3);
    const QList<Span> fromStart{Span{0.0, 12.5}, Span{18.7, 28.1}};
    const JoinPlan tunedIn = planJoins(packets, fromStart, 0.0, 31.0, 9'000'000, 2);
    QVERIFY(tunedIn.problem.isEmpty());
    const QList<Span> inCopy = keptInCopy(tunedIn, fromStart);
    QCOMPARE(inCopy.front().start, 0.54);
    QCOMPARE(inCopy.at(1).start, 18.7);
}

QTEST_GUILESS_MAIN(TestJoinPlan)
#include "tst_joinplan.moc"
