// The removal step: the cutter writes a hidden partial copy beside the
// output, the copy is counted frame by frame against what the cut list
// promised, and only a copy that holds the whole programme takes the
// output's name. A mencoder copy that falls short is cut again with ffmpeg.

#include "app/AppController.h"

#include "jobs/WorkFiles.h"

#include "core/Diagnostics.h"
#include "core/TimeText.h"
#include "progress/ProgressIndicator.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QStorageInfo>
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

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::NewOnly) && file.write(bytes) == bytes.size()
           && file.flush();
}

// The recording's suffix for the link ffmpeg reads it through, when it is
// one a list can name plainly ("Tagesschau 20.00 Uhr" has none).
QString safeSuffix(const QString &path)
{
    const QString ext = QFileInfo(path).suffix();
    if (ext.isEmpty() || ext.size() > 8)
        return QString();
    for (const QChar c : ext)
        if (!(c.isLetterOrNumber() && c.unicode() < 0x80))
            return QString();
    return QLatin1Char('.') + ext;
}

} // namespace

QStringList AppController::partialCopies() const
{
    const QString output = outputInUse();
    if (output.isEmpty())
        return {};
    const QFileInfo out(output);
    return hiddenNamesOf(out.absolutePath(), {out.fileName()});
}

QString AppController::settledOutput() const
{
    const QString text = mOutputField ? mOutputField->text().trimmed() : QString();
    if (text.isEmpty())
        return QString();
    // A bare name means beside the recording, never the working directory
    // of whoever started Trimlet.
    if (QDir::isRelativePath(text) && !m_outDir.isEmpty())
        return QDir::cleanPath(m_outDir + QLatin1Char('/') + text);
    return QDir::cleanPath(QFileInfo(text).absoluteFilePath());
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
    if (!m_cutDir.isEmpty())
        QDir(m_cutDir).removeRecursively();
    m_cutDir.clear();
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

    // Every cutter reads one list: sorted, merged, each break a cut. The
    // detector's EDL may mark breaks with action 3, which mencoder passes
    // over, and rows that overlap, which it refuses.
    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/trimlet-cut-XXXXXX"));
    dir.setAutoRemove(false);
    m_cutDir = dir.isValid() ? dir.path() : QString();
    QStringList arguments;
    bool made = dir.isValid();
    if (cutter == media::Cutter::Mencoder) {
        const QString list = dir.filePath(QStringLiteral("cuts.edl"));
        made = made && writeFile(list, media::edlText(m_cuts));
        arguments = removeArguments(m_request, m_partialCopy, list);
    } else {
        // ffmpeg reads the kept spans from a list that names the recording
        // through a link of a plain name, whatever characters its own has.
        const QString list = dir.filePath(QStringLiteral("cut.ffconcat"));
        const QString link = QStringLiteral("recording") + safeSuffix(m_movieFile);
        made = made && QFile::link(QFileInfo(m_movieFile).absoluteFilePath(), dir.filePath(link))
               && writeFile(list, media::concatList(link, media::keptSpans(m_cuts, m_recordingSeconds),
                                                    m_recordingSeconds, info.videoStart));
        arguments = ffmpegCutArguments(list, m_partialCopy, m_container);
    }
    if (!made) {
        discardPartialCopy();
        setOutcome(withOutcome(
            QStringLiteral("The cut list for %1 could not be written.").arg(media::cutterName(cutter))));
        m_runFailed = true;
        m_cutPhase = CutPhase::None;
        return false;
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
        // Another cutter would only fill the disk again.
        if (!launchFailed && outputIsFull()) {
            m_cutPhase = CutPhase::None;
            m_runFailed = true;
            setOutcome(
                withOutcome(QStringLiteral("The disk is full: the cut copy did not fit in %1.")
                                .arg(QDir::toNativeSeparators(QFileInfo(m_cutOutput).absolutePath()))));
            return true;
        }
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
    m_copyScan.start(m_toolLocator.pathForAuxiliaryExecutable(QStringLiteral("ffprobe")), m_partialCopy);
    return false;
}

bool AppController::outputIsFull() const
{
    if (m_logExcerpts.contains(QLatin1String("No space left on device")))
        return true;
    const QStorageInfo disk(QFileInfo(m_cutOutput).absolutePath());
    return disk.isValid() && disk.bytesAvailable() < 64 * 1024;
}

void AppController::copyScanned()
{
    if (m_processState == kStateRemoving && m_cutPhase == CutPhase::Verifying)
        verifyCopy();
}

void AppController::verifyCopy()
{
    // The copy is judged against what the recording holds, which is read
    // once when it is chosen; a cut quicker than that waits for it.
    if (m_copyScan.isRunning() || m_recordingScan.isRunning())
        return;
    const QString name = media::cutterName(m_cutter);
    const media::MediaInfo &recording = *m_recordingInfo;
    const double fps = recording.fps > 0 ? recording.fps : 25.0;
    // ffmpeg's copy runs through the kept spans one after the other on
    // the recording's own clock; mencoder makes a clock of its own.
    const media::Verdict v =
        media::verifyAgainstRecording(m_recordingScan.packets(), recording.videoStart, m_recordingSeconds,
                                      m_cuts, m_copyScan.packets(), fps, m_cutter == media::Cutter::Ffmpeg);
    const QString measured = QString::asprintf("%lld frames, %.2f s; expected %lld frames within %.2f s",
                                               static_cast<long long>(v.frames), v.actual,
                                               static_cast<long long>(v.expectedFrames), v.tolerance);
    logLine(QStringLiteral("verifyCopy: ") + name + QStringLiteral(": ") + measured);
    if (!m_recordingScan.done()) {
        logToRunLog(QStringLiteral("the recording could not be read again to check the copy"));
        discardPartialCopy();
        m_runFailed = true;
        endRemoval(withOutcome(
            QStringLiteral("The recording could not be read to check the cut copy, so it was not kept.")));
        return;
    }
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
        m_copyScan.cancel();
        setOutcome(QStringLiteral("Removal stopped."));
    }
    m_cutPhase = CutPhase::None;
    discardPartialCopy();
}

QString AppController::outputProblem()
{
    const QString output = settledOutput();
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
        return QStringLiteral("The output file is the recording itself: choose another name.");
    if (out.exists() && out.absoluteFilePath() != m_confirmedOutput) {
        const QString question =
            QStringLiteral("%1 already exists. Replace it with the cut copy?").arg(out.fileName());
        if (m_confirm && !m_confirm(question))
            return QStringLiteral("The cut copy would replace %1: choose another name.").arg(out.fileName());
        m_confirmedOutput = out.absoluteFilePath();
    }
    return QString();
}
