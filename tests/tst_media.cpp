// What ffprobe says of recordings and copies, and the arithmetic of a cut:
// the cutter and container for each kind of recording, the kept spans of a
// cut list, the ffconcat list and the check of a copy.

#include "core/MediaInfo.h"
#include "core/PacketTimes.h"
#include "core/StreamCheck.h"

#include <QFile>
#include <QTest>

using namespace media;

namespace {

QByteArray probeData(const char *name)
{
    QFile f(QStringLiteral(TRIMLET_TEST_DATA "/probe/") + QLatin1String(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

MediaInfo make(const char *video, QStringList audio, const char *format = "mpeg")
{
    MediaInfo m;
    m.parsed = true;
    m.hasVideo = qstrlen(video) > 0;
    m.videoCodec = QLatin1String(video);
    m.formatName = QLatin1String(format);
    for (const QString &a : audio)
        m.audio.append({a, 2, QStringLiteral("stereo")});
    return m;
}

struct Run
{
    double start;
    qint64 frames;
    double fps;
};

// Packets of frames laid end to end, a key frame every gop.
PacketTimes packets(const QList<Run> &runs, int gop)
{
    PacketTimes p;
    QByteArray lines;
    qint64 n = 0;
    for (const Run &r : runs)
        for (qint64 i = 0; i < r.frames; ++i, ++n) {
            const QByteArray t = QByteArray::number(r.start + double(i) / r.fps, 'f', 6);
            lines += t + ',' + t + (n % gop == 0 ? ",K_\n" : ",__\n");
        }
    addPacketLines(p, lines);
    finishPackets(p);
    return p;
}

// Streams as a probe lists them: "video:mpeg2video", "audio:ac3:eng",
// "audio:ac3:eng:visual_impaired", with where each starts and ends.
struct Listed
{
    Listed(const char *w, std::optional<double> s = {}, std::optional<double> e = {})
        : what(w), start(s), end(e)
    { }
    const char *what;
    std::optional<double> start;
    std::optional<double> end;
};
MediaInfo streams(const char *format, const QList<Listed> &listed)
{
    MediaInfo m;
    m.parsed = true;
    m.formatName = QLatin1String(format);
    for (const Listed &l : listed) {
        const QStringList f = QString::fromLatin1(l.what).split(QLatin1Char(':'));
        m.streams.append({f.value(0), f.value(1), f.value(2), f.value(3), l.start, l.end});
    }
    return m;
}

// The offsets judged of a copy against its recording, at both ends.
QString outOfStep(const MediaInfo &recording, const MediaInfo &copy, Edge start, Edge end)
{
    const TrackCheck tracks = compareStreams(recording, copy);
    return tracks.problem.isEmpty() ? soundOutOfStep(recording, copy, tracks.pairs, start, end)
                                    : tracks.problem;
}

} // namespace

Q_DECLARE_METATYPE(Run)
Q_DECLARE_METATYPE(MediaInfo)

class TestMedia final : public QObject
{
    Q_OBJECT

private slots:
    void testProbesOfRealFiles()
    {
        const MediaInfo ps = parseProbe(probeData("mpeg2-ps.json"));
        QVERIFY(ps.parsed && ps.hasVideo);
        QCOMPARE(ps.videoCodec, QStringLiteral("mpeg2video"));
        QCOMPARE(ps.formatName, QStringLiteral("mpeg"));
        QCOMPARE(ps.width, 352);
        QVERIFY(qAbs(ps.fps - 29.97003) < 1e-4);
        QVERIFY(qAbs(ps.seconds() - 362.028333) < 1e-6);
        QVERIFY(qAbs(ps.videoStart - 0.533367) < 1e-6);
        QCOMPARE(ps.videoPackets, -1);
        QCOMPARE(describe(ps), QStringLiteral("MPEG-2 352×240 29.97 fps · MP2 stereo · 0:06:02"));

        const MediaInfo ts = parseProbe(probeData("h264-aac-ts.json"));
        QCOMPARE(ts.formatName, QStringLiteral("mpegts"));
        QCOMPARE(ts.videoCodec, QStringLiteral("h264"));
        // A broadcast's clock does not start at 0: the cut's points are offset by it.
        QVERIFY(qAbs(ts.videoStart - 1001.4) < 1e-6);
        QCOMPARE(describe(ts), QStringLiteral("H.264 352×240 29.97 fps · AAC stereo · 0:06:02"));

        const MediaInfo copy = parseProbe(probeData("copy-counted.json"));
        QCOMPARE(copy.videoPackets, 9024);
    }

    void testProbesOfNothing_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("parsed");
        QTest::newRow("no output") << QByteArray() << false;
        QTest::newRow("not json") << QByteArray("Invalid data found") << false;
        QTest::newRow("an empty object") << QByteArray("{}") << false;
        QTest::newRow("audio only") << QByteArray(
            R"({"streams":[{"codec_type":"audio","codec_name":"mp2"}],"format":{}})")
                                    << true;
        QTest::newRow("cover art only") << QByteArray(
            R"({"streams":[{"codec_type":"video","codec_name":"mjpeg","disposition":{"attached_pic":1}}],"format":{}})")
                                        << true;
        QTest::newRow("wrong types") << QByteArray(
            R"({"streams":[{"codec_type":7,"codec_name":[]}],"format":{"duration":"x"}})")
                                     << true;
    }
    void testProbesOfNothing()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, parsed);
        const MediaInfo m = parseProbe(json);
        QCOMPARE(m.parsed, parsed);
        QVERIFY(!m.hasVideo);
        QCOMPARE(m.duration, 0.0);
        QCOMPARE(describe(m), QString());
    }

