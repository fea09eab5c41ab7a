// trimlet-cli as a DVR or a script runs it: its exit statuses, its JSON
// summary and the copies it leaves, with the stand-in tools and, for
// tst_cli_e2e, the real ones.

#include "CliSupport.h"
#include "jobs/CutJob.h"
#include "jobs/DetectJob.h"
#include "jobs/DetectorSettings.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <csignal>

class TestCli final : public QObject
{
    Q_OBJECT

private slots:
    void testBadUsage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("no recording") << QStringList();
        QTest::newRow("unknown option") << QStringList{QStringLiteral("--bogus"), QStringLiteral("a.mpg")};
        QTest::newRow("--output with two recordings")
            << QStringList{QStringLiteral("--output"), QStringLiteral("o.mpg"), QStringLiteral("a.mpg"),
                           QStringLiteral("b.mpg")};
        QTest::newRow("unknown mode")
            << QStringList{QStringLiteral("--mode"), QStringLiteral("cutt"), QStringLiteral("a.mpg")};
        QTest::newRow("skip list elsewhere")
            << QStringList{QStringLiteral("--mode"), QStringLiteral("skip-list"),
                           QStringLiteral("--output-dir"), QStringLiteral("/tmp"), QStringLiteral("a.mpg")};
    }

    void testBadUsage()
    {
        QFETCH(QStringList, arguments);
        const CliRun run = runCli(arguments, withStandIns());
        QCOMPARE(run.status, 2);
        QVERIFY2(run.errors.contains(QStringLiteral("--help")), qPrintable(run.errors));
    }

    void testDetectsAsTheWindowDoes()
    {
        QTemporaryDir dir;
        const QString movie = dir.filePath(QStringLiteral("show.mpg"));
        writeFile(movie, QByteArray("recording bytes ").repeated(1000));
        const CliRun run = runCli({QStringLiteral("--detect-only"), QStringLiteral("--keep-work-files"),
                                   QStringLiteral("--json"), movie},
                                  withStandIns(), dir.path());
        QCOMPARE(run.status, 0);
        QCOMPARE(run.summary.size(), 1);
        QCOMPARE(run.summary[0][QStringLiteral("state")].toString(), QStringLiteral("done"));
        QCOMPARE(run.summary[0][QStringLiteral("breaks_found")].toInt(), 2);
        // The detector read what the window's would with its boxes as they
        // open, and the cutter is set as they are.
        Harness window;
        const std::optional<QByteArray> ini = DetectJob::iniText(window.controller.detectorSettings());
        QVERIFY(ini);
        QCOMPARE(readAll(dir.filePath(QStringLiteral("show.ini"))), *ini);
        QCOMPARE(window.controller.runOptions().noSkip, kNoSkipAsShipped);
        QCOMPARE(window.controller.runOptions().edlSeek, kEdlSeekAsShipped);
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("show.clean.mpg"))));

        // Detections side by side share the cores between them, and differ
        // from the window's in nothing else.
        const QString second = dir.filePath(QStringLiteral("second.mpg"));
        writeFile(second, QByteArray("recording bytes ").repeated(1000));
        const CliRun both = runCli({QStringLiteral("--detect-only"), QStringLiteral("--keep-work-files"),
                                    QStringLiteral("--detections"), QStringLiteral("2"), movie, second},
                                   withStandIns(), dir.path());
        QCOMPARE(both.status, 0);
        const QByteArray shared = QByteArrayLiteral("thread_count=")
                                  + QByteArray::number(std::max(1, QThread::idealThreadCount() / 2));
        for (const char *name : {"show.ini", "second.ini"}) {
            QList<QByteArray> lines = readAll(dir.filePath(QLatin1String(name))).split('\n');
            QVERIFY2(lines.removeAll(shared) == 1, name);
            QCOMPARE(lines.join('\n'), *ini);
        }
    }

    void testBadInputStopsOnlyItself()
    {
        QTemporaryDir dir;
        for (const char *folder : {"one", "two", "out", "folder.mpg"})
            QVERIFY(QDir(dir.path()).mkdir(QLatin1String(folder)));
        const QByteArray bytes = QByteArray("recording bytes ").repeated(1000);
        for (const char *name : {"one/show.mpg", "one/show.ts", "two/show.mpg"})
            writeFile(dir.filePath(QLatin1String(name)), bytes);
        const CliRun run =
            runCli({QStringLiteral("--json"), QStringLiteral("--cutter"), QStringLiteral("mencoder"),
                    QStringLiteral("--output-dir"), QStringLiteral("out"), QStringLiteral("one/show.mpg"),
                    QStringLiteral("missing.mpg"), QStringLiteral("folder.mpg"),
                    QStringLiteral("one/../one/show.mpg"), QStringLiteral("one/show.ts"),
                    QStringLiteral("two/show.mpg")},
                   withStandIns(), dir.path());
        QCOMPARE(run.status, 1);
        QStringList states, messages;
        for (const QJsonValue &e : run.summary) {
            states << e[QStringLiteral("state")].toString();
            messages << e[QStringLiteral("message")].toString();
        }
        QCOMPARE(states,
                 (QStringList{QStringLiteral("done"), QStringLiteral("failed"), QStringLiteral("failed"),
                              QStringLiteral("failed"), QStringLiteral("failed"), QStringLiteral("failed")}));
        QCOMPARE(messages.mid(1, 3), (QStringList{QStringLiteral("missing.mpg cannot be found."),
                                                  QStringLiteral("folder.mpg is a folder, not a recording."),
                                                  QStringLiteral("show.mpg is already in the batch.")}));
        // The same stem in one folder would share one set of lists; the
        // same name in another folder would be written over one copy.
        QVERIFY2(messages[4].contains(QStringLiteral("share its work files")), qPrintable(messages[4]));
        QVERIFY2(messages[5].contains(QStringLiteral("same name")), qPrintable(messages[5]));
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("out/show.clean.mpg"))));
        QCOMPARE(run.summary[0][QStringLiteral("output")].toString(),
                 dir.filePath(QStringLiteral("out/show.clean.mpg")));
    }

    void testBatchEndsWithItsLastRefusal()
    {
        // Refused once read, with nothing else to wait for: the batch ends
        // there and then.
        QTemporaryDir dir;
        const QString movie = dir.filePath(QStringLiteral("show.mpg"));
        writeFile(movie, QByteArray("no picture here ").repeated(1000));
        QProcessEnvironment env = withStandIns();
        env.insert(QStringLiteral("STANDIN_VCODEC"), QStringLiteral("none"));
        const CliRun run = runCli({QStringLiteral("--json"), movie}, env, dir.path(), 10000);
        QCOMPARE(run.status, 1);
        QVERIFY2(
            run.summary[0][QStringLiteral("message")].toString().contains(QStringLiteral("not a recording")),
            qPrintable(run.summary[0][QStringLiteral("message")].toString()));
    }

    void testExistingDetectionRunsNoDetector()
    {
        QTemporaryDir dir;
        const QString movie = dir.filePath(QStringLiteral("show.mpg"));
        const QString other = dir.filePath(QStringLiteral("other.mpg"));
        writeFile(movie, QByteArray("recording bytes ").repeated(1000));
        writeFile(other, QByteArray("recording bytes ").repeated(1000));
        writeFile(dir.filePath(QStringLiteral("show.txt")),
                  "FILE PROCESSING COMPLETE  10800 FRAMES AT  2997\n-------------------\n1800\t3599\n");
        writeFile(dir.filePath(QStringLiteral("show.edl")), "60.06\t120.09\t0\n");
        // A detector run at all fails its recording.
        QProcessEnvironment env = withStandIns();
        env.insert(QStringLiteral("STANDIN_MODE"), QStringLiteral("crash"));
        env.insert(QStringLiteral("STANDIN_COPY_FRAMES"), QStringLiteral("9000"));
        const CliRun run = runCli({QStringLiteral("--use-existing-detection"), QStringLiteral("--progress"),
                                   QStringLiteral("--cutter"), QStringLiteral("mencoder"),
                                   QStringLiteral("--json"), movie, other},
                                  env, dir.path());
        QCOMPARE(run.status, 1);
        QCOMPARE(run.summary.size(), 2);
        const QJsonValue shown = run.summary[0];
        QCOMPARE(shown[QStringLiteral("state")].toString(), QStringLiteral("done"));
        QCOMPARE(shown[QStringLiteral("detection")].toString(), QStringLiteral("existing"));
        QCOMPARE(shown[QStringLiteral("breaks_cut")].toInt(), 1);
        QCOMPARE(shown[QStringLiteral("output")].toString(), dir.filePath(QStringLiteral("show.clean.mpg")));
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("show.clean.mpg"))));
        QVERIFY2(run.errors.contains(QStringLiteral("Using the existing detection: show.edl (1 break)")),
                 qPrintable(run.errors));
        // One with no lists beside it is refused, not detected.
        QCOMPARE(run.summary[1][QStringLiteral("state")].toString(), QStringLiteral("failed"));
        QVERIFY2(run.summary[1][QStringLiteral("message")].toString().contains(QStringLiteral("other.txt")),
                 qPrintable(run.summary[1][QStringLiteral("message")].toString()));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("other.csv"))));
    }

    // Recordings from one source share mencoder's faults: once its copy of
    // one was refused, the next of that kind goes to ffmpeg from the start,
    // under the name and in the container it would have had.
    void testRefusedMencoderCopyIsNotCutAgain()
    {
        QTemporaryDir dir;
        QStringList arguments{QStringLiteral("--json"), QStringLiteral("--use-existing-detection")};
        for (const char *name : {"one", "two"}) {
            const QString base = dir.filePath(QLatin1String(name));
            writeFile(base + QStringLiteral(".mpg"), QByteArray("recording bytes ").repeated(1000));
            writeFile(base + QStringLiteral(".txt"),
                      "FILE PROCESSING COMPLETE  10800 FRAMES AT  2997\n-------------------\n1800\t3599\n");
            writeFile(base + QStringLiteral(".edl"), "60.06\t120.09\t0\n");
            arguments << base + QStringLiteral(".mpg");
        }
        QProcessEnvironment env = withStandIns();
        env.insert(QStringLiteral("STANDIN_MODE"), QStringLiteral("short"));
        env.insert(QStringLiteral("STANDIN_COPY_FRAMES"), QStringLiteral("9000"));
        const CliRun run = runCli(arguments, env, dir.path());
        QCOMPARE(run.status, 0);
        QCOMPARE(run.summary.size(), 2);
        // mencoder's copy of the first was refused and cut again.
        QCOMPARE(run.summary[0][QStringLiteral("cutter")].toString(), QStringLiteral("ffmpeg"));
        // The second went to ffmpeg at once, and the user is told why.
        QCOMPARE(run.summary[1][QStringLiteral("cutter")].toString(), QStringLiteral("ffmpeg"));
        QVERIFY2(run.message(1).startsWith(QStringLiteral(
                     "mencoder's copies of recordings like this one were refused earlier in the "
                     "batch, so it was cut with ffmpeg. ")),
                 qPrintable(run.message(1)));
        QCOMPARE(run.summary[1][QStringLiteral("output")].toString(),
                 dir.filePath(QStringLiteral("two.clean.mpg")));
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("two.clean.mpg"))));
    }

    // A DVR that ran comskip itself asks for its list as Kodi reads it: the
    // recording stays as it is, the list becomes action 3 and survives the
    // erase step.
    void testSkipListForADvr()
    {
        QTemporaryDir dir;
        const QString movie = dir.filePath(QStringLiteral("show.mpg"));
        writeFile(movie, QByteArray("recording bytes ").repeated(1000));
        writeFile(dir.filePath(QStringLiteral("show.txt")),
                  "FILE PROCESSING COMPLETE  10800 FRAMES AT  2997\n-------------------\n1800\t3599\n");
        writeFile(dir.filePath(QStringLiteral("show.edl")), "60.06\t120.09\t0\n");
        const CliRun run =
            runCli({QStringLiteral("--mode"), QStringLiteral("skip-list"),
                    QStringLiteral("--use-existing-detection"), QStringLiteral("--json"), movie},
                   withStandIns(), dir.path());
        QCOMPARE(run.status, 0);
        QCOMPARE(run.summary[0][QStringLiteral("output")].toString(),
                 dir.filePath(QStringLiteral("show.edl")));
        QCOMPARE(readAll(dir.filePath(QStringLiteral("show.edl"))), QByteArray("60.060\t120.090\t3\n"));
        QCOMPARE(readAll(movie), QByteArray("recording bytes ").repeated(1000));
    }

    void testInterruptDuringCut()
    {
        QTemporaryDir dir;
        const QString movie = dir.filePath(QStringLiteral("show.mpg"));
        const QString copy = dir.filePath(QStringLiteral("show.clean.mpg"));
        writeFile(movie, QByteArray("recording bytes ").repeated(1000));
        // The cutter writes a header and waits there until stopped.
        QProcessEnvironment env = withStandIns();
        env.insert(QStringLiteral("STANDIN_MODE"), QStringLiteral("wait"));
        env.remove(QStringLiteral("QT_LOGGING_RULES"));
        QProcess cli;
        // An earlier detection's lists: the cut starts at once.
        writeFile(dir.filePath(QStringLiteral("show.txt")),
                  "FILE PROCESSING COMPLETE  10800 FRAMES AT  2997\n-------------------\n1800\t3599\n");
        writeFile(dir.filePath(QStringLiteral("show.edl")), "60.06\t120.09\t0\n");
        startCli(cli,
                 {QStringLiteral("--use-existing-detection"), QStringLiteral("--cutter"),
                  QStringLiteral("mencoder"), movie},
                 env, dir.path());
        QTRY_VERIFY_WITH_TIMEOUT(!CutJob::partialCopiesOf(copy).isEmpty(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(CutJob::partialCopiesOf(copy).value(0)).size() > 0, 5000);
        ::kill(pid_t(cli.processId()), SIGINT);
        QVERIFY(cli.waitForFinished(10000));
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QCOMPARE(cli.exitCode(), 130);
        QCOMPARE(CutJob::partialCopiesOf(copy), QStringList());
        QVERIFY(!QFile::exists(copy));
        QVERIFY(QFile::exists(movie));
    }

    // The real comskip, mencoder and ffmpeg: a batch with a recording that
    // has a break, one that has none and one that is no recording at all.
    void testBatchWithTheRealTools()
    {
        if (!missingRealTool().isEmpty())
            QSKIP("the real tools are not installed (./scripts/test installs them)");
        QTemporaryDir dir;
        const QString ad = dir.filePath(QStringLiteral("ad.mpg"));
        const QString plain = dir.filePath(QStringLiteral("plain.mpg"));
        const QString junk = dir.filePath(QStringLiteral("junk.mpg"));
        QCOMPARE(QProcess::execute(QStringLiteral(TRIMLET_TEST_SCRIPTS "/make_recording.sh"),
                                   {ad, QStringLiteral("show:150 ad:60 show:150")}),
                 0);
        QCOMPARE(QProcess::execute(QStringLiteral(TRIMLET_TEST_SCRIPTS "/make_recording.sh"),
                                   {plain, QStringLiteral("show:200")}),
                 0);
        writeFile(junk, QByteArray("not a recording at all ").repeated(4000));
        const QByteArray before = sha1(ad);

        const CliRun run = runCli({QStringLiteral("--json"), ad, plain, junk},
                                  QProcessEnvironment::systemEnvironment(), dir.path(), 300000);
        QCOMPARE(run.status, 1);
        QCOMPARE(run.summary.size(), 3);
        const QJsonValue cut = run.summary[0];
        QCOMPARE(cut[QStringLiteral("input")].toString(), ad);
        QCOMPARE(cut[QStringLiteral("state")].toString(), QStringLiteral("done"));
        QCOMPARE(cut[QStringLiteral("output")].toString(), dir.filePath(QStringLiteral("ad.clean.mpg")));
        QCOMPARE(cut[QStringLiteral("breaks_cut")].toInt(), 1);
        // 361 s less a break of about 61.
        const double kept = cut[QStringLiteral("kept_seconds")].toDouble();
        QVERIFY2(kept > 295 && kept < 305, qPrintable(QString::number(kept)));
        QVERIFY2(!cut[QStringLiteral("cutter")].toString().isEmpty(),
                 qPrintable(cut[QStringLiteral("message")].toString()));
        QVERIFY(videoFrames(dir.filePath(QStringLiteral("ad.clean.mpg"))) > 8500);
        QCOMPARE(sha1(ad), before);

        const QJsonValue none = run.summary[1];
        QCOMPARE(none[QStringLiteral("state")].toString(), QStringLiteral("done"));
        QCOMPARE(none[QStringLiteral("breaks_found")].toInt(), 0);
        QVERIFY(none[QStringLiteral("output")].isNull());

        const QJsonValue refused = run.summary[2];
        QCOMPARE(refused[QStringLiteral("state")].toString(), QStringLiteral("failed"));
        QVERIFY2(refused[QStringLiteral("message")].toString().contains(QStringLiteral("not a recording")),
                 qPrintable(refused[QStringLiteral("message")].toString()));

        // The copy and the recordings, and nothing else: the work files
        // were erased once the copy was checked, no partial copy is left.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
                 (QStringList{QStringLiteral("ad.clean.mpg"), QStringLiteral("ad.mpg"),
                              QStringLiteral("junk.mpg"), QStringLiteral("plain.mpg")}));
    }

    // mencoder's own copy kept, so that its path runs for real: a program
    // stream with AC-3, cut at its head as a DVR that starts early catches
    // the adverts before the programme. (mencoder loses the last 0.6 s of
    // MP2 and leaves a broken AC-3 frame where it joins two spans: those
    // copies are refused and cut again frame-exactly.)
    void testMencoderCopyIsKept()
    {
        if (!missingRealTool().isEmpty())
            QSKIP("the real tools are not installed (./scripts/test installs them)");
        QTemporaryDir dir;
        const QString movie = dir.filePath(QStringLiteral("early.mpg"));
        QCOMPARE(QProcess::execute(
                     QStringLiteral(TRIMLET_TEST_SCRIPTS "/make_recording.sh"),
                     {QStringLiteral("-a"), QStringLiteral("ac3"), movie, QStringLiteral("ad:10 show:30")}),
                 0);
        // The advert and the black after it, as the detector marks them.
        writeFile(dir.filePath(QStringLiteral("early.txt")),
                  "FILE PROCESSING COMPLETE  1229 FRAMES AT  2997\n-------------------\n0\t330\n");
        writeFile(dir.filePath(QStringLiteral("early.edl")), "0.00\t11.00\t0\n");
        const CliRun run =
            runCli({QStringLiteral("--json"), QStringLiteral("--cutter"), QStringLiteral("mencoder"),
                    QStringLiteral("--use-existing-detection"), movie},
                   QProcessEnvironment::systemEnvironment(), dir.path(), 120000);
        QCOMPARE(run.status, 0);
        QCOMPARE(run.state(), QStringLiteral("done"));
        QCOMPARE(run.summary[0][QStringLiteral("cutter")].toString(), QStringLiteral("mencoder"));
        QCOMPARE(run.summary[0][QStringLiteral("output")].toString(),
                 dir.filePath(QStringLiteral("early.clean.mpg")));
        // 41 s recorded less the 11 s cut, within the check's second.
        const double kept = run.summary[0][QStringLiteral("kept_seconds")].toDouble();
        QVERIFY2(kept > 29 && kept < 31, qPrintable(QString::number(kept)));
        const int frames = videoFrames(dir.filePath(QStringLiteral("early.clean.mpg")));
        QVERIFY2(qAbs(frames - 30 * 30000.0 / 1001) < 30, qPrintable(QString::number(frames)));
    }
};

QTEST_MAIN(TestCli)
#include "tst_cli.moc"
