// What trimlet-cli leaves of a folder it shares with the user, a DVR and
// other Trimlets: the user's files are inputs, erasing takes only what a
// run of the same user wrote, one Trimlet works on a recording at a time,
// and a Trimlet killed mid-run hides nothing. With the stand-in tools.

#include "CliSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <csignal>
#include <unistd.h>

namespace {

// Every file in the folder, hidden ones too, with its bytes.
QMap<QString, QByteArray> folder(const QString &dir)
{
    QMap<QString, QByteArray> files;
    for (const QString &name : QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System))
        files.insert(name, readAll(QDir(dir).filePath(name)));
    return files;
}

// The names in before that are gone or changed in after.
QStringList lost(const QMap<QString, QByteArray> &before, const QMap<QString, QByteArray> &after)
{
    QStringList names;
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        if (after.value(it.key(), QByteArrayLiteral("(gone)")) != it.value())
            names << it.key();
    return names;
}

const QByteArray kRecording = QByteArray("recording bytes ").repeated(1000);
// Two breaks, as the stand-in cutter's copy leaves out.
const QByteArray kFrameList =
    "FILE PROCESSING COMPLETE  10800 FRAMES AT  2997\n-------------------\n1800\t3599\n7200\t8999\n";
const QByteArray kCutList = "60.06\t120.09\t0\n240.24\t300.27\t0\n";

} // namespace

class TestCliFiles final : public QObject
{
    Q_OBJECT

private slots:
    // A name with a newline split the manifest's lines into names of the
    // user's files; a manifest planted by someone else named anything.
    void testErasesOnlyItsOwnWorkFiles_data()
    {
        QTest::addColumn<QString>("recording");
        QTest::addColumn<QString>("manifest"); // planted before the run
        QTest::newRow("a newline in the name") << QStringLiteral("Holiday.mkv\nNews.mpg") << QString();
        QTest::newRow("a planted manifest")
            << QStringLiteral("show.mpg") << QStringLiteral("family.mpg\nHoliday.mkv\n");
    }
    void testErasesOnlyItsOwnWorkFiles()
    {
        QFETCH(QString, recording);
        QFETCH(QString, manifest);
        QTemporaryDir dir;
        writeFile(dir.filePath(recording), kRecording);
        writeFile(dir.filePath(QStringLiteral("Holiday.mkv")), "the user's own");
        writeFile(dir.filePath(QStringLiteral("family.mpg")), "the family's");
        if (!manifest.isEmpty())
            writeFile(dir.filePath(QStringLiteral(".show.trimlet-files")), manifest.toUtf8());
        const QMap<QString, QByteArray> before = folder(dir.path());
        const CliRun run =
            runCli({QStringLiteral("--json"), dir.filePath(recording)}, withStandIns(), dir.path());
        QCOMPARE(run.status, 0);
        // Trimlet's own hidden records aside.
        QCOMPARE(lost(before, folder(dir.path())).filter(QRegularExpression(QStringLiteral("^[^.]"))),
                 QStringList());
    }

