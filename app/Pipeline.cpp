// The job pipeline: detect, remove and erase, one step at a time, each
// step taken on a fresh pass of the event loop after the last tool ended.

#include "app/AppController.h"
#include "app/CheckBoxes.h"

#include "core/BreakList.h"
#include "core/Diagnostics.h"
#include "progress/ProgressIndicator.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStorageInfo>

#include <algorithm>

namespace {

QString toolName(const QStringList &arguments)
{
    return arguments.isEmpty() ? QString() : QFileInfo(arguments.first()).fileName();
}

} // namespace

void AppController::beginRun(QPushButton *button, Action stopAction, bool detect, bool remove, bool erase,
                             bool automatic)
{
    // A run in progress owns the state machine; its button reads "Stop".
    if (m_processState != kStateIdle)
        return;
    // A recording refused when it was chosen stays refused.
    if (!m_refusal.isEmpty()) {
        setStatus(m_refusal);
        return;
    }
    // What the recording holds decides the copy's name and its cutter; a
    // Run pressed before that is known starts once it is.
    if (m_recordingProbe.isRunning()) {
        m_pendingStart = PendingStart{button, stopAction, detect, remove, erase, automatic};
        setStatus(QStringLiteral("Reading the recording…"));
        return;
    }
    m_pendingStart.reset();
    // comskip writes its results under the recording's own name with its
    // own extensions: a recording called "show.txt" would be overwritten.
    static const QStringList kWorkExtensions{QStringLiteral("txt"), QStringLiteral("edl"),
                                             QStringLiteral("csv"), QStringLiteral("log"),
                                             QStringLiteral("ini")};
    if (detect && m_haveInput && kWorkExtensions.contains(QFileInfo(m_movieFile).suffix())) {
        setStatus(QStringLiteral("%1 cannot be detected: comskip would write its results over it.")
                      .arg(QFileInfo(m_movieFile).fileName()));
        return;
    }
    // A new detection replaces the user's corrections: asked first.
    if (detect && m_haveInput && haveEditedList() && m_commercials) {
        const int edits = breaks::editedCount(*m_commercials, detectedCommercials());
        if (edits > 0
            && !confirm(QStringLiteral("Detect again and discard your %1 edit%2?")
                            .arg(edits)
                            .arg(edits == 1 ? QString() : QStringLiteral("s")))) {
            // Erasing alone would take the edits with it.
            detect = false;
            if (!remove)
                return;
        }
    }
    // Where the copy goes is settled once, while the user is still there,
    // and every later step uses that one path; so is everything else the
    // run needs from the window.
    m_runOutput.clear();
    if (remove && m_haveInput) {
        m_runOutput = settledOutput();
        const QString problem = outputProblem();
        if (!problem.isEmpty()) {
            m_runOutput.clear();
            setStatus(problem);
            return;
        }
    }
    m_request = requestFromWindow(detect, remove, erase);
    m_request.output = m_runOutput;
    openLogFile();
    setStatus(QString());
    m_outcome.clear();
    m_cutNote.clear();
    m_runFailed = false;
    if (m_detectIndicator)
        m_detectIndicator->clear();
    if (m_removeIndicator)
        m_removeIndicator->clear();
    m_runDetect = detect;
    m_runRemove = remove;
    m_runClean = erase;
    m_processState = kStateStart;
    setButton(button, QStringLiteral("Stop"), stopAction);
    if (automatic)
        setIsRunningAuto(true);
    else
        setIsRunning(true);
    runTasks();
}

void AppController::autoStart(QObject *)
{
    beginRun(mAutoActionButton, Action::AutoStop, isOn(mAutoDetect), isOn(mAutoRemove), isOn(mAutoClean),
             true);
}

void AppController::detectStart(QObject *)
{
    beginRun(mDetectActionButton, Action::DetectStop, true, false, false, false);
}

void AppController::removeStart(QObject *)
{
    beginRun(mRemoveActionButton, Action::RemoveStop, false, true, false, false);
}

