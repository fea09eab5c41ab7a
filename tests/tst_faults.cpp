// What goes wrong around a run: tools that misbehave, files that are not
// what they should be, awkward paths. Whatever happens, the window works,
// the buttons read "Run", the status line says something, the run log is
// readable and the recording is untouched.

#include "TestSupport.h"

#include "chart/VideoGraph.h"

#include <QCheckBox>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

class TestFaults final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_n = 0;

    struct Run : Harness
    {
        QString movie;
        QByteArray checksum;
        Run(const QString &dir, const QString &name)
        {
            controller.toolLocator().setHelperDirectories({standInTools()}, false);
            controller.setStopBounds(300, 1500);
            // mencoder's stand-in copies the recording byte for byte.
            ui().mRemoveWithMencoder->setChecked(true);
            QDir().mkpath(dir);
            movie = dir + QLatin1Char('/') + name;
            writeFile(movie, QByteArray("MPEG bytes").repeated(5000));
            checksum = QCryptographicHash::hash(readAll(movie), QCryptographicHash::Sha1);
            chooseRecording(controller, movie);
        }
        // What must hold after every fault.
        void verifySound(bool recordingKept = true)
        {
            // A stop returns at once; the run ends once its tool has.
            QVERIFY(waitForIdle(controller, 5000));
            const AppController &c = controller;
            QCOMPARE(ui().mAutoActionButton->text(), QStringLiteral("Run"));
            QCOMPARE(ui().mDetectActionButton->text(), QStringLiteral("Run"));
            QCOMPARE(ui().mRemoveActionButton->text(), QStringLiteral("Run"));
            QVERIFY(ui().mDetectActionButton->isEnabled());
            QVERIFY(!ui().mStatusField->text().isEmpty());
            QVERIFY(!c.logFileOpen());
            if (recordingKept)
                QCOMPARE(QCryptographicHash::hash(readAll(movie), QCryptographicHash::Sha1), checksum);
        }
    };

    QString dir() { return m_dir.filePath(QStringLiteral("case%1").arg(++m_n)); }

