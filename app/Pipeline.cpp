// Run, Stop and Erase: each Run builds one request from the window's
// options and hands it to a pipeline of jobs, whose signals the window shows.

#include "app/RunControl.h"

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

void RunControl::beginRun(RunButton button, Action stopAction, bool detect, bool remove, bool erase,
                          bool automatic)
{
    // A run in progress owns the buttons; its button reads "Stop".
    if (runInProgress())
        return;
    // A recording refused when it was chosen stays refused.
    if (const QString &refusal = m_c.session().refusal(); !refusal.isEmpty()) {
        setStatus(refusal);
        return;
    }
    // What the recording holds decides the copy's name and its cutter; a
    // Run pressed before that is known starts once it is.
    if (m_c.session().media().probing()) {
        m_pendingStart = PendingStart{button, stopAction, detect, remove, erase, automatic};
        setStatus(QStringLiteral("Reading the recording…"));
        return;
    }
    m_pendingStart.reset();
    if (!settleRun(detect, remove))
        return;
    m_request = m_c.runRequest(detect && m_c.haveInput(), remove, erase);
    if (!m_c.haveInput())
        m_request.output.clear();
    if (m_pipeline)
        m_pipeline->deleteLater();
    m_pipeline = new RunPipeline(m_request, &m_c.session().media(), this);
    m_c.session().setRun(m_pipeline);
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
        m_c.setIsRunningAuto(true);
    else
        m_c.setIsRunning(true);
    if (m_request.detect)
        emit breaksReplaced();
    m_pipeline->start();
}

