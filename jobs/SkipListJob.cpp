#include "jobs/SkipListJob.h"

#include "core/AtomicWrite.h"
#include "core/MediaInfo.h"
#include "jobs/Recording.h"
#include "jobs/RecordingMedia.h"

#include <QFile>
#include <QFileInfo>

#include <cmath>

namespace {

// The rows of a DVR's or the user's list that are no break (a mute, a
// scene marker: actions 1 and 2), as they were: the skip list is written
// over that list, and what it said besides the breaks stays said.
QByteArray rowsKept(const QByteArray &edl)
{
    QByteArray kept;
    for (const QByteArray &raw : edl.split('\n')) {
        const QList<QByteArray> fields = raw.simplified().split(' ');
        if (fields.size() > 2 && (fields.at(2) == "1" || fields.at(2) == "2"))
            kept += raw + '\n';
    }
    return kept;
}

} // namespace

SkipListJob::SkipListJob(const RunRequest &request, RecordingMedia *media, QObject *parent)
    : Job(parent), m_request(request), m_media(media)
{ }

void SkipListJob::setOutcomeSoFar(const QString &text)
{
    setOutcome(text);
}

void SkipListJob::start()
{
    setRunning();
    const QString name = QFileInfo(m_request.output).fileName();
    bool opened = false;
    const Recording recording(m_request.recording);
    const QByteArray edl = recording.read(QStringLiteral("edl"), &opened);
    if (!opened) {
        finish(Status::Succeeded,
               withOutcome(QStringLiteral("No cut list yet: detect the commercials first.")));
        return;
    }
    const std::optional<QList<media::Span>> read = media::parseEdlCuts(edl);
    if (!read) {
        finish(Status::Failed, QStringLiteral("The cut list cannot be read: detect the commercials again."));
        return;
    }
    // The breaks end where the recording does, as a cut would take them.
    const double seconds = m_media ? m_media->clockSeconds() : 0;
    const QList<media::Span> breaks = seconds > 0 ? media::normalisedCuts(*read, seconds) : *read;
    emit message(QStringLiteral("Writing the skip list…"));
    if (!writeAtomically(m_request.output, media::edlText(breaks, 3) + rowsKept(edl))) {
        finish(Status::Failed, QStringLiteral("The skip list could not be written as %1.").arg(name));
        return;
    }
    // Read back as a player would find it.
    QFile file(m_request.output);
    const std::optional<QList<media::Span>> back =
        file.open(QIODevice::ReadOnly) ? media::parseEdlCuts(file.readAll()) : std::nullopt;
    bool same = back && back->size() == breaks.size();
    for (qsizetype i = 0; same && i < breaks.size(); ++i)
        same = std::abs(back->at(i).start - breaks.at(i).start) < 0.001
               && std::abs(back->at(i).end - breaks.at(i).end) < 0.001;
    if (!same) {
        finish(Status::Failed,
               QStringLiteral("The skip list %1 does not read back as the breaks approved.").arg(name));
        return;
    }
    m_listMade = QFileInfo(m_request.output).absoluteFilePath();
    emit logged(QStringLiteral("skip list %1 written and read back: %2 breaks")
                    .arg(m_request.output)
                    .arg(breaks.size()));
    const QString text =
        QStringLiteral("Skip list: %1, %2 %3 for the player to skip, the recording left as it is.")
            .arg(name)
            .arg(breaks.size())
            .arg(breaks.size() == 1 ? QStringLiteral("break") : QStringLiteral("breaks"));
    finish(Status::Succeeded, withOutcome(text));
}
