// End to end with Debian's mencoder, ffmpeg and ffprobe: a cut copy keeps
// every sound track with its language, and its sound in step with its
// picture.

#include "CoreSupport.h"
#include "jobs/RunPipeline.h"

#include <QCoreApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString tool(const char *name)
{
    return QStandardPaths::findExecutable(QLatin1String(name));
}

QString ffprobe(const QStringList &options)
{
    QProcess p;
    p.start(tool("ffprobe"), QStringList{"-v", "error"} + options);
    p.waitForFinished(120000);
    return QString::fromLatin1(p.readAllStandardOutput());
}

// Where the sound ends against the picture, in seconds, from every packet.
double soundEndOffset(const QString &path)
{
    double video = 0, audio = 0;
    const QString out =
        ffprobe({"-show_entries", "packet=codec_type,pts_time,duration_time", "-of", "csv=p=0", path});
    for (const QString &line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList f = line.split(QLatin1Char(','));
        if (f.size() < 3 || f.at(1) == QLatin1String("N/A"))
            continue;
        const double end = f.at(1).toDouble() + f.at(2).toDouble();
        double &last = f.at(0) == QLatin1String("video") ? video : audio;
        last = std::max(last, end);
    }
    return audio - video;
}

bool makeRecording(const QString &movie, const QStringList &options, const QString &layout)
{
    return QProcess::execute(QStringLiteral(TRIMLET_TEST_SCRIPTS "/make_recording.sh"),
                             options + QStringList{movie, layout})
           == 0;
}

// Runs the removal step on movie with the cut list edl, and says how the
// run ended.
struct Cut
{
    QString outcome;
    bool failed = true;
    QString output;
    Outcome result;
};
Cut cut(const QString &movie, const QByteArray &edl, const QString &outputName,
        RunRequest::Mode mode = RunRequest::Mode::Cut, bool erase = false,
        const QString &ffmpeg = tool("ffmpeg"))
{
    Cut c;
    const QFileInfo info(movie);
    const QString base = info.completeBaseName();
    writeFile(info.dir().filePath(base + QStringLiteral(".edl")), edl);
    RunRequest request;
    request.recording = movie;
    request.output = info.dir().filePath(outputName);
    request.mode = mode;
    request.remove = true;
    request.erase = erase;
    request.noSkip = true;
    request.tools.mencoder = tool("mencoder");
    request.tools.ffmpeg = ffmpeg;
    request.tools.ffprobe = tool("ffprobe");
    RunPipeline run(request);
    QSignalSpy finished(&run, &RunPipeline::finished);
    run.start();
    if (!finished.wait(300000))
        return c;
    c.outcome = run.outcome();
    c.result = run.result();
    c.failed = run.failed();
    c.output = request.output;
    return c;
}