    void testAbsurdFrameRatesAreNoRate()
    {
        const MediaInfo m = parseProbe(
            R"({"streams":[{"codec_type":"video","codec_name":"h264","r_frame_rate":"90000/1","avg_frame_rate":"0/0"}],"format":{}})");
        QVERIFY(m.hasVideo);
        QCOMPARE(m.fps, 0.0);
        const MediaInfo avg = parseProbe(
            R"({"streams":[{"codec_type":"video","codec_name":"h264","r_frame_rate":"0/0","avg_frame_rate":"25/1"}],"format":{}})");
        QCOMPARE(avg.fps, 25.0);
    }

    // A recording tuned in mid-group: its picture starts where its decoder
    // shows the first, at its first key frame but in HEVC, the sound's
    // packets and a tail's ends aside; a key frame further on than the head
    // that was read is no start.
    void testPictureStartsAtTheFirstKeyFrame()
    {
        const auto probe = [](const char *packets, const char *codec = "h264") {
            return parseProbe(
                QByteArray(
                    R"({"streams":[{"index":0,"codec_type":"audio","codec_name":"mp2","start_time":"4.9"},)"
                    R"({"index":1,"codec_type":"video","start_time":"5.0","codec_name":)"
                    "\"")
                + codec
                + "\""
                  R"(}],"format":{"start_time":"4.9"},"packets":[)"
                + packets + "]}");
        };
        const MediaInfo tuned = probe(
            R"({"stream_index":1,"pts_time":"5.0","flags":"__"},{"stream_index":0,"pts_time":"7.4","flags":"K_"},)"
            R"({"stream_index":1,"pts_time":"7.5","flags":"K_"},{"stream_index":1,"pts_time":"13.5","flags":"K_"},)"
            R"({"stream_index":1,"pts_time":"99.0","duration_time":"0.04"})");
        QCOMPARE(tuned.videoStart, 7.5);
        QCOMPARE(tuned.start, 4.9);
        QCOMPARE(tuned.streams.at(1).end, std::optional(99.04));
        QCOMPARE(
            probe(
                R"({"stream_index":1,"pts_time":"5.0","flags":"K_"},{"stream_index":1,"pts_time":"7.5","flags":"K_"})")
                .videoStart,
            5.0);
        QCOMPARE(probe(R"({"stream_index":1,"pts_time":"45.0","flags":"K_"})").videoStart, 5.0);
        QCOMPARE(probe("").videoStart, 5.0);
        // The HEVC decoder shows the pictures before the key frame.
        const char *hevc =
            R"({"stream_index":1,"pts_time":"5.0","flags":"__"},{"stream_index":1,"pts_time":"7.5","flags":"K_"})";
        QCOMPARE(probe(hevc, "hevc").videoStart, 5.0);
        QCOMPARE(probe(hevc, "mpeg2video").videoStart, 7.5);
    }

    void testCutterAndContainer_data()
    {
        QTest::addColumn<QString>("video");
        QTest::addColumn<QStringList>("audio");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("inputExt");
        QTest::addColumn<bool>("mencoder");
        QTest::addColumn<QString>("muxer");
        QTest::addColumn<QString>("outputExt");
        QTest::newRow("MPEG-2 MP2 PS") << "mpeg2video" << QStringList{"mp2"} << "mpeg"
                                       << "mpg" << true << "vob"
                                       << "mpg";
        QTest::newRow("MPEG-2 AC-3 TS") << "mpeg2video" << QStringList{"ac3"} << "mpegts"
                                        << "ts" << true << "vob"
                                        << "mpg";
        QTest::newRow("MPEG-2 two languages TS") << "mpeg2video" << QStringList{"mp2", "mp2"} << "mpegts"
                                                 << "ts" << false << "mpegts"
                                                 << "ts";
        QTest::newRow("MPEG-1 PS") << "mpeg1video" << QStringList{"mp2"} << "mpeg"
                                   << "MPEG" << true << "vob"
                                   << "MPEG";
        QTest::newRow("MPEG-2 E-AC-3 TS") << "mpeg2video" << QStringList{"eac3"} << "mpegts"
                                          << "tp" << false << "mpegts"
                                          << "tp";
        QTest::newRow("H.264 AAC TS") << "h264" << QStringList{"aac"} << "mpegts"
                                      << "ts" << false << "mpegts"
                                      << "ts";
        QTest::newRow("H.264 AC-3 TS") << "h264" << QStringList{"ac3"} << "mpegts"
                                       << "ts" << false << "mpegts"
                                       << "ts";
        QTest::newRow("HEVC AAC in dvr-ms") << "hevc" << QStringList{"aac"} << "asf"
                                            << "dvr-ms" << false << "mpegts"
                                            << "ts";
        QTest::newRow("H.264 MP2 PS") << "h264" << QStringList{"mp2"} << "mpeg"
                                      << "mpg" << false << "vob"
                                      << "mpg";
        QTest::newRow("H.264 AAC PS") << "h264" << QStringList{"aac"} << "mpeg"
                                      << "mpg" << false << "mpegts"
                                      << "ts";
        QTest::newRow("MPEG-2 in dvr-ms") << "mpeg2video" << QStringList{"mp2"} << "asf"
                                          << "dvr-ms" << true << "vob"
                                          << "mpg";
    }
    void testCutterAndContainer()
    {
        QFETCH(QString, video);
        QFETCH(QStringList, audio);
        QFETCH(QString, format);
        QFETCH(QString, inputExt);
        QFETCH(bool, mencoder);
        QFETCH(QString, muxer);
        QFETCH(QString, outputExt);
        const MediaInfo m = make(qPrintable(video), audio, qPrintable(format));
        // Every recording is cut to the frame by ffmpeg unless mencoder is
        // asked for; mencoder, asked, only where it can copy it all.
        QVERIFY(cutterFor(m, false, true) == Cutter::Ffmpeg);
        const Cutter cutter = cutterFor(m, true);
        QCOMPARE(cutter == Cutter::Mencoder, mencoder);
        QCOMPARE(muxerName(containerFor(m, cutter)), muxer);
        QCOMPARE(extensionFor(containerFor(m, cutter), inputExt), outputExt);
        // The recut after mencoder writes what mencoder would have.
        if (mencoder)
            QCOMPARE(containerFor(m, cutter), containerFor(m, Cutter::Mencoder));
    }

