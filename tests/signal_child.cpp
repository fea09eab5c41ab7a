// The application as main() sets it up, with stand-in tools, a recording
// chosen and a run started; for the tests of what a signal to the
// application does. Prints "tool PID" once the tool runs.
//   signal_child DIR MODE    MODE: detect | remove | queue
// queue: DIR/show.mpg and DIR/later.mpg detected by the queue, which is
// kept in DIR/state/queue.json; show.mpg has a list of the user's beside it.

#include "TestSupport.h"

#include "app/QueuePanel.h"
#include "process/SignalWatcher.h"

#include <QApplication>
#include <QMainWindow>

#include <csignal>
#include <cstdio>
#include <unistd.h>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 3)
        return 2;
    Harness h;
    AppController &c = h.controller;
    c.toolLocator().setHelperDirectories({standInTools()}, false);
    // The removal whose tool a signal ends is the mencoder stand-in's.
    h.ui().mRemoveWithMencoder->setChecked(true);
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const QString movie = dir + QStringLiteral("/show.mpg");
    writeFile(movie, QByteArray("recording bytes ").repeated(1000));
    if (qstrcmp(argv[2], "remove") == 0)
        writeFile(dir + QStringLiteral("/show.edl"), "60.06\t120.09\t0\n");
    chooseRecording(c, movie);
    SignalWatcher watcher({SIGINT, SIGTERM, SIGHUP});
    QObject::connect(&watcher, &SignalWatcher::received, &c, &AppController::quitOnSignal);
    h.windows.mainWindow()->show();
    const bool queue = qstrcmp(argv[2], "queue") == 0;
    if (queue) {
        writeFile(dir + QStringLiteral("/show.edl"), "1.00\t2.00\t0\n");
        const QString later = dir + QStringLiteral("/later.mpg");
        writeFile(later, QByteArray("recording bytes ").repeated(1000));
        h.windows.restoreQueue(dir + QStringLiteral("/state/queue.json"));
        h.windows.openRecordings({movie, later});
        h.windows.queue().detectAll();
    } else if (qstrcmp(argv[2], "remove") == 0) {
        c.removeStart();
    } else {
        c.detectStart();
    }
    // The queue's detector: a child of this process named comskip, once it
    // has set the user's list aside.
    const auto queueTool = [&dir] {
        if (QFile::exists(dir + QStringLiteral("/show.edl")))
            return 0;
        const QByteArray self = QByteArray::number(::getpid());
        for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
            if (!stat.open(QIODevice::ReadOnly))
                continue;
            // pid (comm) state ppid ...
            const QByteArray line = stat.readAll();
            if (line.contains("(comskip) ")
                && line.mid(line.lastIndexOf(')') + 2).split(' ').value(1) == self)
                return pid.toInt();
        }
        return 0;
    };
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const int tool = queue ? queueTool() : c.runner() ? int(c.runner()->processId()) : 0;
        if (tool > 0) {
            std::printf("tool %d\n", tool);
            std::fflush(stdout);
            poll.stop();
        }
    });
    poll.start();
    return QApplication::exec();
}
