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
    forwardSignals();
    // A recording the probe refuses can be run on by nothing.
    connect(&m_session, &RecordingSession::refused, this, [this](const QString &why) {
        setHaveInput(false);
        m_run.setOutcome(why);
    });
    connect(&m_session, &RecordingSession::probeAnswered, &m_run, &RunControl::probeAnswered);
    connect(this, &AppController::breaksReplaced, m_review.undoStack(), &QUndoStack::clear);
}

AppController::~AppController()
{
    // The chart must let go of the points before they are freed; the run
    // ends with its tools as its part goes.
    m_review.clearGraphData();
    if (Updater::sharedUpdater()->delegate() == this)
        Updater::sharedUpdater()->setDelegate(nullptr);
}

void AppController::forwardSignals()
{
    connect(&m_session, &RecordingSession::chosenRecordingChanged, this,
            &AppController::chosenRecordingChanged);
    connect(&m_session, &RecordingSession::outputTextChanged, this, &AppController::outputTextChanged);
    connect(&m_session, &RecordingSession::outputModeChanged, this, &AppController::outputModeChanged);
    connect(&m_session, &RecordingSession::recordingInfoTextChanged, this,
            &AppController::recordingInfoTextChanged);
    connect(&m_review, &BreakReview::chartChanged, this, &AppController::chartChanged);
    connect(&m_review, &BreakReview::chartCleared, this, &AppController::chartCleared);
    connect(&m_review, &BreakReview::commercialsChanged, this, &AppController::commercialsChanged);
    connect(&m_review, &BreakReview::workFilesChanged, this, &AppController::workFilesChanged);
    connect(&m_run, &RunControl::buttonsChanged, this, &AppController::buttonsChanged);
    connect(&m_run, &RunControl::workFilesChanged, this, &AppController::workFilesChanged);
    connect(&m_run, &RunControl::runEnded, this, &AppController::runEnded);
    connect(&m_run, &RunControl::rowStarted, this, &AppController::rowStarted);
    connect(&m_run, &RunControl::rowProgress, this, &AppController::rowProgress);
    connect(&m_run, &RunControl::rowFinished, this, &AppController::rowFinished);
    connect(&m_run, &RunControl::rowCleared, this, &AppController::rowCleared);
    connect(&m_run, &RunControl::breaksReplaced, this, &AppController::breaksReplaced);
    connect(&m_run, &RunControl::quitting, this, &AppController::quitting);
}

void AppController::setStatusText(const QString &text)
{
    if (m_status == text)
        return;
    m_status = text;
    emit statusChanged(text);
}