    void testRecordingLength()
    {
        MediaInfo m = make("mpeg2video", {"mp2"});
        m.videoDuration = 362.03;
        // The probe's clock where the detector's count agrees with it.
        QCOMPARE(recordingSeconds(m, 10869, 29.97f), 362.03);
        QCOMPARE(recordingSeconds(m, 0, 0), 362.03);
        // A clock that jumped (here to 26 hours) gives way to the count.
        m.videoDuration = 95000;
        QVERIFY(qAbs(recordingSeconds(m, 10869, 29.97f) - 10869 / 29.97) < 1e-3);
        m.videoDuration = 0;
        m.duration = 0;
        QVERIFY(qAbs(recordingSeconds(m, 10869, 29.97f) - 10869 / 29.97) < 1e-3);
        // A subtitle stream goes to ffmpeg too, which keeps it.
        MediaInfo subs = make("mpeg2video", {"ac3"}, "mpegts");
        subs.subtitleStreams = 1;
        QVERIFY(cutterFor(subs, true) == Cutter::Ffmpeg);
    }

    void testCutLists()
    {
        QCOMPARE(parseEdlCuts("150.52\t211.48\t0\n")->size(), 1);
        QVERIFY(!parseEdlCuts("hello\n"));
        QVERIFY(!parseEdlCuts("1 nan 0\n"));
        QVERIFY(parseEdlCuts("") && parseEdlCuts("")->isEmpty());
        // Mutes and scene markers are not cuts; CR-LF and blanks are fine.
        const auto cuts = parseEdlCuts("10 20 0\r\n30 40 1\r\n\n50 60 3\n70 65 0\n");
        QVERIFY(cuts);
        QCOMPARE(cuts->size(), 2);
        QCOMPARE(cuts->at(1).start, 50.0);

        // Out of order, overlapping and past the end: merged and clipped.
        const QList<Span> merged = normalisedCuts({{50, 70}, {10, 20}, {15, 30}, {90, 200}, {-5, 2}}, 100);
        QCOMPARE(merged.size(), 4);
        QCOMPARE(merged.at(0).start, 0.0);
        QCOMPARE(merged.at(1).end, 30.0);
        QCOMPARE(merged.at(3).end, 100.0);
        const QList<Span> kept = keptSpans(merged, 100);
        QCOMPARE(kept.size(), 3);
        QCOMPARE(kept.at(0).start, 2.0);
        QCOMPARE(kept.at(2).end, 90.0);
        QCOMPARE(totalLength(kept) + totalLength(merged), 100.0);
        QVERIFY(keptSpans({{0, 100}}, 100).isEmpty());
        QCOMPARE(keptSpans({}, 100).size(), 1);
    }

    void testChaptersAndSkipLists()
    {
        // A break at the very start, two that overlap, and the end: each
        // chapter starts where the last ends.
        const QList<Chapter> chapters = chaptersFor({{0, 10}, {50, 70}, {60, 80}}, 100);
        QStringList titles;
        for (const Chapter &c : chapters)
            titles << QStringLiteral("%1-%2 %3").arg(c.start).arg(c.end).arg(c.title);
        QCOMPARE(titles,
                 (QStringList{"0-10 Commercial", "10-50 Programme", "50-80 Commercial", "80-100 Programme"}));
        // Moved to where the picture starts in the file, but the first
        // chapter starts the file.
        QCOMPARE(ffmetadataText(chaptersFor({{41, 62}}, 100), 0.0205),
                 QByteArray(";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=41021\ntitle=Programme\n"
                            "[CHAPTER]\nTIMEBASE=1/1000\nSTART=41021\nEND=62021\ntitle=Commercial\n"
                            "[CHAPTER]\nTIMEBASE=1/1000\nSTART=62021\nEND=100021\ntitle=Programme\n"));
        // Kodi's commercial breaks read back as the cuts they were.
        const QByteArray kodi = edlText({{1.5, 20.25}, {40, 60}}, 3);
        QCOMPARE(kodi, QByteArray("1.500\t20.250\t3\n40.000\t60.000\t3\n"));
        QCOMPARE(parseEdlCuts(kodi)->size(), 2);
        QCOMPARE(parseEdlCuts(kodi)->at(0).end, 20.25);
    }

    void testConcatList()
    {
        const QList<Span> kept = keptSpans({{60, 120}}, 360);
        QCOMPARE(concatList(QStringLiteral("recording.ts"), kept, 360, 1001.4),
                 QByteArray("ffconcat version 1.0\nfile 'recording.ts'\noutpoint 1061.400000\n"
                            "file 'recording.ts'\ninpoint 1121.400000\n"));
        QVERIFY(concatList(QStringLiteral("it's.mpg"), kept, 360, 0).contains("file 'it'\\''s.mpg'\n"));
    }

