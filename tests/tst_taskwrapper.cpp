// The child process runner with real child processes.

#include "TestSupport.h"

#include "process/TaskWrapper.h"
#include "process/Utf8Tail.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <csignal>

namespace {

struct Recorder : TaskWrapperController
{
    QStringList events;
    QString output;
    QList<int> statuses;
    void processStarted() override { events << QStringLiteral("started"); }
    void appendOutput(const QString &chunk) override
    {
        events << QStringLiteral("output");
        output += chunk;
    }
    void processFinished(int status) override
    {
        events << QStringLiteral("finished");
        statuses << status;
    }
    bool done() const { return !statuses.isEmpty(); }
};

QStringList sh(const QString &script)
{
    return {QStringLiteral("/bin/sh"), QStringLiteral("-c"), script};
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

    void testStopWhileRunningDeliversRestThenReport()
    {
        Recorder r;
        TaskWrapper runner(
            &r, sh(QStringLiteral(
                    "trap 'echo got-term; exit 0' TERM; echo ready; while :; do sleep 0.05; done")));
        runner.startProcess();
        QVERIFY(QTest::qWaitFor([&] { return r.output.contains(QStringLiteral("ready")); }, 5000));
        runner.stopProcess();
        // The report came before stopProcess returned, after the last output.
        QCOMPARE(r.statuses.size(), 1);
        QVERIFY(r.output.contains(QStringLiteral("got-term")));
        QCOMPARE(r.events.last(), QStringLiteral("finished"));
        const int status = r.statuses.first();
        QVERIFY2(status == -1 || status == 0, qPrintable(QString::number(status)));
        runner.stopProcess();
        QCOMPARE(r.statuses.size(), 1);
    }

    void testReleaseWhileRunningTerminatesAndReports()
    {
        Recorder r;
        pid_t pid = -1;
        {
            TaskWrapper runner(&r, sh(QStringLiteral("echo up; exec sleep 30")));
            runner.startProcess();
            pid = runner.processId();
            QVERIFY(QTest::qWaitFor([&] { return r.output.contains(QStringLiteral("up")); }, 5000));
        }
        QCOMPARE(r.statuses.size(), 1);
        QVERIFY(QTest::qWaitFor([&] { return ::kill(pid, 0) != 0; }, 5000));
    }

    void testSplitUtf8ArrivesWhole()
    {
        // "é" is C3 A9 and "€" E2 82 AC; each is cut between two writes.
        Recorder r;
        TaskWrapper runner(&r, sh(QStringLiteral("printf 'caf\\303'; sleep 0.2; printf '\\251 \\342\\202'; "
                                                 "sleep 0.2; printf '\\254 \\377 end'")));
        runner.startProcess();
        QVERIFY(QTest::qWaitFor([&] { return r.done(); }, 5000));
        QCOMPARE(r.output, QStringLiteral("café € \uFFFD end"));
        QVERIFY(r.events.count(QStringLiteral("output")) >= 2);
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
    }

    void testStopIsBoundedWhenToolIgnoresTerm_data()
    {
        QTest::addColumn<QString>("script");
        QTest::newRow("ignores SIGTERM")
            << QStringLiteral("trap '' TERM; echo ready; while :; do sleep 1; done");
        QTest::newRow("child holds the pipe")
            << QStringLiteral("(trap '' TERM; sleep 30) & echo ready; wait");
        QTest::newRow("other session holds the pipe")
            << QStringLiteral("setsid sleep 3 & echo ready; exec sleep 30");
    }
    void testStopIsBoundedWhenToolIgnoresTerm()
    {
        QFETCH(QString, script);
        Recorder r;
        TaskWrapper runner(&r, sh(script));
        runner.setStopBounds(300, 900);
        runner.startProcess();
        QVERIFY(QTest::qWaitFor([&] { return r.output.contains(QStringLiteral("ready")); }, 5000));
        QElapsedTimer clock;
        clock.start();
        runner.stopProcess();
        QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(r.statuses.size(), 1);
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
        for (int i = 0; i < 5; ++i) {
            Recorder r;
            TaskWrapper runner(&r, sh(i % 2 ? QStringLiteral("echo x") : QStringLiteral("exec sleep 30")));
            runner.setStopBounds(200, 600);
            runner.startProcess();
            if (i % 2)
                QVERIFY(QTest::qWaitFor([&] { return r.done(); }, 5000));
            else
                runner.stopProcess();
        }
        QTRY_COMPARE_WITH_TIMEOUT(zombieChildren(), 0, 5000);
        QCOMPARE(openDescriptors(), fdsBefore);
    }
};

QTEST_MAIN(TestTaskWrapper)
#include "tst_taskwrapper.moc"
