// Nothing of the user's lost, nothing wrongly kept, with stand-in tools and
// real files: the copy's name settled before it is asked about, erasing only
// what runs made, edits that survive a detection, a probe that cannot hang
// the run, cuts that fail saying why, work files others can read, and a run
// log never written through a link.

#include "TestSupport.h"

#include "app/QueuePanel.h"
#include "core/BreakList.h"
#include "jobs/QueueStore.h"
#include "jobs/RawNames.h"
#include "ui_MainWindow.h"

#include <QCheckBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>

#include <csignal>
#include <dirent.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QStringList filesIn(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

mode_t modeOf(const QString &path)
{
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

} // namespace

class TestNothingLost final : public QObject
{
    Q_OBJECT

    CaseDirs m_dirs;

    static void detect(StandInRun &r)
    {
        r.controller.detectStart();
        QVERIFY(waitForIdle(r.controller));
        QCOMPARE(r.controller.commercialsFound(), 2);
    }
    // The detector's list with its first break kept, as the table would
    // write it.
    static void keepFirstBreak(AppController &c)
    {
        CommercialList list = *c.commercials();
        QVERIFY(list.size() == 2);
        list[0].cut = false;
        QVERIFY(c.applyBreaks(list));
        QCOMPARE(c.commercialsFound(), 1);
    }

private slots:
    // ---- the name the cut writes is the name that was asked about

    void testRunPressedBeforeTheProbeAnswers()
    {
        // An MPEG-2 transport stream with one MP2 track is mencoder's, whose
        // copy is a program stream: show.clean.ts becomes show.clean.mpg once
        // the probe has answered.
        EnvGuard env;
        env.set("STANDIN_FORMAT", "mpegts");
        const QString dir = m_dirs.next();
        StandInRun r(dir, QStringLiteral("show.ts"));
        AppController &c = r.controller;
        detect(r);
        const QString mpg = dir + QStringLiteral("/show.clean.mpg");
        writeFile(mpg, "somebody's file");
        env.set("STANDIN_PROBE", "slow");
        c.openRecording(r.movie);
        QCOMPARE(r.ui().mOutputField->text(), dir + QStringLiteral("/show.clean.ts"));
        r.answer = false;
        r.ui().mAutoDetect->setChecked(false);
        r.ui().mAutoRemove->setChecked(true);
        c.autoStart();
        QCOMPARE(r.ui().mStatusField->text(), QStringLiteral("Reading the recording…"));
        QCOMPARE(c.processState(), AppController::ProcessState::kStateIdle);
        QVERIFY(QTest::qWaitFor([&] { return !r.questions.isEmpty(); }, 10000));
        QCOMPARE(r.questions,
                 QStringList{QStringLiteral("show.clean.mpg already exists. Replace it with the cut copy?")});
        QVERIFY(waitForIdle(c));
        QCOMPARE(readAll(mpg), QByteArray("somebody's file"));
        QVERIFY(!c.runner() || c.runner()->arguments().first().endsWith(QStringLiteral("comskip")));
    }

    // ---- erasing takes only what Trimlet's runs made

    void testEraseLeavesTheUsersFiles()
    {
        const QString dir = m_dirs.next();
        QDir().mkpath(dir);
        writeFile(dir + QStringLiteral("/show.txt"), "my notes on the show");
        writeFile(dir + QStringLiteral("/show.log"), "my log");
        StandInRun r(dir);
        AppController &c = r.controller;
        Ui::MainWindow &ui = r.windows.ui();
        // Nothing of Trimlet's is there, so there is nothing to erase.
        QVERIFY(!c.haveWorkFiles());
        QVERIFY(!ui.cleanButton->isEnabled());
        c.clean();
        QCOMPARE(readAll(dir + QStringLiteral("/show.txt")), QByteArray("my notes on the show"));
        QCOMPARE(readAll(dir + QStringLiteral("/show.log")), QByteArray("my log"));

        // The detector writes its frame list under the recording's name (its
        // contract), the user's waiting beside until the erase; its
        // debugging log does not take the user's place.
        detect(r);
        QCOMPARE(readAll(dir + QStringLiteral("/show.log")), QByteArray("my log"));
        QVERIFY(ui.cleanButton->isEnabled());
        c.clean();
        QCOMPARE(filesIn(dir), (QStringList{QStringLiteral("show.log"), QStringLiteral("show.mpg"),
                                            QStringLiteral("show.txt")}));
        QCOMPARE(readAll(dir + QStringLiteral("/show.txt")), QByteArray("my notes on the show"));
        QCOMPARE(readAll(dir + QStringLiteral("/show.log")), QByteArray("my log"));
        QVERIFY(!ui.cleanButton->isEnabled());
    }