void AppController::runTasks()
{
    logLine(QString::asprintf("runTask: processState = %d in", m_processState));
    // Which cutter, and whether there is video at all, is known once the
    // recording's probe has answered; its answer resumes the run.
    if (m_processState == kStateStart && m_recordingProbe.isRunning()) {
        logLine(QString::asprintf("runTask: processState = %d out", m_processState));
        return;
    }
    if (m_processState == kStateStart) {
        if (m_runDetect && m_haveInput) {
            m_processState = kStateDetecting;
            detectCommercials();
        } else {
            m_processState = kStateAfterDetect;
        }
    }
    // The cut list is placed on the recording's own clock, which the pass
    // over it reads: a cut waits for it, and for one more try if it failed.
    if (m_processState == kStateAfterDetect && m_runRemove && m_commercialsFound != 0 && m_recordingInfo
        && m_recordingInfo->hasVideo) {
        if (!m_recordingScan.isRunning() && !m_recordingScan.done() && !m_scanRetried) {
            m_scanRetried = true;
            m_recordingScan.start(m_toolLocator.pathForAuxiliaryExecutable(QStringLiteral("ffprobe")),
                                  m_movieFile);
        }
        if (m_recordingScan.isRunning()) {
            setStatus(QStringLiteral("Reading the recording…"));
            logLine(QString::asprintf("runTask: processState = %d out", m_processState));
            return;
        }
    }
    if (m_processState == kStateAfterDetect) {
        if (m_runRemove && m_commercialsFound != 0) {
            m_processState = kStateRemoving;
            if (!removeCommercials())
                m_processState = kStateAfterRemove;
        } else {
            // A copy the user asked for and will not get is explained.
            if (m_runRemove && !m_runFailed) {
                if (!QFileInfo::exists(workFile(QStringLiteral("edl"))))
                    setOutcome(withOutcome(QStringLiteral("No cut list yet: detect the commercials first.")));
                else
                    setOutcome(QStringLiteral("Found 0 commercials: nothing to cut."));
            }
            m_processState = kStateAfterRemove;
        }
    }
    if (m_processState == kStateAfterRemove) {
        if (m_runClean) {
            m_processState = kStateCleaning;
            clean(nullptr);
        } else {
            m_processState = kStateFinished;
        }
    }
    if (m_processState == kStateFinished) {
        autoStop(nullptr);
        m_endSound.play();
        emit runEnded(m_status);
    }
    logLine(QString::asprintf("runTask: processState = %d out", m_processState));
}

void AppController::detectCommercials()
{
    const QStringList arguments = detectArguments();
    m_activeProgressIndicator = m_detectIndicator.get();
    setHaveResults(false);
    writeIniFile(m_request.detectorSettings);
    setAsideListFiles();
    setStatus(QStringLiteral("Detecting commercials…"));
    runWithProgressCommand(arguments);
}

bool AppController::outputIsInput() const
{
    const QString output = outputInUse();
    if (output.isEmpty() || m_movieFile.isEmpty())
        return false;
    // The same file under another name (a link, a hard link, "./") counts.
    return sameFile(m_movieFile, output)
           || QFileInfo(output).absoluteFilePath() == QFileInfo(m_movieFile).absoluteFilePath();
}

