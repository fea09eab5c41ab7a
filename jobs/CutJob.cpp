#include "jobs/CutJob.h"

#include "core/Diagnostics.h"
#include "core/ResultParsers.h"
#include "core/TimeText.h"
#include "jobs/FrameExactCut.h"
#include "jobs/Recording.h"
#include "jobs/RecordingMedia.h"
#include "jobs/RequestBuilder.h"
#include "jobs/SavedCopy.h"
#include "jobs/WorkFiles.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace {

QString fileNameOf(const QString &path)
{
    return QFileInfo(path).fileName();
}

} // namespace

CutJob::CutJob(const RunRequest &request, RecordingMedia *media, QObject *parent)
    : Job(parent), m_request(request), m_media(media), m_check(media)
{
    connect(&m_check, &CopyCheck::finished, this, &CutJob::copyJudged);
    connect(&m_check, &CopyCheck::logged, this, &CutJob::logged);
    connect(&m_check, &CopyCheck::recordingUnreadable, this, [this] {
        discardPartialCopy();
        end(Status::Failed,
            withOutcome(QStringLiteral("The recording could not be read to check the %1, so it was not kept.")
                            .arg(copyNoun())));
    });
}

CutJob::~CutJob()
{
    m_check.cancel();
    discardPartialCopy();
}

void CutJob::setContext(const QString &outcomeSoFar, const QString &editSummary)
{
    setOutcome(outcomeSoFar);
    m_editSummary = editSummary;
}

QString CutJob::copyNoun() const
{
    return chapters() ? QStringLiteral("chapters file") : QStringLiteral("cut copy");
}

void CutJob::start()
{
    setRunning();
    const WorkFiles files(m_request.outDir(), m_request.baseName());
    // Writing the copy over the recording while reading it would destroy
    // it; a request naming it was refused when it was made, and still is.
    if (isRecording(m_request.output, m_request.recording)) {
        end(Status::Failed, RequestBuilder::outputProblem(m_request));
        return;
    }
    // Without its cut list a cutter copies the whole recording and says
    // nothing of it.
    const QString edlPath = files.path(QStringLiteral("edl"));
    if (!QFileInfo::exists(edlPath)) {
        end(Status::Succeeded, withOutcome(QStringLiteral("No cut list yet: detect the commercials first.")));
        return;
    }
    const std::optional<media::MediaInfo> info = m_media ? m_media->info() : std::nullopt;
    if (!info || !info->hasVideo) {
        end(Status::Failed,
            info ? QStringLiteral("%1 holds no video that can be read.").arg(fileNameOf(m_request.recording))
                 : QStringLiteral("Could not start ffprobe. Is ffmpeg installed?"));
        return;
    }
    bool opened = false;
    const Recording recording(m_request.recording);
    const QByteArray edl = recording.read(QStringLiteral("edl"), &opened);
    const std::optional<QList<media::Span>> cuts = opened ? media::parseEdlCuts(edl) : std::nullopt;
    const double seconds = m_media->clockSeconds();
    m_recordingSeconds = seconds;
    m_cuts = cuts ? media::normalisedCuts(*cuts, seconds) : QList<media::Span>();
    if (m_cuts.isEmpty()) {
        end(cuts ? Status::Succeeded : Status::Failed,
            cuts ? QStringLiteral("Found 0 commercials: nothing to cut.")
                 : QStringLiteral("The cut list cannot be read: detect the commercials again."));
        return;
    }
    m_kept = media::keptSpans(m_cuts, seconds);
    if (m_kept.isEmpty()) {
        end(Status::Failed, withOutcome(QStringLiteral(
                                "The cut list leaves nothing of the recording to keep: no copy was made.")));
        return;
    }
    // A chapters file holds the whole recording.
    m_keptSeconds = chapters() ? seconds : media::totalLength(m_kept);
    m_room =
        CopyRoom(m_request.output, copyNoun(), QFileInfo(m_request.recording).size(), m_keptSeconds, seconds);
    if (const QString problem = m_room.lacking(); !problem.isEmpty()) {
        end(Status::Failed, withOutcome(problem));
        return;
    }
    m_partial.removeStale(m_request.output);
    const media::Cutter chosen =
        chapters() ? media::Cutter::Ffmpeg
                   : media::cutterFor(*info, m_request.mencoderCutter, m_request.frameExact);
    m_container = chapters() ? media::Container::Matroska : media::containerFor(*info, chosen);
    QString skipped;
    const media::Cutter cutter = m_recut.first(chosen, m_request.skipMencoder, &skipped);
    if (!skipped.isEmpty())
        logToRunLog(skipped);
    startCut(cutter);
}

