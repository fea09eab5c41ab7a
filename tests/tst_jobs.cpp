// The run without a window: the tools' argument vectors, the detector's
// settings file, and a request run through its steps by the stand-in
// tools, stopped, failed and ended, with nothing but the jobs layer.

#include "CoreSupport.h"
#include "jobs/CutJob.h"
#include "jobs/DetectJob.h"
#include "jobs/RunPipeline.h"
#include "jobs/WorkFiles.h"
#include "process/TaskWrapper.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

QString standIn(const char *tool)
{
    return QStringLiteral(TRIMLET_TEST_TOOLS "/standins/") + QLatin1String(tool);
}

// A request for a recording in dir, run by the stand-ins.
RunRequest requestIn(const QTemporaryDir &dir, bool detect, bool remove, bool erase)
{
    RunRequest r;
    r.recording = dir.filePath(QStringLiteral("show.mpg"));
    writeFile(r.recording, QByteArray(8192, 'x'));
    r.output = remove ? dir.filePath(QStringLiteral("show.clean.mpg")) : QString();
    r.detect = detect;
    r.remove = remove;
    r.erase = erase;
    r.detectorSettings = {{QStringLiteral("detect_method"), qint64(43)}};
    r.tools = {standIn("comskip"), standIn("mencoder"), standIn("ffmpeg"), standIn("ffprobe")};
    return r;
}

// The application's diagnostic lines while it lives.
struct Diagnostics
{
    static QStringList &lines()
    {
        static QStringList l;
        return l;
    }
    static void handler(QtMsgType, const QMessageLogContext &context, const QString &msg)
    {
        if (context.category && qstrcmp(context.category, "trimlet") == 0)
            lines() << msg;
    }
    QtMessageHandler previous;
    Diagnostics()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("trimlet.info=true"));
        lines().clear();
        previous = qInstallMessageHandler(&Diagnostics::handler);
    }
    ~Diagnostics() { qInstallMessageHandler(previous); }
};

} // namespace

class TestJobs final : public QObject
{
    Q_OBJECT

private slots:
    void testToolVectors()
    {
        RunRequest r;
        r.recording = QStringLiteral("-show.ts");
        r.output = QStringLiteral("/v/out.mpg");
        r.tools.comskip = QStringLiteral("/bin/comskip");
        // A recording named like an option is never taken for one.
        QCOMPARE(DetectJob::arguments(r),
                 (QStringList{"/bin/comskip", "--csvout", "--ini=./-show.ini", "./-show.ts"}));
        const QStringList plain = CutJob::mencoderArguments(r, QString(), QString());
        QVERIFY(!plain.contains(QStringLiteral("-noskip"))
                && !plain.contains(QStringLiteral("-hr-edl-seek")));
        QCOMPARE(plain.mid(plain.size() - 5),
                 (QStringList{"-edl", "./-show.edl", "-o", "/v/out.mpg", "./-show.ts"}));
        r.noSkip = r.edlSeek = true;
        const QStringList options =
            CutJob::mencoderArguments(r, QStringLiteral("/v/.part"), QStringLiteral("/t/cuts.edl"));
        QVERIFY(options.join(QLatin1Char(' '))
                    .contains(QStringLiteral("-noskip -mc 0 -hr-edl-seek -edl /t/cuts.edl -o /v/.part")));
        // Subtitles go only where the container can hold them.
        const QStringList ts = CutJob::ffmpegArguments(r, QStringLiteral("l"), QStringLiteral("o"),
                                                       media::Container::TransportStream);
        const QStringList ps = CutJob::ffmpegArguments(r, QStringLiteral("l"), QStringLiteral("o"),
                                                       media::Container::ProgramStream);
        QVERIFY(ts.contains(QStringLiteral("0:s?")) && !ps.contains(QStringLiteral("0:s?")));
        QCOMPARE(ps.last(), QStringLiteral("file:o"));
    }

