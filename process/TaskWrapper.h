#pragma once

#include "process/Utf8Tail.h"

#include <QObject>
#include <QProcess>
#include <QStringList>

#include <sys/types.h>

// What a runner tells its controller, always on the main thread:
// processStarted once, then appendOutput for each chunk read, in order,
// then processFinished exactly once, after every chunk.
class TaskWrapperController
{
public:
    virtual ~TaskWrapperController() = default;
    virtual void processStarted() = 0;
    virtual void appendOutput(const QString &output) = 0;
    virtual void processFinished(int status) = 0;
};

// Runs one tool as a child process with standard output and standard error
// merged into one channel. The runner owns its QProcess.
//
// A run ends in one of these ways:
//  - the tool exits: what it wrote is delivered, then its exit status
//    (128 + signal number when a signal ended it);
//  - stopProcess: the tool's process group gets SIGTERM, what it still
//    writes is delivered, SIGKILL follows after a grace period, and the
//    wait gives up after a bound so that no tool can hold the window; the
//    report comes before stopProcess returns;
//  - the tool cannot be launched: one line saying why is delivered as
//    output and the status is kLaunchFailed, on a later pass of the event
//    loop, as every other end.
// The tool runs in a process group of its own and gets SIGTERM when the
// application dies, so it never outlives Trimlet.
class TaskWrapper : public QObject
{
    Q_OBJECT
public:
    static constexpr int kLaunchFailed = 127;

    TaskWrapper(TaskWrapperController *controller, const QStringList &arguments, QObject *parent = nullptr);
    ~TaskWrapper() override;

    void startProcess();
    void stopProcess();

    bool launchFailed() const { return m_launchFailed; }
    // True once stopProcess has ended the run.
    bool wasStopped() const { return m_stopped; }
    pid_t processId() const;
    const QStringList &arguments() const { return m_arguments; }

    // How long a stopped tool gets before SIGKILL, and how long the stop
    // may take in all.
    void setStopBounds(int graceMs, int drainMs);

private:
    void readOutput();
    void onFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void onError(QProcess::ProcessError error);
    void failLaunch(const QString &reason);
    void report(int status);
    void signalGroup(int sig);

    TaskWrapperController *m_controller;
    QStringList m_arguments;
    QProcess m_process;
    pid_t m_pid = -1;
    Utf8Tail m_decoder;
    bool m_launchFailed = false;
    QString m_launchFailedReason;
    bool m_stopped = false;
    bool m_reported = false;
    int m_graceMs = 1000;
    int m_drainMs = 3000;
};
