// The removal step: the cutter writes a hidden partial copy beside the
// output, the copy is counted frame by frame against what the cut list
// promised, and only a copy that holds the whole programme takes the
// output's name. A mencoder copy that falls short is cut again with ffmpeg.

#include "app/AppController.h"

#include "core/Diagnostics.h"
#include "core/TimeText.h"
#include "progress/ProgressIndicator.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr char kPartialMarker[] = ".trimlet-";

QString fileNameOf(const QString &path)
{
    return QFileInfo(path).fileName();
}

} // namespace

QStringList AppController::partialCopies() const
{
    const QString output = mOutputField ? mOutputField->text() : QString();
    if (output.isEmpty())
        return {};
    const QFileInfo out(output);
    QDir dir = out.absoluteDir();
    const QStringList names =
        dir.entryList({QLatin1Char('.') + out.fileName() + QLatin1String(kPartialMarker) + QLatin1Char('*')},
                      QDir::Files | QDir::Hidden | QDir::System);
    QStringList paths;
    for (const QString &n : names)
        paths << dir.filePath(n);
    return paths;
}

void AppController::removeStaleCopies()
{
    // Left by a cut that Trimlet did not live to finish.
    for (const QString &path : partialCopies())
        if (path != m_partialCopy)
            QFile::remove(path);
}

void AppController::discardPartialCopy()
{
    if (!m_partialCopy.isEmpty())
        QFile::remove(m_partialCopy);
    m_partialCopy.clear();
    if (!m_concatDir.isEmpty())
        QDir(m_concatDir).removeRecursively();
    m_concatDir.clear();
}

QStringList AppController::ffmpegCutArguments(const QString &list, const QString &output,
                                              media::Container container) const
{
    QStringList args{toolPath(QStringLiteral("ffmpeg")),
                     QStringLiteral("-nostdin"),
                     QStringLiteral("-hide_banner"),
                     QStringLiteral("-v"),
                     QStringLiteral("error"),
                     QStringLiteral("-nostats"),
                     QStringLiteral("-progress"),
                     QStringLiteral("pipe:1"),
                     QStringLiteral("-y"),
                     QStringLiteral("-f"),
                     QStringLiteral("concat"),
                     QStringLiteral("-i"),
                     list,
                     QStringLiteral("-map"),
                     QStringLiteral("0:v"),
                     QStringLiteral("-map"),
                     QStringLiteral("0:a?")};
    // A program stream has no place for broadcast subtitles.
    if (container == media::Container::TransportStream)
        args << QStringLiteral("-map") << QStringLiteral("0:s?");
    args << QStringLiteral("-c") << QStringLiteral("copy") << QStringLiteral("-f")
         << media::muxerName(container) << QStringLiteral("file:") + output;
    return args;
}

void AppController::logToRunLog(const QString &line)
{
    if (m_logFile.isOpen())
        m_logFile.write((QStringLiteral("Trimlet: ") + line + QLatin1Char('\n')).toUtf8());
}

