#include "jobs/CutJob.h"

#include "core/AtomicWrite.h"
#include "core/Diagnostics.h"
#include "core/ResultParsers.h"
#include "core/TimeText.h"
#include "jobs/DetectJob.h"
#include "jobs/FrameExactCut.h"
#include "jobs/Recording.h"
#include "jobs/RecordingMedia.h"
#include "jobs/RequestBuilder.h"
#include "jobs/SavedCopy.h"
#include "jobs/WorkFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

constexpr char kPartialMarker[] = ".trimlet-";
QString fileNameOf(const QString &path)
{
    return QFileInfo(path).fileName();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::NewOnly) && file.write(bytes) == bytes.size()
           && file.flush();
}

// The recording's suffix for the link ffmpeg reads it through, when it is
// one a list can name plainly ("Tagesschau 20.00 Uhr" has none).
QString safeSuffix(const QString &path)
{
    const QString ext = QFileInfo(path).suffix();
    if (ext.isEmpty() || ext.size() > 8)
        return QString();
    for (const QChar c : ext)
        if (!(c.isLetterOrNumber() && c.unicode() < 0x80))
            return QString();
    return QLatin1Char('.') + ext;
}

// What every ffmpeg the cut runs starts with: quiet but for errors, its
// progress on stdout, the output replaced (it is our own hidden file).
QStringList ffmpegStart(const RunRequest &request)
{
    return {request.tools.ffmpeg,        QStringLiteral("-nostdin"), QStringLiteral("-hide_banner"),
            QStringLiteral("-v"),        QStringLiteral("error"),    QStringLiteral("-nostats"),
            QStringLiteral("-progress"), QStringLiteral("pipe:1"),   QStringLiteral("-y")};
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

QStringList CutJob::mencoderArguments(const RunRequest &request, const QString &output,
                                      const QString &cutList)
{
    QStringList args{request.tools.mencoder,
                     QStringLiteral("-oac"),
                     QStringLiteral("copy"),
                     QStringLiteral("-ovc"),
                     QStringLiteral("copy"),
                     QStringLiteral("-of"),
                     QStringLiteral("mpeg"),
                     QStringLiteral("-mpegopts"),
                     QStringLiteral("format=mpeg2:tsaf:muxrate=36000"),
                     QStringLiteral("-forceidx")};
    if (request.noSkip)
        args << QStringLiteral("-noskip") << QStringLiteral("-mc") << QStringLiteral("0");
    if (request.edlSeek)
        args << QStringLiteral("-hr-edl-seek");
    args << QStringLiteral("-edl")
         << (cutList.isEmpty() ? WorkFiles(request.outDir(), request.baseName()).path(QStringLiteral("edl"))
                               : cutList);
    args << QStringLiteral("-o") << (!output.isEmpty() ? output : request.output);
    args << asOperand(request.recording);
    return args;
}

QStringList CutJob::ffmpegArguments(const RunRequest &request, const QString &list, const QString &output,
                                    media::Container container, const QStringList &streamOptions)
{
    QStringList args = ffmpegStart(request);
    args << QStringLiteral("-f") << QStringLiteral("concat") << QStringLiteral("-i") << list
         << QStringLiteral("-map") << QStringLiteral("0:v") << QStringLiteral("-map")
         << QStringLiteral("0:a?");
    // A program stream has no place for broadcast subtitles.
    if (container == media::Container::TransportStream)
        args << QStringLiteral("-map") << QStringLiteral("0:s?");
    args << QStringLiteral("-c") << QStringLiteral("copy") << streamOptions << QStringLiteral("-f")
         << media::muxerName(container) << QStringLiteral("file:") + output;
    return args;
}

QStringList CutJob::chaptersArguments(const RunRequest &request, const QString &chapters,
                                      const QString &output)
{
    // Picture, sound and subtitles, as a cut maps them; frames before the
    // first key frame cannot be shown and are left out, as in a cut.
    // A program stream's B-frames come without a timestamp, which
    // Matroska needs for every packet: ffmpeg makes them up from the rest.
    return ffmpegStart(request)
           + QStringList{QStringLiteral("-fflags"),
                         QStringLiteral("+genpts"),
                         QStringLiteral("-i"),
                         QStringLiteral("file:") + QFileInfo(request.recording).absoluteFilePath(),
                         QStringLiteral("-f"),
                         QStringLiteral("ffmetadata"),
                         QStringLiteral("-i"),
                         QStringLiteral("file:") + chapters,
                         QStringLiteral("-map"),
                         QStringLiteral("0:v"),
                         QStringLiteral("-map"),
                         QStringLiteral("0:a?"),
                         QStringLiteral("-map"),
                         QStringLiteral("0:s?"),
                         QStringLiteral("-map_chapters"),
                         QStringLiteral("1"),
                         QStringLiteral("-c"),
                         QStringLiteral("copy"),
                         QStringLiteral("-f"),
                         media::muxerName(media::Container::Matroska),
                         QStringLiteral("file:") + output};
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
    m_cutNote.clear();
    // A copy that cannot fit is refused before the disk is filled.
    m_expectedBytes =
        qint64(double(QFileInfo(m_request.recording).size()) * std::min(1.0, m_keptSeconds / seconds) * 1.02);
    if (const QString problem = savedcopy::noRoom(m_request.output, copyNoun(), m_expectedBytes);
        !problem.isEmpty()) {
        end(Status::Failed, withOutcome(problem));
        return;
    }
    removeStaleCopies();
    media::Cutter cutter = chapters()
                               ? media::Cutter::Ffmpeg
                               : media::cutterFor(*info, m_request.mencoderCutter, m_request.frameExact);
    m_container = chapters() ? media::Container::Matroska : media::containerFor(*info, cutter);
    // ffmpeg writes what it would have written after mencoder, in the
    // container the output's name was chosen for.
    m_mencoderRefused = false;
    if (cutter == media::Cutter::Mencoder && m_request.skipMencoder) {
        cutter = media::Cutter::Ffmpeg;
        m_cutNote = QStringLiteral("mencoder's copies of recordings like this one were refused earlier in "
                                   "the batch, so it was cut with ffmpeg.");
        logToRunLog(QStringLiteral("not cutting with mencoder: its copies of recordings like this one were "
                                   "refused earlier in the batch"));
    }
    startCut(cutter);
}

void CutJob::removeStaleCopies()
{
    // Left by a cut that Trimlet did not live to finish.
    for (const QString &path : partialCopiesOf(m_request.output))
        if (path != m_partialCopy)
            QFile::remove(path);
}

void CutJob::discardPartialCopy()
{
    if (!m_partialCopy.isEmpty())
        QFile::remove(m_partialCopy);
    m_partialCopy.clear();
    if (!m_cutDir.isEmpty())
        QDir(m_cutDir).removeRecursively();
    m_cutDir.clear();
}

// False when the cut could not be started; the step has then ended.
bool CutJob::startCut(media::Cutter cutter)
{
    m_cutter = cutter;
    m_phase = Phase::Cutting;
    m_exact.reset();
    m_exactStep = 0;
    m_edgesNote.clear();
    const media::MediaInfo &info = *m_media->info();

    // The copy is written under a hidden name of its own, created here and
    // so never anybody else's file, and takes the output's name only once
    // it has been checked.
    const QFileInfo out(m_request.output);
    QTemporaryFile partial(out.absolutePath() + QStringLiteral("/.") + out.fileName()
                           + QLatin1String(kPartialMarker) + QStringLiteral("XXXXXX"));
    partial.setAutoRemove(false);
    if (!partial.open()) {
        end(Status::Failed, withOutcome(QStringLiteral("The %1 cannot be written in %2.")
                                            .arg(copyNoun(), QDir::toNativeSeparators(out.absolutePath()))));
        return false;
    }
    // The copy gets what the user's umask gives a new file, as any other
    // program's would: a household group may manage it, or the world may
    // not read it.
    ::fchmod(partial.handle(), mode_t(newFilePermissions()));
    m_partialCopy = partial.fileName();
    partial.close();
    // Where the hidden name does not fit, Qt opens a file with no name at
    // all; a cutter is never handed anything but a hidden name of its own,
    // least of all the copy's.
    const QString prefix = QLatin1Char('.') + out.fileName() + QLatin1String(kPartialMarker);
    if (!QFileInfo(m_partialCopy).fileName().startsWith(prefix)
        || QFileInfo(m_partialCopy).absolutePath() != out.absolutePath()) {
        m_partialCopy.clear();
        end(Status::Failed, withOutcome(QStringLiteral("The copy's name is too long for this file system.")));
        return false;
    }

    // Every cutter reads one list: sorted, merged, each break a cut. The
    // detector's EDL may mark breaks with action 3, which mencoder passes
    // over, and rows that overlap, which it refuses.
    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/trimlet-cut-XXXXXX"));
    dir.setAutoRemove(false);
    m_cutDir = dir.isValid() ? dir.path() : QString();
    QStringList arguments;
    bool made = dir.isValid();
    if (chapters()) {
        // The chapters lie where the detector's times do on the picture,
        // which ffmpeg moves to start where the recording's first stream
        // starts.
        const QString list = dir.filePath(QStringLiteral("chapters.ffmeta"));
        m_chapters = media::chaptersFor(m_cuts, m_recordingSeconds);
        made = made && writeFile(list, media::ffmetadataText(m_chapters, info.videoStart - info.start));
        arguments = chaptersArguments(m_request, list, m_partialCopy);
    } else if (cutter == media::Cutter::Mencoder) {
        const QString list = dir.filePath(QStringLiteral("cuts.edl"));
        made = made && writeFile(list, media::edlText(m_cuts));
        arguments = mencoderArguments(m_request, m_partialCopy, list);
    } else if (!m_request.frameExact) {
        // ffmpeg reads the kept spans from a list that names the recording
        // through a link of a plain name, whatever characters its own has.
        const QString list = dir.filePath(QStringLiteral("cut.ffconcat"));
        const QString link = QStringLiteral("recording") + safeSuffix(m_request.recording);
        made = made && QFile::link(QFileInfo(m_request.recording).absoluteFilePath(), dir.filePath(link))
               && writeFile(list, media::concatList(link, m_kept, m_recordingSeconds, info.videoStart));
        arguments =
            ffmpegArguments(m_request, list, m_partialCopy, m_container, media::dispositionOptions(info));
    } else {
        // A stream copy of the kept spans alone starts each where its seek
        // lands, in a long group of pictures seconds away or on pictures
        // whose references were cut away: every edge is cut to the picture
        // instead, with the whole groups between copied as they are.
        const QString link = QStringLiteral("recording") + safeSuffix(m_request.recording);
        made = made && QFile::link(QFileInfo(m_request.recording).absoluteFilePath(), dir.filePath(link));
        if (made) {
            m_exact = std::make_unique<FrameExactCut>(m_request, info, m_kept, m_recordingSeconds,
                                                      m_container, dir.path(), link, m_partialCopy);
            connect(m_exact.get(), &FrameExactCut::indexed, this, &CutJob::exactIndexed);
        }
    }
    if (!made) {
        discardPartialCopy();
        end(Status::Failed,
            withOutcome(
                QStringLiteral("The cut list for %1 could not be written.").arg(media::cutterName(cutter))));
        return false;
    }
    if (chapters())
        emit message(QStringLiteral("Writing the chapters file with ffmpeg…"));
    else
        emit message(m_editSummary.isEmpty()
                         ? QStringLiteral("Cutting the commercials with %1…").arg(media::cutterName(cutter))
                         : QStringLiteral("Cutting %1.").arg(m_editSummary));
    logToRunLog(QStringLiteral("cutting with %1 into %2").arg(media::cutterName(cutter), m_partialCopy));
    if (m_exact)
        m_exact->index();
    else
        runTool(arguments);
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
        const qint64 written = m_partialCopy.isEmpty() ? 0 : QFileInfo(m_partialCopy).size();
        const bool full = !launchFailed && savedcopy::filledTheDisk(m_request.output, excerpts());
        // Said before the partial copy is thrown away, which frees the
        // space it filled.
        const QString fullText =
            full ? savedcopy::diskFull(m_request.output, copyNoun(), written, m_expectedBytes) : QString();
        discardPartialCopy();
        const QString why = launchFailed ? QStringLiteral("%1 could not be started").arg(name)
                                         : QStringLiteral("%1 failed (error %2)").arg(name).arg(rc);
        logToRunLog(why);
        // Another cutter would only fill the disk again.
        if (full) {
            end(Status::Failed, withOutcome(fullText));
            return;
        }
        if (m_cutter == media::Cutter::Mencoder) {
            recutWithFfmpeg(why + QStringLiteral(", so it was cut with ffmpeg."));
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
    input.copy = m_partialCopy;
    input.cutter = m_cutter;
    input.chapters = chapters();
    input.cuts = m_cuts;
    input.kept = m_kept;
    input.chaptersWritten = m_chapters;
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

// mencoder cannot cut between key frames and its copies drift: where it
// failed or its copy was refused, ffmpeg cuts the recording once more, and
// the note says why before the outcome.
bool CutJob::recutWithFfmpeg(const QString &note)
{
    m_mencoderRefused = true;
    m_cutNote = note;
    return startCut(media::Cutter::Ffmpeg);
}

void CutJob::rejectCopy(const media::CopyVerdict &verdict)
{
    discardPartialCopy();
    const QString problem = verdict.statement(copyNoun());
    if (m_cutter == media::Cutter::Mencoder) {
        if (recutWithFfmpeg(QStringLiteral("mencoder's copy ") + verdict.mencoderProblem
                            + QStringLiteral(", so it was cut again with ffmpeg.")))
            emit message(problem + QStringLiteral(": cut again with ffmpeg."));
        return;
    }
    end(Status::Failed, withOutcome(problem + QStringLiteral(", so it was not kept.")));
}

void CutJob::keepCopy(const QString &measured, double copySeconds)
{
    const QString name = media::cutterName(m_cutter);
    if (const QString problem = savedcopy::takeName(m_partialCopy, m_request.output, m_request.recording,
                                                    m_request.replaceOthers, copyNoun());
        !problem.isEmpty()) {
        discardPartialCopy();
        end(Status::Failed, withOutcome(problem));
        return;
    }
    m_partialCopy.clear();
    discardPartialCopy();
    m_copyMade = QFileInfo(m_request.output).absoluteFilePath();
    logToRunLog(
        QStringLiteral("%1 %2 made by %3 and checked: %4").arg(copyNoun(), m_request.output, name, measured));
    if (chapters()) {
        const auto breaks =
            std::count_if(m_chapters.cbegin(), m_chapters.cend(),
                          [](const media::Chapter &c) { return c.title == QLatin1String("Commercial"); });
        end(Status::Succeeded,
            withOutcome(QStringLiteral("Chapters file: %1 (%2), %3 chapters, %4 of them commercials, "
                                       "nothing removed.")
                            .arg(fileNameOf(m_request.output), timeText(copySeconds, true))
                            .arg(m_chapters.size())
                            .arg(breaks)));
        return;
    }
    QString text = QStringLiteral("Cut copy: %1 (%2), cut by %3.")
                       .arg(fileNameOf(m_request.output), timeText(copySeconds, true), name);
    if (!m_edgesNote.isEmpty())
        text += QLatin1Char(' ') + m_edgesNote;
    if (!m_cutNote.isEmpty())
        text = m_cutNote + QLatin1Char(' ') + text;
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
    result.mencoderRefused = m_mencoderRefused;
    result.keptSeconds = m_copyMade.isEmpty() ? 0 : m_check.copySeconds();
    result.breaksCut = m_copyMade.isEmpty() ? 0 : int(m_cuts.size());
    if (!m_copyMade.isEmpty() && !m_cutNote.isEmpty())
        result.warnings.prepend(m_cutNote);
    finish(status, outcome);
}