void CutJob::discardPartialCopy()
{
    m_partial.discard();
    m_command.remove();
}

// False when the cut could not be started; the step has then ended.
bool CutJob::startCut(media::Cutter cutter)
{
    m_request.frameExact = RecutPolicy::toThePicture(cutter, m_request);
    m_cutter = cutter;
    m_phase = Phase::Cutting;
    m_exact.reset();
    m_exactStep = 0;
    m_edgesNote.clear();
    const media::MediaInfo &info = *m_media->info();

    // The copy is written under a hidden name of its own, and takes the
    // output's name only once it has been checked.
    const PartialCopy::Created created = m_partial.create(m_request.output);
    if (created == PartialCopy::Created::NotWritable) {
        end(Status::Failed,
            withOutcome(
                QStringLiteral("The %1 cannot be written in %2.")
                    .arg(copyNoun(), QDir::toNativeSeparators(QFileInfo(m_request.output).absolutePath()))));
        return false;
    }
    if (created == PartialCopy::Created::NameTooLong) {
        end(Status::Failed, withOutcome(QStringLiteral("The copy's name is too long for this file system.")));
        return false;
    }

    bool made = m_command.write(m_request, info, cutter, m_container, m_cuts, m_kept, m_recordingSeconds,
                                m_partial.path());
    if (made && cutter != media::Cutter::Mencoder && !chapters() && m_request.frameExact) {
        // A stream copy of the kept spans alone starts each where its seek
        // lands, in a long group of pictures seconds away or on pictures
        // whose references were cut away: every edge is cut to the picture
        // instead, with the whole groups between copied as they are.
        m_exact = std::make_unique<FrameExactCut>(m_request, info, m_kept, m_recordingSeconds, m_container,
                                                  m_command.folder(), m_command.link(), m_partial.path());
        connect(m_exact.get(), &FrameExactCut::indexed, this, &CutJob::exactIndexed);
        if (const QString problem = m_room.lackingForPieces(m_command.folder()); !problem.isEmpty()) {
            discardPartialCopy();
            end(Status::Failed, withOutcome(problem));
            return false;
        }
    }
    if (!made) {
        const bool noFolder = m_command.folder().isEmpty();
        discardPartialCopy();
        end(Status::Failed,
            withOutcome(noFolder
                            ? QStringLiteral("The temporary folder %1 cannot be written: the cut list for %2 "
                                             "is made there.")
                                  .arg(QDir::toNativeSeparators(CutterCommand::piecesRoot()),
                                       media::cutterName(cutter))
                            : QStringLiteral("The cut list for %1 could not be written.")
                                  .arg(media::cutterName(cutter))));
        return false;
    }
    if (chapters())
        emit message(QStringLiteral("Writing the chapters file with ffmpeg…"));
    else
        emit message(m_editSummary.isEmpty()
                         ? QStringLiteral("Cutting the commercials with %1…").arg(media::cutterName(cutter))
                         : QStringLiteral("Cutting %1.").arg(m_editSummary));
    logToRunLog(QStringLiteral("cutting with %1 into %2").arg(media::cutterName(cutter), m_partial.path()));
    if (m_exact)
        m_exact->index();
    else
        runTool(m_command.arguments());
    return true;
}

void CutJob::exactIndexed(bool ok)
{
    if (!ok) {
        const QString problem = m_exact->problem();
        logToRunLog(QStringLiteral("the recording could not be cut frame by frame: ") + problem);
        discardPartialCopy();
        end(Status::Failed,
            withOutcome(
                QStringLiteral("The recording could not be cut at its exact frames: %1.").arg(problem)));
        return;
    }
    m_edgesNote = m_exact->edgesText();
    logToRunLog(QStringLiteral("cutting frame-exactly in %1 steps: %2")
                    .arg(m_exact->commands().size())
                    .arg(m_edgesNote.isEmpty() ? QStringLiteral("nothing cut") : m_edgesNote));
    m_exactStep = 0;
    runExactStep();
}

