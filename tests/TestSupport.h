#pragma once

// Helpers shared by the tests: a capture of the diagnostic log, the two
// windows with a controller, and a look at this process's children.

#include "CoreSupport.h"
#include "app/AppController.h"
#include "app/AppWindows.h"
#include "ui_MainWindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QLoggingCategory>
#include <QMutex>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <unistd.h>

using RunButton = AppController::RunButton;

// A controller with the real windows, as main() makes them.
struct Harness
{
    AppController controller;
    AppWindows windows{controller};
    // What the controller asked the user, and what the "user" answers.
    QStringList questions;
    bool answer = true;
    explicit Harness(bool awake = true)
    {
        controller.endSound().setMuted(true);
        controller.setConfirm([this](const QString &q) {
            questions << q;
            return answer;
        });
        if (awake)
            controller.awakeFromNib();
    }
    // The main window's controls, as the user sees them.
    Ui::MainWindow &ui() const { return windows.ui(); }
};

// The stand-in detector finds no commercial: an empty cut list and a frame
// list of none.
inline void findNoCommercials(EnvGuard &env)
{
    env.set("STANDIN_EDL", "");
    env.set("STANDIN_TXT", "FILE PROCESSING COMPLETE  10800 FRAMES AT  2997\\n-------------------\\n");
}

inline QString standInTools()
{
    return QStringLiteral(TRIMLET_TEST_TOOLS "/standins");
}

// Children of this process that are zombies.
// Of this process's children, or of those among the given pids.
inline int zombieChildren(const QList<qint64> &among = {})
{
    int zombies = 0;
    const QString self = QString::number(::getpid());
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &pid : pids) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        // pid (comm) state ppid ...
        const qsizetype close = line.lastIndexOf(')');
        if (close < 0)
            continue;
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        if (fields.size() > 1 && fields.at(0) == "Z" && fields.at(1) == self.toLatin1()
            && (among.isEmpty() || among.contains(pid.toLongLong())))
            ++zombies;
    }
    return zombies;
}

inline int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::System).size());
}

// The longest time the event loop went without running a 5 ms timer.
struct StallMeter
{
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 worst = 0;
    StallMeter()
    {
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 now = clock.elapsed();
            worst = qMax(worst, now - last);
            last = now;
        });
        clock.start();
        timer.start();
    }
};

// A controller with windows, stand-in tools and a recording chosen, as the
// window does it.
struct StandInRun : Harness
{
    QString movie;
    explicit StandInRun(const QString &dir, const QString &name = QStringLiteral("show.mpg"),
                        const QByteArray &bytes = QByteArray("recording bytes ").repeated(1000))
    {
        controller.toolLocator().setHelperDirectories({standInTools()}, false);
        controller.setStopBounds(300, 1500);
        // The pipeline's states are those of a cut by the mencoder stand-in,
        // with ffmpeg's frame-exact cut after a refusal.
        ui().mRemoveWithMencoder->setChecked(true);
        QDir().mkpath(dir);
        movie = dir + QLatin1Char('/') + name;
        writeFile(movie, bytes);
        chooseRecording(movie);
    }
    void chooseRecording(const QString &path);
    QString work(const char *ext) const
    {
        return controller.outDir() + QLatin1Char('/') + controller.baseName() + QLatin1String(ext);
    }
};

// Fresh directories, one a case, below one temporary directory.
struct CaseDirs
{
    QTemporaryDir root;
    int count = 0;
    QString next() { return root.filePath(QStringLiteral("case%1").arg(++count)); }
};

// The texts the status line showed while the event loop ran, each once.
struct StatusRecorder
{
    QStringList seen;
    QTimer sample;
    explicit StatusRecorder(const QLabel *status)
    {
        sample.setInterval(2);
        QObject::connect(&sample, &QTimer::timeout, [this, status] {
            if (seen.isEmpty() || seen.last() != status->text())
                seen << status->text();
        });
        sample.start();
    }
};

// Chooses a recording as the open panel does and waits until its probe
// has answered, as a user would before pressing Run.
inline bool chooseRecording(AppController &c, const QString &path, int timeoutMs = 10000)
{
    c.openRecording(path);
    return QTest::qWaitFor([&] { return !c.probingRecording(); }, timeoutMs);
}

inline void StandInRun::chooseRecording(const QString &path)
{
    ::chooseRecording(controller, path);
}

// Runs the event loop until the controller is idle again. A real loop, not
// QTest::qWaitFor, which sleeps between rounds and would throttle a tool's
// output to a trickle.
inline bool waitForIdle(AppController &c, int timeoutMs = 20000)
{
    if (c.processState() == AppController::ProcessState::kStateIdle)
        return true;
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (c.processState() == AppController::ProcessState::kStateIdle)
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start();
    loop.exec();
    return c.processState() == AppController::ProcessState::kStateIdle;
}

// The first of the real tools the end-to-end tests need that is not
// installed; empty when all are.
inline QString missingRealTool()
{
    for (const char *tool : {"ffmpeg", "ffprobe", "comskip", "mencoder"})
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            return QStringLiteral("%1 is not installed (./scripts/test installs it)")
                .arg(QLatin1String(tool));
    return QString();
}

// Video frames, counted, as the container's duration can be misreported.
inline int videoFrames(const QString &path)
{
    QProcess p;
    p.start(QStringLiteral("ffprobe"), {"-v", "error", "-count_packets", "-select_streams", "v:0",
                                        "-show_entries", "stream=nb_read_packets", "-of", "csv=p=0", path});
    p.waitForFinished(120000);
    // A transport stream lists its stream once more under its program.
    return QString::fromLatin1(p.readAllStandardOutput())
        .section(QLatin1Char('\n'), 0, 0)
        .remove(QLatin1Char(','))
        .trimmed()
        .toInt();
}
