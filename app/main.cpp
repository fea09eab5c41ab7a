#include "app/AppController.h"
#include "app/AppWindows.h"

#include <QApplication>
#include <QFileInfo>
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
    const QStringList args = QApplication::arguments();
    if (args.size() > 1 && !args.at(1).startsWith(QLatin1Char('-')))
        controller.openRecording(QFileInfo(args.at(1)).absoluteFilePath());

    return QApplication::exec();
}
