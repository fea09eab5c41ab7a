// A run the user can trust, with stand-in tools and real child processes:
// no cut without its own cut list, a Stop that says so and leaves no half
// copy, a copy checked before it takes the output's name, closing and
// signals that take the tool with them, and an output path settled before
// anything runs.

#include "TestSupport.h"

#include "jobs/QueueStore.h"
#include "ui_MainWindow.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>

#include <csignal>

class TestTrust final : public QObject
{
    Q_OBJECT

    CaseDirs m_dirs;
    QString freshDir() { return m_dirs.next(); }

    static void detect(StandInRun &r)
    {
        r.controller.detectStart();
        QVERIFY(waitForIdle(r.controller));
        QCOMPARE(r.controller.commercialsFound(), 2);
    }
    static void autoRemoveOnly(Harness &h, bool erase = false)
    {
        h.ui().mAutoDetect->setChecked(false);
        h.ui().mAutoRemove->setChecked(true);
        h.ui().mAutoClean->setChecked(erase);
    }
    // A cutter was started since the last detection.
    static bool cutterRan(const AppController &c)
    {
        return c.runner() && !c.runner()->arguments().first().endsWith(QStringLiteral("comskip"));
    }
    static bool logHas(const StandInRun &r, const char *text)
    {
        return readAll(r.controller.outDir() + QStringLiteral("/TrimletLog.txt")).contains(text);
    }

private slots:
    // ---- a cut needs its own cut list

    void testStaleCountNeverCuts()
    {
        const QString dir = freshDir();
        StandInRun r(dir);
        AppController &c = r.controller;
        detect(r);
        // Another recording, without results: the old count goes with the old one.
        const QString other = dir + QStringLiteral("/other.mpg");
        writeFile(other, "other bytes");
        r.chooseRecording(other);
        QCOMPARE(c.commercialsFound(), 0);
        autoRemoveOnly(r);
        c.autoStart();
        QVERIFY(waitForIdle(c));
        QCOMPARE(r.ui().mStatusField->text(),
                 QStringLiteral("No cut list yet: detect the commercials first."));
        QVERIFY(!cutterRan(c));
        QVERIFY(!QFile::exists(r.ui().mOutputField->text()));

        // Erasing the work files takes the count with them.
        r.chooseRecording(r.movie);
        QCOMPARE(c.commercialsFound(), 2);
        c.clean();
        QCOMPARE(c.commercialsFound(), 0);
        c.removeStart();
        QVERIFY(waitForIdle(c));
        QVERIFY(!cutterRan(c));
        QVERIFY(!QFile::exists(r.ui().mOutputField->text()));

        // A cut list gone behind Trimlet's back is not cut from.
        detect(r);
        QVERIFY(QFile::remove(r.work(".edl")));
        c.removeStart();
        QVERIFY(waitForIdle(c));
        QCOMPARE(r.ui().mStatusField->text(),
                 QStringLiteral("No cut list yet: detect the commercials first."));
        QVERIFY(!cutterRan(c));
        QVERIFY(!QFile::exists(r.ui().mOutputField->text()));
    }

    void testNoCommercialsIsAnOutcome()
    {
        StandInRun r(freshDir());
        AppController &c = r.controller;
        EnvGuard env;
        findNoCommercials(env);
        r.ui().mAutoRemove->setChecked(true);
        c.autoStart();
        QVERIFY(waitForIdle(c));
        QCOMPARE(r.ui().mStatusField->text(), QStringLiteral("Found 0 commercials: nothing to cut."));
        QVERIFY(!QFile::exists(r.ui().mOutputField->text()));
    }

    // ---- the copy is checked before it takes the output's name

