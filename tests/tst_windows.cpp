// What the windows tell the user, with real windows under the offscreen
// platform: the status line through a run, names for assistive
// technology and the changes it is told of, the chart's time labels and
// its empty states.

#include "TestSupport.h"

#include "app/QueuePanel.h"
#include "chart/VideoGraph.h"
#include "jobs/QueueStore.h"
#include "ui_GraphWindow.h"
#include "ui_MainWindow.h"

#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>
#include <sys/stat.h>

namespace {

// Every widget of a window that takes input or reports progress.
QList<QWidget *> controlsOf(QWidget *window)
{
    QList<QWidget *> out;
    for (QWidget *w : window->findChildren<QWidget *>()) {
        if (w->objectName().startsWith(QLatin1String("qt_")))
            continue;
        if (qobject_cast<QAbstractButton *>(w) || qobject_cast<QLineEdit *>(w)
            || qobject_cast<QAbstractSlider *>(w) || qobject_cast<QAbstractItemView *>(w)
            || qobject_cast<QProgressBar *>(w))
            out << w;
    }
    return out;
}

// The detector that holds on its second pass until told to go on.
QString heldTools()
{
    return QStringLiteral(TRIMLET_TEST_TOOLS "/held");
}

// The detector that holds on its second pass until the file returned is
// made, in front of the other stand-ins.
QString holdDetector(StandInRun &r, EnvGuard &env)
{
    r.controller.toolLocator().setHelperDirectories({heldTools(), standInTools()}, false);
    const QString release = r.movie + QStringLiteral(".go");
    env.set("STANDIN_RELEASE", release.toLocal8Bit());
    return release;
}

QString nameOf(QWidget *w)
{
    return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name);
}

// The name changes assistive technology is told of, each with the name it
// reads at that moment. Qt drops every accessibility event until a screen
// reader has switched accessibility on, which no public call does for the
// offscreen platform: the platform's own switch is used, as Qt's tests do.
struct NameChangeListener
{
    static inline QList<QPair<QPointer<QObject>, QString>> heard;
    QAccessible::UpdateHandler previous;
    NameChangeListener()
    {
        heard.clear();
        QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(true);
        previous = QAccessible::installUpdateHandler(&NameChangeListener::handle);
    }
    ~NameChangeListener()
    {
        QAccessible::installUpdateHandler(previous);
        QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(false);
    }
    static void handle(QAccessibleEvent *event)
    {
        if (event->type() != QAccessible::NameChanged || !event->accessibleInterface())
            return;
        heard.append({event->object(), event->accessibleInterface()->text(QAccessible::Name)});
    }
    static QStringList heardFrom(const QObject *object)
    {
        QStringList names;
        for (const auto &[from, name] : heard)
            if (from == object)
                names << name;
        return names;
    }
};

} // namespace

class TestWindows final : public QObject
{
    Q_OBJECT

    CaseDirs m_dirs;
    QString freshDir() { return m_dirs.next(); }

private slots:
    void testStatusLineFollowsTheRun()
    {
        StandInRun r(freshDir());
        AppController &c = r.controller;
        r.ui().mAutoRemove->setChecked(true);
        r.ui().mAutoClean->setChecked(true);
        StatusRecorder status(r.ui().mStatusField);
        c.performButtonAction(RunButton::Auto);
        QVERIFY(waitForIdle(c));
        status.sample.stop();
        QStringList &seen = status.seen;
        seen << r.ui().mStatusField->text();
        QVERIFY2(seen.contains(QStringLiteral("Detecting commercials…")), qPrintable(seen.join(u'|')));
        QVERIFY2(seen.contains(QStringLiteral("Cutting the commercials with mencoder…")),
                 qPrintable(seen.join(u'|')));
        QVERIFY2(seen.contains(QStringLiteral("Checking the cut copy…")), qPrintable(seen.join(u'|')));
        // The end names the outcome and the copy, and the copy is there.
        QCOMPARE(seen.last(),
                 QStringLiteral("Found 2 commercials. Cut copy: show.clean.mpg (0:04:00), cut by mencoder."));
        QVERIFY(QFileInfo(r.ui().mOutputField->text()).isFile());
        QVERIFY(r.windows.ui().showCopyButton->isEnabled());
        QVERIFY(r.windows.ui().playCopyButton->isEnabled());
        // The title showed the running step while it ran, and is plain again.
        QCOMPARE(r.windows.mainWindow()->windowTitle(), QStringLiteral("Trimlet"));
    }

