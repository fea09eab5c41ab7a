// The two windows together, and what reaches them from outside.

#include "app/AppWindows.h"

#include "app/QueuePanel.h"
#include "ui_MainWindow.h"

#include <QAction>

AppWindows::AppWindows(AppController &controller, QObject *parent)
    : QObject(parent),
      m_controller(controller),
      m_chart(std::make_unique<ChartWindow>(controller)),
      m_main(std::make_unique<MainWindow>(controller, m_chart.get()))
{ }

AppWindows::~AppWindows()
{
    // As the main window closes it: the chart window goes first.
    m_chart.reset();
    m_main.reset();
}

void AppWindows::restoreQueue(const QString &path)
{
    m_main->queue().restoreFrom(path);
}

QStringList AppWindows::recordingsNamed(const QStringList &arguments)
{
    if (sampleAskedFor(arguments) || arguments.size() < 2 || arguments.at(1).startsWith(QLatin1Char('-')))
        return {};
    return arguments.mid(1);
}

bool AppWindows::sampleAskedFor(const QStringList &arguments)
{
    return arguments.mid(1).contains(QStringLiteral("--sample"));
}

void AppWindows::openFromCommandLine(const QStringList &arguments)
{
    if (sampleAskedFor(arguments))
        m_main->ui().mTrySampleAction->trigger();
    else
        openRecordings(recordingsNamed(arguments));
}

void AppWindows::openHandedOver(const QStringList &paths, bool sample)
{
    m_main->show();
    m_main->raise();
    m_main->activateWindow();
    if (sample) {
        if (m_main->ui().mTrySampleAction->isEnabled())
            m_main->ui().mTrySampleAction->trigger();
    } else if (m_controller.runInProgress()) {
        m_main->queue().addRecordings(paths);
    } else {
        openRecordings(paths);
    }
}
