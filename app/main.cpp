#include "app/AppController.h"
#include "app/AppWindows.h"
#include "app/SingleInstance.h"
#include "jobs/QueueStore.h"
#include "jobs/RawNames.h"
#include "process/SignalWatcher.h"

#include <QApplication>
#include <QIcon>
#include <QMainWindow>

#include <csignal>
#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Trimlet"));
    QApplication::setDesktopFileName(QStringLiteral("org.trimlet.Trimlet"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("org.trimlet.Trimlet")));

    // The names as the bytes they are: arguments() holds them decoded,
    // where bytes that are not UTF-8 are lost (QApplication has taken its
    // own options out of argv).
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << rawnames::escaped(QByteArray(argv[i]));
    // One window a user, which alone keeps the queue: a second trimlet
    // hands its recordings to it and ends.
    SingleInstance instance;
    switch (instance.claim(AppWindows::recordingsNamed(arguments), AppWindows::sampleAskedFor(arguments))) {
    case SingleInstance::Claim::HandedOver:
        return EXIT_SUCCESS;
    case SingleInstance::Claim::NoAnswer:
        std::fprintf(stderr, "Trimlet is open already but did not answer: %s\n",
                     qPrintable(instance.error()));
        return EXIT_FAILURE;
    case SingleInstance::Claim::First:
        break;
    }

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
    windows.openFromCommandLine(arguments);
    QObject::connect(&instance, &SingleInstance::requested, &windows, &AppWindows::openHandedOver);

    return QApplication::exec();
}
