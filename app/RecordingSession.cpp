// The recording chosen, what the probe says it holds, and the files of it
// a run leaves beside it.

#include "app/RecordingSession.h"

#include "core/Diagnostics.h"
#include "core/PathText.h"
#include "jobs/CutJob.h"

#include <QFileInfo>

using pathtext::lastComponent;

RecordingSession::RecordingSession(QObject *parent) : QObject(parent)
{
    connect(&m_media, &RecordingMedia::probed, this, &RecordingSession::recordingProbed);
    connect(&m_media, &RecordingMedia::scanned, this, &RecordingSession::recordingScanned);
}

RecordingSession::~RecordingSession()
{
    m_media.cancel();
    QString why;
    carryOut(QString(), false, &why);
}

void RecordingSession::choose(const QString &path)
{
    QString why;
    carryOut(QString(), false, &why);
    m_standInRefusal.clear();
    if (rawnames::holdsBytes(path) && !(m_standIn = rawnames::StandIn::make(rawnames::bytesOf(path), &why)))
        m_standInRefusal = rawnames::cannotRun(rawnames::bytesOf(lastComponent(path)), why);
    if (m_chosenRecording != path) {
        m_chosenRecording = path;
        emit chosenRecordingChanged(path);
    }
    setRecording(m_standIn ? m_standIn->recording() : path);
    // What the last recording held says nothing of this one.
    m_proposedOutput = proposedOutput(false);
    setOutputText(m_proposedOutput);
    m_confirmedOutput.clear();
    m_refusal.clear();
}

QString RecordingSession::carryOut(const QString &copy, bool again, QString *why)
{
    if (!m_standIn)
        return copy;
    m_standIn->finish(copy, false, why);
    const QString made = m_standIn->copyMade().isEmpty() ? copy : m_standIn->copyMade();
    m_standIn.reset();
    if (again && (m_standIn = rawnames::StandIn::make(rawnames::bytesOf(m_chosenRecording), why))) {
        setRecording(m_standIn->recording());
        // The name proposed lay in the last stand-in's folder.
        if (m_outputText == m_proposedOutput)
            setOutputText(m_proposedOutput = proposedOutput(m_media.info().has_value()));
    } else if (again) {
        setRecording(m_chosenRecording);
        m_refusal = why->trimmed();
    }
    return made;
}

void RecordingSession::probe(const QString &ffprobe)
{
    m_refusal = m_standInRefusal;
    if (!m_refusal.isEmpty()) {
        setRecordingInfoText(QString());
        emit refused(m_refusal);
        emit probeAnswered();
        return;
    }
    setRecordingInfoText(QStringLiteral("Reading the recording…"));
    m_media.start(ffprobe, movieFile());
}

void RecordingSession::setOutputText(const QString &text)
{
    if (m_outputText == text)
        return;
    m_outputText = text;
    emit outputTextChanged(text);
}

void RecordingSession::setRecordingInfoText(const QString &text)
{
    if (m_recordingInfoText == text)
        return;
    m_recordingInfoText = text;
    emit recordingInfoTextChanged(text);
}

void RecordingSession::chooseOutput(const QString &path)
{
    setOutputText(path);
    // The panel has asked before replacing a file; no need to again.
    m_confirmedOutput = QFileInfo(path).absoluteFilePath();
}

void RecordingSession::recordingProbed()
{
    const QString name = lastComponent(movieFile());
    if (m_media.answer() == MediaProbe::Answer::NotLaunched) {
        logLine(QStringLiteral("recordingProbed: ffprobe could not be started"));
        setRecordingInfoText(QStringLiteral("ffprobe is missing: the recording cannot be examined."));
    } else if (m_media.answer() == MediaProbe::Answer::TimedOut) {
        // A FIFO, or a file on a mount that hangs: said, not waited for.
        const int seconds = m_media.probeTimeLimit() / 1000;
        setRecordingInfoText(QStringLiteral("The recording gave no answer within %1 seconds.").arg(seconds));
        m_refusal =
            QStringLiteral("%1 cannot be read: it gave no answer within %2 seconds.").arg(name).arg(seconds);
        emit refused(m_refusal);
    } else if (const std::optional<media::MediaInfo> &info = m_media.info()) {
        logLine(QStringLiteral("recordingProbed: ") + media::describe(*info));
        if (!info->hasVideo) {
            // Nothing to detect and nothing to cut: refused now rather than
            // after comskip fails on it.
            setRecordingInfoText(QString());
            m_refusal = QFileInfo::exists(movieFile())
                            ? QStringLiteral("%1 holds no video that can be read.").arg(name)
                            : QStringLiteral("%1 cannot be found.").arg(name);
            emit refused(m_refusal);
        } else {
            showRecordingInfo();
            // The proposed name follows the container the copy will be in.
            if (m_outputText == m_proposedOutput) {
                m_proposedOutput = proposedOutput();
                setOutputText(m_proposedOutput);
            }
        }
    }
    emit probeAnswered();
}

void RecordingSession::showRecordingInfo()
{
    if (!m_media.info())
        return;
    // The container's length is the span of its clock, which a jump of the
    // broadcast's clock makes hours long: the length shown is that of the
    // pictures, once they have been counted.
    media::MediaInfo shown = *m_media.info();
    shown.duration = 0;
    shown.videoDuration = m_media.scanDone() ? media::playingSeconds(m_media.packets()) : 0;
    setRecordingInfoText(media::describe(shown));
}

void RecordingSession::recordingScanned(bool ok)
{
    logLine(QStringLiteral("recordingScanned: %1 frames%2")
                .arg(ok ? m_media.packets().count() : -1)
                .arg(m_media.scanWasQuick() ? QStringLiteral(", without the parsers") : QString()));
    showRecordingInfo();
}

WorkFiles RecordingSession::workFiles() const
{
    return WorkFiles(outDir(), baseName(), {movieFile(), outputInUse()});
}

QStringList RecordingSession::workFilesMade() const
{
    return workFiles().made();
}

bool RecordingSession::haveWorkFiles() const
{
    return workFiles().any() || !partialCopies().isEmpty();
}
