// The job pipeline: detect, remove and erase, one step at a time, each
// step taken on a fresh pass of the event loop after the last tool ended.

#include "app/AppController.h"
#include "app/CheckBoxes.h"

#include "app/Diagnostics.h"
#include "progress/ProgressIndicator.h"

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <sys/stat.h>

namespace {

QString toolName(const QStringList &arguments)
{
    return arguments.isEmpty() ? QString() : QFileInfo(arguments.first()).fileName();
}

} // namespace

void AppController::beginRun(QPushButton *button, Action stopAction, bool detect, bool remove,
                             bool erase, bool automatic)
{
    // A run in progress owns the state machine; its button reads "Stop".
    if (processState != kStateIdle)
        return;
    openLogFile();
    setStatus(QString());
    if (m_detectIndicator)
        m_detectIndicator->clear();
    if (m_removeIndicator)
        m_removeIndicator->clear();
    runDetect = detect;
    runRemove = remove;
    runClean = erase;
    processState = kStateStart;
    setButton(button, QStringLiteral("Stop"), stopAction);
    if (automatic)
        setIsRunningAuto(true);
    else
        setIsRunning(true);
    runTasks();
}

void AppController::autoStart(QObject *)
{
    beginRun(mAutoActionButton, Action::AutoStop, isOn(mAutoDetect), isOn(mAutoRemove),
             isOn(mAutoClean), true);
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
    logLine(QString::asprintf("runTask: processState = %d in", processState));
    if (processState == kStateStart) {
        if (runDetect && m_haveInput) {
            processState = kStateDetecting;
            detectCommercials();
        } else {
            processState = kStateAfterDetect;
        }
    }
    if (processState == kStateAfterDetect) {
        if (runRemove && commercialsFound != 0) {
            processState = kStateRemoving;
            if (!removeCommercials())
                processState = kStateAfterRemove;
        } else {
            processState = kStateAfterRemove;
        }
    }
    if (processState == kStateAfterRemove) {
        if (runClean) {
            processState = kStateCleaning;
            clean(nullptr);
        } else {
            processState = kStateFinished;
        }
    }
    if (processState == kStateFinished) {
        autoStop(nullptr);
        m_endSound.play();
    }
    logLine(QString::asprintf("runTask: processState = %d out", processState));
}

void AppController::detectCommercials()
{
    if (mInputField)
        movieFile = mInputField->text();
    const QStringList arguments = detectArguments();
    m_activeProgressIndicator = m_detectIndicator.get();
    setHaveResults(false);
    writeIniFile();
    runWithProgressCommand(arguments);
}

bool AppController::outputIsInput() const
{
    const QString output = mOutputField ? mOutputField->text() : QString();
    if (output.isEmpty() || movieFile.isEmpty())
        return false;
    // The same file under another name (a link, a hard link, "..") counts.
    struct stat in {}, out {};
    if (::stat(QFile::encodeName(movieFile).constData(), &in) == 0
        && ::stat(QFile::encodeName(output).constData(), &out) == 0)
        return in.st_dev == out.st_dev && in.st_ino == out.st_ino;
    return QFileInfo(output).absoluteFilePath() == QFileInfo(movieFile).absoluteFilePath();
}

bool AppController::removeCommercials()
{
    if (mInputField)
        movieFile = mInputField->text();
    // Writing the copy over the recording while reading it would destroy it.
    if (outputIsInput()) {
        setStatus(QStringLiteral("The output file is the recording itself: removal skipped."));
        logLine(QStringLiteral("removeCommercials: output is the input, skipped"));
        return false;
    }
    const QStringList arguments = removeArguments();
    m_activeProgressIndicator = m_removeIndicator.get();
    runWithProgressCommand(arguments);
    return true;
}

