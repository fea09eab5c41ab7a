#include "process/TaskWrapper.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

constexpr qsizetype kReadSize = 64 * 1024;

int statusFromWait(int st)
{
    if (WIFEXITED(st))
        return WEXITSTATUS(st);
    if (WIFSIGNALED(st))
        return 128 + WTERMSIG(st);
    return -1;
}

// Takes over children that were still running when their runner reported,
// and waits for them without blocking anyone.
class ChildReaper : public QObject
{
public:
    static ChildReaper &instance()
    {
        static ChildReaper reaper;
        return reaper;
    }
    void adopt(pid_t pid)
    {
        m_children.push_back({pid, 0});
        if (!m_timer.isActive())
            m_timer.start();
    }
    ~ChildReaper() override
    {
        for (const Child &c : m_children) {
            ::kill(-c.pid, SIGKILL);
            ::kill(c.pid, SIGKILL);
            int st = 0;
            while (::waitpid(c.pid, &st, 0) < 0 && errno == EINTR) {
            }
        }
    }

private:
    struct Child
    {
        pid_t pid;
        int ticks;
    };
    ChildReaper()
    {
        m_timer.setInterval(50);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
    }
    void poll()
    {
        for (auto it = m_children.begin(); it != m_children.end();) {
            int st = 0;
            const pid_t r = ::waitpid(it->pid, &st, WNOHANG);
            if (r == it->pid || (r < 0 && errno == ECHILD)) {
                it = m_children.erase(it);
                continue;
            }
            // Two seconds after its report a tool has had every chance.
            if (++it->ticks == 40) {
                ::kill(-it->pid, SIGKILL);
                ::kill(it->pid, SIGKILL);
            }
            ++it;
        }
        if (m_children.empty())
            m_timer.stop();
    }
    std::vector<Child> m_children;
    QTimer m_timer;
};

} // namespace

TaskWrapper::TaskWrapper(TaskWrapperController *controller, const QStringList &arguments,
                         QObject *parent)
    : QObject(parent), m_controller(controller), m_arguments(arguments)
{
}

TaskWrapper::~TaskWrapper()
{
    stopProcess();
    closePipe();
}

void TaskWrapper::setStopBounds(int graceMs, int drainMs)
{
    m_graceMs = graceMs;
    m_drainMs = drainMs;
}

void TaskWrapper::startProcess()
{
    if (!m_controller || m_pid > 0 || m_launchFailed)
        return;
    m_controller->processStarted();
    if (!m_controller)
        return;

    // A bare name means the tool was not found; it is never looked up in
    // the working directory.
    if (m_arguments.isEmpty() || !m_arguments.first().contains(QLatin1Char('/'))) {
        failLaunch(ENOENT);
        return;
    }

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        failLaunch(errno);
        return;
    }

    std::vector<QByteArray> encoded;
    encoded.reserve(size_t(m_arguments.size()));
    for (const QString &a : m_arguments)
        encoded.push_back(QFile::encodeName(a));
    std::vector<char *> argv;
    for (QByteArray &a : encoded)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);

    // Its own process group, so that a Stop reaches whatever the tool
    // started; default signal handling and no blocked signals.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK
                                        | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        failLaunch(rc);
        return;
    }
    m_pid = pid;
    m_readFd = fds[0];
    ::fcntl(m_readFd, F_SETFL, ::fcntl(m_readFd, F_GETFL) | O_NONBLOCK);

    m_notifier = new QSocketNotifier(m_readFd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TaskWrapper::getData);
    // Reaps the tool as soon as it exits, even while something it started
    // still holds the pipe.
    m_exitPoll = new QTimer(this);
    m_exitPoll->setInterval(100);
    connect(m_exitPoll, &QTimer::timeout, this, &TaskWrapper::pollExit);
    m_exitPoll->start();
}