bool RunControl::settleRun(bool &detect, bool remove)
{
    // A profile gone since it was chosen would leave the defaults, unasked.
    const bool haveInput = m_c.haveInput();
    if (detect && haveInput && !m_c.profile().isEmpty()) {
        QString why;
        if (!profiles::find(m_c.profile(), &why)) {
            setStatus(QStringLiteral("The profile cannot be used: %1.").arg(why));
            return false;
        }
    }
    if (detect && haveInput) {
        if (const QString refusal = Recording(m_c.movieFile()).detectionRefusal(); !refusal.isEmpty()) {
            setStatus(refusal);
            return false;
        }
    }
    // A new detection replaces the user's corrections: asked first.
    if (detect && haveInput && m_c.haveEditedList()) {
        const int edits = breaks::editedCount(*m_c.commercials(), m_c.detectedCommercials());
        if (edits > 0
            && !m_c.confirm(QStringLiteral("Detect again and discard your %1 edit%2?")
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
    if (remove && haveInput) {
        const QString problem = m_c.outputProblem();
        if (!problem.isEmpty()) {
            setStatus(problem);
            return false;
        }
        if (m_c.replacesRecording() && m_c.outputMode() == RunRequest::Mode::Cut && !replaceConfirmed())
            return false;
    }
    return true;
}

bool RunControl::replaceConfirmed()
{
    // Told now, not after a cut that may take an hour.
    const QString copy = m_c.settledOutput();
    if (const QString why = trash::cannotReplace(m_c.movieFile(), copy); !why.isEmpty()) {
        setStatus(QStringLiteral("Nothing was cut, as the copy could not take the recording's place: %1.")
                      .arg(why));
        return false;
    }
    const QString name = QFileInfo(m_c.movieFile()).fileName();
    if (!m_c.confirm(
            QStringLiteral("Once the cut copy is checked, it takes the name %1 and the recording goes "
                           "to the trash. Cut it in the recording's place?")
                .arg(name))) {
        setStatus(QStringLiteral("The recording was left in its place: nothing was cut."));
        return false;
    }
    return true;
}

void RunControl::connectPipeline()
{
    connect(m_pipeline, &RunPipeline::status, this, &RunControl::setStatus);
    connect(m_pipeline, &RunPipeline::stepStarted, this, &RunControl::stepStarted);
    connect(m_pipeline, &RunPipeline::progress, this, &RunControl::stepProgress);
    connect(m_pipeline, &RunPipeline::stepFinished, this, [this](RunPipeline::Step, bool failed) {
        if (m_activeRow)
            emit rowFinished(*m_activeRow, failed);
    });
    connect(m_pipeline, &RunPipeline::listsChanged, this, [this] { m_c.review().reloadCounts(); });
    connect(m_pipeline, &RunPipeline::workFilesErased, this, [this] {
        m_c.review().forgetCount();
        m_c.setHaveResults(false);
        m_c.setHaveCommercials(false);
        m_activeRow.reset();
        emit workFilesChanged();
    });
    connect(m_pipeline, &RunPipeline::finished, this, &RunControl::runFinished);
}

void RunControl::autoStart()
{
    const RunOptions &o = m_c.runOptions();
    beginRun(RunButton::Auto, Action::AutoStop, o.autoDetect, o.autoRemove, o.autoClean, true);
}

void RunControl::detectStart()
{
    beginRun(RunButton::Detect, Action::DetectStop, true, false, false, false);
}

void RunControl::removeStart()
{
    beginRun(RunButton::Remove, Action::RemoveStop, false, true, false, false);
}

void RunControl::stepStarted(RunPipeline::Step step)
{
    // Erasing has no row of its own: the last step's row stays the active one.
    if (step == RunPipeline::Step::Detect) {
        m_activeRow = Row::Detect;
        m_c.setHaveResults(false);
    } else if (step == RunPipeline::Step::Cut) {
        m_activeRow = Row::Remove;
    }
}

void RunControl::stepProgress(RunPipeline::Step, double percent)
{
    if (!m_activeRow)
        return;
    // A tool's start restarts its row's clock; the cutter may start twice.
    if (percent < 0)
        emit rowStarted(*m_activeRow);
    else
        emit rowProgress(*m_activeRow, percent);
}

void RunControl::runFinished()
{
    RunPipeline *run = m_pipeline;
    if (!run)
        return;
    m_outcome = run->outcome();
    QString copy = run->copyMade();
    if (m_c.session().underStandIn()) {
        // Ran under a stand-in: what it made takes the recording's names.
        QString why;
        m_outcome = m_c.session().shownText(m_outcome);
        copy = m_c.session().carryOut(copy, true, &why);
        m_outcome += why;
        m_c.setRecording(m_c.session().movieFile());
    }
    if (!copy.isEmpty())
        m_c.session().setConfirmedOutput(copy);
    const bool stopped = run->wasStopped();
    setIdle();
    if (stopped && m_stoppedByUser && m_activeRow)
        emit rowCleared(*m_activeRow);
    // The status line keeps what the run found ("Found 2 commercials.",
    // "Bad MPEG file.", "Detection stopped."): the frame list may be gone
    // with the work files, or was never written, and its reader's
    // complaint would hide the outcome.
    m_c.readTXTData();
    endOfRunShown();
    if (!stopped) {
        m_endSound.play();
        emit runEnded(m_c.status());
    }
}

void RunControl::stopRun()
{
    if (!m_pipeline || !m_pipeline->isRunning())
        return;
    m_stoppedByUser = true;
    // The run says it has stopped once its tool has ended; the window
    // goes on meanwhile.
    m_pipeline->stop();
}

void RunControl::quitOnSignal(int signalNumber)
{
    logLine(QStringLiteral("quitOnSignal: %1").arg(signalNumber));
    emit quitting();
    stopForQuit();
    QCoreApplication::exit(128 + signalNumber);
}

void RunControl::endOfRunShown()
{
    if (!m_outcome.isEmpty())
        setStatus(m_outcome);
    emit workFilesChanged();
}

void RunControl::stopForQuit()
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

void RunControl::setIdle()
{
    m_c.setIsRunning(false);
    m_c.setIsRunningAuto(false);
    setButton(RunButton::Auto, Action::AutoStart);
    setButton(RunButton::Detect, Action::DetectStart);
    setButton(RunButton::Remove, Action::RemoveStart);
}

void RunControl::clean()
{
    // Another Trimlet's work files are in use.
    if (const RecordingLock lock(m_c.movieFile()); lock.heldElsewhere()) {
        setStatus(lock.refusal());
        return;
    }
    setStatus(QStringLiteral("Erasing the work files…"));
    EraseJob(m_c.session().workFiles(), m_c.outputInUse()).start();
    RunLog::erasePartsOf(m_c.outDir(), m_c.movieFile());
    // Under a stand-in: erased under the recording's own names now, not
    // once another recording is chosen.
    if (m_c.session().underStandIn()) {
        QString why;
        m_c.session().carryOut(QString(), true, &why);
        m_c.setRecording(m_c.session().movieFile());
    }
    m_c.review().forgetCount();
    setStatus(QStringLiteral("Work files erased."));
    m_c.setHaveResults(false);
    m_c.setHaveCommercials(false);
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

void RunControl::setOutcome(const QString &text)
{
    m_outcome = text;
    setStatus(text);
}