    // The output mode: each proposes its own name, a name the user typed
    // stays, a skip list is the recording's own EDL and is written as one,
    // and the user's choice is the one the next window offers.
    void testOutputModes()
    {
        StandInRun r(freshDir());
        AppController &c = r.controller;
        Ui::MainWindow &u = r.ui();
        const QString dir = QFileInfo(r.movie).absolutePath();
        const auto choose = [&](int index) {
            u.outputModeCombo->setFocus();
            while (u.outputModeCombo->currentIndex() != index)
                QTest::keyClick(u.outputModeCombo,
                                index > u.outputModeCombo->currentIndex() ? Qt::Key_Down : Qt::Key_Up);
        };
        choose(1);
        QCOMPARE(u.mOutputField->text(), dir + QStringLiteral("/show.chapters.mkv"));
        QCOMPARE(u.outputLabel->text(), QStringLiteral("Chapters file:"));
        QCOMPARE(QAccessible::queryAccessibleInterface(u.mOutputField)->text(QAccessible::Name),
                 QStringLiteral("Chapters file"));
        u.mOutputField->setText(dir + QStringLiteral("/mine.mkv"));
        choose(0);
        QCOMPARE(u.mOutputField->text(), dir + QStringLiteral("/mine.mkv"));

        choose(2);
        QCOMPARE(u.mOutputField->text(), dir + QStringLiteral("/show.edl"));
        QVERIFY(u.mOutputField->isReadOnly());
        QVERIFY(!u.browseOutputButton->isEnabled());
        QCOMPARE(QSettings().value(QStringLiteral("outputMode")).toString(), QStringLiteral("skip-list"));
        {
            Harness next;
            QCOMPARE(next.controller.outputMode(), RunRequest::Mode::SkipList);
            QCOMPARE(next.ui().outputModeCombo->currentText(), QStringLiteral("Skip list only"));
        }
        c.detectStart();
        QVERIFY(waitForIdle(c));
        c.removeStart();
        QVERIFY(waitForIdle(c));
        QVERIFY2(u.mStatusField->text().endsWith(QStringLiteral(
                     "Skip list: show.edl, 2 breaks for the player to skip, the recording left as it is.")),
                 qPrintable(u.mStatusField->text()));
        const QList<QByteArray> lines = readAll(dir + QStringLiteral("/show.edl")).split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines.at(0).endsWith("\t3") && lines.at(1).endsWith("\t3"));
        QCOMPARE(readAll(r.movie), QByteArray("recording bytes ").repeated(1000));

