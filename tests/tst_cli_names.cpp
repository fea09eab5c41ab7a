// trimlet-cli and the names a folder holds: names too long for the file
// system or for comskip, names whose suffix is no extension, names that are
// not UTF-8; and what the copy is made with: the umask's permissions, a
// disk that fills during the cut, a clock that leaps.

#include "CliSupport.h"
#include "jobs/CutJob.h"
#include "jobs/RunPipeline.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>

#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>

namespace {

QString messageOf(const CliRun &run, int index = 0)
{
    return run.summary[index][QStringLiteral("message")].toString();
}

// An earlier detection beside base.EXT: one break, from 60 to 120 s.
void writeDetection(const QString &base)
{
    writeFile(base + QStringLiteral(".txt"),
              "FILE PROCESSING COMPLETE  10800 FRAMES AT  2997\n-------------------\n1800\t3599\n");
    writeFile(base + QStringLiteral(".edl"), "60.06\t120.09\t0\n");
}

QStringList hiddenFiles(const QString &dir)
{
    return QDir(dir).entryList({QStringLiteral(".*.trimlet-*")}, QDir::Files | QDir::Hidden);
}

} // namespace

class TestCliNames final : public QObject
{
    Q_OBJECT

private slots:
    // Every name a run makes must fit before a tool runs: the hidden
    // partial copy that did not fit once handed mencoder the copy's own
    // name, over an earlier good copy; comskip overflows its buffers on a
    // long path.
    void testNamesTooLong_data()
    {
        QTest::addColumn<int>("stemBytes");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("copy's hidden name")
            << 200 << QStringList{QStringLiteral("--use-existing-detection")}
            << QStringLiteral("The copy's name is too long for this file system.");
        QTest::newRow("work files") << 230 << QStringList{QStringLiteral("--use-existing-detection")}
                                    << QStringLiteral("its work files' names would not fit");
        QTest::newRow("comskip's path")
            << 226 << QStringList() << QStringLiteral("The recording's name is too long for comskip");
    }

    void testNamesTooLong()
    {
        QFETCH(int, stemBytes);
        QFETCH(QStringList, options);
        QFETCH(QString, refusal);
        QTemporaryDir dir;
        // Multi-byte: the limits are in bytes, not characters.
        const QString stem = QString(stemBytes / 2, QChar(0xe4));
        const QString base = dir.filePath(stem);
        const QString movie = base + QStringLiteral(".mpg");
        writeFile(movie, QByteArray("recording bytes ").repeated(1000));
        writeDetection(base);
        // A copy of a name the file system takes (248 bytes), whose
        // partial copy's it does not.
        const QString copy = dir.filePath(QString(244, QLatin1Char('c')) + QStringLiteral(".mpg"));
        writeFile(copy, "an earlier good copy");
        const CliRun run = runCli(QStringList{QStringLiteral("--json"), QStringLiteral("--output"), copy}
                                      + options + QStringList{movie},
                                  withStandIns(), dir.path());
        QCOMPARE(run.status, 1);
        QVERIFY2(messageOf(run).contains(refusal), qPrintable(messageOf(run)));
        QCOMPARE(readAll(copy), QByteArray("an earlier good copy"));
        QCOMPARE(hiddenFiles(dir.path()), QStringList());
        // Refused before comskip ran: no list of its own beside the recording.
        QVERIFY(!QFile::exists(base + QStringLiteral(".csv")));

        // Asked directly, bypassing every check before it, the cut itself
        // refuses rather than hand the cutter the copy's own name.
        if (refusal.startsWith(QStringLiteral("The copy's name"))) {
            RunRequest request;
            request.recording = movie;
            request.output = copy;
            request.remove = true;
            for (QString *tool : {&request.tools.comskip, &request.tools.mencoder, &request.tools.ffmpeg,
                                  &request.tools.ffprobe})
                *tool = standInTools() + QLatin1Char('/') + *tool;
            RunPipeline cut(request);
            QSignalSpy finished(&cut, &RunPipeline::finished);
            cut.start();
            QVERIFY(finished.wait(20000));
            QVERIFY2(cut.failed() && cut.outcome().contains(refusal), qPrintable(cut.outcome()));
            QCOMPARE(readAll(copy), QByteArray("an earlier good copy"));
        }

        // The window's Run says the same in its status line.
        StandInRun window(dir.filePath(QStringLiteral("window")), stem + QStringLiteral(".mpg"));
        window.controller.setOutputText(dir.filePath(QStringLiteral("window/"))
                                        + copy.section(QLatin1Char('/'), -1));
        if (options.isEmpty())
            window.controller.detectStart();
        else
            window.controller.removeStart();
        QTRY_VERIFY2(window.controller.status().contains(refusal), qPrintable(window.controller.status()));
        QVERIFY(waitForIdle(window.controller));
        QVERIFY(!QFile::exists(window.work(".csv")));
    }