    void testCopyIsCheckedAndRecut_data()
    {
        QTest::addColumn<QByteArray>("mencoderMode");
        QTest::addColumn<QByteArray>("ffmpegMode");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("kept");
        QTest::newRow("mencoder right")
            << QByteArray("ok") << QByteArray("ok")
            << QStringLiteral("Cut copy: show.clean.mpg (0:04:00), cut by mencoder.") << true;
        QTest::newRow("mencoder header only, ffmpeg right")
            << QByteArray("truncate") << QByteArray("ok")
            << QStringLiteral("mencoder's copy could not be read, so it was cut again with ffmpeg. "
                              "Cut copy: show.clean.mpg (0:04:00), cut by ffmpeg. "
                              "Frame-exact at all 4 edges (1.1 s re-encoded).")
            << true;
        QTest::newRow("mencoder short, ffmpeg right")
            << QByteArray("short") << QByteArray("ok")
            << QStringLiteral("mencoder's copy was 40.0 s shorter than expected, so it was cut again "
                              "with ffmpeg. Cut copy: show.clean.mpg (0:04:00), cut by ffmpeg. "
                              "Frame-exact at all 4 edges (1.1 s re-encoded).")
            << true;
        QTest::newRow("mencoder left a break in, ffmpeg right")
            << QByteArray("long") << QByteArray("ok")
            << QStringLiteral("mencoder's copy was 10.0 s longer than expected, so it was cut again "
                              "with ffmpeg. Cut copy: show.clean.mpg (0:04:00), cut by ffmpeg. "
                              "Frame-exact at all 4 edges (1.1 s re-encoded).")
            << true;
        QTest::newRow("mencoder fails, ffmpeg right")
            << QByteArray("fail") << QByteArray("ok")
            << QStringLiteral("mencoder failed (error 1), so it was cut with ffmpeg. "
                              "Cut copy: show.clean.mpg (0:04:00), cut by ffmpeg. "
                              "Frame-exact at all 4 edges (1.1 s re-encoded).")
            << true;
        QTest::newRow("both header only")
            << QByteArray("truncate") << QByteArray("truncate")
            << QStringLiteral("The cut copy could not be read, so it was not kept.") << false;
        QTest::newRow("ffmpeg stopped mid-copy")
            << QByteArray("truncate") << QByteArray("wait") << QStringLiteral("Removal stopped.") << false;
    }
    void testCopyIsCheckedAndRecut()
    {
        QFETCH(QByteArray, mencoderMode);
        QFETCH(QByteArray, ffmpegMode);
        QFETCH(QString, status);
        QFETCH(bool, kept);
        StandInRun r(freshDir());
        AppController &c = r.controller;
        detect(r);
        // An earlier copy under the output name stays whole unless a good
        // one replaces it.
        const QString output = r.ui().mOutputField->text();
        writeFile(output, "an earlier copy");
        EnvGuard env;
        if (mencoderMode == "fail") {
            env.set("STANDIN_RC", "1");
        } else if (mencoderMode == "long") {
            // Ten seconds of a break more than the list keeps.
            env.set("STANDIN_MODE", "short");
            env.set("STANDIN_SHORT_FRAMES", "7500");
        } else {
            env.set("STANDIN_MODE", mencoderMode);
        }
        env.set("STANDIN_FFMPEG_MODE", ffmpegMode);
        autoRemoveOnly(r);
        c.performButtonAction(RunButton::Auto);
        QCOMPARE(r.questions.size(), 1); // replacing the earlier copy was asked
        if (ffmpegMode == "wait") {
            QVERIFY(QTest::qWaitFor(
                [&] {
                    return c.runner() && c.runner()->arguments().first().endsWith(QStringLiteral("ffmpeg"));
                },
                5000));
            QTest::qWait(200);
            c.performButtonAction(RunButton::Auto);
        }
        QVERIFY(waitForIdle(c));
        QCOMPARE(r.ui().mStatusField->text(), status);
        if (kept)
            QCOMPARE(readAll(output), readAll(r.movie));
        else
            QCOMPARE(readAll(output), QByteArray("an earlier copy"));
        QVERIFY(c.partialCopies().isEmpty());
        QCOMPARE(readAll(r.movie), QByteArray("recording bytes ").repeated(1000));
        QVERIFY(logHas(r, "Trimlet: cutting with mencoder"));
        QCOMPARE(logHas(r, "Trimlet: cutting with ffmpeg"), mencoderMode != "ok");
    }

