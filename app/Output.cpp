// The cut copy's path as the window gives it, settled and questioned once
// when Run is pressed.

#include "app/RecordingSession.h"

#include "core/PathText.h"
#include "jobs/CutJob.h"
#include "jobs/Recording.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

QString RecordingSession::proposedOutput(bool probed) const
{
    const QString movie = movieFile();
    if (movie.isEmpty())
        return QString();
    QString ext = pathtext::extension(movie);
    if (const std::optional<media::MediaInfo> &info = m_media.info(); probed && info && info->hasVideo)
        ext = media::extensionFor(media::containerFor(*info, media::cutterFor(*info, m_mencoderCutter)), ext);
    return m_recording.proposedOutput(ext, m_outputMode);
}

void RecordingSession::setMencoderCutter(bool mencoder)
{
    // A proposed output name follows the container the chosen cutter writes.
    const bool changed = mencoder != m_mencoderCutter;
    m_mencoderCutter = mencoder;
    if (changed && !movieFile().isEmpty() && m_outputText == m_proposedOutput) {
        m_proposedOutput = proposedOutput();
        setOutputText(m_proposedOutput);
    }
}

void RecordingSession::setOutputMode(RunRequest::Mode mode, bool replace)
{
    replace = replace && mode == RunRequest::Mode::Cut;
    if (m_outputMode == mode) {
        // The same copy, only where it ends up differs.
        if (m_replaceRecording != replace) {
            m_replaceRecording = replace;
            emit outputModeChanged(mode);
        }
        return;
    }
    m_replaceRecording = replace;
    // A name the user typed stays; a skip list has no name to choose.
    const bool proposed = m_outputText == m_proposedOutput || m_outputMode == RunRequest::Mode::SkipList
                          || mode == RunRequest::Mode::SkipList;
    m_outputMode = mode;
    m_confirmedOutput.clear();
    if (proposed && !movieFile().isEmpty()) {
        m_proposedOutput = proposedOutput();
        setOutputText(m_proposedOutput);
    }
    emit outputModeChanged(mode);
}

QStringList RecordingSession::partialCopies() const
{
    return CutJob::partialCopiesOf(outputInUse());
}

QString RecordingSession::settledOutput() const
{
    const QString text = m_outputText.trimmed();
    if (text.isEmpty())
        return QString();
    // A bare name means beside the recording, never the working directory
    // of whoever started Trimlet.
    if (QDir::isRelativePath(text) && !outDir().isEmpty())
        return QDir::cleanPath(outDir() + QLatin1Char('/') + text);
    return QDir::cleanPath(QFileInfo(text).absoluteFilePath());
}

void RecordingSession::removeStaleCopies()
{
    // Left by a cut that Trimlet did not live to finish.
    for (const QString &path : partialCopies())
        QFile::remove(path);
}

bool RecordingSession::outputIsInput() const
{
    return CutJob::isRecording(outputInUse(), movieFile());
}

QString RecordingSession::outputProblem()
{
    const QString output = settledOutput();
    if (output.isEmpty())
        return QStringLiteral("Choose where the cut copy goes.");
    // The skip list is the detector's own list rewritten for a player.
    if (m_outputMode == RunRequest::Mode::SkipList)
        return QString();
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
    // Refused before any tool runs: the run's work files beside the
    // recording, and the cutter's hidden partial copy, must fit their folder.
    if (const QString tooLong = m_recording.workFileNameRefusal(); !tooLong.isEmpty())
        return tooLong;
    if (const QString tooLong = Recording::copyNameRefusal(output); !tooLong.isEmpty())
        return tooLong;
    if (out.exists() && out.absoluteFilePath() != m_confirmedOutput) {
        const QString question =
            QStringLiteral("%1 already exists. Replace it with the cut copy?").arg(out.fileName());
        if (m_confirm && !m_confirm(question))
            return QStringLiteral("The cut copy would replace %1: choose another name.").arg(out.fileName());
        m_confirmedOutput = out.absoluteFilePath();
    }
    return QString();
}
