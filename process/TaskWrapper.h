#pragma once

#include "process/Utf8Tail.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <sys/types.h>

class QSocketNotifier;
class QTimer;

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
// merged into one pipe. The run ends with the end of data on that pipe, not
// with the exit of the process.
//
// A run ends in one of these ways:
//  - the output ends: the status is the tool's exit status (128 + signal
//    number when a signal ended it), or -1 when it had not exited yet;
//  - stopProcess: the tool's process group gets SIGTERM, what it still
//    writes is delivered, SIGKILL follows after a grace period, and the
//    drain gives up after a bound so that no tool can hold the window;
//  - the tool cannot be launched: one line saying why is delivered as
//    output and the status is kLaunchFailed.
// Children that outlive their report are reaped later, never left as zombies.
class TaskWrapper : public QObject
{
    Q_OBJECT
public:
    static constexpr int kLaunchFailed = 127;

    TaskWrapper(TaskWrapperController *controller, const QStringList &arguments,
                QObject *parent = nullptr);
    ~TaskWrapper() override;

    void startProcess();
    void stopProcess();

    bool launchFailed() const { return m_launchFailed; }
    pid_t processId() const { return m_pid; }
    const QStringList &arguments() const { return m_arguments; }

    // How long a stopped tool gets before SIGKILL, and how long the drain
    // may take in all.
    void setStopBounds(int graceMs, int drainMs);

private:
    void getData();
    void pollExit();
    void finish(bool stoppedByUser);
    void deliver(const char *data, qsizetype size);
    void failLaunch(int error);
    bool reap(bool block);
    void signalGroup(int sig);
    void closePipe();

    TaskWrapperController *m_controller;
    QStringList m_arguments;
    pid_t m_pid = -1;
    int m_readFd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_exitPoll = nullptr;
    Utf8Tail m_decoder;
    bool m_reaped = false;
    int m_exitStatus = -1;
    bool m_launchFailed = false;
    bool m_finishing = false;
    bool m_handedOver = false;
    int m_graceMs = 1000;
    int m_drainMs = 3000;
};