    void testCopiesThatLostATrackOrTheirStep_data()
    {
        QTest::addColumn<QByteArray>("tracks");
        QTest::addColumn<QByteArray>("mencoderMode");
        QTest::addColumn<QByteArray>("ffmpegMode");
        QTest::addColumn<QString>("outcome");
        // One sound track: mencoder cuts, and its faulty copy is cut again.
        QTest::newRow("mencoder lost the sound")
            << QByteArray("1") << QByteArray("losttrack") << QByteArray("ok")
            << QStringLiteral("Found 2 commercials. mencoder's copy was missing sound track 1 (deu), so it "
                              "was cut again "
                              "with ffmpeg. Cut copy: show.clean.mpg (0:04:00), cut by ffmpeg.");
        QTest::newRow("mencoder's sound drifted")
            << QByteArray("1") << QByteArray("drift") << QByteArray("ok")
            << QStringLiteral("Found 2 commercials. mencoder's copy was out of step: sound track 1 (deu) "
                              "ends 0.60 s before "
                              "its picture (in the recording, together with it), so it was cut again with "
                              "ffmpeg. Cut copy: show.clean.mpg (0:04:00), cut by ffmpeg.");
        QTest::newRow("mencoder broke the sound at a cut")
            << QByteArray("1") << QByteArray("brokensound") << QByteArray("ok")
            << QStringLiteral(
                   "Found 2 commercials. mencoder's copy had sound that fails to decode at cut 1 (2 "
                   "frames, against 0 in the recording), so it was cut again with ffmpeg. Cut copy: "
                   "show.clean.mpg (0:04:00), cut by ffmpeg.");
        // Two: ffmpeg cuts, and nothing is left to cut again with.
        QTest::newRow("ffmpeg lost the second sound")
            << QByteArray("2") << QByteArray("ok") << QByteArray("losttrack")
            << QStringLiteral(
                   "Found 2 commercials. The cut copy is missing sound track 2 (eng), so it was not kept.");
        QTest::newRow("ffmpeg kept both") << QByteArray("2") << QByteArray("ok") << QByteArray("ok")
                                          << QStringLiteral("Found 2 commercials. Cut copy: show.clean.ts "
                                                            "(0:04:00), cut by ffmpeg.");
    }
    void testCopiesThatLostATrackOrTheirStep()
    {
        QFETCH(QByteArray, tracks);
        QFETCH(QByteArray, mencoderMode);
        QFETCH(QByteArray, ffmpegMode);
        QFETCH(QString, outcome);
        QTemporaryDir dir;
        EnvGuard env;
        env.set("STANDIN_AUDIO_TRACKS", tracks);
        env.set("STANDIN_MODE", mencoderMode);
        env.set("STANDIN_FFMPEG_MODE", ffmpegMode);
        RunRequest request = requestIn(dir, true, true, false);
        if (tracks == "2") {
            // A broadcast's transport stream, which carries the languages.
            env.set("STANDIN_FORMAT", "mpegts");
            request.output = dir.filePath(QStringLiteral("show.clean.ts"));
        }
        RunPipeline run(request);
        QSignalSpy finished(&run, &RunPipeline::finished);
        run.start();
        QVERIFY(finished.wait(20000));
        QCOMPARE(run.outcome(), outcome);
        const bool kept = run.result().status == Outcome::Status::Succeeded;
        QCOMPARE(run.result().copy, kept ? request.output : QString());
        QCOMPARE(run.result().cutter, kept ? QStringLiteral("ffmpeg") : QString());
        QCOMPARE(QFile::exists(request.output), kept);
        QVERIFY(CutJob::partialCopiesOf(request.output).isEmpty());
        // The run log says what was wrong with the copy thrown away.
        if (mencoderMode != "ok" || ffmpegMode != "ok")
            QVERIFY(readAll(dir.filePath(RunPipeline::logFileName)).contains("Trimlet: the copy cut by "));
    }

