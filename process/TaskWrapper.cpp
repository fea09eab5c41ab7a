#include "process/TaskWrapper.h"

#include "process/ChildSetup.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaObject>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <unistd.h>

TaskWrapper::TaskWrapper(TaskWrapperController *controller, const QStringList &arguments, QObject *parent)
    : QObject(parent), m_controller(controller), m_arguments(arguments)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    // The tool inherits the application's standard input, as it would
    // from a shell.
    m_process.setInputChannelMode(QProcess::ForwardedInputChannel);
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &TaskWrapper::readOutput);
    connect(&m_process, &QProcess::finished, this, &TaskWrapper::onFinished);
    connect(&m_process, &QProcess::errorOccurred, this, &TaskWrapper::onError);
}

TaskWrapper::~TaskWrapper()
{
    stopProcess();
    m_process.disconnect(this);
    if (m_process.state() != QProcess::NotRunning) {
        // Past every bound of the stop: it has had SIGKILL, so this wait
        // only collects it.
        m_process.kill();
        m_process.waitForFinished(1000);
    }
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
    if (!m_controller || m_pid > 0 || m_launchFailed)
        return;
    m_controller->processStarted();
    if (!m_controller)
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

    m_process.setProgram(program);
    m_process.setArguments(m_arguments.mid(1));
    setUpChild(m_process, true);
    m_process.start(QIODevice::ReadOnly);
    const qint64 pid = m_process.processId();
    if (pid > 0)
        m_pid = pid_t(pid);
}

void TaskWrapper::failLaunch(const QString &reason)
{
    if (m_launchFailed || m_reported)
        return;
    m_launchFailed = true;
    // Reported on a later pass of the event loop, as every other end is.
    QMetaObject::invokeMethod(
        this,
        [this, reason] {
            if (m_reported || !m_controller)
                return;
            const QString name =
                m_arguments.value(0).isEmpty() ? QStringLiteral("(no tool)") : m_arguments.value(0);
            m_controller->appendOutput(name + QStringLiteral(": ") + reason + QLatin1Char('\n'));
            report(kLaunchFailed);
        },
        Qt::QueuedConnection);
    m_launchFailedReason = reason;
}

void TaskWrapper::onError(QProcess::ProcessError error)
{
    if (error != QProcess::FailedToStart)
        return;
    QString reason = m_process.errorString();
    // Qt says "execve: No such file or directory"; the tool's name is put
    // in front of the reason instead.
    const qsizetype colon = reason.indexOf(QStringLiteral(": "));
    if (colon >= 0)
        reason = reason.mid(colon + 2);
    failLaunch(reason);
}

void TaskWrapper::readOutput()
{
    const QByteArray data = m_process.readAllStandardOutput();
    if (data.isEmpty() || !m_controller)
        return;
    const QString text = m_decoder.decode(data.constData(), data.size());
    if (!text.isEmpty())
        m_controller->appendOutput(text);
}

void TaskWrapper::onFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    if (m_reported)
        return;
    readOutput();
    const QString rest = m_decoder.flush();
    if (!rest.isEmpty() && m_controller)
        m_controller->appendOutput(rest);
    // Whatever the tool started and left in its group goes with it.
    signalGroup(m_stopped ? SIGKILL : SIGTERM);
    report(exitStatus == QProcess::CrashExit ? 128 + exitCode : exitCode);
}

void TaskWrapper::report(int status)
{
    if (m_reported)
        return;
    m_reported = true;
    TaskWrapperController *c = m_controller;
    m_controller = nullptr;
    if (c)
        c->processFinished(status);
}

void TaskWrapper::signalGroup(int sig)
{
    if (m_pid <= 0)
        return;
    // The group may outlive the tool itself when it started children.
    ::kill(-m_pid, sig);
    if (m_process.state() != QProcess::NotRunning)
        ::kill(m_pid, sig);
}

void TaskWrapper::stopProcess()
{
    if (m_reported || !m_controller)
        return;
    m_stopped = true;
    if (m_launchFailed) {
        m_controller->appendOutput(m_arguments.value(0) + QStringLiteral(": ") + m_launchFailedReason
                                   + QLatin1Char('\n'));
        report(kLaunchFailed);
        return;
    }
    if (m_process.state() == QProcess::NotRunning) {
        report(-1);
        return;
    }
    // The waits below deliver the output and the end through the
    // process's own signals, so the report comes before this returns.
    signalGroup(SIGTERM);
    if (!m_process.waitForFinished(qMax(1, m_graceMs)) && !m_reported) {
        signalGroup(SIGKILL);
        m_process.waitForFinished(qMax(1, m_drainMs - m_graceMs));
    }
    if (!m_reported) {
        readOutput();
        const QString rest = m_decoder.flush();
        if (!rest.isEmpty() && m_controller)
            m_controller->appendOutput(rest);
        report(-1);
    }
}