    // A recording of 10,850 frames at 29.97 fps from 0.5 s, one cut of
    // 150.52-211.48 s: 9,023 frames kept.
    void testVerdicts_data()
    {
        QTest::addColumn<qint64>("frames");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("problem");
        QTest::newRow("exact") << qint64(9023) << true << QString();
        QTest::newRow("one second short") << qint64(8994) << true << QString();
        QTest::newRow("4.5 s short") << qint64(8888) << false
                                     << QStringLiteral("4.5 s shorter than expected");
        QTest::newRow("a key frame long") << qint64(9038) << true << QString();
        // A break of a few seconds left in is more than a key frame's worth.
        QTest::newRow("3 s left in") << qint64(9113) << false << QStringLiteral("3.0 s longer than expected");
        QTest::newRow("the cut not made")
            << qint64(10850) << false << QStringLiteral("61.0 s longer than expected");
        QTest::newRow("a header only") << qint64(0) << false << QStringLiteral("unreadable");
    }
    void testVerdicts()
    {
        QFETCH(qint64, frames);
        QFETCH(bool, ok);
        QFETCH(QString, problem);
        const double fps = 30000.0 / 1001;
        const PacketTimes recording = packets({{0.5, 10850, fps}}, 15);
        const PacketTimes copy = packets({{1.4, frames, fps}}, 15);
        const Verdict v = verifyAgainstRecording(recording, 0.5, clockSeconds(recording, 0.5),
                                                 {{150.52, 211.48}}, copy, fps, false);
        QCOMPARE(v.ok, ok);
        QCOMPARE(v.problem, problem);
        QCOMPARE(v.expectedFrames, qint64(9023));
        QCOMPARE(v.tolerance, 1.0);
    }

    // Recordings with the faults of real broadcasts, and a copy that holds
    // exactly their frames inside the kept spans: each is right.
    void testBroadcastFaults_data()
    {
        QTest::addColumn<QList<Run>>("runs");
        QTest::addColumn<QList<Span>>("cuts");
        QTest::addColumn<qint64>("kept");
        QTest::addColumn<double>("playing");
        const double ntsc = 30000.0 / 1001;
        // 4.7 s of packets lost at 100 s: the clock runs on, the frames do not.
        QTest::newRow("dropout") << QList<Run>{{0.5, 2997, ntsc}, {104.7 + 0.5, 7853, ntsc}}
                                 << QList<Span>{{150.0, 210.0}} << qint64(10850 - 1798) << 362.0;
        // Programme at 29.97, adverts at 59.94.
        QTest::newRow("rate change") << QList<Run>{{0.5, 4500, ntsc},
                                                   {150.65, 3600, 2 * ntsc},
                                                   {210.71, 4500, ntsc}}
                                     << QList<Span>{{150.15, 210.21}} << qint64(9000) << 360.3;
        // A re-tuned multiplex: the clock leaps 29,700 s halfway.
        QTest::newRow("clock jump") << QList<Run>{{0.5, 5400, ntsc}, {180.68 + 29700, 5400, ntsc}}
                                    << QList<Span>{{29900.0, 29920.0}} << qint64(10800 - 600) << 360.3;
    }
    void testBroadcastFaults()
    {
        QFETCH(QList<Run>, runs);
        QFETCH(QList<Span>, cuts);
        QFETCH(qint64, kept);
        QFETCH(double, playing);
        const double fps = 30000.0 / 1001;
        const PacketTimes recording = packets(runs, 15);
        QVERIFY2(qAbs(playingSeconds(recording) - playing) < 0.5,
                 qPrintable(QString::number(playingSeconds(recording))));
        const double seconds = clockSeconds(recording, 0.5);
        const QList<Span> keptSpans = media::keptSpans(cuts, seconds);
        // The copy as ffmpeg's concat cut makes it: the kept spans one after
        // another on the recording's clock.
        PacketTimes copy;
        double at = 1.4;
        for (const Span &s : keptSpans) {
            for (double t : recording.times)
                if (t >= 0.5 + s.start && (s.end >= seconds || t < 0.5 + s.end))
                    copy.times.push_back(at + t - (0.5 + s.start));
            at += s.end - s.start;
        }
        finishPackets(copy);
        QVERIFY2(qAbs(copy.count() - kept) <= 1, qPrintable(QString::number(copy.count())));
        const Verdict v = verifyAgainstRecording(recording, 0.5, seconds, cuts, copy, fps, true);
        QVERIFY2(v.ok, qPrintable(v.problem));
        QCOMPARE(v.expectedFrames, copy.count());

        // A copy that lost its last 2 seconds is refused all the same.
        copy.times.resize(copy.times.size() - 60);
        QVERIFY(!verifyAgainstRecording(recording, 0.5, seconds, cuts, copy, fps, true).ok);
    }

    void testSpansAreCheckedOneByOne()
    {
        // Two cuts, three kept spans of 1000, 2000 and 1000 frames.
        const double fps = 25;
        const PacketTimes recording = packets({{0, 6000, fps}}, 12);
        const QList<Span> cuts{{40, 80}, {160, 200}};
        const auto check = [&](const QList<Run> &copy, bool spanBySpan = true) {
            return verifyAgainstRecording(recording, 0, 240, cuts, packets(copy, 12), fps, spanBySpan);
        };
        QVERIFY(check({{10, 4000, fps}}).ok);
        // The right number of frames over the right length of clock, but
        // the second span's frames doubled up and the third all but gone.
        const QList<Run> misplaced{{10, 1000, fps}, {50, 2999, 37.5}, {169.96, 1, fps}};
        QCOMPARE(check(misplaced).problem, QStringLiteral("wrong in its part 2 of 3 (40.0 s long)"));
        // mencoder's clock is its own: only the total is judged.
        QVERIFY(check(misplaced, false).ok);
        // A copy missing its middle is short either way.
        QCOMPARE(check({{10, 2000, fps}}).problem, QStringLiteral("80.0 s shorter than expected"));
    }

