// trimlet-cli as a DVR box runs it: unwatched, from a post-processing hook or
// a watched folder, with the stand-in tools.

#include "CliSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <csignal>
#include <sys/stat.h>

namespace {

const QByteArray kRecording = QByteArray("recording bytes ").repeated(1000);

ino_t inodeOf(const QString &path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

} // namespace

class TestCliDvr final : public QObject
{
    Q_OBJECT

private slots:
    // tvheadend logs each line on stderr as an error: a run that went well
    // says one line, and with --quiet none; a failure is still told.
    void testQuietWhereNobodyWatches()
    {
        QTemporaryDir dir;
        const QString movie = dir.filePath(QStringLiteral("show.mpg"));
        writeFile(movie, kRecording);
        const CliRun run = runCli({QStringLiteral("--json"), movie}, withStandIns(), dir.path());
        QCOMPARE(run.status, 0);
        // The default cutter's copy: the stand-in's sound track has a
        // language, which only a transport stream keeps.
        QCOMPARE(run.errors,
                 QStringLiteral("show.mpg: done: %1\n").arg(dir.filePath(QStringLiteral("show.clean.ts"))));
        QCOMPARE(run.summary.size(), 1);

        // A line each, even for a name that holds a line feed.
        const CliRun quiet = runCli({QStringLiteral("--quiet"), QStringLiteral("missing\n.mpg"), movie},
                                    withStandIns(), dir.path());
        QCOMPARE(quiet.status, 1);
        QCOMPARE(quiet.errors, QStringLiteral("missing\\n.mpg: failed: missing\\n.mpg cannot be found.\n"));
    }

    void testBadUsage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        const QString r = QStringLiteral("a.ts");
        QTest::newRow("--replace with chapters") << QStringList{
            QStringLiteral("--replace"), QStringLiteral("--mode"), QStringLiteral("chapters"), r};
        QTest::newRow("--replace with --output-dir") << QStringList{
            QStringLiteral("--replace"), QStringLiteral("--output-dir"), QStringLiteral("/tmp"), r};
        QTest::newRow("--keep-original unwritable") << QStringList{
            QStringLiteral("--replace"), QStringLiteral("--keep-original"), QStringLiteral("/proc/self"), r};
        QTest::newRow("--replace keeping its lists")
            << QStringList{QStringLiteral("--replace"), QStringLiteral("--keep-work-files"), r};
        QTest::newRow("--keep-original alone")
            << QStringList{QStringLiteral("--keep-original"), QStringLiteral("/tmp"), r};
        QTest::newRow("a missing profile")
            << QStringList{QStringLiteral("--profile"), QStringLiteral("absent"), r};
    }

