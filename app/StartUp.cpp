// Start-up and the choice of the recording and the output file.

#include "app/AppController.h"

#include "core/Diagnostics.h"
#include "jobs/RecordingLock.h"

#include <QGuiApplication>
#include <QLocale>

#include <cstdio>
#include <cstdlib>

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
    m_session.choose(path);
    m_review.setRecording(m_session.recording());
    emit breaksReplaced();
    logLine(QStringLiteral("baseName = ") + baseName());
    logLine(QStringLiteral("outDir   = ") + outDir());
    // Nothing of the last recording's results may carry over to this one.
    m_review.forgetCount();
    m_run.forgetRun();
    // A detection Trimlet did not live to finish set lists aside; a live
    // one's are aside for as long as it runs.
    if (!movieFile().isEmpty() && !RecordingLock(movieFile()).heldElsewhere())
        m_session.workFiles().restoreSetAside();
    setHaveInput(!movieFile().isEmpty());
    m_session.removeStaleCopies();
    if (readEDLData() == 0)
        readTXTData();
    m_session.probe(toolPath(QStringLiteral("ffprobe")));
    emit workFilesChanged();
}

void AppController::setRecording(const QString &path)
{
    m_session.setRecording(path);
    m_review.setRecording(m_session.recording());
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
