// The application as main() sets it up, with stand-in tools, a recording
// chosen and a run started; for the tests of what a signal to the
// application does. Prints "tool PID" once the tool runs.
//   signal_child DIR MODE    MODE: detect | remove

#include "TestSupport.h"

#include "process/SignalWatcher.h"

#include <QApplication>
#include <QMainWindow>

#include <csignal>
#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 3)
        return 2;
    Harness h;
    AppController &c = h.controller;
    c.toolLocator().setHelperDirectories({standInTools()}, false);
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const QString movie = dir + QStringLiteral("/show.mpg");
    writeFile(movie, QByteArray("recording bytes ").repeated(1000));
    if (qstrcmp(argv[2], "remove") == 0)
        writeFile(dir + QStringLiteral("/show.edl"), "60.06\t120.09\t0\n");
    chooseRecording(c, movie);
    SignalWatcher watcher({SIGINT, SIGTERM, SIGHUP});
    QObject::connect(&watcher, &SignalWatcher::received, &c, &AppController::quitOnSignal);
    h.windows.mainWindow()->show();
    if (qstrcmp(argv[2], "remove") == 0)
        c.removeStart();
    else
        c.detectStart();
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (c.runner() && c.runner()->processId() > 0) {
            std::printf("tool %d\n", int(c.runner()->processId()));
            std::fflush(stdout);
            poll.stop();
        }
    });
    poll.start();
    return QApplication::exec();
}
