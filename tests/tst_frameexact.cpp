// trimlet-cli cuts recordings with long groups of pictures (6 s, as IPTV
// and satellite channels send them) from a list given to it, and the copy
// is compared picture by picture with the recording: every picture of the
// kept spans where it belongs, within a frame at each edge, the copied ones
// bit for bit, and not one decoder error; and a copy whose pictures after
// a join come from the wrong place is refused.

#include "CliSupport.h"

#include <QCryptographicHash>

#include <cmath>

namespace {

constexpr double kFps = 25;
constexpr int kWidth = 32;
constexpr int kHeight = 24;

struct Pictures
{
    QList<QByteArray> hashes; // of each decoded picture, whole
    QList<QByteArray> thumbs; // each picture shrunk to 32×24 grey
    QString errors; // what the decoder said
};

Pictures decode(const QString &file)
{
    Pictures p;
    QTemporaryDir dir;
    const QString md5 = dir.filePath(QStringLiteral("md5")), raw = dir.filePath(QStringLiteral("raw"));
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-nostdin"),
                  QStringLiteral("-v"),
                  QStringLiteral("error"),
                  QStringLiteral("-i"),
                  file,
                  QStringLiteral("-map"),
                  QStringLiteral("0:v:0"),
                  QStringLiteral("-fps_mode"),
                  QStringLiteral("vfr"),
                  QStringLiteral("-f"),
                  QStringLiteral("framemd5"),
                  md5,
                  QStringLiteral("-map"),
                  QStringLiteral("0:v:0"),
                  QStringLiteral("-vf"),
                  QStringLiteral("scale=%1:%2:flags=area,format=gray").arg(kWidth).arg(kHeight),
                  QStringLiteral("-fps_mode"),
                  QStringLiteral("vfr"),
                  QStringLiteral("-f"),
                  QStringLiteral("rawvideo"),
                  raw});
    if (!ffmpeg.waitForFinished(120000))
        return p;
    p.errors = QString::fromUtf8(ffmpeg.readAllStandardError()).trimmed();
    for (const QByteArray &line : readAll(md5).split('\n'))
        if (!line.startsWith('#') && line.contains(','))
            p.hashes << line.split(',').last().trimmed();
    const QByteArray thumbs = readAll(raw);
    for (qsizetype at = 0; at + kWidth * kHeight <= thumbs.size(); at += kWidth * kHeight)
        p.thumbs << thumbs.mid(at, kWidth * kHeight);
    return p;
}

double difference(const QByteArray &a, const QByteArray &b)
{
    double sum = 0;
    for (qsizetype k = 0; k < a.size(); ++k)
        sum += std::abs(int(uchar(a.at(k))) - int(uchar(b.at(k))));
    return sum / double(a.size());
}

} // namespace

class TestFrameExact : public QObject
{
    Q_OBJECT
private slots:
    void testPicturesAtEveryEdge_data();
    void testPicturesAtEveryEdge();
};