    void testBreaksAtEitherEnd()
    {
        // A recording that starts and ends in adverts: the frames before
        // the first kept span and after the last are not expected.
        const double fps = 25;
        const PacketTimes recording = packets({{0, 6000, fps}}, 12);
        const PacketTimes copy = packets({{1.4, 4000, fps}}, 12);
        const Verdict both =
            verifyAgainstRecording(recording, 0, 240, {{0, 40}, {200, 240}}, copy, fps, true);
        QVERIFY2(both.ok, qPrintable(both.problem));
        QCOMPARE(both.expectedFrames, qint64(4000));
        const Verdict first = verifyAgainstRecording(recording, 0, 240, {{0, 80}}, copy, fps, true);
        QVERIFY2(first.ok, qPrintable(first.problem));
    }

    void testRecordingThatStartsMidStream()
    {
        // Tuned in 3 s before a key frame, with 5 s between key frames: the
        // copy starts at the key frame, 75 frames in.
        const double fps = 25;
        PacketTimes recording;
        QByteArray lines;
        for (int i = 0; i < 6000; ++i) {
            const QByteArray t = QByteArray::number(double(i) / fps, 'f', 6);
            lines += t + ',' + t + ((i - 75) % 125 == 0 && i >= 75 ? ",K_\n" : ",__\n");
        }
        addPacketLines(recording, lines);
        finishPackets(recording);
        QCOMPARE(recording.firstKey, 3.0);
        const PacketTimes copy = packets({{1.4, 6000 - 75 - 1000, fps}}, 125);
        const Verdict v = verifyAgainstRecording(recording, 0, 240, {{100, 140}}, copy, fps, true);
        QVERIFY2(v.ok, qPrintable(v.problem));
        QCOMPARE(v.expectedFrames, qint64(6000 - 75 - 1000));
    }

    void testPacketLines()
    {
        PacketTimes p;
        // With the packet's place in the file, where ffprobe knows it.
        const QByteArray text = "1.400000,1.366667,K_\n\nN/A,1.433367,__,\nside_data\n1.500000,N/A,__\n"
                                "2.000000,1.9,K_\n2.5,2.4,1880,K_\n2.6,2.5,2068,__\n3.0,2.9,N/A,K_\n"
                                "3.1,3.0,4.8e38,K_\n3.15,3.05,12.5,K_\n2.1";
        QCOMPARE(addPacketLines(p, text), text.size() - 3);
        QCOMPARE(p.count(), qint64(9));
        // A decoder starts at a key frame whose place is known.
        QCOMPARE(keyAtOrBefore(p, 3.2)->pos, qint64(1880));
        QVERIFY(!keyAtOrBefore(p, 2.4));
        QCOMPARE(p.times.at(1), 1.433367);
        QVERIFY(qAbs(p.maxKeyInterval - 0.6) < 1e-9);
        finishPackets(p);
        QCOMPARE(framesIn(p, 1.4, 1.5), qint64(2));
        QCOMPARE(framesIn(p, 1.5, 1.4), qint64(0));
    }

    void testStreamsOfRealFiles()
    {
        // A transport stream with German and English sound, the English an
        // audio description, read with its last second of packets.
        const MediaInfo two = parseProbe(probeData("two-tracks-ts.json"));
        QCOMPARE(two.streams.size(), 3);
        QCOMPARE(two.streams.at(1).language, QStringLiteral("deu"));
        QCOMPARE(two.streams.at(1).role, QString());
        QCOMPARE(two.streams.at(2).language, QStringLiteral("eng"));
        QCOMPARE(two.streams.at(2).role, QStringLiteral("visual_impaired"));
        for (const StreamInfo &s : two.streams)
            QVERIFY(s.start && s.end && *s.end > 362 && *s.end < 365 && *s.start < 2);
        const TrackCheck same = compareStreams(two, two);
        QCOMPARE(same.problem, QString());
        QCOMPARE(same.pairs.size(), 3);
        // The same file remuxed with its first sound track alone.
        const MediaInfo lost = parseProbe(probeData("two-tracks-ts-lost.json"));
        QCOMPARE(compareStreams(two, lost).problem,
                 QStringLiteral("missing sound track 2 (eng, audio description)"));
        // ffmpeg's concat input drops the roles; the cut gives them back.
        QCOMPARE(dispositionOptions(two), (QStringList{"-disposition:a:1", "visual_impaired"}));
        // A program stream carries neither language nor role.
        const MediaInfo ps = parseProbe(probeData("ps-three.json"));
        QCOMPARE(ps.streams.size(), 2);
        QCOMPARE(ps.streams.at(1).language, QString());
        QVERIFY(dispositionOptions(ps).isEmpty());
        // Labels need a transport stream from ffmpeg; mencoder's copy stays
        // a program stream.
        QVERIFY(containerFor(two, Cutter::Ffmpeg) == Container::TransportStream);
        MediaInfo asf = two;
        asf.formatName = QStringLiteral("asf");
        QVERIFY(containerFor(asf, Cutter::Ffmpeg) == Container::TransportStream);
        asf.streams[1].language.clear();
        asf.streams[2].language.clear();
        asf.streams[2].role.clear();
        QVERIFY(containerFor(asf, Cutter::Ffmpeg) == Container::ProgramStream);
    }

