// Run, Stop and Erase: each Run builds one request from the window's
// options and hands it to a pipeline of jobs, whose signals the window shows.

#include "app/AppController.h"

#include "core/BreakList.h"
#include "core/Diagnostics.h"
#include "jobs/EraseJob.h"
#include "jobs/Profiles.h"
#include "jobs/RecordingLock.h"
#include "jobs/RunLog.h"
#include "jobs/Trash.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

void AppController::beginRun(RunButton button, Action stopAction, bool detect, bool remove, bool erase,
                             bool automatic)
{
    // A run in progress owns the buttons; its button reads "Stop".
    if (runInProgress())
        return;
    // A recording refused when it was chosen stays refused.
    if (!m_refusal.isEmpty()) {
        setStatus(m_refusal);
        return;
    }
    // What the recording holds decides the copy's name and its cutter; a
    // Run pressed before that is known starts once it is.
    if (m_media.probing()) {
        m_pendingStart = PendingStart{button, stopAction, detect, remove, erase, automatic};
        setStatus(QStringLiteral("Reading the recording…"));
        return;
    }
    m_pendingStart.reset();
    if (!settleRun(detect, remove))
        return;
    m_request = runRequest(detect && m_haveInput, remove, erase);
    if (!m_haveInput)
        m_request.output.clear();
    if (m_pipeline)
        m_pipeline->deleteLater();
    m_pipeline = new RunPipeline(m_request, &m_media, this);
    m_pipeline->setStopBounds(m_graceMs, m_drainMs);
    m_pipeline->setPutsCopyInPlace(m_request.replace);
    connectPipeline();
    setStatus(QString());
    m_outcome.clear();
    m_stoppedByUser = false;
    emit rowCleared(Row::Detect);
    emit rowCleared(Row::Remove);
    setButton(button, stopAction);
    if (automatic)
        setIsRunningAuto(true);
    else
        setIsRunning(true);
    if (m_request.detect)
        emit breaksReplaced();
    m_pipeline->start();
}

bool AppController::settleRun(bool &detect, bool remove)
{
    // A profile gone since it was chosen would leave the defaults, unasked.
    if (detect && m_haveInput && !m_profile.isEmpty()) {
        QString why;
        if (!profiles::find(m_profile, &why)) {
            setStatus(QStringLiteral("The profile cannot be used: %1.").arg(why));
            return false;
        }
    }
    if (detect && m_haveInput) {
        if (const QString refusal = Recording(movieFile()).detectionRefusal(); !refusal.isEmpty()) {
            setStatus(refusal);
            return false;
        }
    }
    // A new detection replaces the user's corrections: asked first.
    if (detect && m_haveInput && haveEditedList()) {
        const int edits = breaks::editedCount(*m_document.list(), detectedCommercials());
        if (edits > 0
            && !confirm(QStringLiteral("Detect again and discard your %1 edit%2?")
                            .arg(edits)
                            .arg(edits == 1 ? QString() : QStringLiteral("s")))) {
            // Erasing alone would take the edits with it.
            detect = false;
            if (!remove)
                return false;
        }
    }
    // Where the copy goes is settled once, while the user is still there,
    // and every later step uses that one path; so is everything else the
    // run needs from the window.
    if (remove && m_haveInput) {
        const QString problem = outputProblem();
        if (!problem.isEmpty()) {
            setStatus(problem);
            return false;
        }
        if (m_replaceRecording && m_outputMode == RunRequest::Mode::Cut && !replaceConfirmed())
            return false;
    }
    return true;
}

bool AppController::replaceConfirmed()
{
    // Told now, not after a cut that may take an hour.
    const QString copy = settledOutput();
    if (const QString why = trash::cannotReplace(movieFile(), copy); !why.isEmpty()) {
        setStatus(QStringLiteral("Nothing was cut, as the copy could not take the recording's place: %1.")
                      .arg(why));
        return false;
    }
    const QString name = QFileInfo(movieFile()).fileName();
    if (!confirm(QStringLiteral("Once the cut copy is checked, it takes the name %1 and the recording goes "
                                "to the trash. Cut it in the recording's place?")
                     .arg(name))) {
        setStatus(QStringLiteral("The recording was left in its place: nothing was cut."));
        return false;
    }
    return true;
}

void AppController::connectPipeline()
{
    connect(m_pipeline, &RunPipeline::status, this, &AppController::setStatus);
    connect(m_pipeline, &RunPipeline::stepStarted, this, &AppController::stepStarted);
    connect(m_pipeline, &RunPipeline::progress, this, &AppController::stepProgress);
    connect(m_pipeline, &RunPipeline::stepFinished, this, [this](RunPipeline::Step, bool failed) {
        if (m_activeRow)
            emit rowFinished(*m_activeRow, failed);
    });
    connect(m_pipeline, &RunPipeline::listsChanged, this, &AppController::reloadCounts);
    connect(m_pipeline, &RunPipeline::workFilesErased, this, [this] {
        m_commercialsFound = 0;
        setHaveResults(false);
        setHaveCommercials(false);
        m_activeRow.reset();
        emit workFilesChanged();
    });
    connect(m_pipeline, &RunPipeline::finished, this, &AppController::runFinished);
}

