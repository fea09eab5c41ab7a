#include "app/AppController.h"

#include "chart/VideoGraph.h"
#include "core/Diagnostics.h"
#include "progress/ProgressIndicator.h"

#include <QLabel>
#include <QPushButton>

#include <cstdlib>

// The same name as the pipeline's; a copy of its value could be taken before it is set.
const QString logFileName = QStringLiteral("TrimletLog.txt");

static void initResources()
{
    // The resources live in a static library; make sure they are linked in.
    Q_INIT_RESOURCE(resources);
}

AppController::AppController(QObject *parent) : QObject(parent)
{
    initResources();
    connect(&m_media, &RecordingMedia::probed, this, &AppController::recordingProbed);
    connect(&m_media, &RecordingMedia::scanned, this, &AppController::recordingScanned);
}

AppController::~AppController()
{
    // The chart must let go of the points before they are freed, and a
    // run still under way goes with its tools.
    clearGraphData();
    delete m_pipeline.data();
    m_media.cancel();
    if (Updater::sharedUpdater()->delegate() == this)
        Updater::sharedUpdater()->setDelegate(nullptr);
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
