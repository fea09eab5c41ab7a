// The verdict on a cut copy: judged from what the tools said of stored
// files, without cutting anything, and on a real recording cut by Debian's
// ffmpeg, once as it cuts and once by a cutter that loses pictures.

#include "CoreSupport.h"
#include "core/CopyVerdict.h"
#include "core/PictureCheck.h"
#include "jobs/RunPipeline.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace media;

namespace {

QByteArray probeData(const char *name)
{
    QFile f(QStringLiteral(TRIMLET_TEST_DATA "/probe/") + QLatin1String(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Pictures named rA to rB - 1 of a recording at 30 fps, one of them a
// picture of its own.
QStringList pictures(int from, int to)
{
    QStringList names;
    for (int i = from; i < to; ++i)
        names << QStringLiteral("r%1").arg(i);
    return names;
}

// Each picture's thumbnail: rN's steps 7 levels from rN+1's; "rN~" is rN
// encoded anew, a level off in every other place; any other name is grey.
QByteArray thumbOf(const QString &name)
{
    QByteArray thumb(kThumbWidth * kThumbHeight, char(128));
    const bool anew = name.endsWith(QLatin1Char('~'));
    bool ok = false;
    const int n = name.mid(1, name.size() - 1 - int(anew)).toInt(&ok);
    if (!name.startsWith(QLatin1Char('r')) || !ok)
        return thumb;
    for (qsizetype k = 0; k < thumb.size(); ++k)
        thumb[k] = char((n * 7 + k) % 200 + (anew && k % 2 == 0));
    return thumb;
}

QList<Picture> shown(const QStringList &names, double from)
{
    QList<Picture> list;
    for (const QString &name : names)
        list.append({from + double(list.size()) / 30, name.toLatin1(), thumbOf(name)});
    return list;
}

QString tool(const char *name)
{
    return QStandardPaths::findExecutable(QLatin1String(name));
}

// The removal step by ffmpeg alone on movie with the cut list edl: the
// outcome, a default one when the run did not end.
Outcome cutWithFfmpeg(const QString &movie, const QByteArray &edl, const QString &outputName,
                      const QString &ffmpeg)
{
    const QFileInfo info(movie);
    writeFile(info.dir().filePath(info.completeBaseName() + QStringLiteral(".edl")), edl);
    RunRequest request;
    request.recording = movie;
    request.output = info.dir().filePath(outputName);
    request.remove = true;
    request.skipMencoder = true;
    request.tools.ffmpeg = ffmpeg;
    request.tools.ffprobe = tool("ffprobe");
    RunPipeline run(request);
    QSignalSpy finished(&run, &RunPipeline::finished);
    run.start();
    return finished.wait(300000) ? run.result() : Outcome();
}

} // namespace

class TestCopyCheck final : public QObject
{
    Q_OBJECT

private slots:
    void testStreamsVerdict_data()
    {
        QTest::addColumn<QByteArray>("recording");
        QTest::addColumn<QByteArray>("copy");
        QTest::addColumn<int>("cutter");
        QTest::addColumn<bool>("cutAtBothEnds");
        QTest::addColumn<QString>("statement");
        QTest::addColumn<QString>("mencoderProblem");
        const int mencoder = int(Cutter::Mencoder), ffmpeg = int(Cutter::Ffmpeg);
        QTest::newRow("a track lost")
            << QByteArray("two-tracks-ts.json") << QByteArray("two-tracks-ts-lost.json") << ffmpeg << false
            << QStringLiteral("The cut copy is missing sound track 2 (eng, audio description)")
            << QStringLiteral("was missing sound track 2 (eng, audio description)");
        QTest::newRow("no answer on the copy")
            << QByteArray("ps-three.json") << QByteArray() << mencoder << false
            << QStringLiteral("The cut copy could not be read") << QStringLiteral("could not be read");
        // mencoder ends its streams together at a cut, so its ends there
        // are held to that; ffmpeg's concat input switches its streams
        // apart at a cut, so the same ends say nothing of its copy.
        QTest::newRow("mencoder's sound ends early at a cut")
            << QByteArray("ps-three.json") << QByteArray("ps-three-mencoder-cut.json") << mencoder << true
            << QStringLiteral("The cut copy is out of step: sound track 1 ends 0.59 s before its picture "
                              "(where the recording plays both on)")
            << QStringLiteral("was out of step: sound track 1 ends 0.59 s before its picture (where the "
                              "recording plays both on)");
        QTest::newRow("the same ends from ffmpeg")
            << QByteArray("ps-three.json") << QByteArray("ps-three-mencoder-cut.json") << ffmpeg << true
            << QString() << QString();
        // Where nothing was cut at the ends, the recording's own is the
        // measure, whoever cut.
        QTest::newRow("mencoder's sound ends early at the recording's end")
            << QByteArray("ps-three.json") << QByteArray("ps-three-mencoder.json") << mencoder << false
            << QStringLiteral("The cut copy is out of step: sound track 1 ends 0.63 s before its picture "
                              "(in the recording, 0.01 s before it)")
            << QStringLiteral("was out of step: sound track 1 ends 0.63 s before its picture (in the "
                              "recording, 0.01 s before it)");
        QTest::newRow("ffmpeg's copy in step")
            << QByteArray("ps-three.json") << QByteArray("ps-three-ffmpeg.json") << ffmpeg << false
            << QString() << QString();
    }
    void testStreamsVerdict()
    {
        QFETCH(QByteArray, recording);
        QFETCH(QByteArray, copy);
        QFETCH(int, cutter);
        QFETCH(bool, cutAtBothEnds);
        QFETCH(QString, statement);
        QFETCH(QString, mencoderProblem);
        const MediaInfo r = parseProbe(probeData(recording.constData()));
        QVERIFY(r.parsed);
        const std::optional<MediaInfo> c =
            copy.isEmpty() ? std::nullopt : std::optional(parseProbe(probeData(copy.constData())));
        StreamFacts facts;
        facts.recording = &r;
        facts.copy = c ? &*c : nullptr;
        facts.recordingSeconds = 600;
        facts.kept = cutAtBothEnds ? QList<Span>{{10, 200}, {260, 500}} : QList<Span>{{0, 200}, {260, 600}};
        facts.cutter = Cutter(cutter);
        const StreamsJudged judged = judgeStreams(facts);
        QCOMPARE(judged.verdict.kept(), statement.isEmpty());
        if (!statement.isEmpty()) {
            QCOMPARE(judged.verdict.statement(QStringLiteral("cut copy")), statement);
            QCOMPARE(judged.verdict.mencoderProblem, mencoderProblem);
            QVERIFY(!c || !judged.verdict.runLog.isEmpty());
        }
    }

    void testJoinOfPictures_data()
    {
        // The recording's pictures r0 to r129, one every 1/30 s; the list
        // keeps up to r49 and from r80 on. The copy's window shows r30 on.
        QTest::addColumn<QStringList>("copy");
        QTest::addColumn<QList<Span>>("reencoded"); // on the copy's clock
        QTest::addColumn<bool>("frameExact");
        QTest::addColumn<QString>("statement");
        QTest::addColumn<int>("complaints"); // the decoder's, in the copy's window
        const QStringList right = pictures(30, 50) + pictures(80, 100);
        QTest::newRow("as the list") << right << QList<Span>() << true << QString() << 0;
        QTest::newRow("a picture of the break more")
            << pictures(30, 50) + pictures(79, 100) << QList<Span>() << true << QString() << 0;
        QTest::newRow("two pictures of the break more")
            << pictures(30, 50) + pictures(78, 100) << QList<Span>() << true
            << QStringLiteral("The copy's pictures are damaged for 0.1 s after cut 1") << 0;
        // A stream copy starts a span at the key frame before its place.
        QTest::newRow("a key-frame cutter's group early")
            << pictures(30, 50) + pictures(72, 100) << QList<Span>() << false << QString() << 0;
        QTest::newRow("programme lost before the cut")
            << pictures(30, 46) + pictures(80, 100) << QList<Span>() << false
            << QStringLiteral("The copy's pictures are damaged for 0.1 s before cut 1") << 0;
        QTest::newRow("1.3 s lost after the cut")
            << pictures(30, 50) + pictures(119, 130) << QList<Span>() << false
            << QStringLiteral("The copy's pictures are damaged for 1.3 s after cut 1") << 0;
        QStringList repeated = right;
        repeated.insert(25, QStringLiteral("r84"));
        // The pictures before the repeat are one place early against those
        // after it, which are more: they are the wrong ones.
        QTest::newRow("a picture repeated")
            << repeated << QList<Span>() << false
            << QStringLiteral("The copy's pictures are damaged for 0.2 s after cut 1") << 0;
        QStringList swapped = right;
        swapped.swapItemsAt(22, 23);
        QTest::newRow("two pictures out of order")
            << swapped << QList<Span>() << false
            << QStringLiteral("The copy's pictures are damaged for 0.1 s after cut 1") << 0;
        QStringList corrupt = right;
        for (int i = 20; i < 24; ++i)
            corrupt[i] = QStringLiteral("grey");
        QTest::newRow("pictures decoded without their references")
            << corrupt << QList<Span>() << false
            << QStringLiteral("The copy's pictures are damaged for 0.1 s after cut 1") << 0;
        // Encoded anew by the cutter: not the recording's bit for bit, but
        // to the eye; and pictures encoded anew that are not.
        QStringList anew = right;
        for (int i = 20; i < 24; ++i)
            anew[i] = QStringLiteral("r%1~").arg(80 + i - 20);
        QTest::newRow("the same pictures encoded anew")
            << anew << QList<Span>{{20.0 / 30, 24.0 / 30}} << true << QString() << 0;
        QTest::newRow("other pictures encoded anew")
            << corrupt << QList<Span>{{20.0 / 30, 24.0 / 30}} << true
            << QStringLiteral("The copy's pictures are damaged for 0.1 s after cut 1") << 0;
        // A whole span encoded anew, one picture late: the edge is told by
        // the thumbnails alone.
        QStringList late;
        for (int i = 0; i < 20; ++i)
            late << QStringLiteral("r%1").arg(30 + i);
        for (int i = 0; i < 20; ++i)
            late << QStringLiteral("r%1~").arg(82 + i);
        QTest::newRow("a span encoded anew two pictures late")
            << late << QList<Span>{{20.0 / 30, 40.0 / 30}} << true
            << QStringLiteral("The copy's pictures are damaged for 0.1 s after cut 1") << 0;
        // Decoding the copy's window started between key frames.
        QStringList unkeyed = right;
        for (int i = 0; i < 4; ++i)
            unkeyed[i] = QStringLiteral("grey");
        QTest::newRow("the window's first pictures") << unkeyed << QList<Span>() << true << QString() << 0;
        // Every picture right, and the decoder complaining at the cut where
        // it does not in the recording: held against a frame-exact cutter,
        // not against a stream copy, whose copies all do so (a packet cut
        // short).
        QTest::newRow("a frame-exact cut the decoder complains of")
            << right << QList<Span>() << true
            << QStringLiteral("The copy's pictures are damaged for 0.1 s after cut 1") << 2;
        QTest::newRow("a stream copy the decoder complains of")
            << right << QList<Span>() << false << QString() << 2;
    }
    void testJoinOfPictures()
    {
        QFETCH(QStringList, copy);
        QFETCH(QList<Span>, reencoded);
        QFETCH(bool, frameExact);
        QFETCH(QString, statement);
        QFETCH(int, complaints);
        JoinPictures join;
        // Each file on its own clock: the copy's from 0, the recording's
        // from 100 s.
        join.copy = shown(copy, 0);
        join.before = shown(pictures(0, 60), 100);
        join.after = shown(pictures(70, 130), 100 + 70.0 / 30);
        join.spanEnd = 100 + 50.0 / 30;
        join.spanStart = 100 + 80.0 / 30;
        join.reencoded = reencoded;
        JoinJudged judged = judgeJoin(join, 30, 8);
        QVERIFY(judged.judged);
        judged.copyErrors = complaints;
        const CopyVerdict v = judgePictures(
            {judged}, 30, frameExact ? EdgeLimits{1, 1, true} : EdgeLimits{16, 3, false}, Cutter::Ffmpeg);
        QCOMPARE(v.kept() ? QString() : v.statement(QStringLiteral("cut copy")), statement);
    }

    void testSpansAMomentApart()
    {
        // A break of five pictures, both edges encoded anew: the recording's
        // windows either side of it are the same pictures, and each span is
        // placed by the copy's pictures on its side of the join.
        QStringList copy;
        for (int i = 40; i < 50; ++i)
            copy << QStringLiteral("r%1~").arg(i);
        for (int i = 55; i < 65; ++i)
            copy << QStringLiteral("r%1~").arg(i);
        JoinPictures join;
        join.copy = shown(copy, 0);
        join.before = join.after = shown(pictures(20, 100), 100 + 20.0 / 30);
        join.spanEnd = 100 + 50.0 / 30;
        join.spanStart = 100 + 55.0 / 30;
        join.join = 10.0 / 30;
        join.reencoded = {{0, 20.0 / 30}};
        JoinJudged judged = judgeJoin(join, 30, 8);
        QCOMPARE(judged.wrong, 0);
        QCOMPARE(judged.endOff, 0);
        QCOMPARE(judged.startOff, 0);
    }

    void testPicturesAcrossACut()
    {
        if (tool("ffmpeg").isEmpty() || tool("ffprobe").isEmpty())
            QSKIP("the real tools are not installed (./scripts/test installs them)");
        QTemporaryDir dir;
        const QString movie = dir.filePath(QStringLiteral("plain.mpg"));
        QCOMPARE(QProcess::execute(QStringLiteral(TRIMLET_TEST_SCRIPTS "/make_recording.sh"),
                                   {movie, QStringLiteral("show:20 ad:10 show:20")}),
                 0);
        const QByteArray edl = "20.5\t31.5\t0\n";
        // ffmpeg's own copy holds the recording's pictures on either side of
        // the cut.
        const Outcome good = cutWithFfmpeg(movie, edl, QStringLiteral("plain.clean.mpg"), tool("ffmpeg"));
        QVERIFY2(QFileInfo(good.copy).fileName() == QLatin1String("plain.clean.mpg"), qPrintable(good.text));
    }
};

QTEST_GUILESS_MAIN(TestCopyCheck)
#include "tst_copycheck.moc"