    // A suffix that is no recording's extension is part of the name, and a
    // file Trimlet did not make from the same recording is never replaced
    // unless asked; its own earlier copy is.
    void testCopyNamesNeverShared()
    {
        // The names of copies in the cutter's own container, .mpg.
        const QString cutter = QStringLiteral("--cutter"), mencoder = QStringLiteral("mencoder");
        QTemporaryDir dir;
        const QString early = dir.filePath(QStringLiteral("News 20.00 Uhr"));
        const QString late = dir.filePath(QStringLiteral("News 20.15 Uhr"));
        writeFile(early, QByteArray("early news ").repeated(1000));
        writeFile(late, QByteArray("late news ").repeated(1000));
        const QString earlyCopy = early + QStringLiteral(".clean.mpg");
        const QString lateCopy = late + QStringLiteral(".clean.mpg");
        QCOMPARE(runCli({cutter, mencoder, early}, withStandIns(), dir.path()).status, 0);
        QCOMPARE(runCli({cutter, mencoder, late}, withStandIns(), dir.path()).status, 0);
        QCOMPARE(readAll(earlyCopy), readAll(early));
        QCOMPARE(readAll(lateCopy), readAll(late));

        // Its own copy is made again; another recording's, or the user's
        // file, is kept and the run fails, unless --overwrite is given.
        QCOMPARE(runCli({cutter, mencoder, early}, withStandIns(), dir.path()).status, 0);
        const QString other = dir.filePath(QStringLiteral("other.mpg"));
        writeFile(other, QByteArray("other ").repeated(1000));
        const CliRun refused =
            runCli({cutter, mencoder, QStringLiteral("--json"), QStringLiteral("--output"), earlyCopy, other},
                   withStandIns(), dir.path());
        QCOMPARE(refused.status, 1);
        QVERIFY2(messageOf(refused).contains(QStringLiteral("--overwrite")), qPrintable(messageOf(refused)));
        QCOMPARE(readAll(earlyCopy), readAll(early));
        const QString users = dir.filePath(QStringLiteral("other.clean.mpg"));
        writeFile(users, "the user's own file");
        QCOMPARE(runCli({cutter, mencoder, other}, withStandIns(), dir.path()).status, 1);
        QCOMPARE(readAll(users), QByteArray("the user's own file"));
        QCOMPARE(runCli({cutter, mencoder, QStringLiteral("--overwrite"), other}, withStandIns(), dir.path())
                     .status,
                 0);
        QCOMPARE(readAll(users), readAll(other));

        // A file that takes the name while the copy is checked (another
        // Trimlet's copy into the same folder) is kept all the same.
        const QString third = dir.filePath(QStringLiteral("third.mpg"));
        const QString thirdCopy = dir.filePath(QStringLiteral("third.clean.mpg"));
        writeFile(third, QByteArray("third ").repeated(1000));
        QProcessEnvironment slow = withStandIns();
        slow.insert(QStringLiteral("STANDIN_PROBE"), QStringLiteral("slowscan"));
        QProcess cli;
        cli.setProcessEnvironment(slow);
        cli.start(QStringLiteral(TRIMLET_CLI), {cutter, mencoder, QStringLiteral("--json"), third});
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(CutJob::partialCopiesOf(thirdCopy).value(0)).size() > 4096, 20000);
        writeFile(thirdCopy, "another's copy");
        QVERIFY(cli.waitForFinished(20000));
        QCOMPARE(cli.exitCode(), 1);
        QCOMPARE(readAll(thirdCopy), QByteArray("another's copy"));
        QCOMPARE(CutJob::partialCopiesOf(thirdCopy), QStringList());
    }

    // The copy and the lists get what the umask gives a new file.
    void testCopyFollowsTheUmask_data()
    {
        QTest::addColumn<uint>("mask");
        QTest::newRow("household group") << 002u;
        QTest::newRow("private") << 027u;
    }

    void testCopyFollowsTheUmask()
    {
        QFETCH(uint, mask);
        QTemporaryDir dir;
        const QString movie = dir.filePath(QStringLiteral("show.mpg"));
        writeFile(movie, QByteArray("recording bytes ").repeated(1000));
        const mode_t before = ::umask(mode_t(mask));
        const CliRun run = runCli({QStringLiteral("--keep-work-files"), movie}, withStandIns(), dir.path());
        ::umask(before);
        QCOMPARE(run.status, 0);
        // The default cutter's copy of the stand-in's recording: its sound
        // track's language needs a transport stream.
        for (const char *name : {"show.clean.ts", "show.ini", "TrimletLog.txt"}) {
            struct stat st = {};
            QCOMPARE(::stat(QFile::encodeName(dir.filePath(QLatin1String(name))).constData(), &st), 0);
            QVERIFY2((st.st_mode & 0777) == (0666 & ~mask), name);
        }
    }

    // A cutter that fills the disk and says nothing of it: the disk is
    // read before its partial copy is thrown away, and the run says so
    // with the figures instead of trying again.
    void testDiskFullDuringCut()
    {
        QTemporaryDir dir;
        const QString disk = dir.filePath(QStringLiteral("disk"));
        QVERIFY(QDir().mkpath(disk));
        if (::mount("tmpfs", QFile::encodeName(disk).constData(), "tmpfs", 0, "size=512k") != 0)
            QSKIP("a tmpfs cannot be mounted here (it takes root): the full disk is not tried");
        struct Unmount
        {
            QString path;
            ~Unmount() { ::umount(QFile::encodeName(path).constData()); }
        } unmount{disk};
        const QString movie = dir.filePath(QStringLiteral("show.mpg"));
        writeFile(movie, QByteArray("recording bytes ").repeated(1000));
        writeDetection(dir.filePath(QStringLiteral("show")));
        QProcessEnvironment env = withStandIns();
        env.insert(QStringLiteral("STANDIN_MODE"), QStringLiteral("fill"));
        const CliRun run = runCli({QStringLiteral("--json"), QStringLiteral("--use-existing-detection"),
                                   QStringLiteral("--cutter"), QStringLiteral("mencoder"),
                                   QStringLiteral("--output-dir"), disk, movie},
                                  env, dir.path());
        QCOMPARE(run.status, 1);
        const QString message = messageOf(run);
        QVERIFY2(message.contains(QStringLiteral("The disk is full")), qPrintable(message));
        QVERIFY2(message.contains(QStringLiteral("written of about")), qPrintable(message));
        QCOMPARE(QDir(disk).entryList(QDir::Files | QDir::Hidden), QStringList());

        // The frame-exact cut's pieces go to the temporary folder first: one
        // too small for them is named, before anything is cut.
        writeFile(movie, QByteArray("recording bytes ").repeated(64 * 1024));
        QProcessEnvironment small = withStandIns();
        small.insert(QStringLiteral("TMPDIR"), disk);
        const CliRun pieces = runCli(
            {QStringLiteral("--json"), QStringLiteral("--use-existing-detection"), movie}, small, dir.path());
        QCOMPARE(pieces.status, 1);
        QVERIFY2(messageOf(pieces).contains(QStringLiteral("(the temporary folder)")),
                 qPrintable(messageOf(pieces)));
        QCOMPARE(QDir(disk).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    }

    // A name is its bytes: one that is not UTF-8 is run all the same, its
    // copy takes the recording's bytes, the user's list beside it is left
    // as it was, and the summary gives the bytes back.
    void testNameNotUtf8()
    {
        QTemporaryDir dir;
        const QByteArray folder = QFile::encodeName(dir.path()) + '/';
        const auto writeRaw = [&](const QByteArray &name, const QByteArray &bytes) {
            const int fd = ::open((folder + name).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            QVERIFY(fd >= 0);
            QVERIFY(::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size());
            ::close(fd);
        };
        const QByteArray recording = QByteArray("recording ").repeated(1000);
        writeRaw("bad\xff\xfe.mpg", recording);
        writeRaw("bad\xff\xfe.edl", "the user's own list\n");
        const CliRun run = runProgram(
            QStringLiteral("/bin/sh"),
            {QStringLiteral("-c"),
             QStringLiteral("exec \"$0\" --json --cutter mencoder \"$(printf 'bad\\377\\376.mpg')\""),
             QStringLiteral(TRIMLET_CLI)},
            withStandIns(), dir.path());
        QCOMPARE(run.status, 0);
        // The lone surrogates U+DCFF U+DCFE stand for the bytes.
        const QString escapedFolder = dir.path() + QStringLiteral("/bad") + QChar(0xdcff) + QChar(0xdcfe);
        QCOMPARE(run.summary[0][QStringLiteral("input")].toString(), escapedFolder + QStringLiteral(".mpg"));
        QCOMPARE(run.summary[0][QStringLiteral("output")].toString(),
                 escapedFolder + QStringLiteral(".clean.mpg"));
        QVERIFY2(messageOf(run).contains(QStringLiteral("bad\\xff\\xfe.clean.mpg")),
                 qPrintable(messageOf(run)));
        const auto readRaw = [&](const QByteArray &name) {
            QFile file;
            const int fd = ::open((folder + name).constData(), O_RDONLY);
            return fd >= 0 && file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)
                       ? file.readAll()
                       : QByteArray();
        };
        QCOMPARE(readRaw("bad\xff\xfe.clean.mpg"), recording);
        QCOMPARE(readRaw("bad\xff\xfe.edl"), QByteArray("the user's own list\n"));
        QCOMPARE(readRaw("bad\xff\xfe.mpg"), recording);
        // Nothing of the stand-in is left, and nothing else was made (Qt
        // cannot list such names).
        int names = 0;
        if (DIR *listed = ::opendir(folder.constData())) {
            while (const dirent *entry = ::readdir(listed))
                names += qstrcmp(entry->d_name, ".") && qstrcmp(entry->d_name, "..");
            ::closedir(listed);
        }
        QCOMPARE(names, 3);
        for (const QByteArray name : {"bad\xff\xfe.mpg", "bad\xff\xfe.edl", "bad\xff\xfe.clean.mpg"})
            ::unlink((folder + name).constData());

        // In a folder of such a name, refused: the summary still says whose
        // detection it was to use.
        QVERIFY(::mkdir((folder + "in\xff").constData(), 0755) == 0);
        writeRaw("in\xff/show.mpg", recording);
        const CliRun inFolder = runProgram(
            QStringLiteral("/bin/sh"),
            {QStringLiteral("-c"),
             QStringLiteral("exec \"$0\" --json --use-existing-detection \"$(printf 'in\\377/show.mpg')\""),
             QStringLiteral(TRIMLET_CLI)},
            withStandIns(), dir.path());
        QVERIFY(inFolder.status != 0);
        QCOMPARE(inFolder.summary.size(), 1);
        QCOMPARE(inFolder.summary[0][QStringLiteral("detection")].toString(), QStringLiteral("existing"));
        QVERIFY2(messageOf(inFolder).startsWith(
                     QStringLiteral("show.mpg cannot be run: its folder's name is not")),
                 qPrintable(messageOf(inFolder)));
        ::unlink((folder + "in\xff/show.mpg").constData());
        ::rmdir((folder + "in\xff").constData());
    }

    // The programme's length, not the clock's: a recording whose clock
    // leaps 50,000 s ahead halfway through, cut by the real tools.
    void testKeptSecondsAcrossAClockLeap()
    {
        if (!missingRealTool().isEmpty())
            QSKIP("the real tools are not installed (./scripts/test installs them)");
        QTemporaryDir dir;
        const QString first = dir.filePath(QStringLiteral("first.mpg"));
        const QString second = dir.filePath(QStringLiteral("second.mpg"));
        const QString movie = dir.filePath(QStringLiteral("leap.mpg"));
        QCOMPARE(QProcess::execute(QStringLiteral(TRIMLET_TEST_SCRIPTS "/make_recording.sh"),
                                   {first, QStringLiteral("show:60")}),
                 0);
        QCOMPARE(QProcess::execute(
                     QStringLiteral(TRIMLET_TEST_SCRIPTS "/make_recording.sh"),
                     {QStringLiteral("-o"), QStringLiteral("50000"), second, QStringLiteral("show:60")}),
                 0);
        writeFile(movie, readAll(first) + readAll(second));
        writeFile(dir.filePath(QStringLiteral("leap.txt")),
                  "FILE PROCESSING COMPLETE  3597 FRAMES AT  2997\n-------------------\n300\t600\n");
        writeFile(dir.filePath(QStringLiteral("leap.edl")), "10.01\t20.02\t0\n");
        const CliRun run =
            runCli({QStringLiteral("--json"), QStringLiteral("--use-existing-detection"), movie},
                   QProcessEnvironment::systemEnvironment(), dir.path());
        QCOMPARE(run.status, 0);
        // 120 s of pictures less the 10 s cut.
        const double kept = run.summary[0][QStringLiteral("kept_seconds")].toDouble();
        QVERIFY2(kept > 105 && kept < 115, qPrintable(QString::number(kept)));
    }
};

QTEST_MAIN(TestCliNames)
#include "tst_cli_names.moc"
