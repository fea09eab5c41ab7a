#include "jobs/QueueNames.h"

#include "core/MediaInfo.h"
#include "core/PathText.h"
#include "jobs/CutJob.h"
#include "jobs/Recording.h"
#include "jobs/RecordingMedia.h"
#include "jobs/RequestBuilder.h"
#include "jobs/Trash.h"

#include <QDir>
#include <QFileInfo>

namespace {

QString nameOf(const QString &path)
{
    return pathtext::lastComponent(path);
}

} // namespace

QString QueueNames::samePlace(const QString &path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

QString QueueNames::recordingRefusal(const BatchQueue::Entry &e, const QString &busy)
{
    const RunRequest &request = e.request;
    const QString name = nameOf(request.recording);
    const QFileInfo info(request.recording);
    const Recording recording(request.recording);
    if (request.recording.isEmpty() || !info.exists())
        return QStringLiteral("%1 cannot be found.").arg(name);
    if (info.isDir())
        return QStringLiteral("%1 is a folder, not a recording.").arg(name);
    if (!info.isReadable())
        return QStringLiteral("%1 cannot be read: permission denied.").arg(name);
    if (!busy.isEmpty())
        return busy;
    if (request.detect && !recording.detectionRefusal().isEmpty())
        return recording.detectionRefusal();
    if (!recording.workFileNameRefusal().isEmpty())
        return recording.workFileNameRefusal();
    if (e.existingDetection && !recording.haveDetection())
        return QStringLiteral("%1 has no earlier detection beside it: %2.txt and %2.edl are needed.")
            .arg(name, request.baseName());
    return QString();
}

QString QueueNames::sharedRefusal(const BatchQueue::Entry &e, const Others &earlier)
{
    // The copy's extension waits for the probe; its name without one is
    // known now, and two copies of one such name are refused here, the
    // later one, whichever recording is read first.
    const QString name = nameOf(e.request.recording);
    const QString base = e.request.baseName();
    const QString copy = copyStem(e);
    for (const BatchQueue::Entry *other : earlier) {
        const RunRequest &theirs = other->request;
        // Each name that is not UTF-8 has a stand-in of its own.
        if (samePlace(theirs.recording) == samePlace(e.request.recording)
            || (!e.named.isEmpty() && other->named == e.named))
            return QStringLiteral("%1 is already in the batch.").arg(name);
        // Two recordings of one stem in one folder would write one set of
        // lists, each over the other's.
        if (theirs.baseName() == base && samePlace(theirs.outDir()) == samePlace(e.request.outDir()))
            return QStringLiteral("%1 would share its work files (%2.txt, %2.edl) with %3, which is in the "
                                  "batch: run it on its own.")
                .arg(name, base, nameOf(theirs.recording));
        if (!copy.isEmpty() && copy == copyStem(*other))
            return QStringLiteral("%1's copy would have the same name as that of %2: %3.")
                .arg(name, QDir::toNativeSeparators(theirs.recording),
                     QDir::toNativeSeparators(e.request.output.isEmpty() ? copy + QStringLiteral(".*")
                                                                         : e.request.output));
    }
    return e.request.output.isEmpty() ? QString() : clash(e, e.request.output, earlier);
}

QString QueueNames::clash(const BatchQueue::Entry &e, const QString &output, const Others &others)
{
    const QString place = samePlace(output);
    const QString name = nameOf(e.request.recording);
    for (const BatchQueue::Entry *other : others) {
        const QString otherName = nameOf(other->request.recording);
        if (!other->request.output.isEmpty() && samePlace(other->request.output) == place)
            return QStringLiteral("%1's copy would have the same name as that of %2: %3.")
                .arg(name, otherName, QDir::toNativeSeparators(output));
        if (samePlace(other->request.recording) == place)
            return QStringLiteral("%1's copy would be written over %2, which is in the batch.")
                .arg(name, otherName);
    }
    return QString();
}

QString QueueNames::copyStem(const BatchQueue::Entry &e)
{
    if (!e.request.remove)
        return QString();
    if (!e.request.output.isEmpty())
        return pathtext::deletingExtension(samePlace(e.request.output));
    const QString proposed =
        pathtext::deletingExtension(Recording(e.request.recording).proposedOutput(QString(), e.request.mode));
    const QString folder = e.outputDir.isEmpty() || e.request.mode == RunRequest::Mode::SkipList
                               ? e.request.outDir()
                               : e.outputDir;
    return samePlace(folder) + QLatin1Char('/') + nameOf(proposed);
}

QString QueueNames::readRefusal(const RecordingMedia &media, const QString &recording)
{
    const QString name = nameOf(recording);
    if (media.answer() == MediaProbe::Answer::NotLaunched)
        return QStringLiteral("Could not start ffprobe. Is ffmpeg installed?");
    if (media.answer() == MediaProbe::Answer::TimedOut)
        return QStringLiteral("%1 cannot be read: it gave no answer within %2 seconds.")
            .arg(name)
            .arg(media.probeTimeLimit() / 1000);
    if (!media.info() || !media.info()->hasVideo)
        return QStringLiteral("%1 is not a recording: it holds no video that can be read.").arg(name);
    return QString();
}

QString QueueNames::usingExistingDetection(const BatchQueue::Entry &e)
{
    return QStringLiteral("Using the existing detection: %1.edl (%2 break%3), not running comskip.")
        .arg(e.request.baseName())
        .arg(e.outcome.breaksFound)
        .arg(e.outcome.breaksFound == 1 ? QString() : QStringLiteral("s"));
}

QString QueueNames::kindOf(const RecordingMedia *media)
{
    if (!media || !media->info())
        return QString();
    const media::MediaInfo &info = *media->info();
    QStringList kind{info.formatName, info.videoCodec};
    for (const media::AudioStream &a : info.audio)
        kind << a.codec;
    return kind.join(QLatin1Char('/'));
}

QString QueueNames::settledOutput(const BatchQueue::Entry &e, const media::MediaInfo &info)
{
    if (!e.request.output.isEmpty())
        return e.request.output;
    const QString ext = media::extensionFor(
        media::containerFor(info, media::cutterFor(info, e.request.mencoderCutter, e.request.frameExact)),
        pathtext::extension(e.request.recording));
    const QString beside = Recording(e.request.recording).proposedOutput(ext, e.request.mode);
    if (!e.outputDir.isEmpty() && e.request.mode != RunRequest::Mode::SkipList)
        return e.outputDir + QLatin1Char('/') + nameOf(beside);
    return beside;
}

QString QueueNames::outputRefusal(const BatchQueue::Entry &e, const Others &others, bool replaceOthers,
                                  const QString &hint)
{
    const RunRequest &request = e.request;
    if (const QString problem = RequestBuilder::outputProblem(request); !problem.isEmpty())
        return problem;
    const QFileInfo out(request.output);
    // A skip list is the detection's own list, rewritten for a player.
    if (request.mode != RunRequest::Mode::SkipList && !replaceOthers && (out.exists() || out.isSymLink())
        && !CutJob::madeFrom(request.output, request.recording))
        return QStringLiteral("%1 already exists, and Trimlet did not make it from %2: it is kept.%3")
            .arg(out.fileName(), nameOf(request.recording), hint);
    if (const QString clashing = clash(e, request.output, others); !clashing.isEmpty())
        return clashing;
    // Before the detection and the cut, not after them.
    if (request.replace && request.mode == RunRequest::Mode::Cut)
        if (const QString why = trash::cannotReplace(request.recording, request.output, request.keepOriginal);
            !why.isEmpty())
            return QStringLiteral("It was not run, as its copy could not take its place: %1.").arg(why);
    return QString();
}
