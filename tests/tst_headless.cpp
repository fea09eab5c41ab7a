// A whole run with no window at all: one request, from detection to the
// checked copy, by the real comskip, mencoder and ffmpeg, under a plain
// QCoreApplication with nothing but the jobs layer linked.

#include "CoreSupport.h"
#include "core/PropertyList.h"
#include "jobs/RunPipeline.h"
#include "jobs/WorkFiles.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestHeadless final : public QObject
{
    Q_OBJECT

private slots:
    void testWholeRequestWithoutAWindow()
    {
        RunRequest request;
        for (const char *tool : {"comskip", "mencoder", "ffmpeg", "ffprobe"})
            if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
                QSKIP("the real tools are not installed (./scripts/test installs them)");
        // Nothing of the desktop is here: no GUI application, no widget.
        QCOMPARE(QCoreApplication::instance()->metaObject()->className(), "QCoreApplication");

        QTemporaryDir dir;
        const QString movie = dir.filePath(QStringLiteral("recording.mpg"));
        QCOMPARE(QProcess::execute(QStringLiteral(TRIMLET_TEST_SCRIPTS "/make_recording.sh"),
                                   {movie, QStringLiteral("show:150 ad:60 show:150")}),
                 0);
        const QByteArray before = sha1(movie);

        request.recording = movie;
        request.output = dir.filePath(QStringLiteral("recording.clean.mpg"));
        request.detect = true;
        request.remove = true;
        request.detectorSettings = mergeSettingGroups(readPropertyList(
            QStringLiteral(TRIMLET_TEST_SCRIPTS "/../resources/settings/detectionSettings.plist")));
        // As the window's options stand by default.
        request.detectorSettings.insert(QStringLiteral("detect_method"), qint64(43));
        request.detectorSettings.insert(QStringLiteral("ticker_tape"), qint64(0));
        request.detectorSettings.insert(QStringLiteral("delete_show_before_first_commercial"), qint64(0));
        request.detectorSettings.insert(QStringLiteral("delete_show_after_last_commercial"), qint64(0));
        request.detectorSettings.insert(QStringLiteral("logo_at_bottom"), qint64(0));
        request.noSkip = true;
        request.tools.comskip = QStandardPaths::findExecutable(QStringLiteral("comskip"));
        request.tools.mencoder = QStandardPaths::findExecutable(QStringLiteral("mencoder"));
        request.tools.ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
        request.tools.ffprobe = QStandardPaths::findExecutable(QStringLiteral("ffprobe"));

        RunPipeline run(request);
        QSignalSpy steps(&run, &RunPipeline::stepStarted);
        QSignalSpy finished(&run, &RunPipeline::finished);
        QStringList statuses;
        double detectPercent = -1;
        connect(&run, &RunPipeline::status, this, [&](const QString &text) { statuses << text; });
        connect(&run, &RunPipeline::progress, this, [&](RunPipeline::Step step, double percent) {
            if (step == RunPipeline::Step::Detect)
                detectPercent = qMax(detectPercent, percent);
        });
        run.start();
        QVERIFY(run.isRunning());
        QVERIFY(finished.wait(300000));
        QCOMPARE(finished.count(), 1);
        QVERIFY(!run.isRunning());

        QVERIFY2(!run.failed(), qPrintable(run.outcome()));
        QCOMPARE(run.result().breaksFound, 1);
        QCOMPARE(run.result().copy, request.output);
        QCOMPARE(steps.count(), 2);
        QCOMPARE(steps.at(0).at(0).value<RunPipeline::Step>(), RunPipeline::Step::Detect);
        QCOMPARE(steps.at(1).at(0).value<RunPipeline::Step>(), RunPipeline::Step::Cut);
        QVERIFY(statuses.contains(QStringLiteral("Detecting commercials…")));
        QVERIFY(statuses.contains(QStringLiteral("Checking the cut copy…")));
        // comskip's own percentages reached the run's progress.
        QVERIFY2(detectPercent > 50, qPrintable(QString::number(detectPercent)));
        // The checked copy took its name; the recording is as it was, the
        // detector's results are beside it, and no partial copy is left.
        QCOMPARE(run.copyMade(), request.output);
        QVERIFY(QFile::exists(request.output));
        QCOMPARE(sha1(movie), before);
        for (const char *ext : {".edl", ".txt", ".csv", ".ini"})
            QVERIFY2(QFile::exists(dir.filePath(QStringLiteral("recording") + QLatin1String(ext))), ext);
        QVERIFY(hiddenNamesOf(dir.path(), {QStringLiteral("recording.clean.mpg")}).isEmpty());
        QVERIFY(QFile(dir.filePath(RunPipeline::logFileName)).size() > 0);
        QVERIFY(WorkFiles(dir.path(), QStringLiteral("recording"))
                    .made()
                    .contains(QStringLiteral("recording.edl")));
    }
};

QTEST_GUILESS_MAIN(TestHeadless)
#include "tst_headless.moc"