    void testTracksOfACopy_data()
    {
        QTest::addColumn<MediaInfo>("copy");
        QTest::addColumn<QString>("problem");
        // The recording: picture, German and English sound (audio
        // description), German subtitles, a data stream.
        const auto ts = [](const QList<Listed> &l) { return streams("mpegts", l); };
        QTest::newRow("all there") << ts({{"video:mpeg2video"},
                                          {"audio:ac3:deu"},
                                          {"audio:ac3:eng:visual_impaired"},
                                          {"subtitle:dvb_subtitle:deu"}})
                                   << QString();
        QTest::newRow("tracks in another order") << ts({{"video:mpeg2video"},
                                                        {"subtitle:dvb_subtitle:deu"},
                                                        {"audio:ac3:eng:visual_impaired"},
                                                        {"audio:ac3:deu"}})
                                                 << QString();
        QTest::newRow("second sound lost")
            << ts({{"video:mpeg2video"}, {"audio:ac3:deu"}, {"subtitle:dvb_subtitle:deu"}})
            << QStringLiteral("missing sound track 2 (eng, audio description)");
        QTest::newRow("role lost") << ts(
            {{"video:mpeg2video"}, {"audio:ac3:deu"}, {"audio:ac3:eng"}, {"subtitle:dvb_subtitle:deu"}})
                                   << QStringLiteral("missing sound track 2 (eng, audio description)");
        QTest::newRow("languages lost")
            << ts({{"video:mpeg2video"}, {"audio:ac3"}, {"audio:ac3"}, {"subtitle:dvb_subtitle"}})
            << QStringLiteral("missing sound track 1 (deu), sound track 2 (eng, audio description) and "
                              "subtitles 1 (deu)");
        QTest::newRow("subtitles lost")
            << ts({{"video:mpeg2video"}, {"audio:ac3:deu"}, {"audio:ac3:eng:visual_impaired"}})
            << QStringLiteral("missing subtitles 1 (deu)");
        QTest::newRow("sound changed") << ts({{"video:mpeg2video"},
                                              {"audio:mp2:deu"},
                                              {"audio:ac3:eng:visual_impaired"},
                                              {"subtitle:dvb_subtitle:deu"}})
                                       << QStringLiteral("missing sound track 1 (deu)");
        QTest::newRow("picture lost")
            << ts({{"audio:ac3:deu"}, {"audio:ac3:eng:visual_impaired"}, {"subtitle:dvb_subtitle:deu"}})
            << QStringLiteral("missing picture 1");
        // A program stream has no place for labels: the tracks are there.
        QTest::newRow("program stream") << streams(
            "mpeg", {{"audio:ac3"}, {"video:mpeg2video"}, {"audio:ac3"}, {"subtitle:dvb_subtitle"}})
                                        << QString();
        QTest::newRow("program stream, one sound")
            << streams("mpeg", {{"video:mpeg2video"}, {"audio:ac3"}, {"subtitle:dvb_subtitle"}})
            << QStringLiteral("missing sound track 2 (eng, audio description)");
    }
    void testTracksOfACopy()
    {
        QFETCH(MediaInfo, copy);
        QFETCH(QString, problem);
        const MediaInfo recording = streams("mpegts", {{"video:mpeg2video"},
                                                       {"audio:ac3:deu"},
                                                       {"audio:ac3:eng:visual_impaired"},
                                                       {"subtitle:dvb_subtitle:deu"},
                                                       {"data:scte_35"}});
        const TrackCheck check = compareStreams(recording, copy);
        QCOMPARE(check.problem, problem);
        if (problem.isEmpty()) {
            // Every stream judged has a stream of the copy of its own.
            QCOMPARE(check.pairs.size(), 4);
            for (const StreamPair &p : check.pairs)
                QCOMPARE(copy.streams.at(p.copy).type, recording.streams.at(p.recording).type);
        }
    }

    void testSoundInStepInRealCopies()
    {
        // An MP2 program stream with two breaks cut out; the copies' last
        // second read. mencoder's sound ends 0.63 s before its picture, the
        // recording's 0.01 s; ffmpeg's copy ends as the recording does.
        const MediaInfo recording = parseProbe(probeData("ps-three.json"));
        const MediaInfo mencoder = parseProbe(probeData("ps-three-mencoder.json"));
        const MediaInfo ffmpeg = parseProbe(probeData("ps-three-ffmpeg.json"));
        QCOMPARE(outOfStep(recording, mencoder, Edge::Recording, Edge::Recording),
                 QStringLiteral(
                     "out of step: sound track 1 ends 0.63 s before its picture (in the recording, 0.01 s "
                     "before it)"));
        QCOMPARE(outOfStep(recording, ffmpeg, Edge::Recording, Edge::Recording), QString());
        // mencoder's copy of the same cut, and a cut at each end: it ends
        // its streams at a cut, where the recording plays both on.
        const MediaInfo atCut = parseProbe(probeData("ps-three-mencoder-cut.json"));
        QCOMPARE(outOfStep(recording, atCut, Edge::Cut, Edge::Cut),
                 QStringLiteral(
                     "out of step: sound track 1 ends 0.59 s before its picture (where the recording plays "
                     "both on)"));
        QCOMPARE(outOfStep(recording, atCut, Edge::Cut, Edge::NotJudged), QString());
    }

