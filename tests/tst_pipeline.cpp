// The job pipeline, driven through the window's actions with stand-in
// tools that print like the real ones and write result files.

#include "TestSupport.h"

#include "progress/ProgressIndicator.h"
#include "ui_MainWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

class TestPipeline final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    // A controller with windows, stand-in tools and a recording chosen.
    struct Run : Harness
    {
        QString movie;
        explicit Run(const QString &dir, const QString &name = QStringLiteral("show.mpg"))
        {
            controller.toolLocator().setHelperDirectories({standInTools()}, false);
            controller.setStopBounds(300, 1500);
            // The states of a cut by the mencoder stand-in, whose output the
            // run log and the progress rows are held to.
            ui().mRemoveWithMencoder->setChecked(true);
            movie = dir + QLatin1Char('/') + name;
            writeFile(movie, QByteArray("recording bytes ").repeated(1000));
            chooseRecording(controller, movie);
        }
        QString work(const char *ext) const
        {
            return controller.outDir() + QLatin1Char('/') + controller.baseName() + QLatin1String(ext);
        }
        QStringList titles() const
        {
            return {ui().mAutoActionButton->text(), ui().mDetectActionButton->text(),
                    ui().mRemoveActionButton->text()};
        }
    };

    QString freshDir()
    {
        static int n = 0;
        const QString d = m_dir.filePath(QString::number(++n));
        QDir().mkpath(d);
        return d;
    }

    // A directory holding show.mpg and the results of a detection run.
    QString processedRecordingDir()
    {
        const QString dir = freshDir();
        Run r(dir);
        r.controller.detectStart();
        return waitForIdle(r.controller) ? dir : QString();
    }

    static const QStringList &allRun()
    {
        static const QStringList runs{QStringLiteral("Run"), QStringLiteral("Run"), QStringLiteral("Run")};
        return runs;
    }