private slots:
    void testToolMissingOrNotExecutable()
    {
        Run r(dir(), QStringLiteral("show.mpg"));
        QTemporaryDir tools;
        const QString notExecutable = tools.filePath(QStringLiteral("comskip"));
        writeFile(notExecutable, "#!/bin/sh\nexit 0\n");
        r.controller.toolLocator().setHelperDirectories({tools.path()}, false);
        r.controller.autoStart();
        QVERIFY(waitForIdle(r.controller));
        r.verifySound();
        QCOMPARE(r.ui().mStatusField->text(), QStringLiteral("Could not start comskip. Is it installed?"));
    }

    void testToolCrashesMidRun()
    {
        Run r(dir(), QStringLiteral("show.mpg"));
        EnvGuard env;
        env.set("STANDIN_MODE", "crash");
        r.controller.autoStart();
        QVERIFY(waitForIdle(r.controller));
        r.verifySound();
        QCOMPARE(r.ui().mStatusField->text(), QStringLiteral("Unexpected error 139."));
        QVERIFY(readAll(r.controller.outDir() + QStringLiteral("/TrimletLog.txt"))
                    .contains("show.mpg\nComskip stand-in"));
    }

    void testStopOfToolThatIgnoresTermOrLeavesChild_data()
    {
        QTest::addColumn<QByteArray>("mode");
        QTest::newRow("ignores SIGTERM") << QByteArray("stubborn");
        QTest::newRow("child keeps the pipe") << QByteArray("orphan");
    }
    void testStopOfToolThatIgnoresTermOrLeavesChild()
    {
        QFETCH(QByteArray, mode);
        Run r(dir(), QStringLiteral("show.mpg"));
        EnvGuard env;
        env.set("STANDIN_MODE", mode);
        r.controller.performButtonAction(RunButton::Detect);
        if (mode == "orphan") {
            // The run ends with the tool, not with the last holder of its
            // output: a child that lives on for seconds does not keep it.
            QElapsedTimer ended;
            ended.start();
            QVERIFY(waitForIdle(r.controller, 3000));
            QVERIFY2(ended.elapsed() < 2000, qPrintable(QString::number(ended.elapsed())));
            QCOMPARE(r.ui().mStatusField->text(), QStringLiteral("Found 2 commercials."));
            r.verifySound();
            QTRY_COMPARE_WITH_TIMEOUT(zombieChildren(), 0, 5000);
            return;
        }
        QTest::qWait(600);
        StallMeter meter;
        QElapsedTimer clock;
        clock.start();
        r.controller.performButtonAction(RunButton::Detect);
        QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
        r.verifySound();
        QTRY_COMPARE_WITH_TIMEOUT(zombieChildren(), 0, 5000);
    }

    void testFloodOfOutputKeepsWindowResponsive()
    {
        Run r(dir(), QStringLiteral("show.mpg"));
        EnvGuard env;
        env.set("STANDIN_MODE", "flood");
#ifdef __SANITIZE_ADDRESS__
        // A tenth under the sanitizers, where the 200 MB take 77 s: the
        // same paths, and the suite's longest test no longer.
        constexpr qint64 kFlood = 20000000;
#else
        constexpr qint64 kFlood = 200000000;
#endif
        env.set("STANDIN_FLOOD_BYTES", QByteArray::number(kFlood));
        StallMeter meter;
        QElapsedTimer clock;
        clock.start();
        r.controller.detectStart();
        QVERIFY(waitForIdle(r.controller, 120000));
        const qint64 ms = clock.elapsed();
        r.verifySound();
        const qint64 logged = QFileInfo(r.controller.outDir() + QStringLiteral("/TrimletLog.txt")).size();
        qDebug("%lld MB of output: %lld ms, %.0f MB/s, longest event-loop stall %lld ms", kFlood / 1000000,
               ms, logged / 1e6 / (ms / 1000.0), meter.worst);
        QVERIFY(logged > kFlood);
        QVERIFY(r.controller.logExcerpts().size() < 1024 * 1024);
        QCOMPARE(r.ui().mDetectProgressIndicator->value(), 100);
        QVERIFY2(meter.worst < 500, qPrintable(QString::number(meter.worst)));
    }

    void testOutputThatIsNotUtf8()
    {
        Run r(dir(), QStringLiteral("show.mpg"));
        EnvGuard env;
        env.set("STANDIN_MODE", "badutf8");
        r.controller.detectStart();
        QVERIFY(waitForIdle(r.controller));
        r.verifySound();
        const QString log =
            QString::fromUtf8(readAll(r.controller.outDir() + QStringLiteral("/TrimletLog.txt")));
        QVERIFY(log.contains(QStringLiteral("bad \uFFFD\uFFFD bytes, café and €\n")));
    }

    void testUnwritableWorkFiles()
    {
        // As root no permission bit stops a write, so the names are taken
        // by directories: no run log and no ini file can be written.
        Run r(dir(), QStringLiteral("show.mpg"));
        QVERIFY(QDir().mkpath(r.controller.outDir() + QStringLiteral("/TrimletLog.txt")));
        QVERIFY(QDir().mkpath(r.controller.outDir() + QStringLiteral("/show.ini")));
        r.controller.autoStart();
        QVERIFY(waitForIdle(r.controller));
        r.verifySound();
        QCOMPARE(r.controller.lastOutcome().copy, QFileInfo(r.ui().mOutputField->text()).absoluteFilePath());
    }

    void testRecordingDeletedDuringDetection()
    {
        Run r(dir(), QStringLiteral("show.mpg"));
        EnvGuard env;
        env.set("STANDIN_MODE", "wait");
        r.controller.autoStart();
        QTest::qWait(300);
        QVERIFY(QFile::remove(r.movie));
        r.controller.performButtonAction(RunButton::Auto);
        r.verifySound(false);
        // Starting again finds nothing to read and says so.
        env.set("STANDIN_MODE", "ok");
        r.controller.autoStart();
        QVERIFY(waitForIdle(r.controller));
        r.verifySound(false);
        // Both cutters fail on the missing file; nothing is called a copy.
        QVERIFY2(r.ui().mStatusField->text().endsWith(
                     QStringLiteral("The recording could not be cut at its exact frames: its video packets "
                                    "could not be read (error 1).")),
                 qPrintable(r.ui().mStatusField->text()));
        QVERIFY(!QFile::exists(r.ui().mOutputField->text()));
        QVERIFY(r.controller.partialCopies().isEmpty());
    }

    void testGarbageResultFiles_data()
    {
        QTest::addColumn<QByteArray>("txt");
        QTest::addColumn<QByteArray>("edl");
        QTest::addColumn<QByteArray>("csv");
        QByteArray random(4096, 0);
        for (char &c : random)
            c = char(QRandomGenerator::global()->bounded(256));
        const QByteArray header = "FILE PROCESSING COMPLETE  3000 FRAMES AT  2997\n---\n100 399\n";
        QByteArray wide = "sep=,\n" + QByteArray("c,").repeated(25) + "\n";
        for (int i = 0; i < 3000; ++i)
            wide += QByteArray("7,").repeated(25) + "\n";
        QTest::newRow("random bytes") << random << random << random;
        QTest::newRow("truncated") << header.left(30) << QByteArray("150.52\t2")
                                   << QByteArray("sep=,\nframe,bri");
        QTest::newRow("10 MB single line")
            << header << QByteArray("1 2 0\n") << ("frame,a,\n" + QByteArray(10 * 1024 * 1024, '9'));
        QTest::newRow("25 columns") << header << QByteArray("1 2 0\n") << wide;
        QTest::newRow("EDL with CR-LF")
            << header << QByteArray("1\t2\t0\r\n3\t4\t0\r\n") << QByteArray("frame,a,\n1,2\n");
    }
    void testGarbageResultFiles()
    {
        QFETCH(QByteArray, txt);
        QFETCH(QByteArray, edl);
        QFETCH(QByteArray, csv);
        Run r(dir(), QStringLiteral("show.mpg"));
        AppController &c = r.controller;
        writeFile(c.outDir() + QStringLiteral("/show.txt"), txt);
        writeFile(c.outDir() + QStringLiteral("/show.edl"), edl);
        writeFile(c.outDir() + QStringLiteral("/show.csv"), csv);
        c.openRecording(r.movie);
        c.graphAction();
        QVERIFY(c.pointCount() >= 0 && c.pointCount() <= 1500);
        QImage img(900, 450, QImage::Format_RGB32);
        r.windows.graph()->render(&img);
        QVERIFY(!r.ui().mStatusField->text().isEmpty());
        r.verifySound();
    }

    void testAwkwardPaths()
    {
        const QString d = m_dir.filePath(QStringLiteral("with spaces/and \"quotes\"/Ünïcødé"));
        Run r(d, QStringLiteral("-Late \"Show\" 'special' café.mpg"));
        AppController &c = r.controller;
        QCOMPARE(c.baseName(), QStringLiteral("-Late \"Show\" 'special' café"));
        c.autoStart();
        QVERIFY(waitForIdle(c));
        r.verifySound();
        QCOMPARE(r.ui().mStatusField->text(),
                 QStringLiteral("Found 2 commercials. Cut copy: -Late \"Show\" 'special' café.clean.mpg "
                                "(0:04:00), cut by mencoder."));
        QCOMPARE(readAll(r.ui().mOutputField->text()), readAll(r.movie));
        c.graphAction();
        QCOMPARE(c.pointCount(), 5); // 30 rows at 7.2 rows a point
        QCOMPARE(r.windows.graph()->numberOfRowsInTableView(), 2);
    }
};

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
