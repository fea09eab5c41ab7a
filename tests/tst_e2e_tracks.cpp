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

// Cuts recording, made by make_recording.sh with options, on the cut list
// edl, and says how the run ended.
struct Cut
{
    QString outcome;
    bool failed = true;
    QString output;
};
Cut cut(const QTemporaryDir &dir, const QString &name, const QStringList &options, const QString &layout,
        const QByteArray &edl, const QString &outputName)
{
    Cut c;
    const QString movie = dir.filePath(name);
    if (QProcess::execute(QStringLiteral(TRIMLET_TEST_SCRIPTS "/make_recording.sh"),
                          options + QStringList{movie, layout})
        != 0)
        return c;
    const QString base = QFileInfo(movie).completeBaseName();
    writeFile(dir.filePath(base + QStringLiteral(".edl")), edl);
    RunRequest request;
    request.recording = movie;
    request.outDir = dir.path();
    request.baseName = base;
    request.output = dir.filePath(outputName);
    request.remove = true;
    request.noSkip = true;
    request.tools.mencoder = tool("mencoder");
    request.tools.ffmpeg = tool("ffmpeg");
    request.tools.ffprobe = tool("ffprobe");
    RunPipeline run(request);
    QSignalSpy finished(&run, &RunPipeline::finished);
    run.start();
    if (!finished.wait(300000))
        return c;
    c.outcome = run.outcome();
    c.failed = run.failed();
    c.output = request.output;
    return c;
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
        const Cut c = cut(dir, QStringLiteral("two.ts"), {"-a", "ac3", "-f", "ts", "-2"},
                          QStringLiteral("show:150 ad:60 show:150"), "151.0\t212.0\t0\n",
                          QStringLiteral("two.clean.ts"));
        QVERIFY2(!c.failed, qPrintable(c.outcome));
        QVERIFY2(c.outcome.contains(QStringLiteral("cut by ffmpeg.")), qPrintable(c.outcome));
        QCOMPARE(ffprobe({"-select_streams", "a", "-show_entries", "stream=codec_name:stream_tags=language",
                          "-of", "csv=p=0", c.output})
                     .split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                     .filter(QStringLiteral(",")),
                 (QStringList{"ac3,deu", "ac3,eng"}));
        const double offset =
            soundEndOffset(c.output) - soundEndOffset(dir.filePath(QStringLiteral("two.ts")));
        QVERIFY2(std::abs(offset) <= 0.1, qPrintable(QString::number(offset)));
    }
};

QTEST_GUILESS_MAIN(TestE2eTracks)
#include "tst_e2e_tracks.moc"
