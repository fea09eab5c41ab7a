#include "app/AppController.h"
#include "app/AppWindows.h"
#include "jobs/QueueStore.h"
#include "process/SignalWatcher.h"

#include <QApplication>
#include <QIcon>
#include <QMainWindow>

#include <csignal>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Trimlet"));
    QApplication::setDesktopFileName(QStringLiteral("org.trimlet.Trimlet"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("org.trimlet.Trimlet")));

    AppController controller;
    AppWindows windows(controller);
    controller.awakeFromNib();
    windows.mainWindow()->show();

    // Ctrl-C, a logout or a kill ends the tool and its partial files the
    // way a Stop does, then the application.
    SignalWatcher signalWatcher({SIGINT, SIGTERM, SIGHUP});
    QObject::connect(&signalWatcher, &SignalWatcher::received, &controller, &AppController::quitOnSignal);

    // "trimlet FILE", as a file manager's Open With does it.
    // The queue left at the last quit, then what the command line adds.
    windows.restoreQueue(queuestore::defaultPath());
    windows.openFromCommandLine(QApplication::arguments());

    return QApplication::exec();
}