void CutJob::runExactStep()
{
    double total = 0, done = 0;
    const QList<double> &costs = m_exact->commandSeconds();
    for (qsizetype k = 0; k < costs.size(); ++k) {
        total += costs.at(k);
        if (k < m_exactStep)
            done += costs.at(k);
    }
    if (m_exactStep > 0 && total > 0)
        emit progress(100.0 * done / total);
    if (m_exactStep == m_exact->commands().size() - 1 && !m_exact->readyToJoin())
        logLine(QStringLiteral("runExactStep: a piece too short to be read could not be lengthened"));
    logLine(QStringLiteral("runExactStep: ") + m_exact->commands().at(m_exactStep).join(QLatin1Char(' ')));
    runTool(m_exact->commands().at(m_exactStep));
}

QList<media::Span> CutJob::reencodedRanges() const
{
    return m_exact && m_cutter != media::Cutter::Mencoder ? m_exact->reencodedRanges() : QList<media::Span>();
}

void CutJob::toolOutput(const QString &chunk)
{
    // ffmpeg tells how far its copy has got in seconds of output; the row
    // shows that against the length the copy will have.
    if (m_exact) {
        // Told step by step, as each of its runs ends.
        if (media::scanFfmpegProgress(chunk))
            return;
    } else if (m_cutter == media::Cutter::Ffmpeg) {
        if (const std::optional<double> done = media::scanFfmpegProgress(chunk)) {
            if (m_keptSeconds > 0)
                emit progress(qBound(0.0, 100.0 * *done / m_keptSeconds, 100.0));
            return;
        }
    }
    readProgress(chunk);
}

void CutJob::toolEnded(int rc, bool stopped, bool launchFailed)
{
    const QString name = media::cutterName(m_cutter);
    if (stopped) {
        discardPartialCopy();
        end(Status::Stopped, QStringLiteral("Removal stopped."));
        return;
    }
    if (launchFailed || (rc != 0 && rc != -1)) {
        const qint64 written = m_partial.path().isEmpty() ? 0 : QFileInfo(m_partial.path()).size();
        // Said before the partial copy is thrown away, which frees the
        // space it filled.
        const QString fullText =
            launchFailed ? QString()
                         : m_room.filled(excerpts(), written, m_exact ? m_command.folder() : QString());
        const bool full = !fullText.isEmpty();
        discardPartialCopy();
        const QString why = launchFailed ? QStringLiteral("%1 could not be started").arg(name)
                                         : QStringLiteral("%1 failed (error %2)").arg(name).arg(rc);
        logToRunLog(why);
        // Another cutter would only fill the disk again.
        if (full) {
            end(Status::Failed, withOutcome(fullText));
            return;
        }
        if (const std::optional<media::Cutter> next = m_recut.afterFailure(m_cutter, why)) {
            startCut(*next);
            return;
        }
        end(Status::Failed,
            withOutcome(launchFailed ? QStringLiteral("Could not start %1. Is it installed?").arg(name)
                                     : QString::asprintf("Unexpected error %d.", rc)));
        return;
    }
    if (m_exact && ++m_exactStep < m_exact->commands().size()) {
        runExactStep();
        return;
    }
    // The last piece is written: the cut is whole, whatever its steps told.
    if (m_exact)
        emit progress(100);
    m_phase = Phase::Verifying;
    emit message(QStringLiteral("Checking the %1…").arg(copyNoun()));
    CopyCheck::Input input;
    input.copy = m_partial.path();
    input.cutter = m_cutter;
    input.chapters = chapters();
    input.cuts = m_cuts;
    input.kept = m_exact && m_cutter != media::Cutter::Mencoder ? m_exact->keptInCopy() : m_kept;
    input.chaptersWritten = m_command.chapters();
    input.recordingSeconds = m_recordingSeconds;
    input.reencoded = reencodedRanges();
    input.frameExact = m_exact && m_cutter != media::Cutter::Mencoder;
    m_check.start(m_request.tools, m_request.recording, input);
}

