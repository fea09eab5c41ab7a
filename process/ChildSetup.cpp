#include "process/ChildSetup.h"

#include <QProcess>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

void setUpChild(QProcess &process, bool ownGroup)
{
    const pid_t parent = ::getpid();
    process.setChildProcessModifier([parent, ownGroup] {
        // In the child: only async-signal-safe calls.
        if (ownGroup)
            ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        // The parent may have died before the line above took effect.
        if (::getppid() != parent)
            ::_exit(127);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT})
            ::signal(sig, SIG_DFL);
    });
}

void letGo(QProcess *process)
{
    if (!process)
        return;
    process->disconnect();
    process->setParent(nullptr);
    if (process->state() == QProcess::NotRunning) {
        process->deleteLater();
        return;
    }
    QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
    process->kill();
}
