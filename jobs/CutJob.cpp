#include "jobs/CutJob.h"

#include "core/AtomicWrite.h"
#include "core/Diagnostics.h"
#include "core/ResultParsers.h"
#include "core/TimeText.h"
#include "jobs/DetectJob.h"
#include "jobs/Recording.h"
#include "jobs/RecordingMedia.h"
#include "jobs/RequestBuilder.h"
#include "jobs/WorkFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

namespace {

constexpr char kPartialMarker[] = ".trimlet-";
// Which recording a copy was made from. An extended attribute travels with
// the copy through a rename, a move on one disk and a backup with xattrs,
// costs no file of its own beside it, and cannot be planted for a file
// the planter could not write anyway. Where the file system keeps no user
// attributes (FAT, some network mounts) nothing is recorded, and such a
// copy counts as the user's own: it is only ever replaced when asked.
constexpr char kSourceAttribute[] = "user.trimlet.source";

// The recording as a file, whatever its names: device and inode.
QByteArray sourceId(const QString &recording)
{
    struct stat st = {};
    if (::stat(QFile::encodeName(recording).constData(), &st) != 0)
        return QByteArray();
    return QByteArray::number(quint64(st.st_dev)) + ':' + QByteArray::number(quint64(st.st_ino));
}

// Seconds before the last picture from which each file is read again to
// see where its streams end.
constexpr double kTailSeconds = 10;

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
    : Job(parent), m_request(request), m_media(media)
{
    connect(&m_copyScan, &PacketScan::finished, this, &CutJob::copyScanned);
    connect(&m_copyProbe, &MediaProbe::finished, this, [this](const QByteArray &json, MediaProbe::Answer a) {
        m_copyStreams =
            a == MediaProbe::Answer::Answered ? std::optional(media::parseProbe(json)) : std::nullopt;
        m_copyPackets = media::parseHashedPackets(json);
        streamsProbed();
    });
    connect(&m_recordingProbe, &MediaProbe::finished, this,
            [this](const QByteArray &json, MediaProbe::Answer a) {
                if (a == MediaProbe::Answer::Answered) {
                    m_recordingEnds = media::parseProbe(json);
                    m_recordingPackets = media::parseHashedPackets(json);
                }
                streamsProbed();
            });
    // Reading a file's end seeks in it; a whole slow file is read when it
    // cannot.
    m_copyProbe.setTimeLimit(4 * MediaProbe::kTimeLimitMs);
    m_recordingProbe.setTimeLimit(4 * MediaProbe::kTimeLimitMs);
    if (media)
        connect(media, &RecordingMedia::scanned, this, &CutJob::recordingScanned);
    connect(&m_copyDecode, &DecodeCheck::finished, this, &CutJob::decodeChecked);
    connect(&m_recordingDecode, &DecodeCheck::finished, this, &CutJob::decodeChecked);
}

CutJob::~CutJob()
{
    m_copyDecode.cancel();
    m_recordingDecode.cancel();
    m_copyScan.cancel();
    m_copyProbe.cancel();
    m_recordingProbe.cancel();
    discardPartialCopy();
}

void CutJob::setContext(const QString &outcomeSoFar, const QString &editSummary)
{
    setOutcome(outcomeSoFar);
    m_editSummary = editSummary;
}

QStringList CutJob::partialCopiesOf(const QString &output)
{
    if (output.isEmpty())
        return {};
    const QFileInfo out(output);
    return hiddenNamesOf(out.absolutePath(), {out.fileName()});
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

bool CutJob::madeFrom(const QString &copy, const QString &recording)
{
    const QByteArray id = sourceId(recording);
    if (id.isEmpty())
        return false;
    char value[64] = {};
    const ssize_t size =
        ::getxattr(QFile::encodeName(copy).constData(), kSourceAttribute, value, sizeof value);
    return size > 0 && QByteArray(value, int(size)) == id;
}

bool CutJob::isRecording(const QString &output, const QString &recording)
{
    if (output.isEmpty() || recording.isEmpty())
        return false;
    // The same file under another name (a link, a hard link, "./") counts.
    return sameFile(recording, output)
           || QFileInfo(output).absoluteFilePath() == QFileInfo(recording).absoluteFilePath();
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
    const QString folder = QFileInfo(m_request.output).absolutePath();
    const QStorageInfo disk(folder);
    const qint64 needed =
        qint64(double(QFileInfo(m_request.recording).size()) * std::min(1.0, m_keptSeconds / seconds) * 1.02);
    m_expectedBytes = needed;
    if (disk.isValid() && disk.bytesAvailable() < needed) {
        const QLocale locale;
        end(Status::Failed,
            withOutcome(QStringLiteral("There is not enough space for the %1 in %2: it needs "
                                       "about %3, and %4 are free.")
                            .arg(copyNoun(), QDir::toNativeSeparators(folder),
                                 locale.formattedDataSize(needed, 1, QLocale::DataSizeTraditionalFormat),
                                 locale.formattedDataSize(disk.bytesAvailable(), 1,
                                                          QLocale::DataSizeTraditionalFormat))));
        return;
    }
    removeStaleCopies();
    media::Cutter cutter = chapters() ? media::Cutter::Ffmpeg : media::cutterFor(*info);
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
    } else {
        // ffmpeg reads the kept spans from a list that names the recording
        // through a link of a plain name, whatever characters its own has.
        const QString list = dir.filePath(QStringLiteral("cut.ffconcat"));
        const QString link = QStringLiteral("recording") + safeSuffix(m_request.recording);
        made = made && QFile::link(QFileInfo(m_request.recording).absoluteFilePath(), dir.filePath(link))
               && writeFile(list, media::concatList(link, m_kept, m_recordingSeconds, info.videoStart));
        arguments =
            ffmpegArguments(m_request, list, m_partialCopy, m_container, media::dispositionOptions(info));
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
    runTool(arguments);
    return true;
}

void CutJob::toolOutput(const QString &chunk)
{
    // ffmpeg tells how far its copy has got in seconds of output; the row
    // shows that against the length the copy will have.
    if (m_cutter == media::Cutter::Ffmpeg) {
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
        // The disk is read before the partial copy is thrown away, which
        // frees the space it filled.
        const qint64 written = m_partialCopy.isEmpty() ? 0 : QFileInfo(m_partialCopy).size();
        const bool full = !launchFailed && outputIsFull();
        const qint64 free = QStorageInfo(QFileInfo(m_request.output).absolutePath()).bytesAvailable();
        discardPartialCopy();
        const QString why = launchFailed ? QStringLiteral("%1 could not be started").arg(name)
                                         : QStringLiteral("%1 failed (error %2)").arg(name).arg(rc);
        logToRunLog(why);
        // Another cutter would only fill the disk again.
        if (full) {
            const QLocale locale;
            const auto size = [&locale](qint64 bytes) {
                return locale.formattedDataSize(std::max<qint64>(0, bytes), 1,
                                                QLocale::DataSizeTraditionalFormat);
            };
            end(Status::Failed,
                withOutcome(
                    QStringLiteral("The disk is full: the %1 did not fit in %2 (%3 written of about %4, "
                                   "%5 left free).")
                        .arg(copyNoun(), QDir::toNativeSeparators(QFileInfo(m_request.output).absolutePath()),
                             size(written), size(m_expectedBytes), size(free))));
            return;
        }
        if (m_cutter == media::Cutter::Mencoder) {
            m_mencoderRefused = true;
            m_cutNote = why + QStringLiteral(", so it was cut with ffmpeg.");
            startCut(media::Cutter::Ffmpeg);
            return;
        }
        end(Status::Failed,
            withOutcome(launchFailed ? QStringLiteral("Could not start %1. Is it installed?").arg(name)
                                     : QString::asprintf("Unexpected error %d.", rc)));
        return;
    }
    m_phase = Phase::Verifying;
    emit message(QStringLiteral("Checking the %1…").arg(copyNoun()));
    m_copyScan.start(m_request.tools.ffprobe, m_partialCopy);
}

bool CutJob::outputIsFull() const
{
    if (excerpts().contains(QLatin1String("No space left on device")))
        return true;
    const QStorageInfo disk(QFileInfo(m_request.output).absolutePath());
    return disk.isValid() && disk.bytesAvailable() < 64 * 1024;
}

void CutJob::copyScanned()
{
    if (m_phase == Phase::Verifying)
        verifyCopy();
}

void CutJob::recordingScanned()
{
    if (m_phase == Phase::Verifying)
        verifyCopy();
}

void CutJob::verifyCopy()
{
    // The copy is judged against what the recording holds, which is read
    // once when it is chosen; a cut quicker than that waits for it.
    if (m_copyScan.isRunning() || (m_media && m_media->scanning()))
        return;
    const QString name = media::cutterName(m_cutter);
    if (!m_media || !m_media->scanDone()) {
        logToRunLog(QStringLiteral("the recording could not be read again to check the copy"));
        discardPartialCopy();
        end(Status::Failed,
            withOutcome(QStringLiteral("The recording could not be read to check the %1, so it was not kept.")
                            .arg(copyNoun())));
        return;
    }
    if (chapters()) {
        verifyChapters();
        return;
    }
    const media::MediaInfo &recording = *m_media->info();
    const double fps = recording.fps > 0 ? recording.fps : 25.0;
    // ffmpeg's copy runs through the kept spans one after the other on
    // the recording's own clock; mencoder makes a clock of its own.
    const media::Verdict v =
        media::verifyAgainstRecording(m_media->packets(), recording.videoStart, m_recordingSeconds, m_cuts,
                                      m_copyScan.packets(), fps, m_cutter == media::Cutter::Ffmpeg);
    const QString measured = QString::asprintf("%lld frames, %.2f s; expected %lld frames within %.2f s",
                                               static_cast<long long>(v.frames), v.actual,
                                               static_cast<long long>(v.expectedFrames), v.tolerance);
    logLine(QStringLiteral("verifyCopy: ") + name + QStringLiteral(": ") + measured);
    m_measured = measured;
    m_copySeconds = v.actual;
    if (!v.ok) {
        logToRunLog(QStringLiteral("the copy cut by %1 failed its check (%2): %3")
                        .arg(name, v.readable ? v.problem : QStringLiteral("unreadable"), measured));
        if (v.readable)
            rejectCopy(QStringLiteral("is ") + v.problem, QStringLiteral("was ") + v.problem);
        else
            rejectCopy(QStringLiteral("could not be read"), QStringLiteral("could not be read"));
        return;
    }
    probeStreams();
}

void CutJob::verifyChapters()
{
    // Every frame the recording can show, from its first key frame on.
    const media::PacketTimes &recording = m_media->packets();
    const media::PacketTimes &copy = m_copyScan.packets();
    const qint64 expected = recording.firstKey >= 0
                                ? media::framesIn(recording, recording.firstKey, recording.times.back() + 1)
                                : recording.count();
    const double fps = m_media->info()->fps > 0 ? m_media->info()->fps : 25.0;
    m_copySeconds = copy.empty() ? 0 : media::playingSeconds(copy) + 1 / fps;
    m_measured = QStringLiteral("%1 frames; the recording shows %2").arg(copy.count()).arg(expected);
    logLine(QStringLiteral("verifyChapters: ") + m_measured);
    if (copy.empty()) {
        rejectCopy(QStringLiteral("could not be read"), QString());
        return;
    }
    if (copy.count() < expected) {
        logToRunLog(QStringLiteral("the chapters file failed its check: %1").arg(m_measured));
        rejectCopy(QStringLiteral("is missing %1 of the recording's %2 frames")
                       .arg(expected - copy.count())
                       .arg(expected),
                   QString());
        return;
    }
    probeStreams();
}

void CutJob::probeStreams()
{
    // Its picture holds what it should: now its other streams, and where
    // each ends against the picture.
    m_copyStreams.reset();
    m_copyPackets.clear();
    // The kept spans' times count from the recording's first picture; the
    // copy's from its own, wherever its cutter starts its clock.
    const media::PacketTimes &copy = m_copyScan.packets();
    m_cutWindows = chapters() ? QList<media::CutWindows>()
                              : media::cutWindows(m_kept, copy.times.front(), m_media->info()->videoStart);
    QList<media::Span> copyWindows, recordingWindows;
    for (const media::CutWindows &w : std::as_const(m_cutWindows)) {
        copyWindows << w.copy;
        recordingWindows << w.recording;
    }
    m_copyProbe.startWithTail(m_request.tools.ffprobe, m_partialCopy, copy.times.back() - kTailSeconds,
                              copyWindows);
    if (!m_recordingEnds)
        m_recordingProbe.startWithTail(m_request.tools.ffprobe, m_request.recording,
                                       m_media->packets().times.back() - kTailSeconds, recordingWindows);
}

void CutJob::streamsProbed()
{
    if (m_phase == Phase::Verifying && !m_copyProbe.isRunning() && !m_recordingProbe.isRunning()
        && !m_copyScan.isRunning())
        judgeStreams();
}

void CutJob::judgeStreams()
{
    const media::MediaInfo &probed = *m_media->info();
    // Without the recording's end read again, its streams as first probed.
    const media::MediaInfo &recording =
        m_recordingEnds && m_recordingEnds->parsed ? *m_recordingEnds : probed;
    if (!m_copyStreams || !m_copyStreams->parsed) {
        logToRunLog(QStringLiteral("ffprobe gave no answer on the streams of the copy cut by %1")
                        .arg(media::cutterName(m_cutter)));
        rejectCopy(QStringLiteral("could not be read"), QStringLiteral("could not be read"));
        return;
    }
    const media::MediaInfo &copy = *m_copyStreams;
    if (chapters() && !sameChapters(copy.chapters)) {
        const QString problem = QStringLiteral("has %1 chapters where %2 were written")
                                    .arg(copy.chapters.size())
                                    .arg(m_chapters.size());
        logToRunLog(QStringLiteral("the chapters file ") + problem);
        rejectCopy(problem, QString());
        return;
    }
    const media::TrackCheck tracks = media::compareStreams(recording, copy);
    if (!tracks.problem.isEmpty()) {
        logToRunLog(
            QStringLiteral("the copy cut by %1 is %2").arg(media::cutterName(m_cutter), tracks.problem));
        rejectCopy(QStringLiteral("is ") + tracks.problem, QStringLiteral("was ") + tracks.problem);
        return;
    }
    // The copy's ends are the recording's own where nothing was cut there.
    // mencoder makes a clock of its own and starts and ends its streams
    // together at a cut; ffmpeg's concat input switches the sound and the
    // picture at a cut a few hundred milliseconds apart, in step all the
    // same, so its ends are judged only where they are the recording's.
    const media::Edge atCut = m_cutter == media::Cutter::Mencoder ? media::Edge::Cut : media::Edge::NotJudged;
    const media::Edge start = chapters() || m_kept.first().start <= 0 ? media::Edge::Recording : atCut;
    const media::Edge end =
        chapters() || m_kept.last().end >= m_recordingSeconds ? media::Edge::Recording : atCut;
    const QString drift = media::soundOutOfStep(recording, copy, tracks.pairs, start, end);
    if (!drift.isEmpty()) {
        logToRunLog(QStringLiteral("the copy cut by %1 is %2").arg(media::cutterName(m_cutter), drift));
        rejectCopy(QStringLiteral("is ") + drift, QStringLiteral("was ") + drift);
        return;
    }
    // As far as ffprobe's packet times tell: a player keeps to them.
    const media::SoundAtCuts moved = media::soundMovedAtCuts(recording, copy, tracks.pairs,
                                                             m_recordingPackets, m_copyPackets, m_cutWindows);
    for (const QString &offset : moved.measured)
        logLine(QStringLiteral("sound moved against its picture: ") + offset);
    for (const QString &where : moved.unmeasured)
        logLine(
            QStringLiteral("not judged: %1 - none of the copy's packets found in the recording").arg(where));
    if (!moved.problem.isEmpty()) {
        logToRunLog(
            QStringLiteral("the copy cut by %1 has %2").arg(media::cutterName(m_cutter), moved.problem));
        rejectCopy(QStringLiteral("has ") + moved.problem, QStringLiteral("had ") + moved.problem);
        return;
    }
    if (!startDecodeChecks())
        keepCopy();
}

bool CutJob::startDecodeChecks()
{
    if (chapters() || m_media->info()->audio.isEmpty())
        return false;
    if (m_kept.size() < 2)
        return false;
    // A second and a half either side of each cut: the copy's window
    // across it, the recording's just before and just after, on each
    // file's clock from its start.
    constexpr double kSide = 1.5;
    const media::MediaInfo &info = *m_media->info();
    const double shift = info.videoStart - info.start;
    QList<media::Span> copyWindows, recordingWindows;
    for (const media::CutPlace &cut : media::cutPlaces(m_kept)) {
        copyWindows.append({cut.inCopy - kSide, cut.inCopy + kSide});
        recordingWindows.append({shift + cut.before - kSide, shift + cut.before});
        recordingWindows.append({shift + cut.after.start, shift + cut.after.start + kSide});
    }
    m_copyDecode.start(m_request.tools.ffmpeg, m_partialCopy, copyWindows);
    m_recordingDecode.start(m_request.tools.ffmpeg, m_request.recording, recordingWindows);
    return true;
}

void CutJob::decodeChecked()
{
    if (m_phase != Phase::Verifying || m_copyDecode.isRunning() || m_recordingDecode.isRunning())
        return;
    const QList<int> &copy = m_copyDecode.errors();
    const QList<int> &recording = m_recordingDecode.errors();
    // Without ffmpeg's answer the sound is not judged, as a copy's ends
    // are not where ffprobe lists no packets.
    if (!copy.isEmpty() && recording.size() == 2 * copy.size()) {
        QList<int> before, after;
        for (qsizetype k = 0; k < copy.size(); ++k) {
            before << recording.at(2 * k);
            after << recording.at(2 * k + 1);
        }
        const QString broken = media::soundBrokenAtCuts(copy, before, after);
        logLine(QStringLiteral("decodeChecked: copy %1, recording %2")
                    .arg(QString::number(copy.size()), QString::number(recording.size())));
        if (!broken.isEmpty()) {
            logToRunLog(QStringLiteral("the copy cut by %1 has %2").arg(media::cutterName(m_cutter), broken));
            rejectCopy(QStringLiteral("has ") + broken, QStringLiteral("had ") + broken);
            return;
        }
    }
    keepCopy();
}

void CutJob::rejectCopy(const QString &what, const QString &mencoderWhat)
{
    discardPartialCopy();
    const QString problem = QStringLiteral("The %1 ").arg(copyNoun()) + what;
    if (m_cutter == media::Cutter::Mencoder) {
        m_mencoderRefused = true;
        m_cutNote = QStringLiteral("mencoder's copy ") + mencoderWhat
                    + QStringLiteral(", so it was cut again with ffmpeg.");
        if (startCut(media::Cutter::Ffmpeg))
            emit message(problem + QStringLiteral(": cut again with ffmpeg."));
        return;
    }
    end(Status::Failed, withOutcome(problem + QStringLiteral(", so it was not kept.")));
}

void CutJob::keepCopy()
{
    const QString name = media::cutterName(m_cutter);
    // The checked copy takes the output's name in one step; an earlier
    // file of that name stays whole until then.
    const QByteArray from = QFile::encodeName(m_partialCopy);
    const QByteArray to = QFile::encodeName(m_request.output);
    // Marks the copy as this recording's, so that a later run of it may
    // replace it and no run of another may.
    const QByteArray source = sourceId(m_request.recording);
    if (!source.isEmpty()
        && ::setxattr(from.constData(), kSourceAttribute, source.constData(), size_t(source.size()), 0) != 0)
        logLine(QStringLiteral("keepCopy: no record of the copy's recording: %1")
                    .arg(QString::fromLocal8Bit(std::strerror(errno))));
    // A file that took the copy's name while it was cut (another Trimlet's
    // copy into the same folder, the user's own) is kept unless it is this
    // recording's earlier copy or the user said it may go: the name is
    // taken only where it is free, in one step, so that nothing slips in
    // between a look and the rename.
    int renamed = ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE);
    if (renamed != 0 && (errno == EEXIST || errno == EINVAL || errno == ENOSYS)) {
        // EINVAL, ENOSYS: a file system that cannot rename without replacing.
        const bool taken =
            errno == EEXIST || QFileInfo::exists(m_request.output) || QFileInfo(m_request.output).isSymLink();
        if (taken && !m_request.replaceOthers && !madeFrom(m_request.output, m_request.recording)) {
            discardPartialCopy();
            end(Status::Failed,
                withOutcome(
                    QStringLiteral("%1 appeared while the %2 was made, and Trimlet did not make it "
                                   "from %3: it is kept, and the %2 was not saved.")
                        .arg(fileNameOf(m_request.output), copyNoun(), fileNameOf(m_request.recording))));
            return;
        }
        renamed = ::rename(from.constData(), to.constData());
    }
    if (renamed != 0) {
        const QString error = QString::fromLocal8Bit(std::strerror(errno));
        discardPartialCopy();
        end(Status::Failed, withOutcome(QStringLiteral("The %1 could not be saved as %2: %3.")
                                            .arg(copyNoun(), fileNameOf(m_request.output), error)));
        return;
    }
    m_partialCopy.clear();
    discardPartialCopy();
    m_copyMade = QFileInfo(m_request.output).absoluteFilePath();
    logToRunLog(QStringLiteral("%1 %2 made by %3 and checked: %4")
                    .arg(copyNoun(), m_request.output, name, m_measured));
    if (chapters()) {
        const auto breaks =
            std::count_if(m_chapters.cbegin(), m_chapters.cend(),
                          [](const media::Chapter &c) { return c.title == QLatin1String("Commercial"); });
        end(Status::Succeeded,
            withOutcome(QStringLiteral("Chapters file: %1 (%2), %3 chapters, %4 of them commercials, "
                                       "nothing removed.")
                            .arg(fileNameOf(m_request.output), timeText(m_copySeconds, true))
                            .arg(m_chapters.size())
                            .arg(breaks)));
        return;
    }
    QString text = QStringLiteral("Cut copy: %1 (%2), cut by %3.")
                       .arg(fileNameOf(m_request.output), timeText(m_copySeconds, true), name);
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

bool CutJob::sameChapters(const QList<media::Chapter> &found) const
{
    if (found.size() != m_chapters.size())
        return false;
    for (qsizetype i = 0; i < found.size(); ++i)
        if (found.at(i).title != m_chapters.at(i).title)
            return false;
    return true;
}

void CutJob::stop()
{
    if (m_phase == Phase::Verifying) {
        // Only the check runs: nothing to wait for.
        m_copyDecode.cancel();
        m_recordingDecode.cancel();
        m_copyScan.cancel();
        m_copyProbe.cancel();
        m_recordingProbe.cancel();
        discardPartialCopy();
        end(Status::Stopped, QStringLiteral("Removal stopped."));
        return;
    }
    if (toolRunning()) {
        Job::stop();
        return;
    }
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
    result.keptSeconds = m_copyMade.isEmpty() ? 0 : m_copySeconds;
    result.breaksCut = m_copyMade.isEmpty() ? 0 : int(m_cuts.size());
    if (!m_copyMade.isEmpty() && !m_cutNote.isEmpty())
        result.warnings.prepend(m_cutNote);
    finish(status, outcome);
}