void TestFrameExact::testPicturesAtEveryEdge_data()
{
    QTest::addColumn<QStringList>("options"); // make_recording.sh's
    QTest::addColumn<QString>("extension");
    QTest::addColumn<int>("copied"); // pictures at least that are the recording's bit for bit
    QTest::addColumn<QString>("says");
    // Where the row's cutter is a stand-in that damages the copy: how the
    // copy is refused.
    QTest::addColumn<QString>("refused");
    QTest::addColumn<QString>("layout");
    // Seconds of the recording's start left out, cut off at a packet as a
    // recorder that tunes in mid-stream does.
    QTest::addColumn<double>("tunedIn");
    // The lists keep the recording's last picture, a span of one after the
    // last cut.
    QTest::addColumn<bool>("lastAlone");

    const QString kLayout = QStringLiteral("show:12 ad:5 show:12");
    const QStringList longGop{QStringLiteral("-r"),  QStringLiteral("25"), QStringLiteral("-k"),
                              QStringLiteral("150"), QStringLiteral("-a"), QStringLiteral("aac"),
                              QStringLiteral("-f"),  QStringLiteral("ts")};
    // Key frames at 0, 6, 12, 18, 24 s; kept: 2.3-12.5 s (a whole group
    // inside) and 18.7-28.1 s (none).
    QTest::newRow("h264 idr") << (QStringList{QStringLiteral("-v"), QStringLiteral("h264-long")} + longGop)
                              << "ts" << 145 << "Frame-exact at all 4 edges" << QString() << kLayout << 0.0
                              << false;
    QTest::newRow("h264 idr, the span after cut 1 encoded from the wrong place")
        << (QStringList{QStringLiteral("-v"), QStringLiteral("h264-long")} + longGop) << "ts" << 0
        << QString()
        << QStringLiteral("The copy's pictures are damaged for 1.3 s after cut 1, so it was not kept.")
        << kLayout << 0.0 << false;
    QTest::newRow("hevc cra") << (QStringList{QStringLiteral("-v"), QStringLiteral("hevc-cra")} + longGop)
                              << "ts" << 145 << "Frame-exact at all 4 edges" << QString() << kLayout << 0.0
                              << false;
    // Only the first key frame is an IDR: no copy can start at the others.
    QTest::newRow("h264 open gop") << (QStringList{QStringLiteral("-v"), QStringLiteral("h264-open")}
                                       + longGop)
                                   << "ts" << 0 << "I-frames that no copy can start at (not IDR)" << QString()
                                   << kLayout << 0.0 << false;
    // Interlaced, open groups of 60 pictures, B-frames; pictures packed
    // several to a packet in the program stream.
    QTest::newRow("mpeg2 ps interlaced open gop")
        << QStringList{QStringLiteral("-v"), QStringLiteral("mpeg2-open"), QStringLiteral("-r"),
                       QStringLiteral("25"), QStringLiteral("-g"),         QStringLiteral("60"),
                       QStringLiteral("-i"), QStringLiteral("-f"),         QStringLiteral("ps")}
        << "mpg" << 380 << "Frame-exact at all 4 edges" << QString() << kLayout << 0.0 << false;
    // Black pictures of 82 bytes: the piece encoded anew at the end of the
    // first span is two of them, fewer packets than ffmpeg needs to
    // take a file for a transport stream. The last picture kept alone is
    // encoded without B-frames right after pieces with them.
    QTest::newRow("mpeg2 ps, a piece of a few black pictures, the last picture alone")
        << QStringList{QStringLiteral("-r"), QStringLiteral("25"), QStringLiteral("-s"),
                       QStringLiteral("176x120")}
        << "mpg" << 380 << "Frame-exact at all 5 edges" << QString() << kLayout << 0.0 << true;
    QTest::newRow("mpeg2 ts interlaced open gop")
        << QStringList{QStringLiteral("-v"), QStringLiteral("mpeg2-open"), QStringLiteral("-r"),
                       QStringLiteral("25"), QStringLiteral("-g"),         QStringLiteral("60"),
                       QStringLiteral("-i"), QStringLiteral("-f"),         QStringLiteral("ts")}
        << "ts" << 380 << "Frame-exact at all 4 edges" << QString() << kLayout << 0.0 << false;
    // The 33-bit clock goes round 25 s in, inside the second kept span: the
    // pieces before it start in the clock's last minute, one after it.
    QTest::newRow("mpeg2 ts across the clock's wrap")
        << QStringList{QStringLiteral("-v"), QStringLiteral("mpeg2-open"), QStringLiteral("-r"),
                       QStringLiteral("25"), QStringLiteral("-g"),         QStringLiteral("60"),
                       QStringLiteral("-i"), QStringLiteral("-o"),         QStringLiteral("95417.3"),
                       QStringLiteral("-f"), QStringLiteral("ts")}
        << "ts" << 380 << "Frame-exact at all 4 edges" << QString() << kLayout << 0.0 << false;
    // Tuned in 3 s into a 6 s group: the pictures before the first key
    // frame are none that a decoder shows, and the detector counts from
    // that key frame on, so the lists are the same as the others' from
    // there.
    QTest::newRow("h264 idr, tuned in mid-group")
        << (QStringList{QStringLiteral("-v"), QStringLiteral("h264-long")} + longGop) << "ts" << 145
        << "Frame-exact at all 4 edges" << QString() << QStringLiteral("show:18 ad:5 show:12") << 3.0
        << false;
}

