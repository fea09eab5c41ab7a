// The child process runner with real child processes.

#include "TestSupport.h"

#include "process/ProcessReaper.h"
#include "process/TaskWrapper.h"
#include "process/Utf8Tail.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <functional>

namespace {

struct Recorder : TaskWrapperController
{
    QStringList events;
    QString output;
    QStringList chunks;
    QList<int> statuses;
    void processStarted() override { events << QStringLiteral("started"); }
    void appendOutput(const QString &chunk) override
    {
        events << QStringLiteral("output");
        output += chunk;
        chunks << chunk;
    }
    void processFinished(int status) override
    {
        events << QStringLiteral("finished");
        statuses << status;
    }
    bool done() const { return !statuses.isEmpty(); }
};

// Lets a test act from inside the report, as a controller does.
struct ReactingRecorder : Recorder
{
    std::function<void()> onFinished;
    void processFinished(int status) override
    {
        Recorder::processFinished(status);
        if (onFinished)
            onFinished();
    }
};

QStringList sh(const QString &script)
{
    return {QStringLiteral("/bin/sh"), QStringLiteral("-c"), script};
}

// Runs a real event loop until the condition holds: QTest::qWaitFor sleeps
// between its rounds, which would show as stalls of its own.
template <typename Condition> bool runUntil(Condition done, int timeoutMs = 5000)
{
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start();
    if (!done())
        loop.exec();
    return done();
}

// Gone and collected: a zombie still answers kill(pid, 0).
bool processGone(pid_t pid)
{
    return pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH;
}

// A tool that lives through SIGTERM, saying so, and leaves a child of its
// own that ignores SIGTERM altogether; both go only with SIGKILL.
const char kOutlivesTerm[] = "(trap '' TERM; while :; do sleep 0.05; done) & echo child=$!; "
                             "trap 'echo got-term' TERM; echo ready; while :; do sleep 0.05; done";

pid_t childOf(const QString &output)
{
    const qsizetype at = output.indexOf(QStringLiteral("child="));
    return at < 0 ? -1 : pid_t(output.mid(at + 6).section(QLatin1Char('\n'), 0, 0).toInt());
}

} // namespace

class TestTaskWrapper final : public QObject
{
    Q_OBJECT

private slots:
    void testMergedOutputOrderAndCallbacks()
    {
        Recorder r;
        TaskWrapper runner(
            &r, sh(QStringLiteral("echo one; sleep 0.05; echo two >&2; sleep 0.05; echo three; exit 3")));
        runner.startProcess();
        QVERIFY(QTest::qWaitFor([&] { return r.done(); }, 5000));
        QCOMPARE(r.output, QStringLiteral("one\ntwo\nthree\n"));
        QCOMPARE(r.statuses, QList<int>{3});
        QCOMPARE(r.events.first(), QStringLiteral("started"));
        QCOMPARE(r.events.last(), QStringLiteral("finished"));
        QCOMPARE(r.events.count(QStringLiteral("finished")), 1);
        // Nothing after the report, not even from a late stop.
        runner.stopProcess();
        QTest::qWait(50);
        QCOMPARE(r.events.count(QStringLiteral("finished")), 1);
    }

