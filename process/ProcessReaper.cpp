#include "process/ProcessReaper.h"

#include "process/ChildSetup.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QSet>

#include <utility>

namespace {

QSet<QProcess *> &pending()
{
    static QSet<QProcess *> processes;
    return processes;
}

bool &collectionAtExitArranged()
{
    static bool arranged = false;
    return arranged;
}

void collectAtExit()
{
    // The post routines are spent once they have run; another application
    // object arranges its own.
    collectionAtExitArranged() = false;
    // SIGKILL has gone to each, so only one stuck in the kernel takes long.
    ProcessReaper::collectAll(500);
}

} // namespace

void ProcessReaper::reap(QProcess *process)
{
    if (!process)
        return;
    const bool running = process->state() != QProcess::NotRunning;
    letGo(process);
    if (!running)
        return;
    pending().insert(process);
    QObject::connect(process, &QProcess::finished, process, [process] { pending().remove(process); });
    if (!collectionAtExitArranged()) {
        collectionAtExitArranged() = true;
        // Run from the application object's destructor, while Qt is still
        // whole; PR_SET_PDEATHSIG stays the guard for an exit that never
        // gets there.
        qAddPostRoutine(collectAtExit);
    }
}

void ProcessReaper::collectAll(int timeoutMs)
{
    const QSet<QProcess *> processes = std::exchange(pending(), {});
    for (QProcess *process : processes) {
        // No deleteLater from here on: at exit there is no event loop to
        // run it.
        process->disconnect();
        process->kill();
    }
    const QDeadlineTimer deadline(timeoutMs);
    for (QProcess *process : processes) {
        if (process->state() == QProcess::NotRunning
            || process->waitForFinished(int(qMax<qint64>(0, deadline.remainingTime()))))
            delete process;
    }
}