void TestFrameExact::testPicturesAtEveryEdge()
{
    QFETCH(QStringList, options);
    QFETCH(QString, extension);
    QFETCH(int, copied);
    QFETCH(QString, says);
    QFETCH(QString, refused);
    QFETCH(QString, layout);
    QFETCH(double, tunedIn);
    QFETCH(bool, lastAlone);
    QTemporaryDir dir;
    const QString recording = dir.filePath(QStringLiteral("rec.") + extension);
    QCOMPARE(QProcess::execute(QStringLiteral(TRIMLET_TEST_SCRIPTS "/make_recording.sh"),
                               options + QStringList{recording, layout}),
             0);
    if (tunedIn > 0) {
        QProcess probe;
        probe.start(QStringLiteral("ffprobe"),
                    {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
                     QStringLiteral("v:0"), QStringLiteral("-show_entries"),
                     QStringLiteral("packet=pts_time,pos"), QStringLiteral("-of"), QStringLiteral("csv=p=0"),
                     recording});
        QVERIFY(probe.waitForFinished(60000));
        qint64 at = -1;
        for (const QByteArray &line : probe.readAllStandardOutput().split('\n')) {
            const QList<QByteArray> f = line.split(',');
            if (f.size() >= 2 && f.at(0).toDouble() >= tunedIn) {
                at = f.at(1).toLongLong() / 188 * 188;
                break;
            }
        }
        QVERIFY(at > 0);
        writeFile(recording, readAll(recording).mid(at));
    }
    // The detector's lists, as comskip would leave them.
    writeFile(
        dir.filePath(QStringLiteral("rec.txt")),
        QByteArray(
            "FILE PROCESSING COMPLETE  775 FRAMES AT  2500\n-------------------\n1\t57\n313\t467\n703\t")
            + (lastAlone ? "774\n" : "775\n"));
    writeFile(dir.filePath(QStringLiteral("rec.edl")), QByteArray("0.00\t2.30\t0\n12.50\t18.70\t0\n28.10\t")
                                                           + (lastAlone ? "30.96" : "31.00") + "\t0\n");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_LOGGING_RULES"));
    // A temporary folder whose name ffmpeg's lists would read as a URL's
    // query and fragment.
    const QString temporary = dir.filePath(QStringLiteral("tmp?q#f"));
    QVERIFY(QDir().mkpath(temporary));
    env.insert(QStringLiteral("TMPDIR"), temporary);
    if (!refused.isEmpty())
        env.insert(QStringLiteral("PATH"),
                   QStringLiteral(TRIMLET_TEST_TOOLS "/misplaced:") + env.value(QStringLiteral("PATH")));
    const CliRun run =
        runCli({QStringLiteral("--cutter"), QStringLiteral("frame-exact"),
                QStringLiteral("--use-existing-detection"), QStringLiteral("--json"), recording},
               env, dir.path(), 180000);
    if (!refused.isEmpty()) {
        QCOMPARE(run.status, 1);
        QVERIFY2(run.message().startsWith(refused), qPrintable(run.message()));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("rec.clean.") + extension)));
        return;
    }
    QVERIFY2(run.status == 0, qPrintable(run.errors));
    QCOMPARE(run.state(), QStringLiteral("done"));
    QVERIFY2(run.message().contains(says), qPrintable(run.message()));

    const Pictures source = decode(recording);
    const Pictures copy = decode(dir.filePath(QStringLiteral("rec.clean.") + extension));
    if (tunedIn == 0)
        QCOMPARE(source.errors, QString());
    QCOMPARE(copy.errors, QString());
    QCOMPARE(source.thumbs.size(), 775);
    // The pictures the list keeps, in the recording's count: from the first
    // picture at or after the in-point to the last before the out-point.
    QList<int> expected;
    for (const auto &[from, to] : {std::pair{2.3, 12.5}, std::pair{18.7, 28.1}})
        for (int k = int(std::ceil(from * kFps - 0.5)); k < int(std::ceil(to * kFps - 0.5)); ++k)
            expected << k;
    if (lastAlone)
        expected << 774;
    QVERIFY2(
        std::abs(copy.thumbs.size() - expected.size()) <= 4,
        qPrintable(QStringLiteral("%1 pictures, %2 expected").arg(copy.thumbs.size()).arg(expected.size())));
    QCOMPARE(copy.hashes.size(), copy.thumbs.size());
    int exact = 0;
    for (qsizetype j = 0; j < copy.thumbs.size() && j < expected.size(); ++j) {
        const int e = expected.at(j);
        // Where it is best like the recording, among the pictures around
        // its place: its own, or one next to it. Of pictures alike (a run
        // of black ones), the nearest.
        int best = e;
        for (int d : {-1, 1, -2, 2, -3, 3}) {
            const int k = e + d;
            if (k >= 0 && k <= 774
                && difference(copy.thumbs.at(j), source.thumbs.at(k))
                       < difference(copy.thumbs.at(j), source.thumbs.at(best)) - 0.01)
                best = k;
        }
        QVERIFY2(std::abs(best - e) <= 1 && difference(copy.thumbs.at(j), source.thumbs.at(best)) < 3,
                 qPrintable(QStringLiteral("picture %1 of the copy is most like %2 of the recording (%3 "
                                           "apart), not %4")
                                .arg(j)
                                .arg(best)
                                .arg(difference(copy.thumbs.at(j), source.thumbs.at(best)))
                                .arg(e)));
        exact += copy.hashes.at(j) == source.hashes.at(best);
    }
    QVERIFY2(exact >= copied, qPrintable(QStringLiteral("%1 pictures copied bit for bit").arg(exact)));
}

QTEST_GUILESS_MAIN(TestFrameExact)
#include "tst_frameexact.moc"