bool AppController::startCut(media::Cutter cutter)
{
    m_cutter = cutter;
    m_cutPhase = CutPhase::Cutting;
    const media::MediaInfo &info = *m_recordingInfo;

    // The copy is written under a hidden name of its own, created here and
    // so never anybody else's file, and takes the output's name only once
    // it has been checked.
    const QFileInfo out(m_cutOutput);
    QTemporaryFile partial(out.absolutePath() + QStringLiteral("/.") + out.fileName()
                           + QLatin1String(kPartialMarker) + QStringLiteral("XXXXXX"));
    partial.setAutoRemove(false);
    if (!partial.open()) {
        setOutcome(withOutcome(QStringLiteral("The cut copy cannot be written in %1.")
                                   .arg(QDir::toNativeSeparators(out.absolutePath()))));
        m_runFailed = true;
        m_cutPhase = CutPhase::None;
        return false;
    }
    partial.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                           | QFileDevice::ReadOther);
    m_partialCopy = partial.fileName();
    partial.close();

    QStringList arguments;
    if (cutter == media::Cutter::Mencoder) {
        arguments = removeArguments(m_partialCopy);
    } else {
        // ffmpeg reads the kept spans from a list that names the recording
        // through a link of a plain name, whatever characters its own has.
        QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/trimlet-cut-XXXXXX"));
        dir.setAutoRemove(false);
        const QString ext = QFileInfo(m_movieFile).suffix();
        const QString link =
            QStringLiteral("recording") + (ext.isEmpty() ? QString() : QLatin1Char('.') + ext);
        const QString list = dir.filePath(QStringLiteral("cut.ffconcat"));
        QFile listFile(list);
        const bool made =
            dir.isValid() && QFile::link(QFileInfo(m_movieFile).absoluteFilePath(), dir.filePath(link))
            && listFile.open(QIODevice::WriteOnly)
            && listFile.write(media::concatList(link, media::keptSpans(m_cuts, m_recordingSeconds),
                                                m_recordingSeconds, info.videoStart))
                   > 0;
        listFile.close();
        m_concatDir = dir.path();
        if (!made) {
            discardPartialCopy();
            setOutcome(withOutcome(QStringLiteral("The cut list for ffmpeg could not be written.")));
            m_runFailed = true;
            m_cutPhase = CutPhase::None;
            return false;
        }
        arguments = ffmpegCutArguments(list, m_partialCopy, m_container);
    }
    const QString edited = breaksSummary();
    setStatus(edited.isEmpty()
                  ? QStringLiteral("Cutting the commercials with %1…").arg(media::cutterName(cutter))
                  : QStringLiteral("Cutting %1.").arg(edited));
    logToRunLog(QStringLiteral("cutting with %1 into %2").arg(media::cutterName(cutter), m_partialCopy));
    m_activeProgressIndicator = m_removeIndicator.get();
    runWithProgressCommand(arguments);
    return true;
}

// False while the step goes on (a check or another cut is under way).
bool AppController::cutFinished(int rc)
{
    const QString name = media::cutterName(m_cutter);
    if (m_runner && m_runner->wasStopped()) {
        discardPartialCopy();
        m_cutPhase = CutPhase::None;
        setOutcome(QStringLiteral("Removal stopped."));
        return true;
    }
    const bool launchFailed = m_runner && m_runner->launchFailed();
    if (launchFailed || (rc != 0 && rc != -1)) {
        discardPartialCopy();
        const QString why = launchFailed ? QStringLiteral("%1 could not be started").arg(name)
                                         : QStringLiteral("%1 failed (error %2)").arg(name).arg(rc);
        logToRunLog(why);
        if (m_cutter == media::Cutter::Mencoder) {
            m_cutNote = why + QStringLiteral(", so it was cut with ffmpeg.");
            return !startCut(media::Cutter::Ffmpeg);
        }
        m_cutPhase = CutPhase::None;
        m_runFailed = true;
        setOutcome(withOutcome(launchFailed ? QStringLiteral("Could not start %1. Is it installed?").arg(name)
                                            : QString::asprintf("Unexpected error %d.", rc)));
        return true;
    }
    m_cutPhase = CutPhase::Verifying;
    setStatus(QStringLiteral("Checking the cut copy…"));
    QString ffprobe = m_toolLocator.pathForAuxiliaryExecutable(QStringLiteral("ffprobe"));
    m_copyProbe.start(ffprobe, m_partialCopy, true);
    return false;
}