bool AppController::removeCommercials()
{
    // Writing the copy over the recording while reading it would destroy
    // it; the run was refused for it at its start, and still is.
    if (outputIsInput()) {
        m_runFailed = true;
        setOutcome(QStringLiteral("The output file is the recording itself: choose another name."));
        return false;
    }
    // Without its cut list a cutter copies the whole recording and says
    // nothing of it.
    const QString edlPath = workFile(QStringLiteral("edl"));
    if (!QFileInfo::exists(edlPath)) {
        setOutcome(withOutcome(QStringLiteral("No cut list yet: detect the commercials first.")));
        return false;
    }
    if (!m_recordingInfo || !m_recordingInfo->hasVideo) {
        m_runFailed = true;
        setOutcome(
            m_recordingInfo
                ? QStringLiteral("%1 holds no video that can be read.").arg(QFileInfo(m_movieFile).fileName())
                : QStringLiteral("Could not start ffprobe. Is ffmpeg installed?"));
        return false;
    }
    bool opened = false;
    const QByteArray edl = readWorkFile(QStringLiteral("edl"), &opened);
    const std::optional<QList<media::Span>> cuts = opened ? media::parseEdlCuts(edl) : std::nullopt;
    // The cut list's times are places on the recording's own clock, which
    // runs on through a dropout or a jump; its end is where the last frame
    // lies. Until the recording has been read through, the detector's own
    // count of the frames stands in.
    double seconds = 0;
    if (m_recordingScan.done() && !m_recordingScan.packets().empty()) {
        seconds = media::clockSeconds(m_recordingScan.packets(), m_recordingInfo->videoStart);
    } else {
        const results::FrameList counted = results::parseFrameList(readWorkFile(QStringLiteral("txt")));
        seconds = media::recordingSeconds(*m_recordingInfo, counted.totalRows, counted.fps);
    }
    m_recordingSeconds = seconds;
    m_cuts = cuts ? media::normalisedCuts(*cuts, seconds) : QList<media::Span>();
    if (m_cuts.isEmpty()) {
        setOutcome(cuts ? QStringLiteral("Found 0 commercials: nothing to cut.")
                        : QStringLiteral("The cut list cannot be read: detect the commercials again."));
        return false;
    }
    const QList<media::Span> kept = media::keptSpans(m_cuts, seconds);
    if (kept.isEmpty()) {
        setOutcome(withOutcome(
            QStringLiteral("The cut list leaves nothing of the recording to keep: no copy was made.")));
        return false;
    }
    m_keptSeconds = media::totalLength(kept);
    m_cutOutput = outputInUse();
    m_cutNote.clear();
    // A copy that cannot fit is refused before the disk is filled.
    const QStorageInfo disk(QFileInfo(m_cutOutput).absolutePath());
    const qint64 needed =
        qint64(double(QFileInfo(m_movieFile).size()) * std::min(1.0, m_keptSeconds / seconds) * 1.02);
    if (disk.isValid() && disk.bytesAvailable() < needed) {
        m_runFailed = true;
        const QLocale locale;
        setOutcome(
            withOutcome(QStringLiteral("There is not enough space for the cut copy in %1: it needs "
                                       "about %2, and %3 are free.")
                            .arg(QDir::toNativeSeparators(QFileInfo(m_cutOutput).absolutePath()),
                                 locale.formattedDataSize(needed, 1, QLocale::DataSizeTraditionalFormat),
                                 locale.formattedDataSize(disk.bytesAvailable(), 1,
                                                          QLocale::DataSizeTraditionalFormat))));
        return false;
    }
    removeStaleCopies();
    const media::Cutter cutter = media::cutterFor(*m_recordingInfo);
    m_container = media::containerFor(*m_recordingInfo, cutter);
    return startCut(cutter);
}

void AppController::runWithProgressCommand(const QStringList &arguments)
{
    logLine(QStringLiteral("runWithProgressCommand: Running command: (")
            + arguments.join(QStringLiteral(", ")) + QLatin1Char(')'));
    m_runner.reset();
    m_runner = std::make_unique<TaskWrapper>(this, arguments);
    m_runner->setStopBounds(m_graceMs, m_drainMs);
    m_logExcerpts.clear();
    if (m_activeProgressIndicator)
        m_activeProgressIndicator->clear();
    m_runner->startProcess();
}

void AppController::processStarted()
{
    logLine(QStringLiteral("processStarted: == Starting new process =="));
    if (m_activeProgressIndicator)
        m_activeProgressIndicator->start();
}

void AppController::detectionFinished(int rc)
{
    const bool success = rc == -1 || rc == 0 || rc == 1;
    settleListFiles(success);
    if (success) {
        readEDLData();
        m_outcome = m_status;
        return;
    }
    m_runFailed = true;
    if (rc == 3 || rc == 5)
        setOutcome(QStringLiteral("Bad MPEG file."));
    else if (rc == 6 || rc == 7 || rc == 103)
        setOutcome(QStringLiteral("Error creating output files."));
    else if (rc >= 10 && rc <= 22)
        setOutcome(QStringLiteral("Error allocating memory"));
    else if (rc == 255)
        // What comskip says of a file it cannot make sense of: no line, 255.
        setOutcome(QStringLiteral("comskip could not read this recording."));
    else
        setOutcome(QString::asprintf("Unexpected error %d.", rc));
}

WorkFiles AppController::workFiles() const
{
    return WorkFiles(m_outDir, m_baseName, {m_movieFile, outputInUse()});
}

void AppController::setAsideListFiles()
{
    m_setAside = workFiles().setAsideLists();
}