    void testSettingsText()
    {
        const std::optional<QByteArray> text =
            DetectJob::iniText({{QStringLiteral("b"), true},
                                {QStringLiteral("d"), 0.75},
                                {QStringLiteral("e"), QString()},
                                {QStringLiteral("i"), qint64(43)},
                                {QStringLiteral("s"), QStringLiteral("0")}});
        QVERIFY(text);
        // Empty texts are left to comskip's own default.
        QCOMPARE(*text, QByteArray("b=1\nd=0.75\ni=43\ns=0\n"));
        // comskip reads ASCII only: nothing rather than a file it misreads.
        QVERIFY(!DetectJob::iniText({{QStringLiteral("name"), QStringLiteral("Café")}}));
    }

    void testWholeRequestByTheStandIns()
    {
        QTemporaryDir dir;
        const RunRequest request = requestIn(dir, true, true, false);
        Diagnostics diagnostics;
        RunPipeline run(request);
        QSignalSpy steps(&run, &RunPipeline::stepStarted);
        QSignalSpy ended(&run, &RunPipeline::stepFinished);
        QSignalSpy finished(&run, &RunPipeline::finished);
        run.start();
        QVERIFY(run.logFileOpen());
        QVERIFY(finished.wait(20000));
        QCOMPARE(finished.count(), 1);
        QVERIFY2(!run.failed(), qPrintable(run.outcome()));
        QVERIFY2(run.result().breaksFound == 2 && run.result().cutter == QLatin1String("mencoder")
                     && run.result().copy == QFileInfo(request.output).absoluteFilePath(),
                 qPrintable(run.outcome()));
        QCOMPARE(steps.count(), 2);
        QCOMPARE(ended.count(), 2);
        QCOMPARE(run.copyMade(), request.output);
        QVERIFY(QFile::exists(request.output));
        QVERIFY(!run.logFileOpen());
        // The run log holds both tools, in order, and the copy's check.
        const QByteArray log = readAll(dir.filePath(RunPipeline::logFileName));
        QVERIFY(log.startsWith("==== Trimlet (process "));
        QVERIFY(log.contains("show.mpg\nComskip stand-in\n"));
        QVERIFY(log.indexOf("Trimlet: cut copy") > log.indexOf("MEncoder stand-in"));
        QVERIFY(WorkFiles(dir.path(), QStringLiteral("show")).made().contains(QStringLiteral("show.edl")));
        // The diagnostic lines are written, each step's in its turn; the
        // run log holds none of them.
        const QStringList &lines = Diagnostics::lines();
        const auto at = [&lines](const QString &line) { return lines.indexOf(line); };
        QVERIFY(at(QStringLiteral("runTask: processState = 1 in")) >= 0);
        QVERIFY(at(QStringLiteral("processStarted: == Starting new process ==")) > 0);
        QVERIFY(at(QStringLiteral("processFinished: rc = 0, processState = 2"))
                > at(QStringLiteral("runTask: processState = 1 in")));
        QVERIFY(at(QStringLiteral("processFinished: rc = 0, processState = 4"))
                > at(QStringLiteral("processFinished: rc = 0, processState = 2")));
        QVERIFY(!log.contains("runTask:"));
    }

