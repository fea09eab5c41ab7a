// The cut copy's path as the window gives it, settled and questioned once
// when Run is pressed.

#include "app/AppController.h"

#include "core/PathText.h"
#include "jobs/CutJob.h"
#include "jobs/Recording.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

QString AppController::proposedOutput(bool probed) const
{
    const QString movie = movieFile();
    if (movie.isEmpty())
        return QString();
    QString ext = pathtext::extension(movie);
    if (const std::optional<media::MediaInfo> &info = m_media.info(); probed && info && info->hasVideo)
        ext = media::extensionFor(media::containerFor(*info, media::cutterFor(*info)), ext);
    return m_recording.proposedOutput(ext, m_outputMode);
}

void AppController::setOutputMode(RunRequest::Mode mode, bool replace)
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

QStringList AppController::partialCopies() const
{
    return CutJob::partialCopiesOf(outputInUse());
}

QString AppController::settledOutput() const
{
    return requestBuilder(false, true, false)
        .mode(RunRequest::Mode::Cut)
        .build(movieFile(), m_outputText)
        .output;
}

void AppController::removeStaleCopies()
{
    // Left by a cut that Trimlet did not live to finish.
    for (const QString &path : partialCopies())
        QFile::remove(path);
}

bool AppController::outputIsInput() const
{
    return CutJob::isRecording(outputInUse(), movieFile());
}

QString AppController::outputProblem()
{
    RunRequest request = runRequest(false, true, false);
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
        const QString question =
            QStringLiteral("%1 already exists. Replace it with the cut copy?").arg(out.fileName());
        if (m_confirm && !m_confirm(question))
            return QStringLiteral("The cut copy would replace %1: choose another name.").arg(out.fileName());
        m_confirmedOutput = out.absoluteFilePath();
    }
    return QString();
}