void CutJob::copyJudged(const media::CopyVerdict &verdict)
{
    if (m_phase != Phase::Verifying)
        return;
    if (verdict.kept())
        keepCopy(m_check.measured(), m_check.copySeconds());
    else
        rejectCopy(verdict);
}

void CutJob::rejectCopy(const media::CopyVerdict &verdict)
{
    discardPartialCopy();
    const QString problem = verdict.statement(copyNoun());
    if (const std::optional<media::Cutter> next = m_recut.afterRefusal(m_cutter, verdict)) {
        if (startCut(*next))
            emit message(problem + QStringLiteral(": cut again with ffmpeg."));
        return;
    }
    end(Status::Failed, withOutcome(problem + QStringLiteral(", so it was not kept.")));
}

void CutJob::keepCopy(const QString &measured, double copySeconds)
{
    const QString name = media::cutterName(m_cutter);
    if (const QString problem = savedcopy::takeName(m_partial.path(), m_request.output, m_request.recording,
                                                    m_request.replaceOthers, copyNoun());
        !problem.isEmpty()) {
        discardPartialCopy();
        end(Status::Failed, withOutcome(problem));
        return;
    }
    m_partial.release();
    discardPartialCopy();
    m_copyMade = QFileInfo(m_request.output).absoluteFilePath();
    logToRunLog(
        QStringLiteral("%1 %2 made by %3 and checked: %4").arg(copyNoun(), m_request.output, name, measured));
    if (chapters()) {
        const QList<media::Chapter> &written = m_command.chapters();
        const auto breaks = std::count_if(written.cbegin(), written.cend(), [](const media::Chapter &c) {
            return c.title == QLatin1String("Commercial");
        });
        end(Status::Succeeded,
            withOutcome(QStringLiteral("Chapters file: %1 (%2), %3 chapters, %4 of them commercials, "
                                       "nothing removed.")
                            .arg(fileNameOf(m_request.output), timeText(copySeconds, true))
                            .arg(written.size())
                            .arg(breaks)));
        return;
    }
    QString text = QStringLiteral("Cut copy: %1 (%2), cut by %3.")
                       .arg(fileNameOf(m_request.output), timeText(copySeconds, true), name);
    if (!m_edgesNote.isEmpty())
        text += QLatin1Char(' ') + m_edgesNote;
    if (!m_recut.note().isEmpty())
        text = m_recut.note() + QLatin1Char(' ') + text;
    if (m_container == media::Container::TransportStream
        && m_media->info()->formatName == QLatin1String("mpeg")) {
        resultToBe().warnings << QStringLiteral("It is a transport stream: a program stream has no place "
                                                "for its subtitles or its tracks' languages.");
        text += QLatin1Char(' ') + resultToBe().warnings.last();
    }
    end(Status::Succeeded, withOutcome(text));
}

void CutJob::stop()
{
    if (m_phase == Phase::Verifying) {
        // Only the check runs: nothing to wait for.
        m_check.cancel();
        discardPartialCopy();
        end(Status::Stopped, QStringLiteral("Removal stopped."));
        return;
    }
    if (toolRunning()) {
        Job::stop();
        return;
    }
    if (m_exact)
        m_exact->cancel();
    discardPartialCopy();
    end(Status::Stopped, QStringLiteral("Removal stopped."));
}

void CutJob::end(Status status, const QString &outcome)
{
    m_phase = Phase::None;
    Outcome &result = resultToBe();
    result.copy = m_copyMade;
    result.cutter = m_copyMade.isEmpty() ? QString() : media::cutterName(m_cutter);
    result.mencoderRefused = m_recut.mencoderRefused();
    result.keptSeconds = m_copyMade.isEmpty() ? 0 : m_check.copySeconds();
    result.breaksCut = m_copyMade.isEmpty() ? 0 : int(m_cuts.size());
    if (!m_copyMade.isEmpty() && !m_recut.note().isEmpty())
        result.warnings.prepend(m_recut.note());
    finish(status, outcome);
}
