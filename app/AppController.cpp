#include "app/AppController.h"

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
    if (m_status == text)
        return;
    m_status = text;
    emit statusChanged(text);
}

void AppController::setOutputText(const QString &text)
{
    if (m_outputText == text)
        return;
    m_outputText = text;
    emit outputTextChanged(text);
}

void AppController::setRecordingInfoText(const QString &text)
{
    if (m_recordingInfoText == text)
        return;
    m_recordingInfoText = text;
    emit recordingInfoTextChanged(text);
}

void AppController::setButton(RunButton button, Action action)
{
    m_actions[size_t(button)] = action;
    emit buttonsChanged();
}

bool AppController::buttonStops(RunButton button) const
{
    const Action a = buttonAction(button);
    return a == Action::AutoStop || a == Action::DetectStop || a == Action::RemoveStop;
}

QString AppController::buttonTitle(RunButton button) const
{
    return buttonStops(button) ? QStringLiteral("Stop") : QStringLiteral("Run");
}

void AppController::performButtonAction(RunButton button)
{
    switch (buttonAction(button)) {
    case Action::AutoStart:
        autoStart();
        break;
    case Action::DetectStart:
        detectStart();
        break;
    case Action::RemoveStart:
        removeStart();
        break;
    case Action::AutoStop:
        autoStop();
        break;
    case Action::DetectStop:
        detectStop();
        break;
    case Action::RemoveStop:
        removeStop();
        break;
    }
}
