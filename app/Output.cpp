// The cut copy's path as the window gives it, settled and questioned once
// when Run is pressed.

#include "app/RecordingSession.h"

#include "core/PathText.h"
#include "jobs/CutJob.h"
#include "jobs/Recording.h"
#include "jobs/RequestBuilder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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
    return RequestBuilder()
        .steps(false, true, false)
        .mode(RunRequest::Mode::Cut)
        .build(movieFile(), m_outputText)
        .output;
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
    RunRequest request = RequestBuilder()
                             .steps(false, true, false)
                             .mode(m_outputMode)
                             .replaceRecording(replacesRecording())
                             .build(movieFile(), m_outputText);
    // The skip list is the detector's own list rewritten for a player.
    if (m_outputMode == RunRequest::Mode::SkipList) {
        if (!m_outputText.trimmed().isEmpty())
            return QString();
        request.output.clear();
        return RequestBuilder::outputProblem(request);
    }
    if (const QString problem = RequestBuilder::outputProblem(request, true); !problem.isEmpty())
        return problem;
    const QFileInfo out(request.output);
    if (out.exists() && out.absoluteFilePath() != m_confirmedOutput) {
        // Under a stand-in, by the recording's own name.
        const QString question =
            shownText(QStringLiteral("%1 already exists. Replace it with the cut copy?").arg(out.fileName()));
        if (m_confirm && !m_confirm(question))
            return shownText(
                QStringLiteral("The cut copy would replace %1: choose another name.").arg(out.fileName()));
        m_confirmedOutput = out.absoluteFilePath();
    }
    return QString();
}