    // The lists a user or a DVR keeps beside a recording, its own ini and
    // a run log of its own are inputs: after any run each is as it was.
    void testUsersListsAreInputs_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("edlAfter"); // empty: as it was
        const QString movie = QStringLiteral("show.mpg");
        QTest::newRow("a detection and its cut") << QStringList{movie} << QByteArray();
        QTest::newRow("kept lists, no erase")
            << QStringList{QStringLiteral("--use-existing-detection"), movie} << QByteArray();
        // Kodi skips the breaks; the DVR's mute and scene rows stay.
        QTest::newRow("a skip list over a DVR's list")
            << QStringList{QStringLiteral("--use-existing-detection"), QStringLiteral("--mode"),
                           QStringLiteral("skip-list"), movie}
            << QByteArray("60.060\t120.090\t3\n240.240\t300.270\t3\n330.5\t331\t1\n400\t400\t2\n");
    }
    void testUsersListsAreInputs()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, edlAfter);
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("show.mpg")), kRecording);
        writeFile(dir.filePath(QStringLiteral("show.txt")), kFrameList);
        writeFile(dir.filePath(QStringLiteral("show.edl")), kCutList + "330.5\t331\t1\n400\t400\t2\n");
        writeFile(dir.filePath(QStringLiteral("show.csv")), "the DVR's table");
        writeFile(dir.filePath(QStringLiteral("show.ini")), "the user's settings");
        writeFile(dir.filePath(QStringLiteral("show.log")), "the DVR's log");
        writeFile(dir.filePath(QStringLiteral("TrimletLog.txt")), "the user's notes");
        // As an earlier version left the lists of a --detect-only run.
        if (arguments.contains(QStringLiteral("--use-existing-detection")))
            writeFile(dir.filePath(QStringLiteral(".show.trimlet-files")), "show.ini\nshow.txt\nshow.edl\n");
        const QMap<QString, QByteArray> before = folder(dir.path());
        const CliRun run =
            runCli(QStringList{QStringLiteral("--json")} + arguments, withStandIns(), dir.path());
        QCOMPARE(run.status, 0);
        QCOMPARE(run.summary[0][QStringLiteral("state")].toString(), QStringLiteral("done"));
        const QMap<QString, QByteArray> after = folder(dir.path());
        QStringList expectedLost;
        if (!edlAfter.isEmpty()) {
            expectedLost << QStringLiteral("show.edl");
            QCOMPARE(after.value(QStringLiteral("show.edl")), edlAfter);
        }
        QCOMPARE(lost(before, after).filter(QRegularExpression(QStringLiteral("^[^.]"))), expectedLost);
    }

    // A second Trimlet on a recording under way, reached through another
    // name, is refused with the first one's process, and so is one on a
    // recording whose lists would have the same names; the others of its
    // batch go on.
    void testOneTrimletPerRecording()
    {
        QTemporaryDir dir;
        const QString movie = dir.filePath(QStringLiteral("show.mpg"));
        writeFile(movie, kRecording);
        writeFile(dir.filePath(QStringLiteral("other.mpg")), kRecording);
        writeFile(dir.filePath(QStringLiteral("show.2")), kRecording);
        QCOMPARE(::link(QFile::encodeName(movie).constData(),
                        QFile::encodeName(dir.filePath(QStringLiteral("link.mpg"))).constData()),
                 0);
        QProcess first;
        startCli(first, {QStringLiteral("--detect-only"), movie}, withStandIns(QStringLiteral("wait")),
                 dir.path());
        // comskip's empty frame list: the first is detecting.
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath(QStringLiteral("show.txt"))), 20000);
        const CliRun second =
            runCli({QStringLiteral("--json"), QStringLiteral("--detect-only"), QStringLiteral("./link.mpg"),
                    QStringLiteral("other.mpg"), QStringLiteral("show.2")},
                   withStandIns(), dir.path());
        QCOMPARE(second.status, 1);
        QCOMPARE(second.summary[0][QStringLiteral("message")].toString(),
                 QStringLiteral("link.mpg is being processed by another Trimlet (process %1).")
                     .arg(first.processId()));
        QCOMPARE(second.summary[1][QStringLiteral("state")].toString(), QStringLiteral("done"));
        QCOMPARE(second.summary[2][QStringLiteral("message")].toString(),
                 QStringLiteral("show.2 shares its work files (show.txt, show.edl) with a recording being "
                                "processed by another Trimlet (process %1): run it once that one has ended.")
                     .arg(first.processId()));
        // The window says the same when Run is pressed, and runs nothing.
        Harness window;
        window.controller.toolLocator().setHelperDirectories({standInTools()}, false);
        QVERIFY(chooseRecording(window.controller, movie));
        window.controller.detectStart();
        QVERIFY(waitForIdle(window.controller));
        QCOMPARE(window.controller.status(),
                 QStringLiteral("show.mpg is being processed by another Trimlet (process %1).")
                     .arg(first.processId()));
        QCOMPARE(first.state(), QProcess::Running);
        ::kill(pid_t(first.processId()), SIGINT);
        QVERIFY(first.waitForFinished(10000));
        QCOMPARE(first.exitCode(), 130);
    }

    // Killed mid-detection, a Trimlet leaves the user's lists set aside;
    // the next run puts them back before it looks for them.
    void testListsOfAKilledRunAreFoundAgain()
    {
        QTemporaryDir dir;
        const QString movie = dir.filePath(QStringLiteral("show.mpg"));
        writeFile(movie, kRecording);
        writeFile(dir.filePath(QStringLiteral("show.txt")), kFrameList);
        writeFile(dir.filePath(QStringLiteral("show.edl")), kCutList);
        const QMap<QString, QByteArray> before = folder(dir.path());
        QProcess killed;
        startCli(killed, {movie}, withStandIns(QStringLiteral("wait")), dir.path());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath(QStringLiteral(".show.edl.trimlet-aside")))
                                     && QFile::exists(dir.filePath(QStringLiteral("show.txt"))),
                                 20000);
        ::kill(pid_t(killed.processId()), SIGKILL);
        QVERIFY(killed.waitForFinished(10000));
        const CliRun again = runCli({QStringLiteral("--json"), QStringLiteral("--use-existing-detection"),
                                     QStringLiteral("--keep-work-files"), movie},
                                    withStandIns(), dir.path());
        QCOMPARE(again.status, 0);
        QCOMPARE(again.summary[0][QStringLiteral("detection")].toString(), QStringLiteral("existing"));
        QCOMPARE(again.summary[0][QStringLiteral("breaks_cut")].toInt(), 2);
        const QMap<QString, QByteArray> after = folder(dir.path());
        QCOMPARE(lost(before, after), QStringList());
        QCOMPARE(after.keys().filter(QStringLiteral("trimlet-aside")), QStringList());
    }
};

QTEST_MAIN(TestCliFiles)
#include "tst_cli_files.moc"