void AppController::copyProbed(const QByteArray &json, bool launched)
{
    if (m_processState != kStateRemoving || m_cutPhase != CutPhase::Verifying)
        return;
    const QString name = media::cutterName(m_cutter);
    if (!launched) {
        discardPartialCopy();
        m_runFailed = true;
        endRemoval(withOutcome(
            QStringLiteral("Could not start ffprobe to check the cut copy. Is ffmpeg installed?")));
        return;
    }
    const media::MediaInfo &recording = *m_recordingInfo;
    const media::MediaInfo copy = media::parseProbe(json);
    const double m_fps = recording.fps > 0 ? recording.fps : copy.fps;
    const media::Verdict v = media::verifyCopy(copy, m_recordingSeconds, m_fps, m_cuts);
    const QString measured =
        QString::asprintf("%lld frames, %.2f s; expected %.2f s within %.2f s",
                          static_cast<long long>(v.frames), v.actual, v.expected, v.tolerance);
    logLine(QStringLiteral("copyProbed: ") + name + QStringLiteral(": ") + measured);
    if (!v.ok) {
        logToRunLog(QStringLiteral("the copy cut by %1 failed its check (%2): %3")
                        .arg(name, v.readable ? v.problem : QStringLiteral("unreadable"), measured));
        discardPartialCopy();
        const QString problem = v.readable ? QStringLiteral("The cut copy is %1").arg(v.problem)
                                           : QStringLiteral("The cut copy could not be read");
        if (m_cutter == media::Cutter::Mencoder) {
            m_cutNote = (v.readable ? QStringLiteral("mencoder's copy was %1").arg(v.problem)
                                    : QStringLiteral("mencoder's copy could not be read"))
                        + QStringLiteral(", so it was cut again with ffmpeg.");
            if (startCut(media::Cutter::Ffmpeg)) {
                setStatus(problem + QStringLiteral(": cut again with ffmpeg."));
                return;
            }
            endRemoval(m_outcome);
            return;
        }
        m_runFailed = true;
        endRemoval(withOutcome(problem + QStringLiteral(", so it was not kept.")));
        return;
    }
    // The checked copy takes the output's name in one step; an earlier
    // file of that name stays whole until then.
    const QByteArray from = QFile::encodeName(m_partialCopy);
    const QByteArray to = QFile::encodeName(m_cutOutput);
    if (::rename(from.constData(), to.constData()) != 0) {
        const QString error = QString::fromLocal8Bit(std::strerror(errno));
        discardPartialCopy();
        m_runFailed = true;
        endRemoval(withOutcome(QStringLiteral("The cut copy could not be saved as %1: %2.")
                                   .arg(fileNameOf(m_cutOutput), error)));
        return;
    }
    m_partialCopy.clear();
    discardPartialCopy();
    m_confirmedOutput = QFileInfo(m_cutOutput).absoluteFilePath();
    logToRunLog(QStringLiteral("cut copy %1 made by %2 and checked: %3").arg(m_cutOutput, name, measured));
    QString text = QStringLiteral("Cut copy: %1 (%2), cut by %3.")
                       .arg(fileNameOf(m_cutOutput), timeText(v.actual, true), name);
    if (!m_cutNote.isEmpty())
        text = m_cutNote + QLatin1Char(' ') + text;
    endRemoval(withOutcome(text));
}

void AppController::endRemoval(const QString &outcome)
{
    if (m_runFailed && m_removeIndicator)
        m_removeIndicator->fail();
    m_cutPhase = CutPhase::None;
    setOutcome(outcome);
    if (m_processState == kStateRemoving) {
        m_processState = kStateAfterRemove;
        QMetaObject::invokeMethod(this, &AppController::runTasks, Qt::QueuedConnection);
    }
}

void AppController::cancelRemoval()
{
    if (m_cutPhase == CutPhase::Verifying) {
        m_copyProbe.cancel();
        setOutcome(QStringLiteral("Removal stopped."));
    }
    m_cutPhase = CutPhase::None;
    discardPartialCopy();
}

QString AppController::outputProblem()
{
    const QString output = mOutputField ? mOutputField->text().trimmed() : QString();
    if (output.isEmpty())
        return QStringLiteral("Choose where the cut copy goes.");
    const QFileInfo out(output);
    const QFileInfo dir(out.absolutePath());
    if (!dir.isDir())
        return QStringLiteral("The folder for the cut copy does not exist: %1")
            .arg(QDir::toNativeSeparators(dir.absoluteFilePath()));
    if (out.isDir())
        return QStringLiteral("The cut copy's name is a folder: %1").arg(QDir::toNativeSeparators(output));
    // As root no permission bit says no, so the directory is asked directly.
    {
        QTemporaryFile probe(dir.absoluteFilePath() + QStringLiteral("/.trimlet-write-check-XXXXXX"));
        if (!probe.open())
            return QStringLiteral("The folder for the cut copy cannot be written: %1")
                .arg(QDir::toNativeSeparators(dir.absoluteFilePath()));
    }
    if (outputIsInput())
        return QString(); // the removal step says so itself
    if (out.exists() && out.absoluteFilePath() != m_confirmedOutput) {
        const QString question =
            QStringLiteral("%1 already exists. Replace it with the cut copy?").arg(out.fileName());
        if (m_confirm && !m_confirm(question))
            return QStringLiteral("The cut copy would replace %1: choose another name.").arg(out.fileName());
        m_confirmedOutput = out.absoluteFilePath();
    }
    return QString();
}