QStringList lines(const QString &text)
{
    return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

class TestE2eTracks final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        for (const char *name : {"mencoder", "ffmpeg", "ffprobe"})
            if (tool(name).isEmpty())
                QSKIP("the real tools are not installed (./scripts/test installs them)");
    }

    void testTwoLanguagesAreKept()
    {
        // AC-3 in German and English, in a transport stream, which carries
        // the languages.
        QTemporaryDir dir;
        QVERIFY(makeRecording(dir.filePath(QStringLiteral("two.ts")), {"-a", "ac3", "-f", "ts", "-2"},
                              QStringLiteral("show:20 ad:10 show:20")));
        const Cut c =
            cut(dir.filePath(QStringLiteral("two.ts")), "21.0\t32.0\t0\n", QStringLiteral("two.clean.ts"));
        QVERIFY2(!c.failed, qPrintable(c.outcome));
        QCOMPARE(c.result.cutter, QStringLiteral("ffmpeg"));
        QCOMPARE(ffprobe({"-select_streams", "a", "-show_entries", "stream=codec_name:stream_tags=language",
                          "-of", "csv=p=0", c.output})
                     .split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                     .filter(QStringLiteral(",")),
                 (QStringList{"ac3,deu", "ac3,eng"}));
        const double offset =
            soundEndOffset(c.output) - soundEndOffset(dir.filePath(QStringLiteral("two.ts")));
        QVERIFY2(std::abs(offset) <= 0.1, qPrintable(QString::number(offset)));
    }

    void testSoundMovedAtACutIsRefused()
    {
        // ffmpeg's copy keeps the sound where the recording has it after
        // each cut; one whose sound comes 0.3 s late after the first cut
        // (the same packets, given later times) is not kept.
        QTemporaryDir dir;
        const QString movie = dir.filePath(QStringLiteral("three.ts"));
        QVERIFY(makeRecording(movie, {"-v", "h264", "-a", "aac", "-f", "ts"},
                              QStringLiteral("show:20 ad:10 show:20 ad:10 show:20")));
        // The end cut too: where a span of ffmpeg's copy ends at a cut,
        // its sound's end is not judged.
        const QByteArray edl = "20.5\t31.5\t0\n52.5\t63.5\t0\n80.0\t90.0\t0\n";
        const Cut good = cut(movie, edl, QStringLiteral("three.clean.ts"));
        QVERIFY2(!good.failed, qPrintable(good.outcome));
        QCOMPARE(good.result.cutter, QStringLiteral("ffmpeg"));
        const Cut late = cut(movie, edl, QStringLiteral("three.late.ts"), RunRequest::Mode::Cut, false,
                             QStringLiteral(TRIMLET_TEST_TOOLS "/shifted/ffmpeg"));
        QVERIFY(late.failed);
        QCOMPARE(late.outcome,
                 QStringLiteral("The cut copy has sound 0.30 s behind its picture after cut 1, so "
                                "it was not kept."));
        QVERIFY(!QFileInfo::exists(late.output));
    }

    void testChaptersAndSkipListLeaveTheWholeRecording()
    {
        // AC-3 5.1 in German and MP2 stereo audio description in English,
        // as a broadcaster sends them.
        QTemporaryDir dir;
        const QString plain = dir.filePath(QStringLiteral("plain.ts"));
        const QString movie = dir.filePath(QStringLiteral("mixed.ts"));
        QVERIFY(makeRecording(plain, {"-f", "ts", "-2"}, QStringLiteral("show:40 ad:20 show:40")));
        QCOMPARE(QProcess::execute(tool("ffmpeg"), {"-nostdin",
                                                    "-v",
                                                    "error",
                                                    "-i",
                                                    plain,
                                                    "-map",
                                                    "0",
                                                    "-c:v",
                                                    "copy",
                                                    "-c:a:0",
                                                    "ac3",
                                                    "-ac:a:0",
                                                    "6",
                                                    "-c:a:1",
                                                    "mp2",
                                                    "-ac:a:1",
                                                    "2",
                                                    "-disposition:a:1",
                                                    "visual_impaired",
                                                    "-f",
                                                    "mpegts",
                                                    movie}),
                 0);
        const QByteArray before = sha1(movie);
        const QString streams =
            "stream=codec_name,channels:stream_tags=language:stream_disposition=visual_impaired";

        const Cut chapters =
            cut(movie, "41.0\t62.0\t0\n", QStringLiteral("mixed.chapters.mkv"), RunRequest::Mode::Chapters);
        QVERIFY2(!chapters.failed, qPrintable(chapters.outcome));
        QCOMPARE(chapters.result.copy, chapters.output);
        const QStringList sound{"ac3,6,0,deu", "mp2,2,1,eng"};
        QVERIFY(lines(ffprobe({"-select_streams", "a", "-show_entries", streams, "-of", "csv=p=0", movie}))
                    .endsWith(sound.last()));
        QCOMPARE(lines(ffprobe(
                     {"-select_streams", "a", "-show_entries", streams, "-of", "csv=p=0", chapters.output})),
                 sound);
        // Where the detector's times lie on the picture, which starts 20 ms
        // after the sound here.
        QCOMPARE(lines(ffprobe({"-show_entries", "chapter=start_time:chapter_tags=title", "-of", "csv=p=0",
                                chapters.output})),
                 (QStringList{"0.000000,Programme", "41.020000,Commercial", "62.020000,Programme"}));
        // Every picture is there, and the sound ends where it did.
        const QString count = "stream=nb_read_packets";
        QCOMPARE(lines(ffprobe({"-count_packets", "-select_streams", "v", "-show_entries", count, "-of",
                                "csv=p=0", chapters.output})),
                 lines(ffprobe({"-count_packets", "-select_streams", "v", "-show_entries", count, "-of",
                                "csv=p=0", movie}))
                     .mid(1));
        const double offset = soundEndOffset(chapters.output) - soundEndOffset(movie);
        QVERIFY2(std::abs(offset) <= 0.1, qPrintable(QString::number(offset)));

        // A program stream's pictures come without all their timestamps.
        const QString ps = dir.filePath(QStringLiteral("plain.mpg"));
        QVERIFY(makeRecording(ps, {}, QStringLiteral("show:20 ad:10 show:20")));
        const Cut psChapters =
            cut(ps, "21.0\t32.0\t0\n", QStringLiteral("plain.chapters.mkv"), RunRequest::Mode::Chapters);
        QVERIFY2(!psChapters.failed, qPrintable(psChapters.outcome));
        QVERIFY2(psChapters.outcome.contains(QStringLiteral("3 chapters, 1 of them commercials")),
                 qPrintable(psChapters.outcome));

        // Kodi's list, beside the recording under its name, survives the
        // erase step and reads back as the breaks.
        const Cut skip = cut(movie, "41.0 62.0 0\n82.5\t90\t0\n", QStringLiteral("mixed.edl"),
                             RunRequest::Mode::SkipList, true);
        QVERIFY2(!skip.failed, qPrintable(skip.outcome));
        QCOMPARE(skip.outcome,
                 QStringLiteral("Skip list: mixed.edl, 2 breaks for the player to skip, the recording "
                                "left as it is."));
        QCOMPARE(readAll(skip.output), QByteArray("41.000\t62.000\t3\n82.500\t90.000\t3\n"));
        QCOMPARE(sha1(movie), before);
        QVERIFY(QFileInfo::exists(chapters.output));
    }
};

QTEST_GUILESS_MAIN(TestE2eTracks)
#include "tst_e2e_tracks.moc"