void AppController::runWithProgressCommand(const QStringList &arguments)
{
    logLine(QStringLiteral("runWithProgressCommand: Running command: (")
            + arguments.join(QStringLiteral(", ")) + QLatin1Char(')'));
    m_runner.reset();
    m_runner = std::make_unique<TaskWrapper>(this, arguments);
    m_runner->setStopBounds(m_graceMs, m_drainMs);
    logExcerpts.clear();
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
    if (rc == -1 || rc == 0 || rc == 1)
        readEDLData();
    else if (rc == 3 || rc == 5)
        setStatus(QStringLiteral("Bad MPEG file."));
    else if (rc == 6 || rc == 7 || rc == 103)
        setStatus(QStringLiteral("Error creating output files."));
    else if (rc >= 10 && rc <= 22)
        setStatus(QStringLiteral("Error allocating memory"));
    else
        setStatus(QString::asprintf("Unexpected error %d.", rc));
}

void AppController::processFinished(int rc)
{
    logLine(QString::asprintf("processFinished: rc = %d, processState = %d", rc, processState));
    if (m_activeProgressIndicator)
        m_activeProgressIndicator->stop();
    const bool launchFailed = m_runner && m_runner->launchFailed()
                              && (processState == kStateDetecting || processState == kStateRemoving);
    if (launchFailed) {
        const QString name = toolName(m_runner->arguments());
        setStatus(QStringLiteral("Could not start %1. Is it installed?").arg(name));
    }
    if (processState == kStateDetecting) {
        if (!launchFailed)
            detectionFinished(rc);
        processState = kStateAfterDetect;
    } else if (processState == kStateRemoving) {
        if (!launchFailed && rc != -1 && rc != 0)
            setStatus(QString::asprintf("Unexpected error %d.", rc));
        processState = kStateAfterRemove;
    } else if (processState == kStateCleaning) {
        processState = kStateFinished;
    }
    QMetaObject::invokeMethod(this, &AppController::runTasks, Qt::QueuedConnection);
}

void AppController::autoStop(QObject *sender)
{
    if (processState != kStateIdle && m_runner)
        m_runner->stopProcess();
    closeLogFile();
    setIdle();
    if (sender && m_activeProgressIndicator)
        m_activeProgressIndicator->clear();
    // At the natural end of a run the status line keeps what the run found
    // ("Found 2 commercials.", "Bad MPEG file."): the frame list may be
    // gone with the work files, or was never written, and its reader's
    // complaint would hide the outcome.
    const QString outcome = mStatusField ? mStatusField->text() : QString();
    readTXTData();
    if (!sender && !outcome.isEmpty())
        setStatus(outcome);
}

void AppController::detectStop(QObject *)
{
    if (processState != kStateIdle && m_runner)
        m_runner->stopProcess();
    closeLogFile();
    if (m_detectIndicator)
        m_detectIndicator->clear();
    setIdle();
    readTXTData();
}

void AppController::removeStop(QObject *)
{
    if (processState != kStateIdle && m_runner)
        m_runner->stopProcess();
    closeLogFile();
    if (m_removeIndicator)
        m_removeIndicator->clear();
    setIdle();
}

void AppController::setIdle()
{
    processState = kStateIdle;
    setIsRunning(false);
    setIsRunningAuto(false);
    setButton(mAutoActionButton, QStringLiteral("Run"), Action::AutoStart);
    setButton(mDetectActionButton, QStringLiteral("Run"), Action::DetectStart);
    setButton(mRemoveActionButton, QStringLiteral("Run"), Action::RemoveStart);
}

void AppController::clean(QObject *sender)
{
    // Without a chosen recording there are no work files: never erase
    // names formed from nothing. The recording and the cut copy are never
    // work files, whatever they are called.
    if (!baseName.isEmpty() && !outDir.isEmpty()) {
        const QString output = mOutputField ? mOutputField->text() : QString();
        const auto keep = [&](const QString &path) {
            const QString abs = QFileInfo(path).absoluteFilePath();
            return abs == QFileInfo(movieFile).absoluteFilePath()
                   || (!output.isEmpty() && abs == QFileInfo(output).absoluteFilePath());
        };
        for (const QString &ext : QStringLiteral("csv,ini,txt,edl,log").split(QLatin1Char(','))) {
            const QString path = workFile(ext);
            if (!keep(path))
                QFile::remove(path);
        }
        QFile::remove(outDir + QLatin1Char('/') + logFileName);
    }
    if (sender)
        setStatus(QStringLiteral("Work files erased."));
    setHaveResults(false);
    setHaveCommercials(false);
    m_activeProgressIndicator = nullptr;
    processFinished(0);
}