    void testBadUsage()
    {
        QFETCH(QStringList, arguments);
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("a.ts")), kRecording);
        QProcessEnvironment env = withStandIns();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        const CliRun run = runCli(arguments, env, dir.path());
        QCOMPARE(run.status, 2);
        QVERIFY2(!run.errors.contains(QStringLiteral("Unknown option")), qPrintable(run.errors));
        // Nothing was run: the recording has no copy and no work files.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("a.ts")});
    }

    // A DVR knows the recording by its name: the checked copy takes it, and
    // the recording goes to the trash of its disk with its record; a copy
    // that is refused leaves everything where it was.
    void testReplaceTakesTheRecordingsPlace()
    {
        // A copy in the recording's own container: mencoder's, .mpg.
        const QString cutter = QStringLiteral("--cutter"), mencoder = QStringLiteral("mencoder");
        QTemporaryDir dir;
        const QString name = QStringLiteral("Tom's \"News\" & más.mpg");
        const QString movie = dir.filePath(name);
        writeFile(movie, kRecording);
        // The DVR's own list, of the times before the cut.
        const QString dvrList = dir.filePath(QStringLiteral("Tom's \"News\" & más.edl"));
        writeFile(dvrList, "60.06\t120.09\t3\n");
        const ino_t original = inodeOf(movie);
        ::chmod(QFile::encodeName(movie).constData(), 0640);
        QProcessEnvironment env = withStandIns();
        // The home trash, on the recording's file system.
        env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
        const CliRun run =
            runCli({cutter, mencoder, QStringLiteral("--replace"), QStringLiteral("--json"), movie}, env,
                   dir.path());
        QCOMPARE(run.status, 0);
        QCOMPARE(run.summary[0][QStringLiteral("output")].toString(), movie);
        const QString trashed = dir.filePath(QStringLiteral("data/Trash/files/") + name);
        QCOMPARE(inodeOf(trashed), original);
        QVERIFY(inodeOf(movie) != original);
        QCOMPARE(QFileInfo(movie).permissions() & 0x0fff, QFileInfo(trashed).permissions() & 0x0fff);
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("Tom's \"News\" & más.clean.mpg"))));
        QVERIFY(!QFile::exists(dvrList));
        QCOMPARE(readAll(dir.filePath(QStringLiteral("Tom's \"News\" & más.before-trimlet.edl"))),
                 QByteArray("60.06\t120.09\t3\n"));
        const QByteArray info =
            readAll(dir.filePath(QStringLiteral("data/Trash/info/") + name + QStringLiteral(".trashinfo")));
        QVERIFY2(info.startsWith("[Trash Info]\nPath=" + QFile::encodeName(movie).toPercentEncoding("/")
                                 + "\nDeletionDate=20"),
                 info.constData());

        // Refused by every check: mencoder's copy, and then ffmpeg's.
        const QString second = dir.filePath(QStringLiteral("second.mpg"));
        writeFile(second, kRecording);
        const ino_t before = inodeOf(second);
        env.insert(QStringLiteral("STANDIN_MODE"), QStringLiteral("truncate"));
        env.insert(QStringLiteral("STANDIN_FFMPEG_MODE"), QStringLiteral("truncate"));
        const CliRun refused =
            runCli({cutter, mencoder, QStringLiteral("--replace"), second}, env, dir.path());
        QCOMPARE(refused.status, 1);
        QCOMPARE(inodeOf(second), before);
        QCOMPARE(readAll(second), kRecording);
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("data/Trash/files/second.mpg"))));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("data/Trash/info/second.mpg.trashinfo"))));

        // Still being written while it was detected: its copy lacks the
        // end, and must not take its name.
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("bin")));
        const QString writer = dir.filePath(QStringLiteral("bin/comskip"));
        writeFile(writer, "#!/bin/sh\nfor last; do :; done\nprintf 'more' >> \"$last\"\nexec "
                              + QFile::encodeName(standInTools()) + "/comskip \"$@\"\n");
        QVERIFY(QFile::setPermissions(writer, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        env.insert(QStringLiteral("PATH"),
                   dir.filePath(QStringLiteral("bin:")) + env.value(QStringLiteral("PATH")));
        env.remove(QStringLiteral("STANDIN_MODE"));
        env.remove(QStringLiteral("STANDIN_FFMPEG_MODE"));
        const QString third = dir.filePath(QStringLiteral("third.mpg"));
        writeFile(third, kRecording);
        const CliRun growing =
            runCli({cutter, mencoder, QStringLiteral("--replace"), third}, env, dir.path());
        QCOMPARE(growing.status, 1);
        QVERIFY2(growing.errors.contains(QStringLiteral("still being written")), qPrintable(growing.errors));
        QCOMPARE(readAll(third), kRecording + "more");
        // Its copy holds only what was there when it was read: not kept.
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("third.clean.mpg"))));

        // A copy that would be in another container is not made at all.
        const QString fourth = dir.filePath(QStringLiteral("fourth.ts"));
        writeFile(fourth, kRecording);
        env.insert(QStringLiteral("PATH"), withStandIns().value(QStringLiteral("PATH")));
        const CliRun other = runCli({cutter, mencoder, QStringLiteral("--replace"), fourth}, env, dir.path());
        QCOMPARE(other.status, 1);
        QVERIFY2(other.errors.contains(QStringLiteral("another container")), qPrintable(other.errors));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("fourth.ini"))));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("fourth.clean.mpg"))));
    }

    // A channel's profile, by the pattern channels.conf gives for it, in
    // comskip's own syntax, reaches the detector; the run log names it.
    void testChannelProfileReachesTheDetector()
    {
        QTemporaryDir dir;
        const QString movie = dir.filePath(QStringLiteral("show.mpg"));
        writeFile(movie, kRecording);
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("config/trimlet/profiles")));
        writeFile(dir.filePath(QStringLiteral("config/trimlet/profiles/long breaks.ini")),
                  "[Main Settings]\n; breaks of up to twelve minutes\nmax_commercialbreak=720 ; seconds\n"
                  "# not the files Trimlet reads\noutput_edl=0\n");
        writeFile(dir.filePath(QStringLiteral("config/trimlet/channels.conf")),
                  "# channel = profile\nDas Erste* = long breaks\n");
        QProcessEnvironment env = withStandIns();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        const QStringList arguments{QStringLiteral("--detect-only"), QStringLiteral("--keep-work-files"),
                                    QStringLiteral("--channel"), QStringLiteral("Das Erste HD"), movie};
        QCOMPARE(runCli(arguments, env, dir.path()).status, 0);
        const QList<QByteArray> ini = readAll(dir.filePath(QStringLiteral("show.ini"))).split('\n');
        QVERIFY(ini.contains("max_commercialbreak=720"));
        QVERIFY(ini.contains("output_edl=1"));
        QVERIFY(readAll(dir.filePath(QStringLiteral("TrimletLog.txt")))
                    .contains("Trimlet: profile long breaks\n"));

        // Another channel has the defaults.
        QCOMPARE(runCli(QStringList(arguments).replaceInStrings(QStringLiteral("Das Erste HD"),
                                                                QStringLiteral("ZDF")),
                        env, dir.path())
                     .status,
                 0);
        QVERIFY(!readAll(dir.filePath(QStringLiteral("show.ini"))).contains("max_commercialbreak=720"));
        // The folder's log keeps the first run's part: the second's is the last.
        const QByteArray log = readAll(dir.filePath(QStringLiteral("TrimletLog.txt")));
        QVERIFY(!log.mid(log.lastIndexOf("==== Trimlet")).contains("profile"));
    }

    // A folder a DVR records into: a recording still growing is left alone,
    // run once it has settled, and not run again by a watcher started anew.
    void testWatchRunsEachSettledRecordingOnce()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("rec")));
        const QString movie = dir.filePath(QStringLiteral("rec/show.mpg"));
        const QString copy = dir.filePath(QStringLiteral("rec/show.clean.mpg"));
        QProcessEnvironment env = withStandIns();
        env.insert(QStringLiteral("XDG_STATE_HOME"), dir.filePath(QStringLiteral("state")));
        const QStringList arguments{QStringLiteral("--watch"),  dir.filePath(QStringLiteral("rec")),
                                    QStringLiteral("--settle"), QStringLiteral("2"),
                                    QStringLiteral("--cutter"), QStringLiteral("mencoder"),
                                    QStringLiteral("--json")};
        QProcess cli;
        cli.setProcessEnvironment(env);
        cli.start(QStringLiteral(TRIMLET_CLI), arguments);
        QVERIFY(cli.waitForStarted());
        // Written every 0.3 s for 3 s: never still for the 2 s it must settle.
        QFile growing(movie);
        QVERIFY(growing.open(QIODevice::WriteOnly));
        for (int i = 0; i < 10; ++i) {
            growing.write(QByteArray("recording bytes ").repeated(100));
            growing.flush();
            QTest::qWait(300);
            QCOMPARE(QDir(dir.filePath(QStringLiteral("rec"))).entryList(QDir::Files | QDir::Hidden),
                     QStringList{QStringLiteral("show.mpg")});
        }
        growing.close();
        QByteArray errors;
        QTRY_VERIFY_WITH_TIMEOUT((errors += cli.readAllStandardError()).contains("show.mpg: done"), 20000);
        QVERIFY(QFile::exists(copy));
        ::kill(pid_t(cli.processId()), SIGTERM);
        QVERIFY(cli.waitForFinished(10000));
        QCOMPARE(cli.exitCode(), 143);
        const QJsonArray first = QJsonDocument::fromJson(cli.readAllStandardOutput()).array();
        QCOMPARE(first.size(), 1);
        QCOMPARE(first[0][QStringLiteral("output")].toString(), copy);

        // Started again: what it ran is skipped. A recording its DVR
        // writes on after it settled (here while it is detected) fails,
        // and is run again once it has settled anew.
        const QDateTime made = QFileInfo(copy).lastModified();
        const QString late = dir.filePath(QStringLiteral("rec/late.mpg"));
        writeFile(late, QByteArray("late bytes ").repeated(1500));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("bin")));
        const QString writer = dir.filePath(QStringLiteral("bin/comskip"));
        writeFile(writer, "#!/bin/sh\nfor last; do :; done\nif mkdir \"$last.once\" 2>/dev/null; then printf "
                          "'more' >> \"$last\"; fi\nexec "
                              + QFile::encodeName(standInTools()) + "/comskip \"$@\"\n");
        QVERIFY(QFile::setPermissions(writer, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        env.insert(QStringLiteral("PATH"),
                   dir.filePath(QStringLiteral("bin:")) + env.value(QStringLiteral("PATH")));
        QProcess again;
        again.setProcessEnvironment(env);
        again.start(QStringLiteral(TRIMLET_CLI), arguments);
        QVERIFY(again.waitForStarted());
        errors.clear();
        QTRY_VERIFY_WITH_TIMEOUT((errors += again.readAllStandardError()).contains("late.mpg: done"), 30000);
        QVERIFY2(errors.contains("late.mpg: failed"), errors.constData());
        QVERIFY2(!errors.contains("show.mpg"), errors.constData());
        ::kill(pid_t(again.processId()), SIGTERM);
        QVERIFY(again.waitForFinished(10000));
        QCOMPARE(again.exitCode(), 143);
        QCOMPARE(QFileInfo(copy).lastModified(), made);
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("rec/late.clean.mpg"))));
    }
};

QTEST_MAIN(TestCliDvr)
#include "tst_cli_dvr.moc"