private slots:
    void testInitialState()
    {
        Harness h(false);
        AppController &c = h.controller;
        QVERIFY(!c.haveInput() && !c.haveResults() && !c.haveCommercials() && !c.isRunning()
                && !c.isRunningAuto());
        QCOMPARE(c.processState(), AppController::ProcessState::kStateIdle);
        QVERIFY(!c.runner());
        QVERIFY(!c.aiVideoData());
        QVERIFY(c.logExcerpts().isEmpty());
        QCOMPARE(h.ui().mDetectActionButton->text(), QStringLiteral("Run"));
        QVERIFY(c.applicationShouldTerminateAfterLastWindowClosed());
    }

    void testFlagSettersNotifyOncePerChange()
    {
        AppController c;
        QSignalSpy input(&c, &AppController::haveInputChanged);
        QSignalSpy running(&c, &AppController::isRunningChanged);
        c.setHaveInput(true);
        c.setHaveInput(true);
        c.setHaveInput(false);
        c.setIsRunning(false);
        c.setIsRunning(true);
        QCOMPARE(input.count(), 2);
        QCOMPARE(running.count(), 1);
        QCOMPARE(c.property("isRunning").toBool(), true);
        QVERIFY(c.setProperty("haveResults", true));
        QVERIFY(c.haveResults());
    }

    void testControllerWithoutWindows()
    {
        // The controller needs no window: it takes the options handed to it
        // and tells through its values and signals what the window would show.
        const QString dir = freshDir();
        const QString movie = dir + QStringLiteral("/show.mpg");
        writeFile(movie, QByteArray("recording bytes ").repeated(1000));
        AppController c;
        c.endSound().setMuted(true);
        c.toolLocator().setHelperDirectories({standInTools()}, false);
        QVERIFY(chooseRecording(c, movie));
        QCOMPARE(c.chosenRecording(), movie);
        QCOMPARE(c.outputText(), dir + QStringLiteral("/show.clean.mpg"));
        QStringList rows;
        const auto note = [&rows](AppController::Row row, const char *what) {
            const QString line = QLatin1String(row == AppController::Row::Detect ? "detect " : "cut ") + what;
            if (rows.isEmpty() || rows.last() != line)
                rows << line;
        };
        connect(&c, &AppController::rowCleared, this, [&](AppController::Row r) { note(r, "cleared"); });
        connect(&c, &AppController::rowStarted, this, [&](AppController::Row r) { note(r, "started"); });
        connect(&c, &AppController::rowProgress, this, [&](AppController::Row r, double) { note(r, "at"); });
        connect(&c, &AppController::rowFinished, this,
                [&](AppController::Row r, bool failed) { note(r, failed ? "failed" : "finished"); });
        QSignalSpy statuses(&c, &AppController::statusChanged);
        RunOptions options;
        options.detectMethods = 43;
        options.noSkip = true;
        options.autoDetect = options.autoRemove = true;
        options.mencoderCutter = true;
        c.setRunOptions(options);
        QCOMPARE(c.detectorSettings().value(QStringLiteral("detect_method")).toInt(), 43);
        QVERIFY(c.removeArguments().contains(QStringLiteral("-noskip")));
        c.performButtonAction(RunButton::Auto);
        QCOMPARE(c.buttonTitle(RunButton::Auto), QStringLiteral("Stop"));
        QCOMPARE(c.buttonTitle(RunButton::Detect), QStringLiteral("Run"));
        QVERIFY(waitForIdle(c));
        QCOMPARE(rows, (QStringList{"detect cleared", "cut cleared", "detect started", "detect at",
                                    "detect finished", "cut started", "cut at", "cut finished"}));
        QCOMPARE(c.lastOutcome().breaksFound, 2);
        QCOMPARE(c.lastOutcome().cutter, QStringLiteral("mencoder"));
        QCOMPARE(statuses.last().at(0).toString(), c.status());
        QCOMPARE(c.buttonTitle(RunButton::Auto), QStringLiteral("Run"));
        // Stopped by the user, the running step's row empties.
        EnvGuard env;
        env.set("STANDIN_MODE", "wait");
        c.detectStart();
        QVERIFY(QTest::qWaitFor([&] { return rows.last() == QLatin1String("detect started"); }, 5000));
        c.detectStop();
        QVERIFY(waitForIdle(c));
        QCOMPARE(rows.mid(rows.size() - 2), (QStringList{"detect finished", "detect cleared"}));
        QCOMPARE(c.status(), QStringLiteral("Detection stopped."));
    }

    void testDetectionWithoutRecordingEndsInOneCall()
    {
        Harness h;
        h.controller.detectStart();
        QCOMPARE(h.controller.processState(), AppController::ProcessState::kStateIdle);
        QCOMPARE(h.ui().mStatusField->text(), QStringLiteral("Commercials not yet detected."));
        QCOMPARE(h.controller.endSound().requests(), 1);
        QVERIFY(!h.controller.runner());
        QVERIFY(!h.controller.isRunning());
        QCOMPARE(h.ui().mDetectActionButton->text(), QStringLiteral("Run"));
    }

    void testRunsWithNothingToDoEndAtOnce()
    {
        Run r(freshDir());
        AppController &c = r.controller;
        c.removeStart();
        QCOMPARE(c.processState(), AppController::ProcessState::kStateIdle);
        QVERIFY(!c.runner());
        for (QCheckBox *b : {r.ui().mAutoDetect, r.ui().mAutoRemove, r.ui().mAutoClean})
            b->setChecked(false);
        c.autoStart();
        QCOMPARE(c.processState(), AppController::ProcessState::kStateIdle);
        QVERIFY(!c.runner());
        QCOMPARE(c.endSound().requests(), 2);
        QCOMPARE(r.titles(), allRun());
    }

    void testAutomaticRunAllSteps()
    {
        Run r(freshDir());
        AppController &c = r.controller;
        r.ui().mAutoClean->setChecked(true);
        const QByteArray before = readAll(r.movie);
        QSignalSpy autoFlag(&c, &AppController::isRunningAutoChanged);
        c.performButtonAction(RunButton::Auto);
        QCOMPARE(c.processState(), AppController::ProcessState::kStateDetecting);
        QCOMPARE(r.ui().mAutoActionButton->text(), QStringLiteral("Stop"));
        QVERIFY(!r.ui().mDetectActionButton->isEnabled());
        QVERIFY(r.ui().mAutoActionButton->isEnabled());
        QVERIFY(!r.windows.ui().cleanButton->isEnabled());
        QVERIFY(waitForIdle(c));
        QCOMPARE(c.lastOutcome().copy, QFileInfo(r.ui().mOutputField->text()).absoluteFilePath());
        QCOMPARE(readAll(r.ui().mOutputField->text()), before);
        QVERIFY(c.partialCopies().isEmpty());
        QCOMPARE(readAll(r.movie), before);
        for (const char *ext : {".csv", ".ini", ".txt", ".edl", ".log"})
            QVERIFY2(!QFile::exists(r.work(ext)), ext);
        QVERIFY(!QFile::exists(c.outDir() + QStringLiteral("/TrimletLog.txt")));
        QCOMPARE(c.endSound().requests(), 1);
        QCOMPARE(r.titles(), allRun());
        QCOMPARE(autoFlag.count(), 2);
        // The run ends once: a later pass of the event loop finds it idle.
        QTest::qWait(50);
        QCOMPARE(c.processState(), AppController::ProcessState::kStateIdle);
        QCOMPARE(c.endSound().requests(), 1);
        QCOMPARE(autoFlag.count(), 2);
        // The natural end leaves the last row showing.
        QVERIFY(r.ui().mRemoveRemainingTextField->text().endsWith(QStringLiteral("elapsed")));
        QCOMPARE(r.ui().mRemoveProgressIndicator->value(), 100);
    }

    void testRunLogHoldsBothTools()
    {
        Run r(freshDir());
        AppController &c = r.controller;
        c.performButtonAction(RunButton::Auto);
        QVERIFY(waitForIdle(c));
        const QString runLog = QString::fromUtf8(readAll(c.outDir() + QStringLiteral("/TrimletLog.txt")));
        QVERIFY(runLog.startsWith(QStringLiteral("==== Trimlet (process ")));
        QVERIFY(runLog.contains(QStringLiteral("show.mpg\nComskip stand-in\n")));
        QVERIFY(runLog.indexOf(QStringLiteral("MEncoder stand-in"))
                > runLog.indexOf(QStringLiteral("Commercials were found.")));
        QVERIFY(runLog.contains(QStringLiteral("(100%)  0.00fps Trem:   0min   0mb  A-V:0.000 [0:0]\r")));
        // Results stay for the chart.
        QVERIFY(c.haveResults() && c.haveCommercials());
        QVERIFY(r.windows.ui().graphButton->isEnabled());
    }

    void testProfileChosenInTheWindow()
    {
        // Laid over the window's options for the detector, named in the run
        // log; one gone since it was chosen stops the run rather than
        // leaving the defaults unasked.
        const QString dir = freshDir();
        EnvGuard env;
        env.set("XDG_CONFIG_HOME", QFile::encodeName(dir + QStringLiteral("/config")));
        const QString news = dir + QStringLiteral("/config/trimlet/profiles/news.ini");
        QVERIFY(QDir().mkpath(QFileInfo(news).absolutePath()));
        writeFile(news, "[Main Settings]\nmax_commercialbreak=123 ; the news breaks are short\n");
        Run r(dir);
        AppController &c = r.controller;
        QComboBox *profile = r.ui().mProfileCombo;
        QCOMPARE(profile->accessibleName(), QStringLiteral("Profile"));
        QCOMPARE(profile->count(), 2);
        profile->setFocus();
        QTest::keyClick(profile, Qt::Key_Down);
        QCOMPARE(profile->currentText(), QStringLiteral("news"));
        c.detectStart();
        QVERIFY(waitForIdle(c));
        QVERIFY(readAll(r.work(".ini")).contains("\nmax_commercialbreak=123"));
        QVERIFY(readAll(c.outDir() + QStringLiteral("/TrimletLog.txt")).contains("profile news\n"));
        QVERIFY(QFile::remove(news));
        c.detectStart();
        QCOMPARE(c.processState(), AppController::ProcessState::kStateIdle);
        QVERIFY2(r.ui().mStatusField->text().startsWith(
                     QStringLiteral("The profile cannot be used: no profile news")),
                 qPrintable(r.ui().mStatusField->text()));
    }

    void testDetectionStatusTable_data()
    {
        QTest::addColumn<int>("rc");
        QTest::addColumn<QString>("status");
        QTest::newRow("0") << 0 << QStringLiteral("Found 2 commercials.");
        QTest::newRow("1") << 1 << QStringLiteral("Found 2 commercials.");
        QTest::newRow("2") << 2 << QStringLiteral("Unexpected error 2.");
        QTest::newRow("3") << 3 << QStringLiteral("Bad MPEG file.");
        QTest::newRow("5") << 5 << QStringLiteral("Bad MPEG file.");
        QTest::newRow("6") << 6 << QStringLiteral("Error creating output files.");
        QTest::newRow("10") << 10 << QStringLiteral("Error allocating memory");
        QTest::newRow("22") << 22 << QStringLiteral("Error allocating memory");
        QTest::newRow("23") << 23 << QStringLiteral("Unexpected error 23.");
        QTest::newRow("103") << 103 << QStringLiteral("Error creating output files.");
    }
    void testDetectionStatusTable()
    {
        QFETCH(int, rc);
        QFETCH(QString, status);
        Run r(freshDir());
        AppController &c = r.controller;
        EnvGuard env;
        env.set("STANDIN_RC", QByteArray::number(rc));
        c.detectStart();
        QVERIFY(waitForIdle(c));
        QCOMPARE(r.ui().mStatusField->text(), status);
        // A detection that failed leaves no count of its own behind.
        QCOMPARE(c.commercialsFound(), rc <= 1 ? 2 : 0);
    }

    void testToolStatusesThroughRealRuns()
    {
        Run r(freshDir());
        AppController &c = r.controller;
        {
            EnvGuard env;
            env.set("STANDIN_RC", "3");
            c.detectStart();
            QVERIFY(waitForIdle(c));
            QCOMPARE(r.ui().mStatusField->text(), QStringLiteral("Bad MPEG file."));
        }
        {
            EnvGuard env;
            env.set("STANDIN_MODE", "crash");
            c.detectStart();
            QVERIFY(waitForIdle(c));
            QCOMPARE(r.ui().mStatusField->text(), QStringLiteral("Unexpected error 139."));
        }
        c.detectStart();
        QVERIFY(waitForIdle(c));
        {
            EnvGuard env;
            env.set("STANDIN_RC", "1");
            env.set("STANDIN_FFMPEG_RC", "1");
            c.removeStart();
            QVERIFY(waitForIdle(c));
            QCOMPARE(r.ui().mStatusField->text(), QStringLiteral("Unexpected error 1."));
        }
    }

    void testStopDuringDetection()
    {
        Run r(freshDir());
        AppController &c = r.controller;
        EnvGuard env;
        env.set("STANDIN_MODE", "wait");
        c.performButtonAction(RunButton::Detect);
        QCOMPARE(r.ui().mDetectActionButton->text(), QStringLiteral("Stop"));
        QVERIFY(c.isRunning());
        QVERIFY(QTest::qWaitFor([&] { return c.logExcerpts().contains(QStringLiteral("waiting")); }, 5000));
        const pid_t pid = c.runner()->processId();
        c.performButtonAction(RunButton::Detect);
        QVERIFY(waitForIdle(c));
        QCOMPARE(r.titles(), allRun());
        QVERIFY(readAll(c.outDir() + QStringLiteral("/TrimletLog.txt")).contains("stand-in: stopped"));
        QCOMPARE(r.ui().mStatusField->text(), QStringLiteral("Detection stopped."));
        QVERIFY(!c.haveResults());
        QCOMPARE(r.ui().mDetectRemainingTextField->text(), QString());
        QTest::qWait(100);
        QCOMPARE(c.endSound().requests(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(::kill(pid, 0) != 0, 3000);
    }

    void testStopDuringRemovalInAutomaticRun()
    {
        Run r(freshDir());
        AppController &c = r.controller;
        c.detectStart();
        QVERIFY(waitForIdle(c));
        EnvGuard env;
        env.set("STANDIN_MODE", "wait");
        r.ui().mAutoDetect->setChecked(false);
        c.performButtonAction(RunButton::Auto);
        QCOMPARE(c.processState(), AppController::ProcessState::kStateRemoving);
        QVERIFY(QTest::qWaitFor([&] { return r.ui().mRemoveProgressIndicator->value() == 100; }, 5000));
        c.performButtonAction(RunButton::Auto);
        QVERIFY(waitForIdle(c));
        QCOMPARE(r.ui().mStatusField->text(), QStringLiteral("Removal stopped."));
        QCOMPARE(r.ui().mRemoveRemainingTextField->text(), QString());
        QCOMPARE(r.ui().mRemoveProgressIndicator->value(), 0);
        // The detector's results stay for the chart.
        QCOMPARE(c.totalRows(), 10800);
        QVERIFY(c.haveResults() && c.haveCommercials());
        QVERIFY(c.partialCopies().isEmpty());

        c.performButtonAction(RunButton::Remove);
        QCOMPARE(c.processState(), AppController::ProcessState::kStateRemoving);
        c.performButtonAction(RunButton::Remove);
        QVERIFY(waitForIdle(c));
        QCOMPARE(r.ui().mRemoveRemainingTextField->text(), QString());
        QVERIFY(!QFile::exists(r.ui().mOutputField->text()));
    }

    void testCleanFromWindowWhileIdle()
    {
        Run r(freshDir());
        AppController &c = r.controller;
        c.detectStart();
        QVERIFY(waitForIdle(c));
        QVERIFY(c.haveResults());
        QTest::qWait(50);
        r.windows.ui().cleanButton->click();
        QCOMPARE(r.ui().mStatusField->text(), QStringLiteral("Work files erased."));
        QVERIFY(!c.haveResults() && !c.haveCommercials());
        QCOMPARE(c.processState(), AppController::ProcessState::kStateIdle);
        QCOMPARE(c.endSound().requests(), 1);
        QVERIFY(!QFile::exists(r.work(".edl")) && !QFile::exists(r.work(".csv")));
        QVERIFY(QFile::exists(r.movie));
    }

    void testCleanNeverErasesTheRecording()
    {
        // A recording whose own extension is one of the work files'.
        Run r(freshDir(), QStringLiteral("odd.log"));
        r.controller.clean();
        QVERIFY(QFile::exists(r.movie));
        // Without a recording nothing is erased at all, and nothing runs.
        Harness h;
        h.controller.clean();
        QCOMPARE(h.controller.processState(), AppController::ProcessState::kStateIdle);
        QVERIFY(!h.controller.haveResults());
    }

    void testOutputEqualToRecordingIsRefused_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("same path") << QStringLiteral("same");
        QTest::newRow("through a link") << QStringLiteral("link");
        QTest::newRow("through a hard link") << QStringLiteral("hard link");
        QTest::newRow("with a trailing space") << QStringLiteral("space");
        QTest::newRow("a name without its folder") << QStringLiteral("bare");
        QTest::newRow("through ./") << QStringLiteral("dot");
    }
    void testOutputEqualToRecordingIsRefused()
    {
        QFETCH(QString, how);
        Run r(freshDir());
        AppController &c = r.controller;
        QString out = r.movie;
        if (how == QLatin1String("link")) {
            out = c.outDir() + QStringLiteral("/link.mpg");
            QVERIFY(QFile::link(r.movie, out));
        } else if (how == QLatin1String("hard link")) {
            out = c.outDir() + QStringLiteral("/hard.mpg");
            QCOMPARE(::link(QFile::encodeName(r.movie).constData(), QFile::encodeName(out).constData()), 0);
        } else if (how == QLatin1String("space")) {
            out = r.movie + QStringLiteral(" ");
        } else if (how == QLatin1String("bare")) {
            // Relative to the recording's folder, never to the working directory.
            QVERIFY(QDir::setCurrent(QDir::tempPath()));
            out = QStringLiteral("show.mpg");
        } else if (how == QLatin1String("dot")) {
            out = c.outDir() + QStringLiteral("/./show.mpg");
        }
        r.ui().mOutputField->setText(out);
        const QByteArray before = readAll(r.movie);
        // The stand-in's copy holds the same bytes: only the file's
        // identity tells a copy renamed over the recording.
        struct stat original = {};
        QCOMPARE(::stat(QFile::encodeName(r.movie).constData(), &original), 0);
        r.answer = true; // "show.mpg already exists. Replace it?" would be answered yes
        r.ui().mAutoRemove->setChecked(true);
        c.autoStart();
        // Refused before anything runs.
        QCOMPARE(c.processState(), AppController::ProcessState::kStateIdle);
        QVERIFY(!c.runner());
        QVERIFY(!c.logFileOpen());
        QCOMPARE(r.ui().mStatusField->text(),
                 QStringLiteral("The output file is the recording itself: choose another name."));
        QVERIFY(r.questions.isEmpty());
        QVERIFY(waitForIdle(c));
        QCOMPARE(readAll(r.movie), before);
        struct stat after = {};
        QCOMPARE(::stat(QFile::encodeName(r.movie).constData(), &after), 0);
        QCOMPARE(after.st_ino, original.st_ino);
        QCOMPARE(r.titles(), allRun());
        QCOMPARE(c.endSound().requests(), 0);
    }

    void testOutputIsSettledOnceForEveryStep()
    {
        // A name without a folder, with blanks around it, is the one file
        // beside the recording that the question, the cut and the check use.
        Run r(freshDir());
        AppController &c = r.controller;
        c.detectStart();
        QVERIFY(waitForIdle(c));
        const QString settled = c.outDir() + QStringLiteral("/my copy.mpg");
        writeFile(settled, "an earlier copy");
        QVERIFY(QDir::setCurrent(QDir::tempPath()));
        r.ui().mOutputField->setText(QStringLiteral("  my copy.mpg "));
        c.removeStart();
        QCOMPARE(r.questions,
                 QStringList{QStringLiteral("my copy.mpg already exists. Replace it with the cut copy?")});
        QVERIFY(waitForIdle(c));
        QCOMPARE(c.lastOutcome().copy, QFileInfo(settled).absoluteFilePath());
        QCOMPARE(readAll(settled), readAll(r.movie));
        QVERIFY(!QFile::exists(QDir::tempPath() + QStringLiteral("/my copy.mpg")));
        QVERIFY(!QFile::exists(QDir::tempPath() + QStringLiteral("/  my copy.mpg ")));
    }

    void testMissingTool()
    {
        Run r(freshDir());
        AppController &c = r.controller;
        c.toolLocator().setHelperDirectories({m_dir.path()}, false);
        c.detectStart();
        QVERIFY(waitForIdle(c));
        QCOMPARE(r.ui().mStatusField->text(), QStringLiteral("Could not start comskip. Is it installed?"));
        QVERIFY(readAll(c.outDir() + QStringLiteral("/TrimletLog.txt"))
                    .contains("comskip: No such file or directory"));
        QCOMPARE(r.titles(), allRun());
    }

    void testChoosingFiles()
    {
        Harness h;
        AppController &c = h.controller;
        h.ui().mOutputField->setText(QStringLiteral("/elsewhere/earlier.mpg"));
        c.openRecording(QStringLiteral("/videos/show.ts"));
        QCOMPARE(h.ui().mOutputField->text(), QStringLiteral("/videos/show.clean.ts"));
        QCOMPARE(c.baseName(), QStringLiteral("show"));
        QCOMPARE(c.outDir(), QStringLiteral("/videos"));
        QVERIFY(c.haveInput());
        QCOMPARE(h.ui().mStatusField->text(), QStringLiteral("Commercials not yet detected."));
        QCOMPARE(c.totalRows(), 0);

        // Panels: cancel changes nothing; OK takes the chosen path.
        QFileDialog panel;
        panel.setOption(QFileDialog::DontUseNativeDialog);
        const QString chosen = m_dir.filePath(QStringLiteral("x.mpg"));
        panel.selectFile(chosen);
        h.windows.inputPanelFinished(&panel, QDialog::Rejected);
        h.windows.outputPanelFinished(&panel, QDialog::Rejected);
        QCOMPARE(h.ui().mInputField->text(), QStringLiteral("/videos/show.ts"));
        QCOMPARE(h.ui().mOutputField->text(), QStringLiteral("/videos/show.clean.ts"));
        h.windows.outputPanelFinished(&panel, QDialog::Accepted);
        QCOMPARE(h.ui().mOutputField->text(), chosen);
        QCOMPARE(c.outDir(), QStringLiteral("/videos"));
        QCOMPARE(c.baseName(), QStringLiteral("show"));
    }

    void testChoosingProcessedRecordingRestoresResults()
    {
        const QString dir = processedRecordingDir();
        QVERIFY(!dir.isEmpty());
        Harness h;
        h.controller.openRecording(dir + QStringLiteral("/show.mpg"));
        QCOMPARE(h.controller.commercialsFound(), 2);
        QVERIFY(h.controller.haveResults() && h.controller.haveCommercials());
        QCOMPARE(h.controller.commercials()->size(), 2);
        QVERIFY(h.windows.ui().graphButton->isEnabled());
        QVERIFY(h.windows.ui().mRemoveActionButton->isEnabled());
    }

    void testOpenFromCommandLineAndDrop()
    {
        const QString dir = processedRecordingDir();
        QVERIFY(!dir.isEmpty());
        // A relative path on the command line becomes the absolute one.
        Harness h;
        const QString before = QDir::currentPath();
        QDir::setCurrent(dir);
        h.windows.openFromCommandLine({QStringLiteral("trimlet"), QStringLiteral("show.mpg")});
        QDir::setCurrent(before);
        QCOMPARE(h.ui().mInputField->text(), dir + QStringLiteral("/show.mpg"));
        QVERIFY(h.controller.haveCommercials());
        Harness options;
        options.windows.openFromCommandLine({QStringLiteral("trimlet"), QStringLiteral("-style=fusion")});
        QVERIFY(!options.controller.haveInput());

        // A file dropped on the main window is opened the same way.
        Harness drop;
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(dir + QStringLiteral("/show.mpg"))});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(drop.windows.mainWindow(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(drop.windows.mainWindow(), &dropped);
        QCOMPARE(drop.ui().mInputField->text(), dir + QStringLiteral("/show.mpg"));
        QCOMPARE(drop.controller.commercialsFound(), 2);
    }

    void testStartUpShowsLastCheckDate()
    {
        QTemporaryDir dir;
        const QString stamp = dir.filePath(QStringLiteral("update-success-stamp"));
        const QString lists = dir.filePath(QStringLiteral("lists"));
        QDir().mkpath(lists);
        Updater *updater = Updater::sharedUpdater();
        updater->setStampPath(stamp);
        updater->setListsPath(lists);
        // Neither a stamp nor a list: never refreshed, and it says so.
        Harness h;
        QCOMPARE(h.ui().mLastCheckedMessage->text(), QStringLiteral("never"));
        // A plain "apt-get update" leaves lists but no stamp: the newest list counts.
        const QString list = lists + QStringLiteral("/deb.debian.org_debian_dists_bookworm_InRelease");
        writeFile(list, "");
        QFile f(list);
        QVERIFY(f.open(QIODevice::ReadWrite));
        const QDateTime listTime = QDateTime(QDate(2026, 3, 4), QTime(5, 6));
        QVERIFY(f.setFileTime(listTime, QFileDevice::FileModificationTime));
        f.close();
        writeFile(lists + QStringLiteral("/lock"), "");
        h.controller.updaterDidNotFindUpdate(updater);
        QCOMPARE(h.ui().mLastCheckedMessage->text(), QLocale().toString(listTime, QLocale::ShortFormat));
        // The stamp, when APT::Periodic leaves one, comes first.
        writeFile(stamp, "");
        h.controller.updaterDidNotFindUpdate(updater);
        QCOMPARE(h.ui().mLastCheckedMessage->text(),
                 QLocale().toString(QFileInfo(stamp).lastModified(), QLocale::ShortFormat));
        QCOMPARE(updater->delegate(), static_cast<UpdaterDelegate *>(&h.controller));
        updater->setListsPath(QStringLiteral("/var/lib/apt/lists"));
    }
};

QTEST_MAIN(TestPipeline)
#include "tst_pipeline.moc"