void TaskWrapper::failLaunch(int error)
{
    m_launchFailed = true;
    const QString name = m_arguments.isEmpty() || m_arguments.first().isEmpty()
                             ? QStringLiteral("(no tool)")
                             : m_arguments.first();
    const QString line = name + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error))
                         + QLatin1Char('\n');
    TaskWrapperController *c = m_controller;
    m_controller = nullptr;
    c->appendOutput(line);
    c->processFinished(kLaunchFailed);
}

void TaskWrapper::deliver(const char *data, qsizetype size)
{
    const QString text = m_decoder.decode(data, size);
    if (!text.isEmpty() && m_controller)
        m_controller->appendOutput(text);
}

void TaskWrapper::getData()
{
    if (!m_controller || m_readFd < 0)
        return;
    char buffer[kReadSize];
    const ssize_t n = ::read(m_readFd, buffer, sizeof buffer);
    if (n > 0) {
        deliver(buffer, n);
        return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    finish(false);
}

void TaskWrapper::pollExit()
{
    if (reap(false) && m_exitPoll)
        m_exitPoll->stop();
}

bool TaskWrapper::reap(bool block)
{
    if (m_reaped || m_handedOver || m_pid <= 0)
        return m_reaped;
    int st = 0;
    pid_t r;
    do {
        r = ::waitpid(m_pid, &st, block ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == m_pid) {
        m_reaped = true;
        m_exitStatus = statusFromWait(st);
    } else if (r < 0) {
        // Not ours to wait for any more; nothing is left behind.
        m_reaped = true;
        m_exitStatus = -1;
    }
    return m_reaped;
}

void TaskWrapper::signalGroup(int sig)
{
    if (m_pid <= 0)
        return;
    // The group may outlive the tool itself when it started children.
    ::kill(-m_pid, sig);
    if (!m_reaped)
        ::kill(m_pid, sig);
}

void TaskWrapper::stopProcess()
{
    finish(true);
}

void TaskWrapper::finish(bool stoppedByUser)
{
    if (!m_controller || m_finishing)
        return;
    m_finishing = true;
    if (m_notifier)
        m_notifier->setEnabled(false);
    if (m_exitPoll)
        m_exitPoll->stop();

    if (!stoppedByUser) {
        // The output has ended; a tool that is exiting gets a moment to be
        // reaped so that its real status is reported.
        QElapsedTimer waited;
        waited.start();
        while (!reap(false) && waited.elapsed() < 500)
            ::usleep(1000);
    }
    signalGroup(SIGTERM);

    // Drain what the pipe still holds, within bounds.
    if (m_readFd >= 0) {
        QElapsedTimer clock;
        clock.start();
        bool killed = false;
        char buffer[kReadSize];
        while (true) {
            const qint64 now = clock.elapsed();
            if (now >= m_drainMs)
                break;
            if (!killed && now >= m_graceMs) {
                signalGroup(SIGKILL);
                killed = true;
            }
            const qint64 until = killed ? m_drainMs : qMin<qint64>(m_graceMs, m_drainMs);
            pollfd p{m_readFd, POLLIN, 0};
            const int pr = ::poll(&p, 1, int(qMax<qint64>(1, until - now)));
            if (pr < 0 && errno != EINTR)
                break;
            if (pr <= 0)
                continue;
            const ssize_t n = ::read(m_readFd, buffer, sizeof buffer);
            if (n > 0) {
                deliver(buffer, n);
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            break; // end of data
        }
    }
    const QString rest = m_decoder.flush();
    if (!rest.isEmpty() && m_controller)
        m_controller->appendOutput(rest);

    reap(false);
    const int status = m_reaped ? m_exitStatus : -1;
    closePipe();
    if (m_pid > 0 && !m_reaped) {
        ChildReaper::instance().adopt(m_pid);
        m_handedOver = true;
    }
    TaskWrapperController *c = m_controller;
    m_controller = nullptr;
    c->processFinished(status);
}

void TaskWrapper::closePipe()
{
    // This may run inside the notifier's own signal.
    if (m_notifier) {
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    if (m_readFd >= 0) {
        ::close(m_readFd);
        m_readFd = -1;
    }
}