    void testDetectorFailuresInWords_data()
    {
        QTest::addColumn<QByteArray>("rc");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("bad file") << QByteArray("3") << QStringLiteral("Bad MPEG file.");
        QTest::newRow("files") << QByteArray("103") << QStringLiteral("Error creating output files.");
        QTest::newRow("memory") << QByteArray("15") << QStringLiteral("Error allocating memory");
        QTest::newRow("other") << QByteArray("42") << QStringLiteral("Unexpected error 42.");
    }
    void testDetectorFailuresInWords()
    {
        QFETCH(QByteArray, rc);
        QFETCH(QString, outcome);
        QTemporaryDir dir;
        EnvGuard env;
        env.set("STANDIN_RC", rc);
        // The earlier list is the user's until a detection succeeds.
        writeFile(dir.filePath(QStringLiteral("show.edl")), "1.00\t2.00\t0\n");
        RunPipeline run(requestIn(dir, true, false, true));
        QSignalSpy failed(&run, &RunPipeline::stepFinished);
        QSignalSpy finished(&run, &RunPipeline::finished);
        run.start();
        QVERIFY(finished.wait(20000));
        QCOMPARE(run.outcome(), outcome);
        QVERIFY(run.failed());
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(1).toBool(), true);
        // Erasing left the user's own list alone.
        QCOMPARE(readAll(dir.filePath(QStringLiteral("show.edl"))), QByteArray("1.00\t2.00\t0\n"));
    }

    // Words that one read joins to a progress line are kept for a
    // diagnosis, while the progress is still read from it.
    void testWordsAfterProgressAreKept()
    {
        QTemporaryDir dir;
        EnvGuard env;
        env.set("STANDIN_MODE", "joined");
        RunPipeline run(requestIn(dir, true, false, false));
        QSignalSpy finished(&run, &RunPipeline::finished);
        double most = -1;
        connect(&run, &RunPipeline::progress, this,
                [&](RunPipeline::Step, double p) { most = qMax(most, p); });
        run.start();
        QVERIFY(finished.wait(20000));
        QVERIFY2(run.logExcerpts().contains(QStringLiteral("comskip: a line right after progress")),
                 qPrintable(run.logExcerpts()));
        QVERIFY(!run.logExcerpts().contains(QStringLiteral(" frames in ")));
        QCOMPARE(most, 100.0);
    }

    void testStopNeverWaitsForTheTool()
    {
        // A detector that ignores SIGTERM: the stop returns at once, and
        // the run says it stopped once the tool has been killed.
        QTemporaryDir dir;
        EnvGuard env;
        env.set("STANDIN_MODE", "stubborn");
        writeFile(dir.filePath(QStringLiteral("show.txt")), "the user's own list\n");
        RunPipeline run(requestIn(dir, true, false, false));
        run.setStopBounds(300, 2000);
        QSignalSpy finished(&run, &RunPipeline::finished);
        run.start();
        QTRY_VERIFY(run.runner() && run.runner()->processId() > 0);
        QTRY_VERIFY(readAll(dir.filePath(RunPipeline::logFileName)).contains("waiting"));
        const pid_t pid = run.runner()->processId();
        QElapsedTimer clock;
        clock.start();
        run.stop();
        const qint64 stopMs = clock.elapsed();
        qDebug("stop returned after %lld ms", stopMs);
        QVERIFY2(stopMs < 50, qPrintable(QString::number(stopMs)));
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.count(), 1);
        QVERIFY(run.wasStopped());
        QCOMPARE(run.outcome(), QStringLiteral("Detection stopped."));
        QCOMPARE(run.state(), RunPipeline::ProcessState::kStateIdle);
        QTRY_VERIFY(::kill(pid, 0) != 0);
        // The list set aside for the detector is back as it was.
        QCOMPARE(readAll(dir.filePath(QStringLiteral("show.txt"))), QByteArray("the user's own list\n"));
    }

    void testStopBeforeAnyStepRuns()
    {
        // Stopped while the recording is still being read: nothing ran.
        QTemporaryDir dir;
        EnvGuard env;
        env.set("STANDIN_PROBE", "slow");
        RunPipeline run(requestIn(dir, true, true, false));
        QSignalSpy steps(&run, &RunPipeline::stepStarted);
        QSignalSpy finished(&run, &RunPipeline::finished);
        run.start();
        QCOMPARE(run.state(), RunPipeline::ProcessState::kStateStart);
        run.stop();
        QCOMPARE(finished.count(), 1);
        QCOMPARE(run.outcome(), QStringLiteral("Run stopped."));
        QTest::qWait(1500);
        QCOMPARE(steps.count(), 0);
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("show.edl"))));
    }
};

QTEST_GUILESS_MAIN(TestJobs)
#include "tst_jobs.moc"
