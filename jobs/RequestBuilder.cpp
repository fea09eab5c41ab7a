#include "jobs/RequestBuilder.h"

#include "jobs/CutJob.h"
#include "jobs/Profiles.h"
#include "jobs/Recording.h"
#include "process/ToolLocator.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

RequestBuilder &RequestBuilder::steps(bool detect, bool remove, bool erase)
{
    m_common.detect = detect;
    m_common.remove = remove;
    m_common.erase = erase;
    return *this;
}

RequestBuilder &RequestBuilder::mode(RunRequest::Mode mode)
{
    m_common.mode = mode;
    return *this;
}

RequestBuilder &RequestBuilder::detectorSettings(const QVariantMap &settings, const QString &profile)
{
    m_common.detectorSettings = settings;
    m_common.profile = profile;
    return *this;
}

RequestBuilder &RequestBuilder::cutterOptions(bool noSkip, bool edlSeek, bool mencoder, bool frameExact)
{
    m_common.frameExact = frameExact;
    m_common.noSkip = noSkip;
    m_common.edlSeek = edlSeek;
    m_common.mencoderCutter = mencoder;
    return *this;
}

RequestBuilder &RequestBuilder::replaceRecording(bool replace, const QString &keepOriginal)
{
    m_common.replace = replace;
    m_common.keepOriginal = keepOriginal.isEmpty() ? QString() : QFileInfo(keepOriginal).absoluteFilePath();
    return *this;
}

RequestBuilder &RequestBuilder::toolsFrom(const ToolLocator &locator)
{
    RunRequest::Tools &tools = m_common.tools;
    for (QString *tool : {&tools.comskip, &tools.mencoder, &tools.ffmpeg, &tools.ffprobe}) {
        const QString found = locator.pathForAuxiliaryExecutable(*tool);
        if (!found.isEmpty())
            *tool = found;
    }
    return *this;
}

RunRequest RequestBuilder::build(const QString &recording, const QString &output) const
{
    RunRequest r = m_common;
    // As the caller names it: the window's and the command line's are
    // absolute already, and a tool is handed the name it was given.
    r.recording = recording;
    r.replace = r.replace && r.remove && r.mode == RunRequest::Mode::Cut;
    const QString text = output.trimmed();
    if (!r.remove)
        r.output.clear();
    else if (r.mode == RunRequest::Mode::SkipList)
        // A player finds a skip list only under the recording's own name.
        r.output =
            r.recording.isEmpty() ? QString() : Recording(r.recording).proposedOutput(QString(), r.mode);
    else if (text.isEmpty())
        r.output.clear();
    else if (QDir::isRelativePath(text) && !r.recording.isEmpty())
        r.output = QDir::cleanPath(r.outDir() + QLatin1Char('/') + text);
    else
        r.output = QDir::cleanPath(QFileInfo(text).absoluteFilePath());
    return r;
}

QString RequestBuilder::outputProblem(const RunRequest &request, bool folderWritten)
{
    const QString &output = request.output;
    if (output.isEmpty())
        return QStringLiteral("Choose where the cut copy goes.");
    const QFileInfo out(output);
    const QFileInfo dir(out.absolutePath());
    if (!dir.isDir())
        return QStringLiteral("The folder for the cut copy does not exist: %1")
            .arg(QDir::toNativeSeparators(dir.absoluteFilePath()));
    if (out.isDir())
        return QStringLiteral("The cut copy's name is a folder: %1").arg(QDir::toNativeSeparators(output));
    if (folderWritten) {
        QTemporaryFile probe(dir.absoluteFilePath() + QStringLiteral("/.trimlet-write-check-XXXXXX"));
        if (!probe.open())
            return QStringLiteral("The folder for the cut copy cannot be written: %1")
                .arg(QDir::toNativeSeparators(dir.absoluteFilePath()));
    }
    // Writing the copy over the recording while reading it would destroy it.
    if (CutJob::isRecording(output, request.recording))
        return QStringLiteral("The output file is the recording itself: choose another name.");
    // Refused before any tool runs: the run's work files beside the
    // recording, and the cutter's hidden partial copy, must fit their folder.
    if (const QString tooLong = Recording(request.recording).workFileNameRefusal(); !tooLong.isEmpty())
        return tooLong;
    return Recording::copyNameRefusal(output);
}

bool RequestBuilder::layProfile(RunRequest &request, QString *error)
{
    if (request.profile.isEmpty())
        return true;
    const std::optional<profiles::Profile> chosen = profiles::find(request.profile, error);
    if (!chosen)
        return false;
    request.detectorSettings = profiles::overlaid(request.detectorSettings, chosen->settings);
    return true;
}