        choose(0);
        QCOMPARE(u.mOutputField->text(), dir + QStringLiteral("/show.clean.mpg"));
        QCOMPARE(QSettings().value(QStringLiteral("outputMode")).toString(), QStringLiteral("cut"));
    }

    // The cut copy in the recording's place: asked first; a copy refused
    // leaves the recording as it was; a checked one takes its name, and
    // the status line says where the recording went.
    void testCutCopyInRecordingsPlace()
    {
        const QString dir = freshDir();
        EnvGuard env;
        env.set("XDG_DATA_HOME", QFile::encodeName(dir + QStringLiteral("/data")));
        // The choice is remembered: the tests after this one start from a copy beside.
        const auto plainCut =
            qScopeGuard([] { QSettings().setValue(QStringLiteral("outputMode"), QStringLiteral("cut")); });
        StandInRun r(dir);
        AppController &c = r.controller;
        Ui::MainWindow &u = r.ui();
        u.outputModeCombo->setFocus();
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(u.outputModeCombo, Qt::Key_Down);
        QCOMPARE(u.outputModeCombo->currentText(), QStringLiteral("Cut copy in the recording's place"));
        QCOMPARE(u.mOutputField->text(),
                 QFileInfo(r.movie).absolutePath() + QStringLiteral("/show.clean.mpg"));
        const auto inode = [](const QString &path) {
            struct stat st = {};
            return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? qint64(st.st_ino) : qint64(-1);
        };
        const qint64 original = inode(r.movie);
        c.detectStart();
        QVERIFY(waitForIdle(c));
        r.answer = false;
        c.removeStart();
        QCOMPARE(r.questions.size(), 1);
        QVERIFY(r.questions.first().contains(QStringLiteral("the recording goes to the trash")));
        QCOMPARE(u.mStatusField->text(),
                 QStringLiteral("The recording was left in its place: nothing was cut."));
        QVERIFY(!c.runner());
        r.answer = true;
        const QString trashed = dir + QStringLiteral("/data/Trash/files/show.mpg");
        {
            EnvGuard fail;
            fail.set("STANDIN_RC", "1");
            fail.set("STANDIN_FFMPEG_RC", "1");
            c.removeStart();
            QVERIFY(waitForIdle(c));
        }
        QCOMPARE(inode(r.movie), original);
        QVERIFY(!QFile::exists(trashed));
        c.removeStart();
        QVERIFY(waitForIdle(c));
        QVERIFY2(
            u.mStatusField->text().endsWith(
                QStringLiteral("The copy took the recording's place as show.mpg; the recording is in %1.")
                    .arg(trashed)),
            qPrintable(u.mStatusField->text()));
        QCOMPARE(inode(trashed), original);
        QVERIFY(QFile::exists(dir + QStringLiteral("/data/Trash/info/show.mpg.trashinfo")));
        QVERIFY(inode(r.movie) != original && inode(r.movie) != -1);
        QVERIFY(!QFile::exists(QFileInfo(r.movie).absolutePath() + QStringLiteral("/show.clean.mpg")));
        QCOMPARE(QSettings().value(QStringLiteral("outputMode")).toString(), QStringLiteral("replace"));
    }

    // Detected recordings wait for the user: only an approved one is cut,
    // one taken out of the queue is neither cut nor kept for the next
    // start, and one whose lists vanished comes back to be detected again.
    void testQueueHoldsEachCutForReview()
    {
        StandInRun r(freshDir());
        const QString dir = QFileInfo(r.movie).absolutePath();
        const QString later = dir + QStringLiteral("/later.mpg");
        const QString spare = dir + QStringLiteral("/spare.mpg");
        writeFile(later, readAll(r.movie));
        writeFile(spare, readAll(r.movie));
        const QString state = dir + QStringLiteral("/state/queue.json");
        r.windows.restoreQueue(state);
        r.windows.openRecordings({r.movie, later, spare});
        QueuePanel &q = r.windows.queue();
        const auto stateOf = [&](int index) { return q.queue().entry(index).state; };
        q.detectAll();
        QVERIFY(QTest::qWaitFor([&] { return !q.isRunning(); }, 20000));
        for (int i = 0; i < 3; ++i)
            QCOMPARE(stateOf(i), BatchQueue::State::ReadyForReview);
        // The progress rows spoke for the whole queue.
        QCOMPARE(r.ui().mDetectPercentTextField->text(), QStringLiteral("100%"));
        QTRY_COMPARE(r.ui().mQueueStatusField->accessibleName(), QStringLiteral("Queue: 3 recordings"));
        QCOMPARE(r.ui().mRemovePercentTextField->text(), QString());
        QVERIFY(!QFile::exists(dir + QStringLiteral("/show.clean.mpg")));

        q.selectEntry(2);
        q.removeSelected();
        QCOMPARE(q.model().rowCount(), 2);
        q.selectEntry(0);
        q.approve();
        QCOMPARE(stateOf(0), BatchQueue::State::Approved);
        QVERIFY(r.ui().mCutAllApprovedButton->isEnabled());
        q.cutAllApproved();
        QVERIFY(QTest::qWaitFor([&] { return !q.isRunning(); }, 20000));
        QCOMPARE(stateOf(0), BatchQueue::State::Done);
        QCOMPARE(r.ui().mRemovePercentTextField->text(), QStringLiteral("100%"));
        QCOMPARE(r.ui().mDetectPercentTextField->text(), QString());
        QVERIFY(QFile::exists(dir + QStringLiteral("/show.clean.mpg")));
        QCOMPARE(stateOf(1), BatchQueue::State::ReadyForReview);
        QVERIFY(!QFile::exists(dir + QStringLiteral("/later.clean.mpg")));
        QVERIFY(!QFile::exists(dir + QStringLiteral("/spare.clean.mpg")));

        const QList<queuestore::Saved> saved = queuestore::load(state);
        QCOMPARE(saved.size(), 1);
        QCOMPARE(saved.first().recording, later);
        QCOMPARE(queuestore::restoredState(saved.first()), BatchQueue::State::ReadyForReview);
        QVERIFY(QFile::remove(dir + QStringLiteral("/later.txt")));
        QCOMPARE(queuestore::restoredState(saved.first()), BatchQueue::State::Waiting);
    }

    void testFailureAndBadInputInWords()
    {
        StandInRun r(freshDir());
        AppController &c = r.controller;
        EnvGuard env;
        env.set("STANDIN_MODE", "unreadable");
        c.detectStart();
        QVERIFY(waitForIdle(c));
        QCOMPARE(r.ui().mStatusField->text(), QStringLiteral("comskip could not read this recording."));
        // The row shows the failure, not a full bar.
        QVERIFY(r.ui().mDetectRemainingTextField->text().startsWith(QStringLiteral("failed after ")));
        QVERIFY(r.ui().mDetectProgressIndicator->value() < 100);
    }

    void testEveryControlIsNamed()
    {
        Harness h;
        for (QWidget *window : {static_cast<QWidget *>(h.windows.mainWindow()),
                                static_cast<QWidget *>(h.windows.graphWindow())}) {
            const QList<QWidget *> controls = controlsOf(window);
            QVERIFY(controls.size() > 5);
            for (QWidget *w : controls) {
                QAccessibleInterface *a = QAccessible::queryAccessibleInterface(w);
                QVERIFY2(a, qPrintable(w->objectName()));
                QVERIFY2(!a->text(QAccessible::Name).trimmed().isEmpty(),
                         qPrintable(w->objectName() + QLatin1Char(' ')
                                    + QLatin1String(w->metaObject()->className())));
            }
        }
        // The three buttons titled "Run" are told apart.
        QStringList names;
        for (QPushButton *b :
             {h.ui().mDetectActionButton, h.ui().mRemoveActionButton, h.ui().mAutoActionButton})
            names << QAccessible::queryAccessibleInterface(b)->text(QAccessible::Name);
        QCOMPARE(names, (QStringList{"Run detection", "Run removal", "Run all chosen steps"}));
        QCOMPARE(QAccessible::queryAccessibleInterface(h.ui().mInputField)->text(QAccessible::Name),
                 QStringLiteral("Recording"));
        QCOMPARE(QAccessible::queryAccessibleInterface(h.ui().mOutputField)->text(QAccessible::Name),
                 QStringLiteral("Cut copy"));
        // The choice beside it is not read by the output it shows: that is
        // the field's name.
        QAccessibleInterface *output = QAccessible::queryAccessibleInterface(h.ui().outputModeCombo);
        QCOMPARE(output->text(QAccessible::Name), QStringLiteral("Output"));
        QCOMPARE(output->text(QAccessible::Value), QStringLiteral("Cut copy"));
        QCOMPARE(h.ui().mAutoActionButton->shortcut(), QKeySequence(QStringLiteral("Ctrl+R")));
        QCOMPARE(h.windows.ui().browseInputButton->shortcut(), QKeySequence(QKeySequence::Open));
    }

    // A label that shows a value is read as "what: value", and by what it
    // is while blank; the values are those on screen at the time.
    void testValuesAreReadAsShown()
    {
        StandInRun r(freshDir());
        AppController &c = r.controller;
        Ui::MainWindow &u = r.ui();
        EnvGuard env;
        const QString release = holdDetector(r, env);
        QVERIFY(!u.mRecordingInfoField->text().isEmpty());
        QCOMPARE(nameOf(u.mRecordingInfoField), "Recording streams: " + u.mRecordingInfoField->text());
        QVERIFY(!u.mLastCheckedMessage->text().isEmpty());
        QCOMPARE(nameOf(u.mLastCheckedMessage),
                 "Package lists last refreshed: " + u.mLastCheckedMessage->text());

        QStringList percentNames{nameOf(u.mDetectPercentTextField)};
        c.performButtonAction(RunButton::Auto);
        QTRY_COMPARE_WITH_TIMEOUT(u.mDetectRemainingTextField->text(), QStringLiteral("pass 2"), 10000);
        QCOMPARE(u.mDetectPercentTextField->text(), QStringLiteral("20%"));
        percentNames << nameOf(u.mDetectPercentTextField);
        QCOMPARE(nameOf(u.mDetectRemainingTextField), QStringLiteral("Detection time: pass 2"));
        QCOMPARE(nameOf(u.mStatusField), QStringLiteral("Status: Detecting commercials…"));

        writeFile(release, QByteArray());
        QVERIFY(waitForIdle(c));
        percentNames << nameOf(u.mDetectPercentTextField);
        QCOMPARE(percentNames,
                 (QStringList{"Detection percent", "Detection percent: 20%", "Detection percent"}));
        QCOMPARE(u.mStatusField->text(),
                 QStringLiteral("Found 2 commercials. Cut copy: show.clean.mpg (0:04:00), cut by mencoder."));
        QCOMPARE(nameOf(u.mStatusField), "Status: " + u.mStatusField->text());
        QVERIFY(u.mRemoveRemainingTextField->text().endsWith(QStringLiteral(" elapsed")));
        QCOMPARE(nameOf(u.mRemoveRemainingTextField), "Removal time: " + u.mRemoveRemainingTextField->text());
    }

    // The three buttons titled "Run" or "Stop" are read by their title and
    // by what they run.
    void testRunButtonsAreReadByTheirTitles()
    {
        StandInRun r(freshDir());
        AppController &c = r.controller;
        Ui::MainWindow &u = r.ui();
        EnvGuard env;
        QStringList seen;
        const auto look = [&seen](QPushButton *b) { seen << b->text() + QLatin1String(" = ") + nameOf(b); };
        const auto holdAndStop = [&](RunButton which, QPushButton *b) {
            env.set("STANDIN_MODE", "wait");
            c.performButtonAction(which);
            QTRY_COMPARE(b->text(), QStringLiteral("Stop"));
            look(b);
            c.performButtonAction(which);
            QVERIFY(waitForIdle(c));
            look(b);
        };
        look(u.mAutoActionButton);
        holdAndStop(RunButton::Auto, u.mAutoActionButton);
        holdAndStop(RunButton::Detect, u.mDetectActionButton);
        if (QTest::currentTestFailed())
            return;
        // A removal needs the commercials of a whole detection.
        env.set("STANDIN_MODE", "ok");
        c.performButtonAction(RunButton::Detect);
        QVERIFY(waitForIdle(c));
        QVERIFY(c.haveCommercials());
        holdAndStop(RunButton::Remove, u.mRemoveActionButton);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(seen, (QStringList{"Run = Run all chosen steps", "Stop = Stop all chosen steps",
                                    "Run = Run all chosen steps", "Stop = Stop detection",
                                    "Run = Run detection", "Stop = Stop removal", "Run = Run removal"}));
    }

    // Whoever follows the status line, a progress field or a run button
    // is told of each change, with the new text.
    void testChangesAreAnnounced()
    {
        StandInRun r(freshDir());
        AppController &c = r.controller;
        Ui::MainWindow &u = r.ui();
        EnvGuard env;
        const QString release = holdDetector(r, env);
        NameChangeListener listener;
        c.performButtonAction(RunButton::Detect);
        QTRY_COMPARE_WITH_TIMEOUT(u.mDetectRemainingTextField->text(), QStringLiteral("pass 2"), 10000);
        writeFile(release, QByteArray());
        QVERIFY(waitForIdle(c));
        QCOMPARE(u.mStatusField->text(), QStringLiteral("Found 2 commercials."));

        const QStringList status = listener.heardFrom(u.mStatusField);
        QVERIFY2(status.contains(QStringLiteral("Status: Detecting commercials…")),
                 qPrintable(status.join(u'|')));
        QVERIFY2(!status.isEmpty() && status.last() == QStringLiteral("Status: Found 2 commercials."),
                 qPrintable(status.join(u'|')));
        // The percent is heard going blank too, which QLabel::clear() alone
        // tells no one.
        const QStringList percent = listener.heardFrom(u.mDetectPercentTextField);
        QVERIFY2(percent.contains(QStringLiteral("Detection percent: 20%")), qPrintable(percent.join(u'|')));
        QVERIFY2(!percent.isEmpty() && percent.last() == QStringLiteral("Detection percent"),
                 qPrintable(percent.join(u'|')));
        // Title and name change one after the other, each telling: the
        // same name twice in a row is one change heard.
        QStringList button = listener.heardFrom(u.mDetectActionButton);
        button.erase(std::unique(button.begin(), button.end()), button.end());
        QCOMPARE(button, (QStringList{"Stop detection", "Run detection"}));
    }

    void testEscapeStopsARun()
    {
        StandInRun r(freshDir());
        AppController &c = r.controller;
        EnvGuard env;
        env.set("STANDIN_MODE", "wait");
        r.windows.mainWindow()->show();
        QVERIFY(QTest::qWaitForWindowExposed(r.windows.mainWindow()));
        r.windows.mainWindow()->activateWindow();
        c.performButtonAction(RunButton::Detect);
        QVERIFY(QTest::qWaitFor([&] { return c.logExcerpts().contains(QStringLiteral("waiting")); }, 5000));
        QTest::keyClick(r.windows.mainWindow(), Qt::Key_Escape);
        QTRY_COMPARE(c.processState(), AppController::ProcessState::kStateIdle);
        QCOMPARE(r.ui().mStatusField->text(), QStringLiteral("Detection stopped."));
    }

    void testChartTimeLabels()
    {
        VideoGraph g(QSizeF(1500, 750));
        QList<int> matrix(20 * 10, 1);
        int ranges[40] = {};
        ranges[3] = 2;
        g.setData(matrix.data(), {10, 20}, ranges);
        g.setLabelsInOrder({"a"});
        // 10,850 frames at 29.97 fps: 6:02, so full ticks at 0:00 and 5:00.
        g.setDataFrames(10850, 1085.0f, 29.97f, {"frame", "a"}, nullptr);
        QImage img(1500, 750, QImage::Format_RGB32);
        g.render(&img);
        QStringList texts;
        for (const VideoGraph::ScaleLabel &l : g.scaleLabels())
            texts << l.text;
        QCOMPARE(texts, (QStringList{"0:00:00", "0:05:00"}));
        // Ink where the second label stands, and none just before it.
        const QRectF at = g.scaleLabels().at(1).rect;
        int dark = 0, darkBefore = 0;
        for (int x = int(at.x()); x < int(at.x() + 60); ++x)
            for (int y = int(at.y()); y < int(at.bottom()); ++y) {
                if (qGray(img.pixel(x, 749 - y)) < 128)
                    ++dark;
                if (qGray(img.pixel(x - 70, 749 - y)) < 128)
                    ++darkBefore;
            }
        QVERIFY2(dark > 20, qPrintable(QString::number(dark)));
        QCOMPARE(darkBefore, 0);
    }

    void testChartWindowEmptyStates()
    {
        StandInRun r(freshDir());
        AppController &c = r.controller;
        EnvGuard env;
        findNoCommercials(env);
        c.detectStart();
        QVERIFY(waitForIdle(c));
        QVERIFY(c.haveResults());
        r.windows.graphWindow()->show();
        QVERIFY(QTest::qWaitForWindowExposed(r.windows.graphWindow()));
        c.graphAction();
        QTest::qWait(50);
        Ui::GraphWindow &g = r.windows.graphUi();
        // Nothing loads once the chart is there; the chart fits, so no scroll bar.
        QVERIFY(!g.mGraphProgressIndicator->isVisible());
        QVERIFY2(!g.graphScrollArea->horizontalScrollBar()->isVisible(),
                 qPrintable(QStringLiteral("chart %1, pane %2")
                                .arg(r.windows.graph()->width())
                                .arg(g.graphScrollArea->viewport()->width())));
        QCOMPARE(g.mCommercialTable->model()->rowCount(), 0);
        QLabel *empty = nullptr;
        for (QLabel *l : g.mCommercialTable->viewport()->findChildren<QLabel *>())
            if (l->text() == QStringLiteral("No commercials found."))
                empty = l;
        QVERIFY(empty);
        QVERIFY(empty->isVisible());
        // Zoomed in, the chart is wider than its pane and scrolls.
        g.mZoomSlider->setValue(g.mZoomSlider->maximum());
        QTRY_VERIFY(g.graphScrollArea->horizontalScrollBar()->isVisible());
    }
};

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