    void testNamesWithPatternCharactersMatchOnlyThemselves()
    {
        const QString dir = m_dirs.next();
        QDir().mkpath(dir);
        // "[HD]" read as a pattern is one of H or D.
        const QString own = dir + QStringLiteral("/.Show [HD].clean.mpg.trimlet-AbC123");
        const QString others = dir + QStringLiteral("/.Show H.clean.mpg.trimlet-AbC123");
        const QString othersIni = dir + QStringLiteral("/Show H.ini");
        writeFile(own, "half a copy of ours");
        writeFile(others, "another recording's copy under way");
        writeFile(othersIni, "another recording's settings");
        StandInRun r(dir, QStringLiteral("Show [HD].mpg"));
        AppController &c = r.controller;
        QVERIFY(!QFile::exists(own));
        detect(r);
        const QString staging = dir + QStringLiteral("/.Show [HD].ini.trimlet-XyZ789");
        writeFile(staging, "left by a write that did not finish");
        c.clean();
        QVERIFY(!QFile::exists(staging));
        QVERIFY(!QFile::exists(r.work(".ini")) && !QFile::exists(r.work(".edl")));
        QCOMPARE(readAll(others), QByteArray("another recording's copy under way"));
        QCOMPARE(readAll(othersIni), QByteArray("another recording's settings"));
    }

    void testDetectionKeepsWhatIsNotItsOwn()
    {
        // A table of the user's that the detector does not write again.
        const QString dir = m_dirs.next();
        QDir().mkpath(dir);
        writeFile(dir + QStringLiteral("/show.csv"), "my own table");
        EnvGuard env;
        env.set("STANDIN_CSV", "none");
        StandInRun r(dir);
        detect(r);
        QCOMPARE(readAll(r.work(".csv")), QByteArray("my own table"));
        r.controller.clean();
        QCOMPARE(readAll(r.work(".csv")), QByteArray("my own table"));

        // A recording named like a work file would be written over.
        const QString odd = dir + QStringLiteral("/odd.txt");
        writeFile(odd, "a recording");
        r.chooseRecording(odd);
        r.controller.detectStart();
        QCOMPARE(r.ui().mStatusField->text(),
                 QStringLiteral("odd.txt cannot be detected: comskip would write its results over it."));
        QCOMPARE(r.controller.processState(), AppController::ProcessState::kStateIdle);
        QCOMPARE(readAll(odd), QByteArray("a recording"));

        // Lists a killed Trimlet had set aside come back with the recording.
        writeFile(dir + QStringLiteral("/.show.edl.trimlet-aside"), "60.06\t120.09\t0\n");
        r.chooseRecording(r.movie);
        QCOMPARE(readAll(r.work(".edl")), QByteArray("60.06\t120.09\t0\n"));
        QVERIFY(!QFile::exists(dir + QStringLiteral("/.show.edl.trimlet-aside")));
        QCOMPARE(r.controller.commercialsFound(), 1);
    }

