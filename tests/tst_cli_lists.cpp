// trimlet-cli given lists it cannot use: a detection whose lists are
// incomplete (a full disk), an EDL that cannot be read or that would leave
// nothing of the recording, and what a failed run leaves to tell why.

#include "CliSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/mount.h>

namespace {

const QByteArray kRecording = QByteArray("recording bytes ").repeated(1000);
const QByteArray kFrameList =
    "FILE PROCESSING COMPLETE  10800 FRAMES AT  2997\n-------------------\n1800\t3599\n";

} // namespace

class TestCliLists final : public QObject
{
    Q_OBJECT

    // A detection whose lists comskip did not finish is a failed one, and
    // the user's earlier lists come back.
    void checkFailedDetection(const CliRun &run, const QString &dir, const QString &reason)
    {
        QCOMPARE(run.status, 1);
        QCOMPARE(run.state(), QStringLiteral("failed"));
        QVERIFY2(run.message().startsWith(reason), qPrintable(run.message()));
        QCOMPARE(readAll(dir + QStringLiteral("/show.edl")), QByteArray("60.06\t120.09\t0\n"));
        QCOMPARE(readAll(dir + QStringLiteral("/show.txt")), kFrameList);
        QVERIFY(!QFile::exists(dir + QStringLiteral("/show.clean.mpg")));
    }

private slots:
    void testIncompleteDetectionFails_data()
    {
        QTest::addColumn<QByteArray>("frames");
        QTest::addColumn<QByteArray>("edl");
        QTest::newRow("empty lists") << QByteArray("") << QByteArray("");
        QTest::newRow("no line of dashes")
            << QByteArray("FILE PROCESSING COMPLETE  10800 FRAMES AT  2997\\n") << QByteArray("");
        QTest::newRow("last row cut short")
            << QByteArray("FILE PROCESSING COMPLETE  10800 FRAMES AT  2997\\n-------\\n1800\\t35")
            << QByteArray("60.06\\t120.09\\t0\\n");
    }
    void testIncompleteDetectionFails()
    {
        QFETCH(QByteArray, frames);
        QFETCH(QByteArray, edl);
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("show.mpg")), kRecording);
        writeFile(dir.filePath(QStringLiteral("show.txt")), kFrameList);
        writeFile(dir.filePath(QStringLiteral("show.edl")), "60.06\t120.09\t0\n");
        QProcessEnvironment env = withStandIns();
        env.insert(QStringLiteral("STANDIN_TXT"), QString::fromLatin1(frames));
        env.insert(QStringLiteral("STANDIN_EDL"), QString::fromLatin1(edl));
        const CliRun run =
            runCli(QStringList{QStringLiteral("--json"), QStringLiteral("show.mpg")}, env, dir.path());
        checkFailedDetection(run, dir.path(), QStringLiteral("comskip's lists are incomplete."));
    }

    void testDiskFullDuringDetection()
    {
        QTemporaryDir dir;
        const QString disk = dir.filePath(QStringLiteral("disk"));
        QVERIFY(QDir().mkpath(disk));
        if (::mount("trimlet-test", QFile::encodeName(disk).constData(), "tmpfs", 0, "size=1m") != 0)
            QSKIP("a tmpfs cannot be mounted here (the test needs root): the full disk is not tried");
        struct Unmount
        {
            QByteArray path;
            ~Unmount() { ::umount2(path.constData(), MNT_DETACH); }
        } unmount{QFile::encodeName(disk)};
        writeFile(disk + QStringLiteral("/show.mpg"), kRecording);
        writeFile(disk + QStringLiteral("/show.txt"), kFrameList);
        writeFile(disk + QStringLiteral("/show.edl"), "60.06\t120.09\t0\n");
        // The stand-in writes its table until the disk is full, then lists
        // that stay empty, and says it succeeded, as comskip does.
        QProcessEnvironment env = withStandIns();
        env.insert(QStringLiteral("STANDIN_MODE"), QStringLiteral("fill"));
        const CliRun run =
            runCli(QStringList{QStringLiteral("--json"), QStringLiteral("show.mpg")}, env, disk);
        checkFailedDetection(run, disk, QStringLiteral("The disk is full: comskip's lists are incomplete."));
    }

    // An earlier detection's lists, as a DVR leaves them: one that cannot
    // be read or would leave nothing fails its recording in every mode;
    // the last row counts without its line feed.
    void testExistingListsThatCannotBeUsed_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QByteArray>("edl");
        QTest::addColumn<QString>("reason"); // empty: a copy is made
        const QString unreadable = QStringLiteral("The cut list cannot be read");
        const QString nothing = QStringLiteral("The cut list leaves nothing of the recording to keep");
        QTest::newRow("garbage") << QStringLiteral("cut") << QByteArray("garbage here\n") << unreadable;
        QTest::newRow("garbage without a line feed")
            << QStringLiteral("cut") << QByteArray("garbage here") << unreadable;
        QTest::newRow("last row without its line feed")
            << QStringLiteral("cut") << QByteArray("60.06\t120.09\t0") << QString();
        QTest::newRow("whole recording, cut")
            << QStringLiteral("cut") << QByteArray("0.00\t400.00\t0\n") << nothing;
        QTest::newRow("whole recording in two, chapters")
            << QStringLiteral("chapters") << QByteArray("0.00\t200.00\t0\n199.90\t361.00\t3\n") << nothing;
        QTest::newRow("whole recording, skip list")
            << QStringLiteral("skip-list") << QByteArray("0.00\t400.00\t0\n") << nothing;
    }
    void testExistingListsThatCannotBeUsed()
    {
        QFETCH(QString, mode);
        QFETCH(QByteArray, edl);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("show.mpg")), kRecording);
        writeFile(dir.filePath(QStringLiteral("show.txt")), kFrameList);
        writeFile(dir.filePath(QStringLiteral("show.edl")), edl);
        QProcessEnvironment env = withStandIns();
        env.insert(QStringLiteral("STANDIN_COPY_FRAMES"), QStringLiteral("9000"));
        const CliRun run =
            runCli(QStringList{QStringLiteral("--json"), QStringLiteral("--use-existing-detection"),
                               QStringLiteral("--cutter"), QStringLiteral("mencoder"),
                               QStringLiteral("--mode"), mode, QStringLiteral("show.mpg")},
                   env, dir.path());
        if (reason.isEmpty()) {
            QCOMPARE(run.status, 0);
            QCOMPARE(run.summary[0][QStringLiteral("breaks_cut")].toInt(), 1);
            QVERIFY(QFile::exists(dir.filePath(QStringLiteral("show.clean.mpg"))));
            return;
        }
        QCOMPARE(run.status, 1);
        QCOMPARE(run.state(), QStringLiteral("failed"));
        QVERIFY2(run.message().startsWith(reason), qPrintable(run.message()));
        // Nothing was written: no copy, and the list as it was.
        QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("show.c*")}, QDir::Files), QStringList());
        QCOMPARE(readAll(dir.filePath(QStringLiteral("show.edl"))), edl);
    }

    // Under a DVR nothing but the folder may tell why a run failed: its
    // work files and its part of the shared run log stay, and the next
    // run's log is added, never put in its place.
    void testFailedRunKeepsItsEvidence()
    {
        QTemporaryDir dir;
        for (const char *name : {"a.mpg", "b.mpg"})
            writeFile(dir.filePath(QLatin1String(name)), kRecording);
        const QString log = dir.filePath(QStringLiteral("TrimletLog.txt"));
        // Both cutters write a header and nothing more: the cut fails.
        QProcessEnvironment env = withStandIns();
        env.insert(QStringLiteral("STANDIN_MODE"), QStringLiteral("truncate"));
        env.insert(QStringLiteral("STANDIN_FFMPEG_MODE"), QStringLiteral("truncate"));
        const CliRun failed = runCli(QStringList{QStringLiteral("--json"), QStringLiteral("--cutter"),
                                                 QStringLiteral("mencoder"), QStringLiteral("a.mpg")},
                                     env, dir.path());
        QCOMPARE(failed.status, 1);
        QVERIFY2(
            failed.message().endsWith(
                QStringLiteral("The work files and the run log are kept beside the recording: %1.").arg(log)),
            qPrintable(failed.message()));
        for (const char *name : {"a.ini", "a.txt", "a.edl"})
            QVERIFY2(QFile::exists(dir.filePath(QLatin1String(name))), name);
        const QByteArray aPart = readAll(log);
        QVERIFY2(aPart.contains("a.mpg\nComskip stand-in\n"), aPart.constData());
        QVERIFY2(aPart.contains("MEncoder stand-in"), aPart.constData());

        // A run kept whole beside it: its detection and its cut.
        const CliRun kept = runCli(QStringList{QStringLiteral("--json"), QStringLiteral("--keep-work-files"),
                                               QStringLiteral("--cutter"), QStringLiteral("mencoder"),
                                               QStringLiteral("b.mpg")},
                                   withStandIns(), dir.path());
        QCOMPARE(kept.status, 0);
        QByteArray both = readAll(log);
        QVERIFY2(both.startsWith(aPart), both.constData());
        QVERIFY2(both.indexOf("b.mpg\nComskip stand-in\n") > 0, both.constData());
        QVERIFY(both.indexOf("MEncoder stand-in", both.indexOf("b.mpg\nComskip stand-in\n")) > 0);

        // Erased once a run succeeds: its own parts, not a's.
        QFile::remove(dir.filePath(QStringLiteral("b.clean.mpg")));
        const CliRun erased = runCli(QStringList{QStringLiteral("--json"), QStringLiteral("--cutter"),
                                                 QStringLiteral("mencoder"), QStringLiteral("b.mpg")},
                                     withStandIns(), dir.path());
        QCOMPARE(erased.status, 0);
        QCOMPARE(readAll(log), aPart);
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("b.ini"))));
    }
};

QTEST_MAIN(TestCliLists)
#include "tst_cli_lists.moc"