void AppController::settleListFiles(bool detected)
{
    workFiles().settle(m_setAside, detected);
    m_setAside.clear();
    if (!detected)
        reloadCounts();
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

void AppController::processFinished(int rc)
{
    logLine(QString::asprintf("processFinished: rc = %d, processState = %d", rc, m_processState));
    if (m_activeProgressIndicator)
        m_activeProgressIndicator->stop();
    const bool failedBefore = m_runFailed;
    ProgressIndicator *row = m_activeProgressIndicator;
    if (m_processState == kStateDetecting) {
        if (m_runner && m_runner->wasStopped()) {
            settleListFiles(false);
            setOutcome(QStringLiteral("Detection stopped."));
        } else if (m_runner && m_runner->launchFailed()) {
            settleListFiles(false);
            m_runFailed = true;
            setOutcome(
                QStringLiteral("Could not start %1. Is it installed?").arg(toolName(m_runner->arguments())));
        } else {
            detectionFinished(rc);
        }
        m_processState = kStateAfterDetect;
    } else if (m_processState == kStateRemoving) {
        if (cutFinished(rc))
            m_processState = kStateAfterRemove;
    } else if (m_processState == kStateCleaning) {
        m_processState = kStateFinished;
    }
    if (row && !failedBefore && m_runFailed)
        row->fail();
    QMetaObject::invokeMethod(this, &AppController::runTasks, Qt::QueuedConnection);
}

void AppController::stopRun()
{
    if (m_processState == kStateIdle)
        return;
    const qint32 before = m_processState;
    // The tool's last output reaches the run log and its end is handled
    // as the step's before this returns.
    if (m_runner)
        m_runner->stopProcess();
    if (m_processState == kStateRemoving)
        cancelRemoval();
    if (before == kStateStart || before == kStateAfterDetect || before == kStateAfterRemove)
        setOutcome(withOutcome(QStringLiteral("Run stopped.")));
}

void AppController::autoStop(QObject *sender)
{
    const bool stopping = sender && m_processState != kStateIdle;
    stopRun();
    // A stopped run leaves no more behind than a finished one would.
    if (stopping && m_runClean)
        eraseWorkFiles();
    closeLogFile();
    setIdle();
    if (sender && m_activeProgressIndicator)
        m_activeProgressIndicator->clear();
    // The status line keeps what the run found ("Found 2 commercials.",
    // "Bad MPEG file.", "Detection stopped."): the frame list may be gone
    // with the work files, or was never written, and its reader's
    // complaint would hide the outcome.
    readTXTData();
    endOfRunShown();
}

void AppController::detectStop(QObject *)
{
    stopRun();
    closeLogFile();
    if (m_detectIndicator)
        m_detectIndicator->clear();
    setIdle();
    readTXTData();
    endOfRunShown();
}

void AppController::removeStop(QObject *)
{
    stopRun();
    closeLogFile();
    if (m_removeIndicator)
        m_removeIndicator->clear();
    setIdle();
    endOfRunShown();
}

void AppController::quitOnSignal(int signalNumber)
{
    logLine(QStringLiteral("quitOnSignal: %1").arg(signalNumber));
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
    if (m_processState == kStateIdle)
        return;
    if (m_isRunningAuto)
        autoStop(mAutoActionButton);
    else if (m_detectAction == Action::DetectStop)
        detectStop(mDetectActionButton);
    else
        removeStop(mRemoveActionButton);
}

void AppController::setIdle()
{
    m_processState = kStateIdle;
    m_runOutput.clear();
    setIsRunning(false);
    setIsRunningAuto(false);
    setButton(mAutoActionButton, QStringLiteral("Run"), Action::AutoStart);
    setButton(mDetectActionButton, QStringLiteral("Run"), Action::DetectStart);
    setButton(mRemoveActionButton, QStringLiteral("Run"), Action::RemoveStart);
}

void AppController::clean(QObject *sender)
{
    setStatus(QStringLiteral("Erasing the work files…"));
    eraseWorkFiles();
    m_commercialsFound = 0;
    if (sender)
        setStatus(QStringLiteral("Work files erased."));
    else if (!m_outcome.isEmpty())
        setStatus(m_outcome);
    setHaveResults(false);
    setHaveCommercials(false);
    m_activeProgressIndicator = nullptr;
    emit workFilesChanged();
    processFinished(0);
}

QStringList AppController::workFilesMade() const
{
    return workFiles().made();
}

void AppController::recordWorkFiles(const QStringList &names)
{
    workFiles().record(names);
}

bool AppController::haveWorkFiles() const
{
    return workFiles().any() || !partialCopies().isEmpty();
}

void AppController::eraseWorkFiles()
{
    removeStaleCopies();
    workFiles().erase();
}

void AppController::setOutcome(const QString &text)
{
    m_outcome = text;
    setStatus(text);
}

QString AppController::withOutcome(const QString &text) const
{
    return m_outcome.isEmpty() ? text : m_outcome + QLatin1Char(' ') + text;
}