void AppController::autoStart()
{
    beginRun(RunButton::Auto, Action::AutoStop, m_options.autoDetect, m_options.autoRemove,
             m_options.autoClean, true);
}

void AppController::detectStart()
{
    beginRun(RunButton::Detect, Action::DetectStop, true, false, false, false);
}

void AppController::removeStart()
{
    beginRun(RunButton::Remove, Action::RemoveStop, false, true, false, false);
}

void AppController::stepStarted(RunPipeline::Step step)
{
    // Erasing has no row of its own: the last step's row stays the active one.
    if (step == RunPipeline::Step::Detect) {
        m_activeRow = Row::Detect;
        setHaveResults(false);
    } else if (step == RunPipeline::Step::Cut) {
        m_activeRow = Row::Remove;
    }
}

void AppController::stepProgress(RunPipeline::Step, double percent)
{
    if (!m_activeRow)
        return;
    // A tool's start restarts its row's clock; the cutter may start twice.
    if (percent < 0)
        emit rowStarted(*m_activeRow);
    else
        emit rowProgress(*m_activeRow, percent);
}

void AppController::reloadCounts()
{
    // The count and the flags follow the lists now on disk; the status
    // line is the run's to say.
    const QString status = m_status;
    readEDLData();
    readTXTData();
    setStatus(status);
}

void AppController::runFinished()
{
    RunPipeline *run = m_pipeline;
    if (!run)
        return;
    m_outcome = run->outcome();
    if (!run->copyMade().isEmpty())
        m_confirmedOutput = run->copyMade();
    const bool stopped = run->wasStopped();
    setIdle();
    if (stopped && m_stoppedByUser && m_activeRow)
        emit rowCleared(*m_activeRow);
    // The status line keeps what the run found ("Found 2 commercials.",
    // "Bad MPEG file.", "Detection stopped."): the frame list may be gone
    // with the work files, or was never written, and its reader's
    // complaint would hide the outcome.
    readTXTData();
    endOfRunShown();
    if (!stopped) {
        m_endSound.play();
        emit runEnded(m_status);
    }
}

void AppController::stopRun()
{
    if (!m_pipeline || !m_pipeline->isRunning())
        return;
    m_stoppedByUser = true;
    // The run says it has stopped once its tool has ended; the window
    // goes on meanwhile.
    m_pipeline->stop();
}

void AppController::autoStop()
{
    stopRun();
}

void AppController::detectStop()
{
    stopRun();
}

void AppController::removeStop()
{
    stopRun();
}

void AppController::quitOnSignal(int signalNumber)
{
    logLine(QStringLiteral("quitOnSignal: %1").arg(signalNumber));
    emit quitting();
    stopForQuit();
    QCoreApplication::exit(128 + signalNumber);
}

void AppController::endOfRunShown()
{
    if (!m_outcome.isEmpty())
        setStatus(m_outcome);
    emit workFilesChanged();
}

void AppController::stopForQuit()
{
    if (!runInProgress())
        return;
    stopRun();
    // What a stop puts right (lists set aside, a partial copy) is put
    // right before the application goes, bounded as a stop is.
    QElapsedTimer waited;
    waited.start();
    while (runInProgress() && waited.elapsed() < m_drainMs + 500)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
}

void AppController::setIdle()
{
    setIsRunning(false);
    setIsRunningAuto(false);
    setButton(RunButton::Auto, Action::AutoStart);
    setButton(RunButton::Detect, Action::DetectStart);
    setButton(RunButton::Remove, Action::RemoveStart);
}

void AppController::clean()
{
    // Another Trimlet's work files are in use.
    if (const RecordingLock lock(movieFile()); lock.heldElsewhere()) {
        setStatus(lock.refusal());
        return;
    }
    setStatus(QStringLiteral("Erasing the work files…"));
    EraseJob(workFiles(), outputInUse()).start();
    RunLog::erasePartsOf(outDir(), movieFile());
    m_commercialsFound = 0;
    setStatus(QStringLiteral("Work files erased."));
    setHaveResults(false);
    setHaveCommercials(false);
    m_activeRow.reset();
    emit workFilesChanged();
    // Erasing is a step of its own, ended as a tool's is: the state it
    // leaves is looked at on the next pass of the event loop.
    logLine(QString::asprintf("processFinished: rc = %d, processState = %d", 0, int(processState())));
    QMetaObject::invokeMethod(
        this,
        [this] {
            logLine(QString::asprintf("runTask: processState = %d in", int(processState())));
            logLine(QString::asprintf("runTask: processState = %d out", int(processState())));
        },
        Qt::QueuedConnection);
}

WorkFiles AppController::workFiles() const
{
    return WorkFiles(outDir(), baseName(), {movieFile(), outputInUse()});
}

QStringList AppController::workFilesMade() const
{
    return workFiles().made();
}

bool AppController::haveWorkFiles() const
{
    return workFiles().any() || !partialCopies().isEmpty();
}

void AppController::setOutcome(const QString &text)
{
    m_outcome = text;
    setStatus(text);
}