    void testRecordingsMencoderCannotCopyGoToFfmpeg()
    {
        EnvGuard env;
        env.set("STANDIN_VCODEC", "h264");
        env.set("STANDIN_ACODEC", "aac");
        env.set("STANDIN_FORMAT", "mpegts");
        StandInRun r(freshDir(), QStringLiteral("show.ts"));
        AppController &c = r.controller;
        QCOMPARE(r.windows.ui().mRecordingInfoField->text(),
                 QStringLiteral("H.264 352×240 29.97 fps · AAC stereo · 0:06:00"));
        // A transport stream stays one, and its name says so.
        QCOMPARE(r.ui().mOutputField->text(), c.outDir() + QStringLiteral("/show.clean.ts"));
        detect(r);
        c.removeStart();
        QCOMPARE(c.processState(), AppController::ProcessState::kStateRemoving);
        QVERIFY(waitForIdle(c));
        // Cut to the picture by ffmpeg, in a transport stream of its own name.
        QVERIFY2(c.lastOutcome().cutter == QLatin1String("ffmpeg")
                     && QFileInfo(c.lastOutcome().copy).fileName() == QLatin1String("show.clean.ts"),
                 qPrintable(r.ui().mStatusField->text()));
        QVERIFY(logHas(r, "Trimlet: cutting frame-exactly"));
        QVERIFY(!logHas(r, "MEncoder stand-in"));
        // The steps of the cut drove the row to its end.
        QCOMPARE(r.ui().mRemoveProgressIndicator->value(), 100);
    }

    void testRecordingWithoutVideoIsRefused()
    {
        EnvGuard env;
        env.set("STANDIN_VCODEC", "none");
        StandInRun r(freshDir(), QStringLiteral("garbage.mpg"));
        AppController &c = r.controller;
        QCOMPARE(r.ui().mStatusField->text(), QStringLiteral("garbage.mpg holds no video that can be read."));
        QVERIFY(!c.haveInput());
        QVERIFY(!r.windows.ui().mAutoActionButton->isEnabled());
        c.autoStart();
        QVERIFY(!c.runner());
        QCOMPARE(c.processState(), AppController::ProcessState::kStateIdle);
        QCOMPARE(r.ui().mStatusField->text(), QStringLiteral("garbage.mpg holds no video that can be read."));
    }

    void testStalePartialCopiesGo()
    {
        const QString dir = freshDir();
        StandInRun r(dir);
        AppController &c = r.controller;
        const QString stale = dir + QStringLiteral("/.show.clean.mpg.trimlet-AbC123");
        const QString other = dir + QStringLiteral("/.other.mpg.trimlet-AbC123");
        writeFile(stale, "half a copy");
        writeFile(other, "not ours");
        QCOMPARE(c.partialCopies(), QStringList{stale});
        r.chooseRecording(r.movie);
        QVERIFY(!QFile::exists(stale));
        writeFile(stale, "half a copy");
        c.clean();
        QVERIFY(!QFile::exists(stale));
        QVERIFY(QFile::exists(other));
    }

    // ---- a Stop says so and leaves no half copy

    void testStopSaysSo_data()
    {
        QTest::addColumn<bool>("removal");
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<QByteArray>("termRc");
        QTest::newRow("detection exits 0") << false << QByteArray("wait") << QByteArray("0");
        QTest::newRow("detection dies of SIGTERM") << false << QByteArray("die") << QByteArray();
        QTest::newRow("detection ignores SIGTERM") << false << QByteArray("stubborn") << QByteArray();
        QTest::newRow("removal exits 2") << true << QByteArray("wait") << QByteArray("2");
        QTest::newRow("removal dies of SIGTERM") << true << QByteArray("die") << QByteArray();
        QTest::newRow("removal ignores SIGTERM") << true << QByteArray("stubborn") << QByteArray();
    }
    void testStopSaysSo()
    {
        QFETCH(bool, removal);
        QFETCH(QByteArray, mode);
        QFETCH(QByteArray, termRc);
        StandInRun r(freshDir());
        AppController &c = r.controller;
        const QString output = r.ui().mOutputField->text();
        if (removal) {
            detect(r);
            writeFile(output, "an earlier copy");
            r.answer = true;
        }
        EnvGuard env;
        env.set("STANDIN_MODE", mode);
        if (!termRc.isEmpty())
            env.set("STANDIN_TERM_RC", termRc);
        const int sounds = c.endSound().requests();
        const RunButton button = removal ? RunButton::Remove : RunButton::Detect;
        c.performButtonAction(button);
        QVERIFY(QTest::qWaitFor(
            [&] {
                return c.logExcerpts().contains(removal ? QStringLiteral("MEncoder")
                                                        : QStringLiteral("waiting"))
                       || (removal && !c.partialCopies().isEmpty()
                           && QFileInfo(c.partialCopies().value(0)).size() == 4096);
            },
            5000));
        QTest::qWait(150);
        c.performButtonAction(button);
        // The stop returns at once; the run ends once its tool has.
        QVERIFY(waitForIdle(c, 5000));
        QCOMPARE(r.ui().mStatusField->text(),
                 removal ? QStringLiteral("Removal stopped.") : QStringLiteral("Detection stopped."));
        QVERIFY(c.partialCopies().isEmpty());
        if (removal) {
            QCOMPARE(readAll(output), QByteArray("an earlier copy"));
        } else {
            // What the stopped detection left is no result.
            QVERIFY(!QFile::exists(r.work(".txt")));
            QVERIFY(!c.haveResults());
        }
        QCOMPARE(c.endSound().requests(), sounds);
    }

