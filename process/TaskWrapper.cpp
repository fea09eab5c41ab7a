#include "process/TaskWrapper.h"

#include "process/ChildSetup.h"
#include "process/ProcessReaper.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaObject>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <unistd.h>
#include <utility>

TaskWrapper::TaskWrapper(TaskWrapperController *controller, const QStringList &arguments, QObject *parent)
    : QObject(parent), m_controller(controller), m_arguments(arguments), m_process(new QProcess(this))
{
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    // The tool inherits the application's standard input, as it would
    // from a shell.
    m_process->setInputChannelMode(QProcess::ForwardedInputChannel);
    connect(m_process, &QProcess::readyReadStandardOutput, this, &TaskWrapper::readOutput);
    connect(m_process, &QProcess::finished, this, &TaskWrapper::onFinished);
    connect(m_process, &QProcess::errorOccurred, this, &TaskWrapper::onError);
    // The grace period is the tool's to the last millisecond; a coarse
    // timer may fire 5 % early.
    m_graceTimer.setSingleShot(true);
    m_graceTimer.setTimerType(Qt::PreciseTimer);
    m_drainTimer.setSingleShot(true);
    connect(&m_graceTimer, &QTimer::timeout, this, [this] { signalGroup(SIGKILL); });
    connect(&m_drainTimer, &QTimer::timeout, this, &TaskWrapper::giveUpWaiting);
}

TaskWrapper::~TaskWrapper()
{
    // No wait here, however the tool behaves: it is killed now and
    // collected later.
    if (m_process && m_process->state() != QProcess::NotRunning)
        signalGroup(SIGKILL);
    if (!m_reported && m_controller) {
        m_stopped = true;
        if (m_launchFailed) {
            reportLaunchFailure();
        } else {
            flushOutput();
            report(-1);
        }
    }
    // Even a process that has ended is deleted later: the runner may be
    // going from inside that process's own finished signal.
    ProcessReaper::reap(std::exchange(m_process, nullptr));
}

void TaskWrapper::setStopBounds(int graceMs, int drainMs)
{
    m_graceMs = graceMs;
    m_drainMs = drainMs;
}

pid_t TaskWrapper::processId() const
{
    return m_pid;
}

void TaskWrapper::startProcess()
{
    if (!m_controller || m_pid > 0 || m_launchFailed || m_stopped)
        return;
    m_controller->processStarted();
    if (!m_controller || m_stopped)
        return;

    // A bare name means the tool was not found; it is never looked up in
    // the working directory or on PATH here.
    const QString program = m_arguments.value(0);
    if (!program.contains(QLatin1Char('/'))) {
        failLaunch(QString::fromLocal8Bit(std::strerror(ENOENT)));
        return;
    }
    const QByteArray encoded = QFile::encodeName(program);
    if (::access(encoded.constData(), X_OK) != 0 || QFileInfo(program).isDir()) {
        failLaunch(QString::fromLocal8Bit(std::strerror(errno == 0 ? EACCES : errno)));
        return;
    }

    m_process->setProgram(program);
    m_process->setArguments(m_arguments.mid(1));
    setUpChild(*m_process, true);
    m_process->start(QIODevice::ReadOnly);
    const qint64 pid = m_process->processId();
    if (pid > 0)
        m_pid = pid_t(pid);
}

void TaskWrapper::failLaunch(const QString &reason)
{
    if (m_launchFailed || m_reported)
        return;
    m_launchFailed = true;
    m_launchFailedReason = reason;
    // Reported on a later pass of the event loop, as every other end is.
    QMetaObject::invokeMethod(this, &TaskWrapper::reportLaunchFailure, Qt::QueuedConnection);
}

void TaskWrapper::reportLaunchFailure()
{
    if (m_reported || !m_controller)
        return;
    const QString name = m_arguments.value(0).isEmpty() ? QStringLiteral("(no tool)") : m_arguments.value(0);
    m_controller->appendOutput(name + QStringLiteral(": ") + m_launchFailedReason + QLatin1Char('\n'));
    report(kLaunchFailed);
}