    void testSoundInStepRule_data()
    {
        QTest::addColumn<double>("soundStart");
        QTest::addColumn<double>("soundEnd");
        QTest::addColumn<int>("startEdge");
        QTest::addColumn<int>("endEdge");
        QTest::addColumn<QString>("problem");
        // The recording's sound starts 0.1 s after its picture (at 10.0)
        // and ends 0.15 s after it (at 100.0); the copy's picture runs
        // from 1.0 to 51.0.
        const int rec = int(Edge::Recording), cut = int(Edge::Cut), none = int(Edge::NotJudged);
        QTest::newRow("as the recording") << 1.1 << 51.15 << rec << rec << QString();
        QTest::newRow("end 90 ms off") << 1.1 << 51.06 << rec << rec << QString();
        QTest::newRow("end 110 ms off")
            << 1.1 << 51.04 << rec << rec
            << QStringLiteral("out of step: sound track 1 (deu) ends 0.04 s after its "
                              "picture (in the recording, 0.15 s after it)");
        QTest::newRow("start late")
            << 1.35 << 51.15 << rec << rec
            << QStringLiteral("out of step: sound track 1 (deu) starts 0.35 s after its picture (in "
                              "the recording, 0.10 s after it)");
        // A recording that starts mid-stream: the copy's picture begins at
        // its first key frame, the sound where the recording's does.
        QTest::newRow("start early, pictures before a key frame left out")
            << 0.3 << 51.15 << rec << rec << QString();
        // At a cut the recording plays both on: none is the measure.
        QTest::newRow("cut, together") << 1.0 << 51.05 << cut << cut << QString();
        QTest::newRow("cut, recording's offset")
            << 1.1 << 51.15 << cut << cut
            << QStringLiteral(
                   "out of step: sound track 1 (deu) ends 0.15 s after its picture (where the recording "
                   "plays both on)");
        QTest::newRow("not judged") << 3.0 << 48.0 << none << none << QString();
        // The worse of the two ends is told.
        QTest::newRow("both off")
            << 1.3 << 50.5 << rec << rec
            << QStringLiteral("out of step: sound track 1 (deu) ends 0.50 s before its picture (in the "
                              "recording, 0.15 s after it)");
    }
    void testSoundInStepRule()
    {
        QFETCH(double, soundStart);
        QFETCH(double, soundEnd);
        QFETCH(int, startEdge);
        QFETCH(int, endEdge);
        QFETCH(QString, problem);
        const MediaInfo recording =
            streams("mpegts", {{"video:h264", 9.9, 99.85}, {"audio:aac:deu", 10.0, 100.0}});
        const MediaInfo copy =
            streams("mpegts", {{"video:h264", 1.0, 51.0}, {"audio:aac:deu", soundStart, soundEnd}});
        QCOMPARE(outOfStep(recording, copy, Edge(startEdge), Edge(endEdge)), problem);
        // Where the copy's end was not read, nothing is judged there.
        MediaInfo unread = copy;
        unread.streams[1].end.reset();
        unread.streams[1].start.reset();
        QCOMPARE(outOfStep(recording, unread, Edge(startEdge), Edge(endEdge)), QString());
    }

    void testSoundAtCuts()
    {
        // As ffmpeg tells of it with three inputs, the muxer's complaints
        // and the decoder's own lines not counted.
        const QByteArray errors =
            "[ac3 @ 0x55] error in bit allocation\n"
            "Error while decoding stream #0:1: Invalid data found when processing input\n"
            "[null @ 0x56] Application provided invalid, non monotonically increasing dts\n"
            "Error while decoding stream #2:1: Error number -16976906 occurred\n"
            "Error while decoding stream #2:2: Invalid data found when processing input\n"
            "Error while decoding stream #17:1: out of range\n";
        QCOMPARE(decodeErrorsByInput(errors, 3), (QList<int>{1, 0, 2}));
        // A window that starts mid-frame fails once in either file, and the
        // frame a cut splits fails too.
        QVERIFY(soundBrokenAtCuts({2, 2}, {1, 0}, {1, 1}).isEmpty());
        QCOMPARE(
            soundBrokenAtCuts({1, 3}, {1, 0}, {1, 1}),
            QStringLiteral("sound that fails to decode at cut 2 (3 frames, against 1 in the recording)"));
    }