    void testStoppedAutomaticRunErasesWhenAsked()
    {
        StandInRun r(freshDir());
        AppController &c = r.controller;
        EnvGuard env;
        env.set("STANDIN_MODE", "wait");
        r.ui().mAutoClean->setChecked(true);
        c.performButtonAction(RunButton::Auto);
        QVERIFY(QTest::qWaitFor([&] { return c.logExcerpts().contains(QStringLiteral("waiting")); }, 5000));
        QVERIFY(QFile::exists(r.work(".ini")));
        c.performButtonAction(RunButton::Auto);
        QVERIFY(waitForIdle(c, 5000));
        QCOMPARE(r.ui().mStatusField->text(), QStringLiteral("Detection stopped."));
        for (const char *ext : {".csv", ".ini", ".txt", ".edl", ".log"})
            QVERIFY2(!QFile::exists(r.work(ext)), ext);
        QVERIFY(!QFile::exists(c.outDir() + QStringLiteral("/TrimletLog.txt")));
        QVERIFY(!r.windows.ui().cleanButton->isEnabled());
    }

    // ---- closing and signals take the tool with them

    void testCloseWhileRunning()
    {
        StandInRun r(freshDir());
        AppController &c = r.controller;
        EnvGuard env;
        env.set("STANDIN_MODE", "wait");
        r.windows.mainWindow()->show();
        r.windows.graphWindow()->show();
        c.performButtonAction(RunButton::Detect);
        QVERIFY(QTest::qWaitFor([&] { return c.logExcerpts().contains(QStringLiteral("waiting")); }, 5000));
        const pid_t tool = c.runner()->processId();
        r.answer = false;
        QVERIFY(!r.windows.mainWindow()->close());
        QCOMPARE(r.questions, QStringList{QStringLiteral("A run is in progress. Stop it and quit?")});
        QCOMPARE(c.processState(), AppController::ProcessState::kStateDetecting);
        QVERIFY(r.windows.mainWindow()->isVisible());
        r.answer = true;
        QVERIFY(r.windows.mainWindow()->close());
        QCOMPARE(c.processState(), AppController::ProcessState::kStateIdle);
        QCOMPARE(r.ui().mStatusField->text(), QStringLiteral("Detection stopped."));
        QVERIFY(!r.windows.graphWindow()->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(processEnded(tool), 3000);
        // Idle, it closes without a question, and takes the chart with it.
        r.questions.clear();
        r.windows.mainWindow()->show();
        r.windows.graphWindow()->show();
        QVERIFY(r.windows.mainWindow()->close());
        QVERIFY(r.questions.isEmpty());
        QVERIFY(!r.windows.graphWindow()->isVisible());
    }

    void testSignalsEndTheRunAndTheTool_data()
    {
        QTest::addColumn<int>("sig");
        QTest::addColumn<QString>("step");
        QTest::newRow("SIGTERM in detection") << int(SIGTERM) << QStringLiteral("detect");
        QTest::newRow("SIGINT in removal") << int(SIGINT) << QStringLiteral("remove");
        QTest::newRow("SIGHUP in detection") << int(SIGHUP) << QStringLiteral("detect");
        QTest::newRow("SIGKILL in removal") << int(SIGKILL) << QStringLiteral("remove");
        QTest::newRow("SIGTERM while the queue detects") << int(SIGTERM) << QStringLiteral("queue");
    }
    void testSignalsEndTheRunAndTheTool()
    {
        QFETCH(int, sig);
        QFETCH(QString, step);
        const QString dir = freshDir();
        QDir().mkpath(dir);
        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("STANDIN_MODE"), QStringLiteral("wait"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        app.setProcessEnvironment(env);
        app.start(QCoreApplication::applicationDirPath() + QStringLiteral("/signal_child"), {dir, step});
        QVERIFY(app.waitForStarted());
        QByteArray out;
        QVERIFY(QTest::qWaitFor(
            [&] {
                app.waitForReadyRead(50);
                out += app.readAllStandardOutput();
                return out.contains('\n');
            },
            10000));
        const pid_t tool = out.mid(out.indexOf("tool ") + 5).trimmed().toInt();
        QVERIFY(tool > 0);
        QVERIFY(!processEnded(tool));
        if (step == QLatin1String("remove"))
            QTRY_VERIFY_WITH_TIMEOUT(
                !QDir(dir)
                     .entryList({QStringLiteral(".show.clean.mpg.trimlet-*")}, QDir::Files | QDir::Hidden)
                     .isEmpty(),
                5000);
        ::kill(pid_t(app.processId()), sig);
        QVERIFY(app.waitForFinished(10000));
        if (sig == SIGKILL) {
            QCOMPARE(app.exitStatus(), QProcess::CrashExit);
        } else {
            QCOMPARE(app.exitStatus(), QProcess::NormalExit);
            QCOMPARE(app.exitCode(), 128 + sig);
            // Stopped as by its button: no partial copy stays behind.
            QVERIFY(QDir(dir)
                        .entryList({QStringLiteral(".show.clean.mpg.trimlet-*")}, QDir::Files | QDir::Hidden)
                        .isEmpty());
        }
        if (step == QLatin1String("queue")) {
            // The queue stopped as by Stop: the user's list is back, and
            // the queue kept holds both recordings, to be detected again.
            QCOMPARE(readAll(dir + QStringLiteral("/show.edl")), QByteArray("1.00\t2.00\t0\n"));
            QCOMPARE(QDir(dir).entryList({QStringLiteral("*.trimlet-aside")}, QDir::Files | QDir::Hidden),
                     QStringList());
            QStringList kept;
            for (const queuestore::Saved &s : queuestore::load(dir + QStringLiteral("/state/queue.json")))
                kept << QFileInfo(s.recording).fileName() + QLatin1Char(' ')
                            + BatchQueue::stateName(queuestore::restoredState(s));
            QCOMPARE(kept, (QStringList{"show.mpg waiting", "later.mpg waiting"}));
        }
        // Even a killed Trimlet takes its tool with it.
        QTRY_VERIFY_WITH_TIMEOUT(processEnded(tool), 3000);
    }

    // ---- the ini file is never written through a planted link

    void testIniStagingNeverFollowsLinks()
    {
        const QString dir = freshDir();
        StandInRun r(dir);
        AppController &c = r.controller;
        const QString victim = dir + QStringLiteral("/victim.txt");
        writeFile(victim, "precious");
        QVERIFY(QFile::link(victim, r.work(".ini.new")));
        detect(r);
        QCOMPARE(readAll(victim), QByteArray("precious"));
        QVERIFY(QFileInfo(r.work(".ini.new")).isSymLink());
        QVERIFY(readAll(r.work(".ini")).contains("detect_method="));
        QCOMPARE(QDir(dir)
                     .entryList({QStringLiteral("show.ini.*")}, QDir::Files | QDir::Hidden | QDir::System)
                     .size(),
                 1);
        // A link at the ini's own name is replaced, not written through.
        QVERIFY(QFile::remove(r.work(".ini")));
        QVERIFY(QFile::link(victim, r.work(".ini")));
        c.writeIniFile();
        QCOMPARE(readAll(victim), QByteArray("precious"));
        QVERIFY(!QFileInfo(r.work(".ini")).isSymLink());
    }

    // ---- no stall at a tool's end or at a Stop

    void testNoStallAtEndOrStop()
    {
        StandInRun r(freshDir());
        AppController &c = r.controller;
        qint64 worstEnd = 0;
        {
            StallMeter meter;
            r.ui().mAutoRemove->setChecked(true);
            c.autoStart();
            QVERIFY(waitForIdle(c));
            worstEnd = meter.worst;
        }
        EnvGuard env;
        env.set("STANDIN_MODE", "die");
        c.performButtonAction(RunButton::Detect);
        QVERIFY(QTest::qWaitFor([&] { return c.logExcerpts().contains(QStringLiteral("waiting")); }, 5000));
        StallMeter meter;
        QTest::qWait(30);
        c.performButtonAction(RunButton::Detect);
        QTest::qWait(30);
        qDebug("longest event-loop stall: %lld ms over a run's natural ends, %lld ms over a Stop", worstEnd,
               meter.worst);
        QVERIFY2(worstEnd < 50, qPrintable(QString::number(worstEnd)));
        QVERIFY2(meter.worst < 50, qPrintable(QString::number(meter.worst)));
    }

    // ---- the output path is settled before anything runs

    void testOutputPathProblems_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("status");
        QTest::newRow("empty") << QString() << QStringLiteral("Choose where the cut copy goes.");
        QTest::newRow("missing folder")
            << QStringLiteral("/nonexistent/dir/copy.mpg")
            << QStringLiteral("The folder for the cut copy does not exist: /nonexistent/dir");
        QTest::newRow("unwritable folder")
            << QStringLiteral("/proc/copy.mpg")
            << QStringLiteral("The folder for the cut copy cannot be written: /proc");
        QTest::newRow("a folder") << QStringLiteral("/tmp")
                                  << QStringLiteral("The cut copy's name is a folder: /tmp");
    }
    void testOutputPathProblems()
    {
        QFETCH(QString, output);
        QFETCH(QString, status);
        StandInRun r(freshDir());
        AppController &c = r.controller;
        r.ui().mOutputField->setText(output);
        c.autoStart();
        QCOMPARE(r.ui().mStatusField->text(), status);
        QCOMPARE(c.processState(), AppController::ProcessState::kStateIdle);
        QVERIFY(!c.runner());
        QVERIFY(!c.logFileOpen());
        // Detection alone needs no output path.
        c.detectStart();
        QVERIFY(c.runner());
        QVERIFY(waitForIdle(c));
    }

    void testExistingOutputIsConfirmedOnce()
    {
        StandInRun r(freshDir());
        AppController &c = r.controller;
        detect(r);
        const QString output = r.ui().mOutputField->text();
        writeFile(output, "somebody's file");
        r.answer = false;
        c.removeStart();
        QCOMPARE(r.questions,
                 QStringList{QStringLiteral("show.clean.mpg already exists. Replace it with the cut copy?")});
        QCOMPARE(r.ui().mStatusField->text(),
                 QStringLiteral("The cut copy would replace show.clean.mpg: choose another name."));
        QVERIFY(!cutterRan(c));
        QCOMPARE(readAll(output), QByteArray("somebody's file"));
        r.answer = true;
        c.removeStart();
        QVERIFY(waitForIdle(c));
        QCOMPARE(readAll(output), readAll(r.movie));
        // Its own copy, or one already agreed to, is not asked about again.
        c.removeStart();
        QVERIFY(waitForIdle(c));
        QCOMPARE(r.questions.size(), 2);
    }

    // ---- controls that change nothing mid-run

    void testControlsDuringAndAfterARun()
    {
        StandInRun r(freshDir());
        AppController &c = r.controller;
        Ui::MainWindow &ui = r.windows.ui();
        QVERIFY(!ui.cleanButton->isEnabled()); // nothing to erase yet
        EnvGuard env;
        env.set("STANDIN_MODE", "wait");
        c.performButtonAction(RunButton::Detect);
        for (QWidget *w : std::initializer_list<QWidget *>{ui.detectGroup, ui.optionsGroup, ui.mRemoveNoSkip,
                                                           ui.mAutoDetect, ui.mAutoClean, ui.cleanButton})
            QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
        c.performButtonAction(RunButton::Detect);
        QVERIFY(waitForIdle(c, 5000));
        env.set("STANDIN_MODE", "ok");
        detect(r);
        QVERIFY(ui.detectGroup->isEnabled());
        QVERIFY(ui.cleanButton->isEnabled());
        c.clean();
        QVERIFY(!ui.cleanButton->isEnabled());
    }

    // ---- the kept excerpts of a chatty tool stay bounded

    void testExcerptsOfAChattyToolAreCapped()
    {
        StandInRun r(freshDir());
        AppController &c = r.controller;
        EnvGuard env;
        env.set("STANDIN_MODE", "chatter");
        c.detectStart();
        QVERIFY(waitForIdle(c, 60000));
        QVERIFY(QFileInfo(c.outDir() + QStringLiteral("/TrimletLog.txt")).size() > 10000000);
        QVERIFY2(c.logExcerpts().size() <= 256 * 1024, qPrintable(QString::number(c.logExcerpts().size())));
        // The newest output is what is kept.
        QVERIFY(c.logExcerpts().contains(QStringLiteral("chatter done")));
    }
};

QTEST_MAIN(TestTrust)
#include "tst_trust.moc"
