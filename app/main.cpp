#include "app/AppController.h"
#include "app/AppWindows.h"

#include <QApplication>
#include <QIcon>
#include <QMainWindow>

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

    // "trimlet FILE", as a file manager's Open With does it.
    windows.openFromCommandLine(QApplication::arguments());

    return QApplication::exec();
}
