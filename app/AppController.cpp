#include "app/AppController.h"

#include "chart/VideoGraph.h"
#include "core/Diagnostics.h"
#include "progress/ProgressIndicator.h"

#include <QLabel>
#include <QPushButton>

#include <cstdlib>

const QString logFileName = QStringLiteral("TrimletLog.txt");

static void initResources()
{
    // The resources live in a static library; make sure they are linked in.
    Q_INIT_RESOURCE(resources);
}

AppController::AppController(QObject *parent) : QObject(parent)
{
    initResources();
    m_logExcerpts.reserve(4096);
    connect(&m_recordingProbe, &MediaProbe::finished, this, &AppController::recordingProbed);
    connect(&m_recordingScan, &PacketScan::finished, this, &AppController::recordingScanned);
    connect(&m_copyScan, &PacketScan::finished, this, &AppController::copyScanned);
}

AppController::~AppController()
{
    // The chart must let go of the matrix before it is freed, and a tool
    // still running is stopped with its runner.
    clearGraphData();
    m_runner.reset();
    m_copyScan.cancel();
    m_recordingScan.cancel();
    discardPartialCopy();
    if (Updater::sharedUpdater()->delegate() == this)
        Updater::sharedUpdater()->setDelegate(nullptr);
    std::free(m_aiVideoData);
    m_aiVideoData = nullptr;
}

void AppController::setHaveInput(bool value)
{
    if (m_haveInput == value)
        return;
    m_haveInput = value;
    emit haveInputChanged(value);
}

void AppController::setHaveResults(bool value)
{
    if (m_haveResults == value)
        return;
    m_haveResults = value;
    emit haveResultsChanged(value);
}

void AppController::setHaveCommercials(bool value)
{
    if (m_haveCommercials == value)
        return;
    m_haveCommercials = value;
    emit haveCommercialsChanged(value);
}

void AppController::setIsRunning(bool value)
{
    if (m_isRunning == value)
        return;
    m_isRunning = value;
    emit isRunningChanged(value);
}

void AppController::setIsRunningAuto(bool value)
{
    if (m_isRunningAuto == value)
        return;
    m_isRunningAuto = value;
    emit isRunningAutoChanged(value);
}

void AppController::setStopBounds(int graceMs, int drainMs)
{
    m_graceMs = graceMs;
    m_drainMs = drainMs;
}

QString AppController::workFile(const QString &extension) const
{
    return m_outDir + QLatin1Char('/') + m_baseName + QLatin1Char('.') + extension;
}

void AppController::setStatus(const QString &text)
{
    m_status = text;
    if (mStatusField)
        mStatusField->setText(text);
}

void AppController::setButton(QPushButton *button, const QString &title, Action action)
{
    if (button == mAutoActionButton)
        m_autoAction = action;
    else if (button == mDetectActionButton)
        m_detectAction = action;
    else if (button == mRemoveActionButton)
        m_removeAction = action;
    if (button)
        button->setText(title);
    emit buttonsChanged();
}

bool AppController::buttonStops(const QPushButton *button) const
{
    const Action a = buttonAction(button);
    return a == Action::AutoStop || a == Action::DetectStop || a == Action::RemoveStop;
}

AppController::Action AppController::buttonAction(const QPushButton *button) const
{
    if (button == mAutoActionButton)
        return m_autoAction;
    if (button == mDetectActionButton)
        return m_detectAction;
    return m_removeAction;
}

void AppController::performButtonAction(QPushButton *button)
{
    switch (buttonAction(button)) {
    case Action::AutoStart:
        autoStart(button);
        break;
    case Action::DetectStart:
        detectStart(button);
        break;
    case Action::RemoveStart:
        removeStart(button);
        break;
    case Action::AutoStop:
        autoStop(button);
        break;
    case Action::DetectStop:
        detectStop(button);
        break;
    case Action::RemoveStop:
        removeStop(button);
        break;
    }
}