void TaskWrapper::onError(QProcess::ProcessError error)
{
    if (error != QProcess::FailedToStart)
        return;
    QString reason = m_process->errorString();
    // Qt says "execve: No such file or directory"; the tool's name is put
    // in front of the reason instead.
    const qsizetype colon = reason.indexOf(QStringLiteral(": "));
    if (colon >= 0)
        reason = reason.mid(colon + 2);
    failLaunch(reason);
}

void TaskWrapper::readOutput()
{
    if (!m_process)
        return;
    const QByteArray data = m_process->readAllStandardOutput();
    if (data.isEmpty() || !m_controller)
        return;
    m_partialLine += m_decoder.decode(data.constData(), data.size());
    // A pipe hands over whatever the tool has written so far, which may
    // end inside a line: a progress line cut in two is no progress line in
    // either half. Whole lines go on; the rest waits for its end, unless it
    // grows past any line a tool writes.
    qsizetype end = m_partialLine.size();
    if (m_partialLine.size() <= kLongestLine) {
        const qsizetype newline = m_partialLine.lastIndexOf(QLatin1Char('\n'));
        const qsizetype carriageReturn = m_partialLine.lastIndexOf(QLatin1Char('\r'));
        end = std::max(newline, carriageReturn) + 1;
    }
    if (end == 0)
        return;
    const QString lines = m_partialLine.left(end);
    m_partialLine.remove(0, end);
    m_controller->appendOutput(lines);
}

void TaskWrapper::flushOutput()
{
    readOutput();
    const QString rest = std::exchange(m_partialLine, QString()) + m_decoder.flush();
    if (!rest.isEmpty() && m_controller)
        m_controller->appendOutput(rest);
}

void TaskWrapper::onFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    if (m_reported)
        return;
    flushOutput();
    // Whatever the tool started and left in its group goes with it.
    signalGroup(m_stopped ? SIGKILL : SIGTERM);
    if (m_stopped)
        report(-1);
    else
        report(exitStatus == QProcess::CrashExit ? 128 + exitCode : exitCode);
}

void TaskWrapper::giveUpWaiting()
{
    if (m_reported || !m_process)
        return;
    // A tool still there at the bound is most likely stuck in the kernel
    // past SIGKILL (a hung network mount): what was read is all the
    // controller gets, and the reaper waits for the tool instead of the
    // window.
    flushOutput();
    signalGroup(SIGKILL);
    ProcessReaper::reap(std::exchange(m_process, nullptr));
    report(-1);
}

void TaskWrapper::report(int status)
{
    if (m_reported)
        return;
    m_reported = true;
    m_graceTimer.stop();
    m_drainTimer.stop();
    // Last of all: the controller may delete the runner from in there.
    if (TaskWrapperController *c = std::exchange(m_controller, nullptr))
        c->processFinished(status);
}

void TaskWrapper::signalGroup(int sig)
{
    if (m_pid <= 0)
        return;
    // The group may outlive the tool itself when it started children.
    ::kill(-m_pid, sig);
    if (m_process && m_process->state() != QProcess::NotRunning)
        ::kill(m_pid, sig);
}

void TaskWrapper::stopProcess()
{
    if (m_reported || !m_controller || m_stopped)
        return;
    m_stopped = true;
    // A launch failure is on its way already and is the report.
    if (m_launchFailed)
        return;
    if (!m_process || m_process->state() == QProcess::NotRunning) {
        QMetaObject::invokeMethod(
            this, [this] { report(-1); }, Qt::QueuedConnection);
        return;
    }
    // The report comes from onFinished once the tool has gone, or from
    // giveUpWaiting; stopping never waits here.
    signalGroup(SIGTERM);
    m_graceTimer.start(qMax(0, m_graceMs));
    m_drainTimer.start(qMax(1, m_drainMs));
}