    void testSilentToolAndStatusPassedOn_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("status");
        QTest::newRow("silent success") << QStringLiteral("exit 0") << 0;
        QTest::newRow("exit 22") << QStringLiteral("exit 22") << 22;
        QTest::newRow("killed by SIGSEGV") << QStringLiteral("kill -SEGV $$") << 128 + 11;
    }
    void testSilentToolAndStatusPassedOn()
    {
        QFETCH(QString, script);
        QFETCH(int, status);
        Recorder r;
        TaskWrapper runner(&r, sh(script));
        runner.startProcess();
        QVERIFY(QTest::qWaitFor([&] { return r.done(); }, 5000));
        QCOMPARE(r.statuses, QList<int>{status});
        QVERIFY(!r.events.contains(QStringLiteral("output")));
    }

    void testOneElementArgumentList()
    {
        QTemporaryDir dir;
        const QString tool = dir.filePath(QStringLiteral("argcount"));
        writeFile(tool, "#!/bin/sh\necho \"args=$#\"\n");
        QFile::setPermissions(tool, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        Recorder r;
        TaskWrapper runner(&r, {tool});
        runner.startProcess();
        QVERIFY(QTest::qWaitFor([&] { return r.done(); }, 5000));
        QCOMPARE(r.output, QStringLiteral("args=0\n"));
    }

    void testArgumentsPassedUnchanged()
    {
        Recorder r;
        TaskWrapper runner(&r, {QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                                QStringLiteral("printf '[%s]' \"$@\""), QStringLiteral("x"),
                                QStringLiteral("a b"), QStringLiteral("$HOME"), QStringLiteral("-o"),
                                QStringLiteral("Café \"q\"")});
        runner.startProcess();
        QVERIFY(QTest::qWaitFor([&] { return r.done(); }, 5000));
        QCOMPARE(r.output, QStringLiteral("[a b][$HOME][-o][Café \"q\"]"));
    }

    void testStopReportsLaterWithTheLastOutput()
    {
        Recorder r;
        TaskWrapper runner(
            &r, sh(QStringLiteral(
                    "trap 'echo got-term; exit 0' TERM; echo ready; while :; do sleep 0.05; done")));
        runner.startProcess();
        QVERIFY(QTest::qWaitFor([&] { return r.output.contains(QStringLiteral("ready")); }, 5000));
        runner.stopProcess();
        QVERIFY(runner.wasStopped());
        // Never from inside stopProcess.
        QVERIFY(r.statuses.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(r.statuses, QList<int>{-1}, 5000);
        // What the tool wrote on its way out came before the report.
        QVERIFY(r.output.endsWith(QStringLiteral("got-term\n")));
        QCOMPARE(r.events.last(), QStringLiteral("finished"));
        runner.stopProcess();
        QTest::qWait(50);
        QCOMPARE(r.statuses.size(), 1);
    }

    void testStopBeforeAnyEnd_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("start");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<int>("status");
        QTest::newRow("never started")
            << sh(QStringLiteral("echo x")) << false << QStringList{QStringLiteral("finished")} << -1;
        QTest::newRow("launch failed")
            << QStringList{QStringLiteral("/nonexistent/comskip")} << true
            << QStringList{QStringLiteral("started"), QStringLiteral("output"), QStringLiteral("finished")}
            << TaskWrapper::kLaunchFailed;
    }
    void testStopBeforeAnyEnd()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, start);
        QFETCH(QStringList, events);
        QFETCH(int, status);
        Recorder r;
        TaskWrapper runner(&r, arguments);
        if (start)
            runner.startProcess();
        const QStringList before = r.events;
        runner.stopProcess();
        // Nothing is said inside stopProcess, and a runner stopped before
        // it started stays unstarted.
        QCOMPARE(r.events, before);
        runner.startProcess();
        QTRY_COMPARE_WITH_TIMEOUT(r.events, events, 5000);
        QCOMPARE(r.statuses, QList<int>{status});
        QVERIFY(runner.wasStopped());
        QCOMPARE(runner.processId(), pid_t(-1));
    }

    void testStopNeverBlocks_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("last");
        // Whether only SIGKILL ends the tool itself.
        QTest::addColumn<bool>("killed");
        QTest::newRow("ignores SIGTERM")
            << QStringLiteral("trap '' TERM; echo ready; while :; do sleep 0.05; done")
            << QStringLiteral("ready\n") << true;
        QTest::newRow("says it got SIGTERM and stays")
            << QString::fromLatin1(kOutlivesTerm) << QStringLiteral("got-term\n") << true;
        QTest::newRow("child holds the pipe") << QStringLiteral("(trap '' TERM; sleep 30) & echo ready; wait")
                                              << QStringLiteral("ready\n") << false;
        QTest::newRow("other session holds the pipe")
            << QStringLiteral("setsid sleep 3 & echo ready; exec sleep 30") << QStringLiteral("ready\n")
            << false;
    }
    void testStopNeverBlocks()
    {
        QFETCH(QString, script);
        QFETCH(QString, last);
        QFETCH(bool, killed);
        Recorder r;
        TaskWrapper runner(&r, sh(script));
        const int graceMs = 500;
        runner.setStopBounds(graceMs, 3000);
        runner.startProcess();
        QVERIFY(runUntil([&] { return r.output.contains(QStringLiteral("ready")); }));
        const pid_t child = childOf(r.output);

        StallMeter stalls;
        QElapsedTimer clock;
        qint64 returnedAfter = -1;
        qint64 reportedAfter = -1;
        int reportsInsideStop = -1;
        // Stopped from inside the event loop, as the window does it, so
        // that the time stopProcess takes counts as a stall too.
        QTimer::singleShot(20, [&] {
            clock.start();
            runner.stopProcess();
            returnedAfter = clock.nsecsElapsed() / 1000;
            reportsInsideStop = int(r.statuses.size());
        });
        QVERIFY(runUntil([&] {
            if (r.done() && reportedAfter < 0)
                reportedAfter = clock.elapsed();
            return r.done();
        }));
        // A little longer, for anything said after the report.
        QVERIFY(!runUntil(
            [&] { return r.events.size() > 0 && r.events.last() != QStringLiteral("finished"); }, 200));
        qInfo("stopProcess returned after %lld us; report after %lld ms; longest stall %lld ms",
              returnedAfter, reportedAfter, stalls.worst);

        QCOMPARE(reportsInsideStop, 0);
        QVERIFY2(returnedAfter >= 0 && returnedAfter < 50 * 1000, qPrintable(QString::number(returnedAfter)));
        // A stop that waited for these tools would hold the loop for the
        // whole grace period; the margin below it is for a busy machine.
        QVERIFY2(stalls.worst < graceMs / 2, qPrintable(QString::number(stalls.worst)));
        QCOMPARE(r.statuses, QList<int>{-1});
        QCOMPARE(r.events.count(QStringLiteral("finished")), 1);
        QVERIFY2(r.output.endsWith(last), qPrintable(r.output));
        // SIGKILL waits for the grace period; the drain bound is not reached.
        if (killed)
            QVERIFY2(reportedAfter >= graceMs - 1, qPrintable(QString::number(reportedAfter)));
        QVERIFY2(reportedAfter < 3000, qPrintable(QString::number(reportedAfter)));
        QVERIFY(processGone(runner.processId()));
        if (child > 0)
            QTRY_VERIFY_WITH_TIMEOUT(processEnded(child), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(zombieChildren(), 0, 5000);
    }

    void testToolPastTheDrainBoundIsLeftToTheReaper()
    {
        // A process stuck in the kernel cannot be made on purpose; a grace
        // period longer than the drain bound leaves a tool that ignores
        // SIGTERM running at the bound as well.
        Recorder r;
        TaskWrapper runner(
            &r, sh(QStringLiteral("trap '' TERM; echo ready; while :; do echo tick; sleep 0.02; done")));
        runner.setStopBounds(10000, 300);
        runner.startProcess();
        QVERIFY(runUntil([&] { return r.output.contains(QStringLiteral("ready")); }));
        const pid_t pid = runner.processId();
        QElapsedTimer clock;
        clock.start();
        runner.stopProcess();
        QVERIFY(r.statuses.isEmpty());
        QVERIFY(runUntil([&] { return r.done(); }));
        QVERIFY2(clock.elapsed() >= 250 && clock.elapsed() < 2000,
                 qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(r.statuses, QList<int>{-1});
        QVERIFY(r.output.endsWith(QStringLiteral("tick\n")));
        // The tool was killed and is collected without the runner, which
        // hears no more of it.
        QVERIFY(runUntil([&] { return processGone(pid); }));
        QCOMPARE(r.events.last(), QStringLiteral("finished"));
        QCOMPARE(r.events.count(QStringLiteral("finished")), 1);
        QTRY_COMPARE_WITH_TIMEOUT(zombieChildren(), 0, 5000);
    }

    void testDestroyedWithLiveToolNeverWaits()
    {
        Recorder r;
        auto *runner = new TaskWrapper(&r, sh(QString::fromLatin1(kOutlivesTerm)));
        runner->startProcess();
        const pid_t pid = runner->processId();
        QVERIFY(runUntil([&] { return r.output.contains(QStringLiteral("ready")); }));
        const pid_t child = childOf(r.output);
        QVERIFY(child > 0);
        QElapsedTimer clock;
        clock.start();
        delete runner;
        const qint64 took = clock.nsecsElapsed() / 1000;
        qInfo("destructor returned after %lld us", took);
        QVERIFY2(took < 50 * 1000, qPrintable(QString::number(took)));
        // The report is the destructor's last word; there is no later pass
        // for a runner that is gone.
        QCOMPARE(r.statuses, QList<int>{-1});
        QCOMPARE(r.events.last(), QStringLiteral("finished"));
        // SIGKILL went to the whole group, and the tool is collected.
        QVERIFY(runUntil([&] { return processGone(pid) && processEnded(child); }));
        QCOMPARE(zombieChildren(), 0);
    }

    void testReaperCollectsAtExit()
    {
        // What the application object's destructor runs: no event loop is
        // left to see the tool go, so only the reaper's own wait collects
        // it.
        Recorder r;
        auto *runner = new TaskWrapper(&r, sh(QStringLiteral("trap '' TERM; echo ready; exec sleep 30")));
        runner->startProcess();
        const pid_t pid = runner->processId();
        QVERIFY(runUntil([&] { return r.output.contains(QStringLiteral("ready")); }));
        delete runner;
        QElapsedTimer clock;
        clock.start();
        ProcessReaper::collectAll(1000);
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(processGone(pid));
        QCOMPARE(zombieChildren(), 0);
    }

    void testDeletedFromInsideItsReport_data()
    {
        QTest::addColumn<QString>("end");
        QTest::addColumn<bool>("later");
        for (const char *end : {"exits", "stopped", "past the drain bound", "stopped unstarted"})
            for (const bool later : {true, false})
                QTest::addRow("%s, %s", end, later ? "deleteLater" : "delete")
                    << QString::fromLatin1(end) << later;
    }
    void testDeletedFromInsideItsReport()
    {
        QFETCH(QString, end);
        QFETCH(bool, later);
        ReactingRecorder r;
        QPointer<TaskWrapper> runner = new TaskWrapper(
            &r, sh(end == QStringLiteral("exits")
                       ? QStringLiteral("echo ready; sleep 0.1; echo bye")
                       : QStringLiteral("trap '' TERM; echo ready; while :; do sleep 0.05; done")));
        r.onFinished = [&] {
            if (later)
                runner->deleteLater();
            else
                delete runner.data();
        };
        if (end == QStringLiteral("past the drain bound"))
            runner->setStopBounds(10000, 200);
        else
            runner->setStopBounds(200, 3000);
        pid_t pid = -1;
        if (end != QStringLiteral("stopped unstarted")) {
            runner->startProcess();
            pid = runner->processId();
            QVERIFY(runUntil([&] { return r.output.contains(QStringLiteral("ready")); }));
        }
        if (end != QStringLiteral("exits"))
            runner->stopProcess();
        QVERIFY(runUntil([&] { return runner.isNull(); }));
        QCOMPARE(r.statuses.size(), 1);
        QCOMPARE(r.events.last(), QStringLiteral("finished"));
        if (pid > 0)
            QVERIFY(runUntil([&] { return processGone(pid); }));
        QTRY_COMPARE_WITH_TIMEOUT(zombieChildren(), 0, 5000);
    }

    void testSplitUtf8ArrivesWhole()
    {
        // "é" is C3 A9 and "€" E2 82 AC; each is cut between two writes.
        Recorder r;
        TaskWrapper runner(&r,
                           sh(QStringLiteral("printf 'caf\\303'; sleep 0.2; printf '\\251\\n \\342\\202'; "
                                             "sleep 0.2; printf '\\254 \\377 end'")));
        runner.startProcess();
        QVERIFY(QTest::qWaitFor([&] { return r.done(); }, 5000));
        QCOMPARE(r.output, QStringLiteral("café\n € \uFFFD end"));
        QVERIFY(r.events.count(QStringLiteral("output")) >= 2);
    }

    void testProgressLineSplitAcrossReadsArrivesWhole()
    {
        // A pipe hands over what the tool has written so far: a progress
        // line cut between two reads reads as no progress in either half.
        // The last words, with no line end, come at the end.
        Recorder r;
        TaskWrapper runner(&r,
                           sh(QStringLiteral("printf 'x\\n 12%% 10 fr'; sleep 0.2; "
                                             "printf 'ames in 1.0 sec\\r 13'; sleep 0.2; printf '%% tail'")));
        runner.startProcess();
        QVERIFY(QTest::qWaitFor([&] { return r.done(); }, 5000));
        QCOMPARE(r.chunks, QStringList({QStringLiteral("x\n"), QStringLiteral(" 12% 10 frames in 1.0 sec\r"),
                                        QStringLiteral(" 13% tail")}));
    }

    void testUtf8TailUnit()
    {
        Utf8Tail t;
        QCOMPARE(t.decode("a\xF0\x9F", 3), QStringLiteral("a"));
        QCOMPARE(t.decode("\x98\x80", 2), QString::fromUtf8("\xF0\x9F\x98\x80"));
        QCOMPARE(t.decode("\xE2\x82", 2), QString());
        // The stream ends inside a character: it still shows, as U+FFFD.
        QVERIFY(t.flush().contains(QChar(0xFFFD)));
        QCOMPARE(t.flush(), QString());

        // A byte-order mark read at the start of a later read is text, as it
        // is when the stream is decoded at once; only the stream's own is not.
        const QByteArray stream("\xEF\xBB\xBF\xCF/\xEF\xBB\xBF!");
        Utf8Tail u;
        QString pieces;
        for (const char c : stream)
            pieces += u.decode(&c, 1);
        pieces += u.flush();
        QCOMPARE(pieces, QString::fromUtf8(stream));
        QCOMPARE(pieces, QStringLiteral("\uFFFD/\uFEFF!"));
    }

    void testMissingOrUnrunnableTool_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("reason");
        QTest::newRow("bare name, not found")
            << QStringLiteral("comskip") << QStringLiteral("comskip: No such file or directory");
        QTest::newRow("missing path") << QStringLiteral("/nonexistent/mencoder")
                                      << QStringLiteral("/nonexistent/mencoder: No such file or directory");
        QTest::newRow("not executable") << QStringLiteral("NOEXEC") << QStringLiteral("Permission denied");
    }
    void testMissingOrUnrunnableTool()
    {
        QFETCH(QString, path);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        if (path == QStringLiteral("NOEXEC")) {
            path = dir.filePath(QStringLiteral("tool"));
            writeFile(path, "#!/bin/sh\necho hi\n");
        }
        Recorder r;
        TaskWrapper runner(&r, {path, QStringLiteral("--csvout")});
        runner.startProcess();
        // Never from inside startProcess: the caller sees the end on a
        // later pass of the event loop, as with any other end.
        QCOMPARE(r.events, QStringList{QStringLiteral("started")});
        QVERIFY(QTest::qWaitFor([&] { return r.done(); }, 5000));
        QCOMPARE(r.events, (QStringList{QStringLiteral("started"), QStringLiteral("output"),
                                        QStringLiteral("finished")}));
        QCOMPARE(r.statuses, QList<int>{TaskWrapper::kLaunchFailed});
        QVERIFY(runner.launchFailed());
        QVERIFY2(r.output.contains(reason), qPrintable(r.output));
        QVERIFY(r.output.endsWith(QLatin1Char('\n')));
        runner.stopProcess();
        QCOMPARE(r.statuses.size(), 1);
    }

    void testNoZombiesNoLeakedDescriptors()
    {
        const int fdsBefore = openDescriptors();
        QList<qint64> tools;
        for (int i = 0; i < 6; ++i) {
            Recorder r;
            TaskWrapper runner(&r,
                               sh(i % 3 == 0 ? QStringLiteral("echo x") : QStringLiteral("exec sleep 30")));
            runner.setStopBounds(200, 600);
            runner.startProcess();
            tools << runner.processId();
            if (i % 3 == 0) {
                QVERIFY(QTest::qWaitFor([&] { return r.done(); }, 5000));
            } else if (i % 3 == 1) {
                runner.stopProcess();
                QVERIFY(QTest::qWaitFor([&] { return r.done(); }, 5000));
            }
            // The third kind is let go with its tool still running.
        }
        // Reaped in the background: on a machine busy with other tests that
        // has taken just over 5 s. Only these tools count: the tools the
        // earlier tests let run past their grace end in their own time.
        QTRY_COMPARE_WITH_TIMEOUT(zombieChildren(tools), 0, 15000);
        QTRY_COMPARE_WITH_TIMEOUT(openDescriptors(), fdsBefore, 15000);
    }
};

QTEST_MAIN(TestTaskWrapper)
#include "tst_taskwrapper.moc"