    void testSoundMovedAtCutsInRealCopies()
    {
        // An MP2 program stream cut at 40.5-61.5 and 102.5-118.5 s: a
        // second of each copy after each cut, and the recording around
        // where that span starts, as ffprobe lists them.
        const QByteArray recordingJson = probeData("ps-cuts.json");
        const MediaInfo recording = parseProbe(recordingJson);
        const QList<HashedPacket> recordingPackets = parseHashedPackets(recordingJson);
        QVERIFY(recordingPackets.size() > 100);
        const auto judge = [&](const char *name, double copyStart) {
            const QByteArray json = probeData(name);
            const MediaInfo copy = parseProbe(json);
            const QList<CutWindows> windows{{{copyStart + 40.5, copyStart + 41.5}, {61.833, 64.033}},
                                            {{copyStart + 81.5, copyStart + 82.5}, {118.833, 122.033}}};
            return soundMovedAtCuts(recording, copy, compareStreams(recording, copy).pairs, recordingPackets,
                                    parseHashedPackets(json), windows);
        };
        // ffmpeg's copy runs on the recording's clock, each span moved on
        // by the cuts before it and its sound with its picture.
        const SoundAtCuts ffmpeg = judge("ps-cuts-ffmpeg.json", 0.533);
        QCOMPARE(ffmpeg.problem, QString());
        QVERIFY(ffmpeg.unmeasured.isEmpty());
        // The same copy with 0.6 s of sound left out at cut 1, as a read of
        // too few bytes left it: what remains is in step.
        {
            const QByteArray json = probeData("ps-cuts-ffmpeg.json");
            QList<HashedPacket> holed = parseHashedPackets(json);
            holed.removeIf(
                [](const HashedPacket &p) { return p.stream == 1 && p.time >= 40.5 && p.time < 41.1; });
            const MediaInfo copy = parseProbe(json);
            const SoundAtCuts hole =
                soundMovedAtCuts(recording, copy, compareStreams(recording, copy).pairs, recordingPackets,
                                 holed, {{{40.4, 41.4}, {61.833, 64.033}}});
            QCOMPARE(hole.problem, QStringLiteral("sound missing for 0.62 s at cut 1"));
        }
        // mencoder's starts its own clock at 0.23 s and loses its place: its
        // sound comes 0.07 s early after the first cut, 0.24 s after the
        // second (what silence and black picture there show too).
        const SoundAtCuts mencoder = judge("ps-cuts-mencoder.json", 0.233);
        QCOMPARE(mencoder.problem, QStringLiteral("sound 0.24 s ahead of its picture after cut 2"));
        const QList<HashedPacket> copyPackets = parseHashedPackets(probeData("ps-cuts-mencoder.json"));
        const std::optional<double> picture =
            packetShift(copyPackets, 0, {40.733, 41.733}, recordingPackets, 0, {61.833, 64.033}, -21.3);
        const std::optional<double> sound =
            packetShift(copyPackets, 1, {40.733, 41.733}, recordingPackets, 1, {61.833, 64.033}, -21.3);
        QVERIFY(picture && sound);
        QCOMPARE(qRound((*sound - *picture) * 1000), -66);
        // A cutter that packs the sound anew leaves nothing to find: not
        // judged, and said so.
        QList<HashedPacket> repacked = copyPackets;
        for (HashedPacket &p : repacked)
            if (p.stream == 1)
                p.hash += QLatin1Char('x');
        const MediaInfo copy = parseProbe(probeData("ps-cuts-mencoder.json"));
        const SoundAtCuts unmeasured = soundMovedAtCuts(
            recording, copy, compareStreams(recording, copy).pairs, recordingPackets, repacked,
            {{{40.733, 41.733}, {61.833, 64.033}}, {{81.733, 82.733}, {118.833, 122.033}}});
        QCOMPARE(unmeasured.problem, QString());
        QCOMPARE(unmeasured.unmeasured, (QStringList{"sound at cut 1", "sound at cut 2"}));
    }

    void testPacketShiftRule()
    {
        // A steady tone repeats its packets every 0.6 s: found at three
        // shifts as often, the one nearest the picture's is taken; one
        // more packet found at a shift decides it.
        QList<HashedPacket> recording, copy;
        for (int i = 0; i < 20; ++i) {
            const QString hash = QString::number(i % 5);
            recording << HashedPacket{1, 10.0 + 0.12 * i, hash};
            if (i >= 5 && i < 15)
                copy << HashedPacket{1, 2.0 + 0.12 * i, hash};
        }
        const Span copyWindow{2.0, 4.0}, recordingWindow{9.0, 13.0};
        QCOMPARE(packetShift(copy, 1, copyWindow, recording, 1, recordingWindow, -8.1), std::optional(-8.0));
        QCOMPARE(packetShift(copy, 1, copyWindow, recording, 1, recordingWindow, -7.5), std::optional(-7.4));
        copy << HashedPacket{1, 3.9, QStringLiteral("once")};
        recording << HashedPacket{1, 12.5, QStringLiteral("once")};
        QCOMPARE(packetShift(copy, 1, copyWindow, recording, 1, recordingWindow, -7.5), std::optional(-8.6));
        // Two packets found say nothing.
        QCOMPARE(packetShift(copy.mid(0, 2), 1, copyWindow, recording.mid(5, 2), 1, recordingWindow),
                 std::optional<double>());
        // A span shorter than the window: the next cut's packets are not
        // looked for here.
        const QList<CutWindows> w = cutWindows({{0, 40}, {60, 61}, {80, 100}}, 0.5, 1.0);
        QCOMPARE(w.size(), 2);
        QCOMPARE(w.at(0).copy.start, 40.5);
        QCOMPARE(w.at(0).copy.end, 41.5);
        QCOMPARE(w.at(1).copy.start, 41.5);
        QCOMPARE(w.at(1).recording.start, 78.5);
        QCOMPARE(w.at(1).recording.end, 86.5);
    }

    void testFfmpegProgress()
    {
        QCOMPARE(scanFfmpegProgress(u"frame=10\nout_time_us=1500000\nprogress=continue\n"),
                 std::optional<double>(1.5));
        // The last complete value of the chunk counts; one cut off by the
        // read does not.
        QCOMPARE(scanFfmpegProgress(u"out_time_us=1000000\nout_time_us=2000000\nout_time_us=30"),
                 std::optional<double>(2.0));
        QCOMPARE(scanFfmpegProgress(u"out_time_us=N/A\n"), std::nullopt);
        QCOMPARE(scanFfmpegProgress(u"  0:00:57 - 1734 frames in 1.00 sec, 15%"), std::nullopt);
        QCOMPARE(scanFfmpegProgress(u"out_time_us=99999999999999999999999\n"), std::nullopt);
    }
};

QTEST_MAIN(TestMedia)
#include "tst_media.moc"
