#pragma once

#include "process/Utf8Tail.h"

#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTimer>

#include <sys/types.h>

// What a runner tells its controller, always on the main thread:
// processStarted once, then appendOutput for each chunk read, in order,
// then processFinished exactly once, after every chunk. A chunk ends where
// a line does (after a newline or a carriage return); only the tool's last
// words, written without either, end otherwise.
class TaskWrapperController
{
public:
    virtual ~TaskWrapperController() = default;
    virtual void processStarted() = 0;
    virtual void appendOutput(const QString &output) = 0;
    virtual void processFinished(int status) = 0;
};

// Runs one tool as a child process with standard output and standard error
// merged into one channel.
//
// A run ends in one of these ways:
//  - the tool exits: what it wrote is delivered, then its exit status
//    (128 + signal number when a signal ended it);
//  - stopProcess: it returns at once and never waits for the tool. The
//    tool's process group gets SIGTERM, and SIGKILL once the grace period
//    is over; what the tool still writes is delivered, and when it has
//    gone the status is -1 (wasStopped() tells a stopped run). Should it
//    not go within the drain bound (a process stuck in the kernel), the
//    output read so far is delivered and -1 reported all the same, and
//    the reaper (ProcessReaper.h) collects the tool later. Either way the
//    report comes on a later pass of the event loop, never inside
//    stopProcess; the same holds for a runner stopped before it started;
//  - the tool cannot be launched: one line saying why is delivered as
//    output and the status is kLaunchFailed, on a later pass of the event
//    loop, as every other end, whether or not the runner is stopped.
// A runner destroyed before its report makes the report in its destructor
// (the output read so far and -1, or the launch failure); a tool still
// running then gets SIGKILL with its group and is left to the reaper, so
// the destructor does not wait for it either. A runner may be deleted from
// inside processFinished.
// The tool runs in a process group of its own and gets SIGKILL when the
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
    // True once stopProcess, or the destructor, has ended the run.
    bool wasStopped() const { return m_stopped; }
    pid_t processId() const;
    const QStringList &arguments() const { return m_arguments; }

    // How long a stopped tool gets before SIGKILL, and how long after
    // stopProcess its report waits for it at most.
    void setStopBounds(int graceMs, int drainMs);

private:
    void readOutput();
    void onFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void onError(QProcess::ProcessError error);
    void failLaunch(const QString &reason);
    void reportLaunchFailure();
    void flushOutput();
    void giveUpWaiting();
    void report(int status);
    void signalGroup(int sig);

    TaskWrapperController *m_controller;
    QStringList m_arguments;
    // Handed to the reaper, and null, once the runner no longer waits for it.
    QProcess *m_process;
    QTimer m_graceTimer;
    QTimer m_drainTimer;
    pid_t m_pid = -1;
    Utf8Tail m_decoder;
    // Read, but not yet ended by a newline or a carriage return.
    QString m_partialLine;
    static constexpr qsizetype kLongestLine = 64 * 1024;
    bool m_launchFailed = false;
    QString m_launchFailedReason;
    bool m_stopped = false;
    bool m_reported = false;
    int m_graceMs = 1000;
    int m_drainMs = 3000;
};
