// Start-up and the choice of the recording and the output file.

#include "app/AppController.h"

#include "core/Diagnostics.h"
#include "core/PathText.h"
#include "jobs/RecordingLock.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>

#include <cstdio>
#include <cstdlib>

using pathtext::lastComponent;

void AppController::awakeFromNib()
{
    QGuiApplication::setQuitOnLastWindowClosed(applicationShouldTerminateAfterLastWindowClosed());
    if (!loadDetectionSettings(QStringLiteral(":/settings/detectionSettings.plist"))) {
        // Without its settings the detector would run blind: stop here.
        std::fprintf(stderr, "Trimlet cannot start: its detector settings resource "
                             "(settings/detectionSettings.plist) is missing.\n");
        std::exit(EXIT_FAILURE);
    }
    setLastCheckedDate();
    Updater::sharedUpdater()->setDelegate(this);
}

void AppController::openRecording(const QString &path)
{
    if (m_chosenRecording != path) {
        m_chosenRecording = path;
        emit chosenRecordingChanged(path);
    }
    setRecording(path);
    emit breaksReplaced();
    // What the last recording held says nothing of this one.
    m_proposedOutput = proposedOutput(false);
    setOutputText(m_proposedOutput);
    logLine(QStringLiteral("baseName = ") + baseName());
    logLine(QStringLiteral("outDir   = ") + outDir());
    // Nothing of the last recording's results may carry over to this one.
    m_commercialsFound = 0;
    m_pendingStart.reset();
    // A detection Trimlet did not live to finish set lists aside; a live
    // one's are aside for as long as it runs.
    if (!movieFile().isEmpty() && !RecordingLock(movieFile()).heldElsewhere())
        workFiles().restoreSetAside();
    m_outcome.clear();
    m_confirmedOutput.clear();
    setHaveInput(!movieFile().isEmpty());
    removeStaleCopies();
    if (readEDLData() == 0)
        readTXTData();
    m_refusal.clear();
    setRecordingInfoText(QStringLiteral("Reading the recording…"));
    m_media.start(toolPath(QStringLiteral("ffprobe")), movieFile());
    emit workFilesChanged();
}

void AppController::setRecording(const QString &path)
{
    m_recording = Recording(path);
    m_document.setRecording(m_recording);
}

void AppController::recordingProbed()
{
    const QString name = lastComponent(movieFile());
    if (m_media.answer() == MediaProbe::Answer::NotLaunched) {
        logLine(QStringLiteral("recordingProbed: ffprobe could not be started"));
        setRecordingInfoText(QStringLiteral("ffprobe is missing: the recording cannot be examined."));
    } else if (m_media.answer() == MediaProbe::Answer::TimedOut) {
        // A FIFO, or a file on a mount that hangs: said, not waited for.
        const int seconds = m_media.probeTimeLimit() / 1000;
        setRecordingInfoText(QStringLiteral("The recording gave no answer within %1 seconds.").arg(seconds));
        setHaveInput(false);
        m_refusal =
            QStringLiteral("%1 cannot be read: it gave no answer within %2 seconds.").arg(name).arg(seconds);
        setOutcome(m_refusal);
    } else if (const std::optional<media::MediaInfo> &info = m_media.info()) {
        logLine(QStringLiteral("recordingProbed: ") + media::describe(*info));
        if (!info->hasVideo) {
            // Nothing to detect and nothing to cut: refused now rather than
            // after comskip fails on it.
            setRecordingInfoText(QString());
            setHaveInput(false);
            m_refusal = QFileInfo::exists(movieFile())
                            ? QStringLiteral("%1 holds no video that can be read.").arg(name)
                            : QStringLiteral("%1 cannot be found.").arg(name);
            setOutcome(m_refusal);
        } else {
            showRecordingInfo();
            // The proposed name follows the container the copy will be in.
            if (m_outputText == m_proposedOutput) {
                m_proposedOutput = proposedOutput();
                setOutputText(m_proposedOutput);
            }
        }
    }
    if (m_pendingStart) {
        const PendingStart p = *m_pendingStart;
        m_pendingStart.reset();
        if (m_refusal.isEmpty())
            QMetaObject::invokeMethod(
                this,
                [this, p] {
                    if (m_pendingStart || runInProgress())
                        return;
                    beginRun(p.button, p.stopAction, p.detect, p.remove, p.erase, p.automatic);
                },
                Qt::QueuedConnection);
    }
}

void AppController::showRecordingInfo()
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

void AppController::recordingScanned(bool ok)
{
    logLine(QStringLiteral("recordingScanned: %1 frames%2")
                .arg(ok ? m_media.packets().count() : -1)
                .arg(m_media.scanWasQuick() ? QStringLiteral(", without the parsers") : QString()));
    showRecordingInfo();
}

void AppController::chooseOutput(const QString &path)
{
    setOutputText(path);
    // The panel has asked before replacing a file; no need to again.
    m_confirmedOutput = QFileInfo(path).absoluteFilePath();
}

void AppController::setLastCheckedDate()
{
    const QDateTime date = Updater::sharedUpdater()->lastUpdateCheckDate();
    const QString text =
        date.isValid() ? QLocale().toString(date, QLocale::ShortFormat) : QStringLiteral("never");
    if (m_lastChecked == text)
        return;
    m_lastChecked = text;
    emit lastCheckedChanged(text);
}

void AppController::updaterDidFindValidUpdate(Updater *, const QString &)
{
    setLastCheckedDate();
}

void AppController::updaterDidNotFindUpdate(Updater *)
{
    setLastCheckedDate();
}