    void testCutWaitsForTheRecordingsFrames()
    {
        StandInRun r(m_dirs.next());
        AppController &c = r.controller;
        detect(r);
        EnvGuard env;
        env.set("STANDIN_PROBE", "slowscan");
        c.openRecording(r.movie);
        bool cutWhileReading = false;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (c.probingRecording() && c.runner() && c.runner()->arguments().first().endsWith("mencoder"))
                cutWhileReading = true;
        });
        watch.start(5);
        // Pressed while the recording is still being read, the run starts
        // once the probe has answered, and the cut once the frames are known.
        c.removeStart();
        QTRY_COMPARE_WITH_TIMEOUT(c.lastOutcome().cutter, QStringLiteral("mencoder"), 10000);
        QVERIFY(!cutWhileReading);
    }

    // ---- a detection never loses the user's edits

    void testDetectingAgainAsksFirst()
    {
        const QString dir = m_dirs.next();
        StandInRun r(dir);
        AppController &c = r.controller;
        detect(r);
        keepFirstBreak(c);
        const QByteArray edited = readAll(r.work(".edl"));
        // The copy of a list with one break left in.
        EnvGuard env;
        env.set("STANDIN_COPY_FRAMES", "9002");
        r.answer = false;
        r.ui().mAutoDetect->setChecked(true);
        r.ui().mAutoRemove->setChecked(true);
        r.ui().mAutoClean->setChecked(false);
        c.autoStart();
        QCOMPARE(r.questions.value(0), QStringLiteral("Detect again and discard your 1 edit?"));
        // No: the rest of the run cuts the edited list.
        QVERIFY(c.runner());
        QVERIFY(c.runner()->arguments().first().endsWith(QStringLiteral("mencoder")));
        QVERIFY(waitForIdle(c));
        QCOMPARE(readAll(r.work(".edl")), edited);
        QVERIFY(QFile::exists(r.work(".detected.txt")));
        QVERIFY2(QFileInfo(c.lastOutcome().copy).fileName() == QLatin1String("show.clean.mpg")
                     && c.lastOutcome().cutter == QLatin1String("mencoder")
                     && !c.lastOutcome().mencoderRefused,
                 qPrintable(r.ui().mStatusField->text()));

        // No, with nothing to cut: erasing alone would take the edits.
        r.questions.clear();
        r.ui().mAutoRemove->setChecked(false);
        r.ui().mAutoClean->setChecked(true);
        c.autoStart();
        QCOMPARE(r.questions.size(), 1);
        QCOMPARE(c.processState(), AppController::ProcessState::kStateIdle);
        QCOMPARE(readAll(r.work(".edl")), edited);

        // Yes: a new detection, a new original.
        r.questions.clear();
        r.answer = true;
        c.detectStart();
        QCOMPARE(r.questions.size(), 1);
        QVERIFY(waitForIdle(c));
        QVERIFY(!QFile::exists(r.work(".detected.txt")));
        QCOMPARE(c.commercialsFound(), 2);
    }

    void testFailedOrStoppedDetectionPutsTheListsBack_data()
    {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<QByteArray>("rc");
        QTest::addColumn<QString>("status");
        QTest::newRow("stopped") << QByteArray("wait") << QByteArray("0")
                                 << QStringLiteral("Detection stopped.");
        QTest::newRow("killed by the stop")
            << QByteArray("die") << QByteArray("0") << QStringLiteral("Detection stopped.");
        QTest::newRow("bad file") << QByteArray("nofiles") << QByteArray("3")
                                  << QStringLiteral("Bad MPEG file.");
        QTest::newRow("crashed") << QByteArray("crash") << QByteArray("0")
                                 << QStringLiteral("Unexpected error 139.");
    }
    void testFailedOrStoppedDetectionPutsTheListsBack()
    {
        QFETCH(QByteArray, mode);
        QFETCH(QByteArray, rc);
        QFETCH(QString, status);
        StandInRun r(m_dirs.next());
        AppController &c = r.controller;
        detect(r);
        keepFirstBreak(c);
        QHash<QString, QByteArray> before;
        for (const char *ext : {".txt", ".edl", ".csv", ".detected.txt", ".detected.edl"})
            before.insert(QLatin1String(ext), readAll(r.work(ext)));
        EnvGuard env;
        env.set("STANDIN_MODE", mode);
        env.set("STANDIN_RC", rc);
        c.performButtonAction(RunButton::Detect);
        if (mode == "wait" || mode == "die") {
            QVERIFY(
                QTest::qWaitFor([&] { return c.logExcerpts().contains(QStringLiteral("waiting")); }, 5000));
            c.performButtonAction(RunButton::Detect);
        }
        QVERIFY(waitForIdle(c));
        QCOMPARE(r.ui().mStatusField->text(), status);
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            QVERIFY2(readAll(r.work(it.key().toLatin1().constData())) == it.value(), qPrintable(it.key()));
        // What the window counts is what the files say.
        QCOMPARE(c.commercialsFound(), 1);
        QCOMPARE(c.breaksSummary(), QStringLiteral("1 of 2 detected breaks, 1 edited"));
        // Nothing set aside is left behind: the manifest is the only hidden file.
        QCOMPARE(filesIn(c.outDir()).filter(QStringLiteral(".trimlet-")),
                 QStringList{QStringLiteral(".show.trimlet-files")});
    }

    // ---- the probe cannot hold the run

    void testRecordingThatNeverAnswers_data()
    {
        QTest::addColumn<bool>("fifo");
        QTest::newRow("a stand-in that hangs") << false;
        QTest::newRow("a FIFO, real ffprobe") << true;
    }
    void testRecordingThatNeverAnswers()
    {
        QFETCH(bool, fifo);
        if (fifo && QStandardPaths::findExecutable(QStringLiteral("ffprobe")).isEmpty())
            QSKIP("ffprobe is not installed (./scripts/test installs it)");
        const QString dir = m_dirs.next();
        QDir().mkpath(dir);
        EnvGuard env;
        Harness h;
        AppController &c = h.controller;
        const QString movie = dir + QStringLiteral("/show.mpg");
        if (fifo) {
            QCOMPARE(::mkfifo(QFile::encodeName(movie).constData(), 0600), 0);
        } else {
            c.toolLocator().setHelperDirectories({standInTools()}, false);
            env.set("STANDIN_PROBE", "hang");
            writeFile(movie, "recording bytes");
        }
        c.setProbeTimeLimit(2000);
        StallMeter meter;
        c.openRecording(movie);
        h.ui().mAutoRemove->setChecked(true);
        c.autoStart();
        QVERIFY(QTest::qWaitFor([&] { return !c.probingRecording(); }, 10000));
        const QString refusal =
            QStringLiteral("show.mpg cannot be read: it gave no answer within 2 seconds.");
        QCOMPARE(h.ui().mStatusField->text(), refusal);
        QCOMPARE(h.ui().mRecordingInfoField->text(),
                 QStringLiteral("The recording gave no answer within 2 seconds."));
        QVERIFY(!c.haveInput());
        QVERIFY(!c.runner());
        QVERIFY2(meter.worst < 100, qPrintable(QString::number(meter.worst)));
        c.autoStart();
        QCOMPARE(h.ui().mStatusField->text(), refusal);
        QCOMPARE(c.processState(), AppController::ProcessState::kStateIdle);
    }

    // ---- a cut that cannot be made says why

    void testOddSuffixIsCutThroughAPlainLink()
    {
        EnvGuard env;
        env.set("STANDIN_VCODEC", "h264");
        env.set("STANDIN_FORMAT", "mpegts");
        StandInRun r(m_dirs.next(), QStringLiteral("Tagesschau 20.00 Uhr"));
        AppController &c = r.controller;
        detect(r);
        env.set("STANDIN_FFMPEG_MODE", "wait");
        c.removeStart();
        // The cut to the picture indexes the recording, then reads its
        // pieces, each under the plain name.
        QTRY_VERIFY(c.runner());
        const QString args = c.runner()->arguments().join(QLatin1Char(' '));
        QVERIFY2(args.contains(QStringLiteral("/recording ")) && !args.contains(QStringLiteral("Uhr")),
                 qPrintable(args));
        c.performButtonAction(RunButton::Remove);
        QVERIFY(waitForIdle(c));
    }

    void testFullDisk()
    {
        EnvGuard env;
        env.set("STANDIN_VCODEC", "h264");
        env.set("STANDIN_FORMAT", "mpegts");
        const QString dir = m_dirs.next();
        StandInRun r(dir, QStringLiteral("show.ts"), QByteArray(1024 * 1024, 'r'));
        AppController &c = r.controller;
        detect(r);
        // A cutter that runs out of room says so, and nothing is kept.
        env.set("STANDIN_FFMPEG_MODE", "full");
        c.removeStart();
        QVERIFY(waitForIdle(c));
        // With the figures: what was written, of about how much.
        const QString said = r.ui().mStatusField->text();
        QVERIFY2(
            said.startsWith(QStringLiteral("The disk is full: the cut copy did not fit in %1 (8.0 kB written "
                                           "of about ")
                                .arg(dir)),
            qPrintable(said));
        QVERIFY(c.partialCopies().isEmpty());
        QVERIFY(!QFile::exists(r.ui().mOutputField->text()));

        // A copy that cannot fit is refused before it is begun.
        const QString small = dir + QStringLiteral("/small");
        QDir().mkpath(small);
        if (::geteuid() != 0
            || ::mount("tmpfs", QFile::encodeName(small).constData(), "tmpfs", 0, "size=256k") != 0)
            QSKIP("mounting a small disk needs root");
        r.ui().mOutputField->setText(small + QStringLiteral("/show.clean.ts"));
        c.removeStart();
        const QString status = r.ui().mStatusField->text();
        ::umount(QFile::encodeName(small).constData());
        QVERIFY2(status.startsWith(
                     QStringLiteral("There is not enough space for the cut copy in %1: it needs about")
                         .arg(small)),
                 qPrintable(status));
        QCOMPARE(c.processState(), AppController::ProcessState::kStateIdle);
    }

    void testListThatCutsEverything()
    {
        EnvGuard env;
        env.set("STANDIN_EDL", "0.00\\t200.00\\t0\\n150.00\\t400.00\\t3\\n");
        StandInRun r(m_dirs.next());
        AppController &c = r.controller;
        c.detectStart();
        QVERIFY(waitForIdle(c));
        c.removeStart();
        QVERIFY(waitForIdle(c));
        QCOMPARE(r.ui().mStatusField->text(),
                 QStringLiteral("The cut list leaves nothing of the recording to keep: no copy was made."));
        QVERIFY(!c.runner() || c.runner()->arguments().first().endsWith(QStringLiteral("comskip")));
        QVERIFY(!QFile::exists(r.ui().mOutputField->text()));
    }

    void testEveryCutterGetsOneMergedList()
    {
        // Action 3 is a break as comskip and Kodi write it; mencoder skips
        // it, and refuses rows that overlap.
        EnvGuard env;
        env.set("STANDIN_EDL", "60.06\\t100.00\\t3\\n90.00\\t120.09\\t0\\n240.24\\t300.27\\t3\\n");
        StandInRun r(m_dirs.next());
        AppController &c = r.controller;
        c.detectStart();
        QVERIFY(waitForIdle(c));
        env.set("STANDIN_MODE", "wait");
        c.removeStart();
        const QStringList args = c.runner()->arguments();
        QVERIFY(args.first().endsWith(QStringLiteral("mencoder")));
        QCOMPARE(readAll(args.at(args.indexOf(QStringLiteral("-edl")) + 1)),
                 QByteArray("60.060\t120.090\t0\n240.240\t300.270\t0\n"));
        c.performButtonAction(RunButton::Remove);
        QVERIFY(waitForIdle(c));
        // The detector's own list is left as it wrote it.
        QCOMPARE(readAll(r.work(".edl")),
                 QByteArray("60.06\t100.00\t3\n90.00\t120.09\t0\n240.24\t300.27\t3\n"));
    }

    // ---- work files others can read, lists that agree

    void testEditedListsAreReadableAndAgree()
    {
        const mode_t old = ::umask(022);
        StandInRun r(m_dirs.next());
        AppController &c = r.controller;
        detect(r);
        keepFirstBreak(c);
        for (const char *ext : {".txt", ".edl", ".ini"})
            QCOMPARE(modeOf(r.work(ext)), mode_t(0644));
        ::umask(old);

        // The EDL cannot take its place: the frame list stays as it was.
        const QByteArray txt = readAll(r.work(".txt"));
        const QByteArray edl = readAll(r.work(".edl"));
        QVERIFY(QFile::remove(r.work(".edl")));
        QVERIFY(QDir().mkpath(r.work(".edl") + QStringLiteral("/in the way")));
        CommercialList list = *c.commercials();
        list[0].cut = true;
        QVERIFY(!c.applyBreaks(list));
        QCOMPARE(readAll(r.work(".txt")), txt);
        QVERIFY(QDir(r.work(".edl")).removeRecursively());
        writeFile(r.work(".edl"), edl);
        // Nothing staged is left behind, and erasing finds what a crash left.
        QCOMPARE(filesIn(c.outDir()).filter(QStringLiteral(".show.txt.trimlet-")), QStringList());
        writeFile(c.outDir() + QStringLiteral("/.show.edl.trimlet-Qw3rTy"), "staged");
        c.clean();
        QCOMPARE(filesIn(c.outDir()), QStringList{QStringLiteral("show.mpg")});
    }

    // ---- the run log is never written through a link

    void testRunLogNeverFollowsALink()
    {
        const QString dir = m_dirs.next();
        QDir().mkpath(dir);
        const QString victim = dir + QStringLiteral("/victim.txt");
        writeFile(victim, "precious");
        QVERIFY(QFile::link(victim, dir + QStringLiteral("/TrimletLog.txt")));
        StandInRun r(dir);
        detect(r);
        QCOMPARE(readAll(victim), QByteArray("precious"));
        const QFileInfo log(dir + QStringLiteral("/TrimletLog.txt"));
        QVERIFY(!log.isSymLink());
        QVERIFY(readAll(log.filePath()).contains("Comskip stand-in"));
    }

    // ---- the queue loses nothing

    // A recording whose disk is not mounted at the start, and a row a Stop
    // ended, stay in the queue kept across a restart, each with its own
    // profile (a row an older Trimlet saved has none: the defaults); each
    // runs once its recording is there, with its profile.
    void testQueueKeepsWhatCannotRunYet()
    {
        const QString dir = m_dirs.next();
        StandInRun r(dir);
        const QString away = dir + QStringLiteral("/disk/away.mpg");
        const QString state = dir + QStringLiteral("/state/queue.json");
        QDir().mkpath(dir + QStringLiteral("/state"));
        EnvGuard env;
        env.set("XDG_CONFIG_HOME", QFile::encodeName(dir + QStringLiteral("/config")));
        QVERIFY(QDir().mkpath(dir + QStringLiteral("/config/trimlet/profiles")));
        writeFile(dir + QStringLiteral("/config/trimlet/profiles/news.ini"), "max_commercialbreak=123\n");
        const auto savedRow = [](const QString &recording) {
            return QJsonObject{{"recording", recording},
                               {"output", ""},
                               {"mode", "cut"},
                               {"state", "Waiting"}};
        };
        QJsonObject awayRow = savedRow(away);
        awayRow.insert("profile", "news");
        writeFile(
            state,
            QJsonDocument(QJsonObject{{"recordings", QJsonArray{awayRow, savedRow(r.movie)}}}).toJson());
        const auto saved = [&] {
            QStringList rows;
            for (const queuestore::Saved &s : queuestore::load(state))
                rows << s.recording + QLatin1Char(' ') + BatchQueue::stateName(queuestore::restoredState(s))
                            + (s.profile.isEmpty() ? QString() : QStringLiteral(" · ") + s.profile);
            return rows;
        };
        const QStringList bothWaiting{away + QStringLiteral(" waiting · news"),
                                      r.movie + QStringLiteral(" waiting")};
        QueuePanel &q = r.windows.queue();
        const auto rowOf = [&](const QString &recording) {
            for (int row = 0; row < q.model().rowCount(); ++row)
                if (q.queue().entry(q.model().entryAt(row)).request.recording == recording)
                    return row;
            return -1;
        };
        const auto stateShown = [&](const QString &recording) {
            return q.model().index(rowOf(recording), QueueModel::StateColumn).data().toString();
        };

        r.windows.restoreQueue(state);
        QCOMPARE(q.model().rowCount(), 2);
        QCOMPARE(stateShown(away), QStringLiteral("not found, kept"));
        QCOMPARE(q.model().index(rowOf(away), QueueModel::ProfileColumn).data().toString(), "news");
        QCOMPARE(q.model().index(rowOf(r.movie), QueueModel::ProfileColumn).data().toString(), "Defaults");
        QCOMPARE(saved(), bothWaiting);

        // Stopped while it detects: kept to be detected again. While it
        // runs, its profile is no longer the user's to change.
        r.windows.mainWindow()->show();
        QVERIFY(QTest::qWaitForWindowExposed(r.windows.mainWindow()));
        q.selectEntry(q.model().entryAt(rowOf(r.movie)));
        env.set("STANDIN_MODE", "wait");
        q.detectAll();
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir + QStringLiteral("/show.txt")), 10000);
        r.ui().mQueueTable->setFocus();
        QTest::keyClick(r.ui().mQueueTable, Qt::Key_F2);
        QCOMPARE(r.ui().mStatusField->text(), "Only a waiting recording's profile can be changed.");
        q.detectAll();
        QTRY_VERIFY_WITH_TIMEOUT(!q.isRunning(), 10000);
        QCOMPARE(stateShown(r.movie), QStringLiteral("stopped"));
        QCOMPARE(saved(), bothWaiting);

        // The disk is back: both go on.
        QDir().mkpath(dir + QStringLiteral("/disk"));
        writeFile(away, readAll(r.movie));
        env.set("STANDIN_MODE", "ok");
        QVERIFY(r.ui().mDetectAllButton->isEnabled());
        q.detectAll();
        QTRY_VERIFY_WITH_TIMEOUT(!q.isRunning(), 20000);
        QCOMPARE(q.model().rowCount(), 2);
        QCOMPARE(stateShown(away), QStringLiteral("ready for review"));
        QCOMPARE(stateShown(r.movie), QStringLiteral("ready for review"));
        QCOMPARE(saved(), (QStringList{away + QStringLiteral(" ready for review · news"),
                                       r.movie + QStringLiteral(" ready for review")}));
        QVERIFY(
            readAll(dir + QStringLiteral("/disk/away.ini")).split('\n').contains("max_commercialbreak=123"));
        QVERIFY(readAll(dir + QStringLiteral("/disk/TrimletLog.txt")).contains("profile news\n"));
        QVERIFY(!readAll(dir + QStringLiteral("/show.ini")).contains("max_commercialbreak=123"));
        QVERIFY(!readAll(dir + QStringLiteral("/TrimletLog.txt")).contains("profile"));
    }

    // Stopped rows taken up again in the window shown, more of them than the
    // table shows at once: it measures each row as it leaves, after the
    // queue has let go of it.
    void testStoppedRowsAreTakenUpAgain()
    {
        const QString dir = m_dirs.next();
        StandInRun r(dir);
        QStringList movies;
        for (int i = 0; i < 5; ++i) {
            movies << dir + QStringLiteral("/m%1.mpg").arg(i);
            writeFile(movies.last(), readAll(r.movie));
        }
        QueuePanel &q = r.windows.queue();
        r.windows.mainWindow()->show();
        QVERIFY(QTest::qWaitForWindowExposed(r.windows.mainWindow()));
        q.addRecordings(movies);
        EnvGuard env;
        env.set("STANDIN_MODE", "wait");
        q.detectAll();
        QTRY_VERIFY_WITH_TIMEOUT(q.queue().entry(q.selectedEntry()).state == BatchQueue::State::Detecting,
                                 10000);
        q.detectAll();
        QTRY_VERIFY_WITH_TIMEOUT(!q.isRunning(), 10000);
        env.set("STANDIN_MODE", "ok");
        q.detectAll();
        QTRY_VERIFY_WITH_TIMEOUT(!q.isRunning(), 20000);
        QCOMPARE(q.queue().countIn(BatchQueue::State::ReadyForReview), 5);
    }

    // A recording whose name is not UTF-8, named as a file panel gives it
    // (U+FFFD for the bytes): the queue runs it under a stand-in, its copy
    // takes the recording's bytes, and queue.json keeps the name as it is.
    // The private folder of a run killed under a stand-in goes.
    void testQueueRunsANameThatIsNotUtf8()
    {
        const QString dir = m_dirs.next();
        StandInRun r(dir);
        const QByteArray folder = QFile::encodeName(dir) + '/';
        const QByteArray raw = folder + "bad\xff\xfe.mpg";
        QCOMPARE(::rename(QFile::encodeName(r.movie).constData(), raw.constData()), 0);
        const QByteArray killed = folder + ".trimlet-Kil1ed/";
        QCOMPARE(::mkdir(killed.constData(), 0700), 0);
        QCOMPARE(::link(raw.constData(), (killed + "bad__.mpg").constData()), 0);
        writeFile(QFile::decodeName(killed) + QStringLiteral(".bad__.clean.mpg.trimlet-Ab12Cd"), "partial");
        const QString named = rawnames::escaped(raw);
        QString why;
        QCOMPARE(rawnames::recovered(QFile::decodeName(raw), &why), named);
        const RunRequest request = r.controller.requestBuilder(true, true, true).build(named, QString());
        const QString state = dir + QStringLiteral("-state/queue.json");
        {
            BatchQueue waiting;
            waiting.add(request);
            QVERIFY(queuestore::save(waiting, state));
        }
        QCOMPARE(queuestore::load(state).value(0).recording, named);

        BatchQueue queue;
        const int id = queue.add(request);
        QSignalSpy finished(&queue, &BatchQueue::finished);
        queue.start();
        QVERIFY(finished.wait(20000));
        QVERIFY2(queue.entry(id).state == BatchQueue::State::Done, qPrintable(queue.entry(id).outcome.text));
        QCOMPARE(queue.entry(id).outcome.copy, rawnames::escaped(folder + "bad\xff\xfe.clean.mpg"));
        // Nothing of the stand-in is left (Qt cannot list such names).
        QStringList names;
        if (DIR *listed = ::opendir(folder.constData())) {
            while (const dirent *entry = ::readdir(listed))
                if (qstrcmp(entry->d_name, ".") && qstrcmp(entry->d_name, ".."))
                    names << rawnames::shown(entry->d_name);
            ::closedir(listed);
        }
        names.sort();
        QCOMPARE(names, (QStringList{"bad\\xff\\xfe.clean.mpg", "bad\\xff\\xfe.mpg"}));
        // QTemporaryDir cannot remove them either.
        for (const QByteArray name : {"bad\xff\xfe.mpg", "bad\xff\xfe.clean.mpg"})
            ::unlink((folder + name).constData());
    }

    // A second trimlet hands its recordings to the window open and ends:
    // one queue holds them all, which a SIGTERM to the window keeps.
    void testSecondTrimletHandsOver_data()
    {
        QTest::addColumn<bool>("bus");
        QTest::newRow("over the session bus") << true;
        QTest::newRow("over a socket, with no session bus") << false;
    }
    void testSecondTrimletHandsOver()
    {
        QFETCH(bool, bus);
        const QString dir = m_dirs.next();
        const QString runtime = dir + QStringLiteral("/runtime");
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime,
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        env.insert(QStringLiteral("XDG_STATE_HOME"), dir + QStringLiteral("/state"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir + QStringLiteral("/config"));
        QProcess daemon;
        if (bus) {
            daemon.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address"});
            if (!daemon.waitForStarted(5000))
                QSKIP("No session bus can be started: dbus-daemon is not installed.");
            daemon.waitForReadyRead(5000);
            const QByteArray address = daemon.readLine().trimmed();
            if (address.isEmpty())
                QSKIP(qPrintable(QStringLiteral("No session bus can be started: dbus-daemon said ")
                                 + QString::fromLocal8Bit(daemon.readAllStandardError())));
            env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromLocal8Bit(address));
        } else {
            env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                       QStringLiteral("unix:path=") + dir + QStringLiteral("/no-bus"));
        }
        QStringList recordings;
        for (const char *name : {"one.mpg", "two.mpg", "three.mpg"}) {
            recordings << dir + QLatin1Char('/') + QLatin1String(name);
            writeFile(recordings.last(), QByteArray("recording bytes ").repeated(1000));
        }
        const QString state = dir + QStringLiteral("/state/trimlet/queue.json");
        const auto queued = [&] {
            QStringList rows;
            for (const queuestore::Saved &s : queuestore::load(state))
                rows << s.recording;
            return rows;
        };
        QProcess window, second;
        for (QProcess *p : {&window, &second}) {
            p->setProcessEnvironment(env);
            p->setWorkingDirectory(dir);
            p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        }
        window.start(QStringLiteral(TRIMLET_APP), recordings.mid(0, 2));
        QTRY_COMPARE_WITH_TIMEOUT(queued(), recordings.mid(0, 2), 20000);
        // Named as a shell in that folder names it.
        second.start(QStringLiteral(TRIMLET_APP), {QStringLiteral("three.mpg")});
        QVERIFY2(second.waitForFinished(20000), "a second window opened");
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(queued(), recordings);
        ::kill(pid_t(window.processId()), SIGTERM);
        QVERIFY(window.waitForFinished(10000));
        QCOMPARE(window.exitCode(), 128 + SIGTERM);
        QCOMPARE(queued(), recordings);
    }
};

QTEST_MAIN(TestNothingLost)
#include "tst_nothing_lost.moc"
