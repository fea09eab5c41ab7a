// Start-up and the choice of the recording and the output file.

#include "app/AppController.h"

#include "core/Diagnostics.h"
#include "progress/ProgressIndicator.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>

#include <cstdio>
#include <cstdlib>

namespace {

// Path operations as the work-file names are defined: the last component
// is what follows the last '/', the extension what follows the last '.' of
// that component.
QString lastPathComponent(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString deletingLastPathComponent(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return QString();
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

QString pathExtension(const QString &path)
{
    const QString last = lastPathComponent(path);
    const qsizetype dot = last.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : last.mid(dot + 1);
}

QString deletingPathExtension(const QString &path)
{
    const QString last = lastPathComponent(path);
    const qsizetype dot = last.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? path : path.left(path.size() - (last.size() - dot));
}

} // namespace

void AppController::awakeFromNib()
{
    QApplication::setQuitOnLastWindowClosed(applicationShouldTerminateAfterLastWindowClosed());
    if (!loadDetectionSettings(QStringLiteral(":/settings/detectionSettings.plist"))) {
        // Without its settings the detector would run blind: stop here.
        std::fprintf(stderr, "Trimlet cannot start: its detector settings resource "
                             "(settings/detectionSettings.plist) is missing.\n");
        std::exit(EXIT_FAILURE);
    }
    setLastCheckedDate();
    m_detectIndicator = std::make_unique<ProgressIndicator>(mDetectProgressIndicator, mDetectPercentTextField,
                                                            mDetectRemainingTextField);
    m_removeIndicator = std::make_unique<ProgressIndicator>(mRemoveProgressIndicator, mRemovePercentTextField,
                                                            mRemoveRemainingTextField);
    Updater::sharedUpdater()->setDelegate(this);
}

void AppController::browseInputFile(QObject *)
{
    const QString start = deletingLastPathComponent(mInputField ? mInputField->text() : QString());
    auto *panel = new QFileDialog(mMainWindow, tr("Choose a Recording"), start);
    panel->setFileMode(QFileDialog::ExistingFile);
    panel->setNameFilter(tr("Recordings (*.mpg *.mpeg *.ts *.tp *.dvr-ms)"));
    panel->setWindowModality(Qt::WindowModal);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    connect(panel, &QDialog::finished, this,
            [this, panel](int code) { browseInputFilePanelDidEnd(panel, code, nullptr); });
    panel->open();
}

void AppController::browseInputFilePanelDidEnd(QFileDialog *panel, int returnCode, void *)
{
    if (returnCode != 1 || !panel)
        return;
    const QStringList chosen = panel->selectedFiles();
    if (chosen.isEmpty())
        return;
    openRecording(chosen.first());
}

void AppController::openRecording(const QString &path)
{
    if (mInputField)
        mInputField->setText(path);
    setRecording(mInputField ? mInputField->text() : path);
    m_proposedOutput = deletingPathExtension(path) + QStringLiteral(".clean.") + pathExtension(path);
    if (mOutputField)
        mOutputField->setText(m_proposedOutput);
    logLine(QStringLiteral("baseName = ") + baseName());
    logLine(QStringLiteral("outDir   = ") + outDir());
    // Nothing of the last recording's results may carry over to this one.
    m_commercialsFound = 0;
    m_pendingStart.reset();
    // A detection Trimlet did not live to finish set lists aside.
    workFiles().restoreSetAside();
    m_outcome.clear();
    m_confirmedOutput.clear();
    setHaveInput(!movieFile().isEmpty());
    removeStaleCopies();
    if (readEDLData() == 0)
        readTXTData();
    m_refusal.clear();
    if (mRecordingInfoField)
        mRecordingInfoField->setText(QStringLiteral("Reading the recording…"));
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
    const QString name = lastPathComponent(movieFile());
    if (m_media.answer() == MediaProbe::Answer::NotLaunched) {
        logLine(QStringLiteral("recordingProbed: ffprobe could not be started"));
        if (mRecordingInfoField)
            mRecordingInfoField->setText(
                QStringLiteral("ffprobe is missing: the recording cannot be examined."));
    } else if (m_media.answer() == MediaProbe::Answer::TimedOut) {
        // A FIFO, or a file on a mount that hangs: said, not waited for.
        const int seconds = m_media.probeTimeLimit() / 1000;
        if (mRecordingInfoField)
            mRecordingInfoField->setText(
                QStringLiteral("The recording gave no answer within %1 seconds.").arg(seconds));
        setHaveInput(false);
        m_refusal =
            QStringLiteral("%1 cannot be read: it gave no answer within %2 seconds.").arg(name).arg(seconds);
        setOutcome(m_refusal);
    } else if (const std::optional<media::MediaInfo> &info = m_media.info()) {
        logLine(QStringLiteral("recordingProbed: ") + media::describe(*info));
        if (!info->hasVideo) {
            // Nothing to detect and nothing to cut: refused now rather than
            // after comskip fails on it.
            if (mRecordingInfoField)
                mRecordingInfoField->setText(QString());
            setHaveInput(false);
            m_refusal = QFileInfo::exists(movieFile())
                            ? QStringLiteral("%1 holds no video that can be read.").arg(name)
                            : QStringLiteral("%1 cannot be found.").arg(name);
            setOutcome(m_refusal);
        } else {
            showRecordingInfo();
            // The proposed name follows the container the copy will be in.
            const media::Cutter cutter = media::cutterFor(*info);
            const QString ext =
                media::extensionFor(media::containerFor(*info, cutter), pathExtension(movieFile()));
            if (mOutputField && mOutputField->text() == m_proposedOutput) {
                m_proposedOutput = m_recording.proposedOutput(ext);
                mOutputField->setText(m_proposedOutput);
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
    if (!mRecordingInfoField || !m_media.info())
        return;
    // The container's length is the span of its clock, which a jump of the
    // broadcast's clock makes hours long: the length shown is that of the
    // pictures, once they have been counted.
    media::MediaInfo shown = *m_media.info();
    shown.duration = 0;
    shown.videoDuration = m_media.scanDone() ? media::playingSeconds(m_media.packets()) : 0;
    mRecordingInfoField->setText(media::describe(shown));
}

void AppController::recordingScanned(bool ok)
{
    logLine(QStringLiteral("recordingScanned: %1 frames%2")
                .arg(ok ? m_media.packets().count() : -1)
                .arg(m_media.scanWasQuick() ? QStringLiteral(", without the parsers") : QString()));
    showRecordingInfo();
}

void AppController::browseOutputFile(QObject *)
{
    const QString current = mOutputField ? mOutputField->text() : QString();
    auto *panel =
        new QFileDialog(mMainWindow, tr("Save the Cut Recording As"), deletingLastPathComponent(current));
    panel->setAcceptMode(QFileDialog::AcceptSave);
    panel->setFileMode(QFileDialog::AnyFile);
    const QString suffix = pathExtension(current).isEmpty() ? QStringLiteral("mpg") : pathExtension(current);
    panel->setNameFilters({tr("MPEG streams (*.mpg *.mpeg *.ts *.tp *.m2ts)"), tr("All files (*)")});
    panel->setDefaultSuffix(suffix);
    panel->selectFile(lastPathComponent(current));
    panel->setWindowModality(Qt::WindowModal);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    connect(panel, &QDialog::finished, this,
            [this, panel](int code) { browseOutputFilePanelDidEnd(panel, code, nullptr); });
    panel->open();
}

void AppController::browseOutputFilePanelDidEnd(QFileDialog *panel, int returnCode, void *)
{
    if (returnCode != 1 || !panel || !mOutputField)
        return;
    const QStringList chosen = panel->selectedFiles();
    if (!chosen.isEmpty()) {
        mOutputField->setText(chosen.first());
        // The panel has asked before replacing a file; no need to again.
        m_confirmedOutput = QFileInfo(chosen.first()).absoluteFilePath();
    }
}

QString AppController::outputDir() const
{
    return deletingLastPathComponent(mInputField ? mInputField->text() : movieFile());
}

void AppController::setLastCheckedDate()
{
    if (!mLastCheckedMessage)
        return;
    const QDateTime date = Updater::sharedUpdater()->lastUpdateCheckDate();
    mLastCheckedMessage->setText(date.isValid() ? QLocale().toString(date, QLocale::ShortFormat)
                                                : QStringLiteral("never"));
}

void AppController::updaterDidFindValidUpdate(Updater *, const QString &)
{
    setLastCheckedDate();
}

void AppController::updaterDidNotFindUpdate(Updater *)
{
    setLastCheckedDate();
}
