#include "app/AppController.h"

#include "jobs/CutJob.h"
#include "jobs/DetectJob.h"

// The same name as the pipeline's; a copy of its value could be taken before it is set.
const QString logFileName = QStringLiteral("TrimletLog.txt");

static void initResources()
{
    // The resources live in a static library; make sure they are linked in.
    Q_INIT_RESOURCE(resources);
}

namespace {

// A flag changes through its setter only, which tells its observers.
template<typename Signal>
void setFlag(AppController *c, bool &flag, bool value, Signal changed)
{
    if (flag == value)
        return;
    flag = value;
    emit(c->*changed)(value);
}

} // namespace

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
    connect(&m_session, &RecordingSession::chosenRecordingChanged, this, &AppController::chosenRecordingChanged);
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

void AppController::setHaveInput(bool value)
{
    setFlag(this, m_haveInput, value, &AppController::haveInputChanged);
}

void AppController::setHaveResults(bool value)
{
    setFlag(this, m_haveResults, value, &AppController::haveResultsChanged);
}

void AppController::setHaveCommercials(bool value)
{
    setFlag(this, m_haveCommercials, value, &AppController::haveCommercialsChanged);
}

void AppController::setIsRunning(bool value)
{
    setFlag(this, m_isRunning, value, &AppController::isRunningChanged);
}

void AppController::setIsRunningAuto(bool value)
{
    setFlag(this, m_isRunningAuto, value, &AppController::isRunningAutoChanged);
}

void AppController::setStatusText(const QString &text)
{
    if (m_status == text)
        return;
    m_status = text;
    emit statusChanged(text);
}

void AppController::setConfirm(Confirm confirm)
{
    m_confirm = confirm;
    m_session.setConfirm(std::move(confirm));
}

void AppController::graphAction()
{
    emit chartRequested();
    makeChart();
}

QStringList AppController::detectArguments() const
{
    return DetectJob::arguments(runRequest(true, false, false));
}

QStringList AppController::removeArguments(const QString &output, const QString &cutList) const
{
    return CutJob::mencoderArguments(runRequest(false, true, false), output, cutList);
}
