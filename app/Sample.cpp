// The sample recording, and the window's menu item that makes and opens it.

#include "app/Sample.h"

#include "app/MainWindow.h"
#include "ui_MainWindow.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QStandardPaths>

#ifndef TRIMLET_SAMPLE_SUBDIR
#define TRIMLET_SAMPLE_SUBDIR "share/trimlet"
#endif

namespace {

// Two breaks of half a minute between three parts of programme: comskip
// takes a part of under two minutes (its min_show_segment_length) for more
// of the break beside it. ffmpeg makes it in about ten seconds.
const char kLayout[] = "show:120 ad:30 show:120 ad:30 show:120";

QString partialPath()
{
    return SampleRecording::path() + QStringLiteral(".part");
}

} // namespace

SampleRecording::~SampleRecording()
{
    // The generator is killed with its ffmpeg, and what it made so far is
    // of no use.
    m_leaving = true;
    m_generator.reset();
}

QString SampleRecording::path()
{
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/sample.mpg");
}

QString SampleRecording::generator()
{
    // <prefix>/bin/trimlet finds it in <prefix>/share/trimlet, and so do
    // the tests in build/tests; build/trimlet in build/share/trimlet.
    const QString appDir = QCoreApplication::applicationDirPath();
    for (const QString &dir : {appDir + QStringLiteral("/../" TRIMLET_SAMPLE_SUBDIR),
                               appDir + QStringLiteral("/" TRIMLET_SAMPLE_SUBDIR)}) {
        const QFileInfo script(QDir::cleanPath(dir + QStringLiteral("/make_recording.sh")));
        if (script.isFile() && script.isExecutable())
            return script.filePath();
    }
    return QString();
}

void SampleRecording::make()
{
    if (m_generator)
        return;
    if (QFileInfo(path()).isFile()) {
        emit ready(path());
        return;
    }
    const QString script = generator();
    if (script.isEmpty())
        return fail(QStringLiteral("its generator, make_recording.sh, is not installed."));
    const QString folder = QFileInfo(path()).absolutePath();
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("the folder %1 cannot be made.").arg(folder));
    emit statusChanged(QStringLiteral("Making a sample recording with two commercial breaks…"));
    m_output.clear();
    TaskWrapperController *reports = this;
    m_generator = std::make_unique<TaskWrapper>(
        reports, QStringList{script, partialPath(), QString::fromLatin1(kLayout)});
    m_generator->startProcess();
}

void SampleRecording::appendOutput(const QString &output)
{
    // The generator is quiet but for its errors: the last of them is kept.
    m_output = (m_output + output).right(4096);
}

void SampleRecording::processFinished(int status)
{
    QFile partial(partialPath());
    if (m_leaving) {
        partial.remove();
        return;
    }
    // The runner may not be deleted while it reports; the next try may
    // start at once all the same.
    m_generator.release()->deleteLater();
    if (status != 0) {
        partial.remove();
        const QStringList lines = m_output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        return fail(lines.isEmpty() ? QStringLiteral("its generator ended with status %1.").arg(status)
                                    : lines.last().trimmed());
    }
    if (partial.size() == 0 || !partial.rename(path())) {
        partial.remove();
        return fail(QStringLiteral("it could not be written to %1.").arg(path()));
    }
    emit ready(path());
}

void SampleRecording::fail(const QString &why)
{
    emit statusChanged(QStringLiteral("The sample recording could not be made: ") + why);
}

void MainWindow::setUpSample()
{
    auto *sample = new SampleRecording(this);
    connect(m_ui->mTrySampleAction, &QAction::triggered, sample, &SampleRecording::make);
    // The sample's words hold the status line until the controller next has
    // something to say: about the recording it opens, or a run.
    const auto showStatus = [this](const QString &text) {
        m_ui->mStatusField->setText(text);
        nameValues();
    };
    const auto showControllerStatus = [this, showStatus] { showStatus(m_controller.status()); };
    connect(sample, &SampleRecording::statusChanged, this, showStatus);
    connect(&m_controller, &AppController::chosenRecordingChanged, this, showControllerStatus);
    connect(&m_controller, &AppController::isRunningChanged, this, showControllerStatus);
    connect(sample, &SampleRecording::ready, this, [this, showControllerStatus](const QString &path) {
        // A run started meanwhile keeps its recording; the next try opens the sample.
        if (m_controller.isRunning() || m_controller.isRunningAuto())
            return;
        m_controller.openRecording(path);
        showControllerStatus();
    });
}
