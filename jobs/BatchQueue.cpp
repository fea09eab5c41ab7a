#include "jobs/BatchQueue.h"

#include "core/MediaInfo.h"
#include "core/PathText.h"
#include "jobs/CutJob.h"
#include "jobs/EraseJob.h"
#include "jobs/Recording.h"
#include "jobs/RecordingLock.h"
#include "jobs/RecordingMedia.h"
#include "jobs/RunLog.h"
#include "jobs/RunPipeline.h"
#include "jobs/Trash.h"
#include "jobs/WorkFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QThread>

#include <algorithm>

struct BatchQueue::Slot
{
    Entry entry;
    std::unique_ptr<RecordingMedia> media;
    QPointer<RunPipeline> run;
    // Held from its detection's start to its cut's end, the wait between
    // included: another Trimlet on the recording would take its lists.
    std::shared_ptr<RecordingLock> lock;
    // Failed before it was ever queued: nothing of it is compared with the
    // others.
    bool refused = false;
    // The recording as it was when last read, for its copy to take its
    // place only while it is still that.
    trash::FileState read;
};

namespace {

QString nameOf(const QString &path)
{
    return pathtext::lastComponent(path);
}

QString samePlace(const QString &path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

} // namespace

BatchQueue::BatchQueue(QObject *parent) : QObject(parent) { }

BatchQueue::~BatchQueue()
{
    for (auto &slot : m_entries)
        if (slot->run)
            slot->run->disconnect(this);
}

const BatchQueue::Entry &BatchQueue::entry(int index) const
{
    return m_entries[size_t(index)]->entry;
}

int BatchQueue::defaultDetectionSlots(const QVariantMap &detectorSettings)
{
    const int threads = std::max(1, detectorSettings.value(QStringLiteral("thread_count")).toInt());
    return std::max(1, QThread::idealThreadCount() / threads);
}

QVariantMap BatchQueue::withSharedCores(QVariantMap detectorSettings, int detectionsAtOnce)
{
    // comskip left to choose starts decoding threads of its own, which
    // only contend with a detection on each core: two at once, on two
    // cores, each took a core and a quarter and the pair ran slower than
    // with one thread each. A count the user set is theirs.
    QVariant &threads = detectorSettings[QStringLiteral("thread_count")];
    if (detectionsAtOnce > 1 && threads.toString().isEmpty())
        threads = std::max(1, QThread::idealThreadCount() / detectionsAtOnce);
    return detectorSettings;
}

void BatchQueue::setDetectionSlots(int detections)
{
    m_detectionSlots = std::max(1, detections);
    if (m_running)
        schedule();
}

void BatchQueue::setStopBounds(int graceMs, int drainMs)
{
    m_graceMs = graceMs;
    m_drainMs = drainMs;
}

QString BatchQueue::stateName(State state)
{
    switch (state) {
    case State::Waiting:
        return QStringLiteral("waiting");
    case State::Detecting:
        return QStringLiteral("detecting");
    case State::Detected:
        return QStringLiteral("detected");
    case State::ReadyForReview:
        return QStringLiteral("ready for review");
    case State::Approved:
        return QStringLiteral("approved");
    case State::Cutting:
        return QStringLiteral("cutting");
    case State::Done:
        return QStringLiteral("done");
    case State::Failed:
        return QStringLiteral("failed");
    case State::Stopped:
        return QStringLiteral("stopped");
    }
    return QString();
}

void BatchQueue::setReplaceOthers(bool replace, const QString &hint)
{
    m_replaceOthers = replace;
    m_replaceHint = hint;
}

int BatchQueue::addRefused(const RunRequest &request, const QString &reason)
{
    auto slot = std::make_unique<Slot>();
    slot->entry.request = request;
    slot->refused = true;
    m_entries.push_back(std::move(slot));
    const int index = count() - 1;
    emit added(index);
    fail(index, reason);
    return index;
}

int BatchQueue::add(const RunRequest &request, bool existingDetection, const QString &outputDir)
{
    return enqueue(request, existingDetection, outputDir, State::Waiting);
}

int BatchQueue::addDetected(const RunRequest &request, bool approved, const QString &outputDir)
{
    return enqueue(request, true, outputDir, approved ? State::Approved : State::ReadyForReview);
}

int BatchQueue::enqueue(const RunRequest &request, bool existingDetection, const QString &outputDir,
                        State initial)
{
    auto slot = std::make_unique<Slot>();
    Entry &e = slot->entry;
    e.request = request;
    e.existingDetection = existingDetection;
    if (!outputDir.isEmpty())
        e.outputDir = QDir::cleanPath(QFileInfo(outputDir).absoluteFilePath());
    const Recording recording(request.recording);
    e.request.outDir = recording.outDir();
    e.request.baseName = recording.baseName();
    if (e.request.detect && existingDetection)
        e.request.detect = false;
    if (!e.request.output.isEmpty())
        e.request.output = QDir::cleanPath(QFileInfo(e.request.output).absoluteFilePath());
    m_entries.push_back(std::move(slot));
    const int index = count() - 1;

    const QString name = nameOf(request.recording);
    const QFileInfo info(request.recording);
    const QString base = e.request.baseName;
    // Lists a Trimlet did not live to put back are put back before they
    // are looked for, unless a live one has them aside.
    QString busy;
    const bool inBatch = std::any_of(m_entries.cbegin(), m_entries.cend() - 1, [&](const auto &other) {
        return !other->refused && !other->entry.removed
               && samePlace(other->entry.request.recording) == samePlace(request.recording);
    });
    if (info.isFile() && !inBatch) {
        const RecordingLock lock(e.request);
        if (lock.heldElsewhere())
            busy = lock.refusal();
        else
            WorkFiles(e.request.outDir, e.request.baseName).restoreSetAside();
    }
    QString refusal;
    if (request.recording.isEmpty() || !info.exists())
        refusal = QStringLiteral("%1 cannot be found.").arg(name);
    else if (info.isDir())
        refusal = QStringLiteral("%1 is a folder, not a recording.").arg(name);
    else if (!info.isReadable())
        refusal = QStringLiteral("%1 cannot be read: permission denied.").arg(name);
    else if (!busy.isEmpty())
        refusal = busy;
    else if (e.request.detect && !recording.detectionRefusal().isEmpty())
        refusal = recording.detectionRefusal();
    else if (!recording.workFileNameRefusal().isEmpty())
        refusal = recording.workFileNameRefusal();
    else if (existingDetection && !recording.haveDetection())
        refusal = QStringLiteral("%1 has no earlier detection beside it: %2.txt and %2.edl are needed.")
                      .arg(name, base);
    // The copy's extension waits for the probe; its name without one is
    // known now, and two copies of one such name are refused here, the
    // later one, whichever recording is read first.
    const QString copyStem = copyStemOf(e);
    for (int j = 0; refusal.isEmpty() && j < index; ++j) {
        const Slot &other = *m_entries[size_t(j)];
        if (other.refused || other.entry.removed)
            continue;
        const QString otherName = nameOf(other.entry.request.recording);
        const QString otherStem = copyStemOf(other.entry);
        if (samePlace(other.entry.request.recording) == samePlace(request.recording))
            refusal = QStringLiteral("%1 is already in the batch.").arg(name);
        // Two recordings of one stem in one folder would write one set of
        // lists, each over the other's.
        else if (other.entry.request.baseName == base
                 && samePlace(other.entry.request.outDir) == samePlace(e.request.outDir))
            refusal =
                QStringLiteral("%1 would share its work files (%2.txt, %2.edl) with %3, which is in the "
                               "batch: run it on its own.")
                    .arg(name, base, otherName);
        else if (!copyStem.isEmpty() && copyStem == otherStem)
            refusal =
                QStringLiteral("%1's copy would have the same name as that of %2: %3.")
                    .arg(name, QDir::toNativeSeparators(other.entry.request.recording),
                         QDir::toNativeSeparators(e.request.output.isEmpty() ? copyStem + QStringLiteral(".*")
                                                                             : e.request.output));
    }
    if (refusal.isEmpty() && !e.request.output.isEmpty())
        refusal = clashWithOthers(index, e.request.output);
    emit added(index);
    if (!refusal.isEmpty()) {
        m_entries.back()->refused = true;
        fail(index, refusal);
        return index;
    }
    if (initial != State::Waiting) {
        const std::optional<int> breaks = recording.cutListCount();
        e.breaksFound = breaks.value_or(0);
        setState(index, initial, usingExistingDetection(e));
    }
    if (m_running)
        schedule();
    return index;
}

QString BatchQueue::copyStemOf(const Entry &e)
{
    if (!e.request.remove)
        return QString();
    if (!e.request.output.isEmpty())
        return pathtext::deletingExtension(samePlace(e.request.output));
    const QString proposed =
        pathtext::deletingExtension(Recording(e.request.recording).proposedOutput(QString(), e.request.mode));
    const QString folder = e.outputDir.isEmpty() || e.request.mode == RunRequest::Mode::SkipList
                               ? e.request.outDir
                               : e.outputDir;
    return samePlace(folder) + QLatin1Char('/') + nameOf(proposed);
}

QString BatchQueue::clashWithOthers(int index, const QString &output) const
{
    const QString place = samePlace(output);
    const QString name = nameOf(m_entries[size_t(index)]->entry.request.recording);
    for (int j = 0; j < count(); ++j) {
        const Slot &other = *m_entries[size_t(j)];
        if (j == index || other.refused || other.entry.removed)
            continue;
        const QString otherName = nameOf(other.entry.request.recording);
        if (!other.entry.request.output.isEmpty() && samePlace(other.entry.request.output) == place)
            return QStringLiteral("%1's copy would have the same name as that of %2: %3.")
                .arg(name, otherName, QDir::toNativeSeparators(output));
        if (samePlace(other.entry.request.recording) == place)
            return QStringLiteral("%1's copy would be written over %2, which is in the batch.")
                .arg(name, otherName);
    }
    return QString();
}

void BatchQueue::start()
{
    if (m_running)
        return;
    m_running = true;
    m_stopping = false;
    schedule();
}

bool BatchQueue::active(int index) const
{
    const Entry &e = entry(index);
    const State s = e.state;
    if (e.removed)
        return false;
    // An approved recording waits for the next start once the queue stops.
    if (s == State::Approved)
        return !m_stopping;
    return s == State::Waiting || s == State::Detecting || s == State::Detected || s == State::Cutting;
}

QString BatchQueue::usingExistingDetection(const Entry &e)
{
    return QStringLiteral("Using the existing detection: %1.edl (%2 break%3), not running comskip.")
        .arg(e.request.baseName)
        .arg(e.breaksFound)
        .arg(e.breaksFound == 1 ? QString() : QStringLiteral("s"));
}

bool BatchQueue::approve(int index)
{
    if (index < 0 || index >= count() || entry(index).removed || entry(index).state != State::ReadyForReview)
        return false;
    setState(index, State::Approved, QStringLiteral("Approved; it is cut in its turn."));
    if (m_running)
        schedule();
    return true;
}

bool BatchQueue::remove(int index)
{
    if (index < 0 || index >= count())
        return false;
    Slot &s = *m_entries[size_t(index)];
    if (s.entry.removed || s.run || s.entry.state == State::Detecting || s.entry.state == State::Cutting
        || (s.media && s.media->probing()))
        return false;
    s.entry.removed = true;
    release(index);
    emit stateChanged(index, s.entry.state);
    finishIfIdle();
    return true;
}

double BatchQueue::fractionDone() const
{
    double sum = 0;
    int counted = 0;
    for (int i = 0; i < count(); ++i) {
        const Entry &e = entry(i);
        if (e.removed)
            continue;
        ++counted;
        const double step = std::max(0.0, e.percent) / 100;
        const double detectShare = e.request.remove ? (e.existingDetection ? 0.0 : 0.5) : 1.0;
        switch (e.state) {
        case State::Waiting:
            break;
        case State::Detecting:
            sum += detectShare * step;
            break;
        case State::Detected:
        case State::Approved:
            sum += detectShare;
            break;
        case State::ReadyForReview:
            sum += m_reviewFirst ? 1 : detectShare;
            break;
        case State::Cutting:
            sum += detectShare + (1 - detectShare) * step;
            break;
        case State::Done:
        case State::Failed:
        case State::Stopped:
            sum += 1;
            break;
        }
    }
    return counted ? sum / counted : 0;
}

int BatchQueue::recordingCount() const
{
    int n = 0;
    for (int i = 0; i < count(); ++i)
        n += !entry(i).removed;
    return n;
}

int BatchQueue::countIn(State state) const
{
    int n = 0;
    for (int i = 0; i < count(); ++i)
        n += !entry(i).removed && entry(i).state == state;
    return n;
}

int BatchQueue::finishedCount() const
{
    int n = 0;
    for (int i = 0; i < count(); ++i) {
        const Entry &e = entry(i);
        n += !e.removed
             && (e.state == State::Done || e.state == State::Failed || e.state == State::Stopped
                 || (m_reviewFirst && e.state == State::ReadyForReview));
    }
    return n;
}

void BatchQueue::schedule()
{
    if (m_running && !m_stopping) {
        for (int i = 0; i < count() && m_detecting < m_detectionSlots; ++i)
            if (entry(i).state == State::Waiting && !entry(i).removed)
                begin(i);
        // Cuts go in the queue's order: the first one due waits for its
        // recording to be read, and the others for it.
        for (int i = 0; m_cutting < 0 && i < count(); ++i) {
            Slot &s = *m_entries[size_t(i)];
            if (s.entry.removed || (s.entry.state != State::Detected && s.entry.state != State::Approved))
                continue;
            if (!s.media) {
                readForCut(i);
                break;
            }
            if (s.media->probing())
                break;
            cut(i);
        }
    }
    // Whatever ended last (a pipeline, a probe, a refusal), the batch ends
    // with it.
    finishIfIdle();
}

void BatchQueue::begin(int index)
{
    Slot &s = *m_entries[size_t(index)];
    s.lock = std::make_shared<RecordingLock>(s.entry.request);
    if (s.lock->heldElsewhere()) {
        fail(index, s.lock->refusal());
        return;
    }
    // A detection that did not live to finish set its lists aside.
    WorkFiles(s.entry.request.outDir, s.entry.request.baseName).restoreSetAside();
    // The probe says whether there is a picture at all and what the copy
    // is called; the pass over the recording that follows it runs beside
    // the detector, as the window's does.
    ++m_detecting;
    setState(index, s.entry.existingDetection ? State::Detected : State::Detecting,
             QStringLiteral("Reading the recording…"));
    startReading(index);
}

void BatchQueue::readForCut(int index)
{
    // Its reading was let go while it waited for the user: the cut needs
    // it again, and its output is settled by what it holds.
    emit message(index, QStringLiteral("Reading the recording…"));
    startReading(index);
}

void BatchQueue::startReading(int index)
{
    Slot &s = *m_entries[size_t(index)];
    s.read = trash::FileState::of(s.entry.request.recording);
    s.media = std::make_unique<RecordingMedia>();
    connect(s.media.get(), &RecordingMedia::probed, this, [this, index] { probed(index); });
    s.media->start(s.entry.request.tools.ffprobe, s.entry.request.recording);
}

void BatchQueue::probed(int index)
{
    Slot &s = *m_entries[size_t(index)];
    Entry &e = s.entry;
    if (m_stopping || e.state == State::Stopped || e.removed)
        return;
    // A reading for an approved cut holds no detection slot.
    const bool detecting = e.state != State::Approved;
    const QString name = nameOf(e.request.recording);
    QString refusal;
    if (s.media->answer() == MediaProbe::Answer::NotLaunched)
        refusal = QStringLiteral("Could not start ffprobe. Is ffmpeg installed?");
    else if (s.media->answer() == MediaProbe::Answer::TimedOut)
        refusal = QStringLiteral("%1 cannot be read: it gave no answer within %2 seconds.")
                      .arg(name)
                      .arg(s.media->probeTimeLimit() / 1000);
    else if (!s.media->info() || !s.media->info()->hasVideo)
        refusal = QStringLiteral("%1 is not a recording: it holds no video that can be read.").arg(name);
    if (refusal.isEmpty() && e.request.remove) {
        if (e.request.output.isEmpty()) {
            // The name the window proposes, in the container the copy will be in.
            const media::MediaInfo &info = *s.media->info();
            const QString ext = media::extensionFor(
                media::containerFor(info, media::cutterFor(info, e.request.mencoderCutter)),
                pathtext::extension(e.request.recording));
            e.request.output = Recording(e.request.recording).proposedOutput(ext, e.request.mode);
            if (!e.outputDir.isEmpty() && e.request.mode != RunRequest::Mode::SkipList)
                e.request.output = e.outputDir + QLatin1Char('/') + nameOf(e.request.output);
        }
        const QFileInfo out(e.request.output);
        if (CutJob::isRecording(e.request.output, e.request.recording))
            refusal = QStringLiteral("The output file is the recording itself: choose another name.");
        else if (!QFileInfo(out.absolutePath()).isDir())
            refusal = QStringLiteral("The folder for the cut copy does not exist: %1")
                          .arg(QDir::toNativeSeparators(out.absolutePath()));
        else if (out.isDir())
            refusal = QStringLiteral("The cut copy's name is a folder: %1")
                          .arg(QDir::toNativeSeparators(e.request.output));
        else if (const QString tooLong = Recording::copyNameRefusal(e.request.output); !tooLong.isEmpty())
            refusal = tooLong;
        // A skip list is the detection's own list, rewritten for a player.
        else if (e.request.mode != RunRequest::Mode::SkipList && !m_replaceOthers
                 && (out.exists() || out.isSymLink())
                 && !CutJob::madeFrom(e.request.output, e.request.recording))
            refusal = QStringLiteral("%1 already exists, and Trimlet did not make it from %2: it is kept.%3")
                          .arg(out.fileName(), name, m_replaceHint);
        else
            refusal = clashWithOthers(index, e.request.output);
        // Before the detection and the cut, not after them.
        if (refusal.isEmpty() && e.request.replace && e.request.mode == RunRequest::Mode::Cut)
            if (const QString why =
                    trash::cannotReplace(e.request.recording, e.request.output, e.request.keepOriginal);
                !why.isEmpty())
                refusal =
                    QStringLiteral("It was not run, as its copy could not take its place: %1.").arg(why);
    }
    if (!refusal.isEmpty()) {
        if (detecting)
            --m_detecting;
        fail(index, refusal);
        release(index);
        QMetaObject::invokeMethod(this, &BatchQueue::schedule, Qt::QueuedConnection);
        return;
    }
    e.seconds = s.media->info()->seconds();
    if (!detecting) {
        QMetaObject::invokeMethod(this, &BatchQueue::schedule, Qt::QueuedConnection);
        return;
    }
    if (e.existingDetection) {
        --m_detecting;
        const std::optional<int> breaks = Recording(e.request.recording).cutListCount();
        e.breaksFound = breaks.value_or(0);
        setState(index,
                 !e.request.remove ? State::Done
                 : m_reviewFirst   ? State::ReadyForReview
                                   : State::Detected,
                 usingExistingDetection(e));
        if (!active(index))
            release(index);
        QMetaObject::invokeMethod(this, &BatchQueue::schedule, Qt::QueuedConnection);
        return;
    }
    detect(index);
}

void BatchQueue::detect(int index)
{
    RunRequest request = m_entries[size_t(index)]->entry.request;
    request.remove = false;
    request.erase = false;
    request.output.clear();
    int atOnce = 0;
    for (int i = 0; i < count(); ++i)
        atOnce += !entry(i).removed
                  && (entry(i).state == State::Detecting || entry(i).state == State::Waiting)
                  && entry(i).request.detect;
    request.detectorSettings = withSharedCores(request.detectorSettings, std::min(atOnce, m_detectionSlots));
    startPipeline(index, request, false);
}

void BatchQueue::cut(int index)
{
    // An approved recording's lock was let go while it waited for the user.
    Slot &s = *m_entries[size_t(index)];
    if (!s.lock)
        s.lock = std::make_shared<RecordingLock>(s.entry.request);
    if (s.lock->heldElsewhere()) {
        fail(index, s.lock->refusal());
        release(index);
        return;
    }
    m_cutting = index;
    RunRequest request = m_entries[size_t(index)]->entry.request;
    request.detect = false;
    request.listsGiven = m_entries[size_t(index)]->entry.existingDetection;
    request.skipMencoder = m_mencoderRefused.contains(kindOf(index));
    request.replaceOthers = m_replaceOthers;
    m_entries[size_t(index)]->entry.percent = -1;
    setState(index, State::Cutting);
    startPipeline(index, request, true);
}

QString BatchQueue::kindOf(int index) const
{
    const Slot &s = *m_entries[size_t(index)];
    if (!s.media || !s.media->info())
        return QString();
    const media::MediaInfo &info = *s.media->info();
    QStringList kind{info.formatName, info.videoCodec};
    for (const media::AudioStream &a : info.audio)
        kind << a.codec;
    return kind.join(QLatin1Char('/'));
}

void BatchQueue::startPipeline(int index, const RunRequest &request, bool cutting)
{
    Slot &s = *m_entries[size_t(index)];
    auto *run = new RunPipeline(request, s.media.get(), this);
    s.run = run;
    if (s.lock)
        run->useLock(s.lock);
    run->setStopBounds(m_graceMs, m_drainMs);
    if (cutting)
        connect(run, &RunPipeline::stepStarted, this, [this, index](RunPipeline::Step step) {
            if (step == RunPipeline::Step::Cut)
                measureCut(index);
        });
    // A cut's row shows the cut's progress, not the erase's after it.
    connect(run, &RunPipeline::progress, this,
            [this, index, cutting](RunPipeline::Step step, double percent) {
                if (cutting && step != RunPipeline::Step::Cut)
                    return;
                m_entries[size_t(index)]->entry.percent = percent;
                emit progress(index, percent);
            });
    connect(run, &RunPipeline::status, this,
            [this, index](const QString &text) { emit message(index, text); });
    connect(run, &RunPipeline::finished, this,
            [this, index, run, cutting] { pipelineEnded(index, run, cutting); });
    run->start();
}

void BatchQueue::measureCut(int index)
{
    // The pipeline tells the copy made, not how much of the recording it
    // holds: that is what the cut list keeps, by the cut's own arithmetic.
    Slot &s = *m_entries[size_t(index)];
    const std::optional<media::MediaInfo> &info = s.media->info();
    const Recording recording(s.entry.request.recording);
    bool opened = false;
    const std::optional<QList<media::Span>> cuts =
        media::parseEdlCuts(recording.read(QStringLiteral("edl"), &opened));
    if (!opened || !cuts || !info)
        return;
    const double seconds = s.media->clockSeconds();
    const QList<media::Span> merged = media::normalisedCuts(*cuts, seconds);
    s.entry.breaksCut = int(merged.size());
    // Chapters and a skip list keep the whole recording.
    const QList<media::Span> kept = s.entry.request.mode == RunRequest::Mode::Cut
                                        ? media::keptSpans(merged, seconds)
                                        : QList<media::Span>{{0, seconds}};
    // The programme's length is its frames': where the clock leaps (a
    // re-tuned multiplex), a span of the clock holds far fewer of them.
    const media::PacketTimes &packets = s.media->packets();
    if (!packets.empty() && info->fps > 0) {
        qint64 frames = 0;
        for (const media::Span &span : kept)
            frames += media::framesIn(packets, info->videoStart + span.start, info->videoStart + span.end);
        s.entry.keptSeconds = double(frames) / info->fps;
    } else {
        s.entry.keptSeconds = media::totalLength(kept);
    }
}

void BatchQueue::pipelineEnded(int index, RunPipeline *run, bool cutting)
{
    Slot &s = *m_entries[size_t(index)];
    Entry &e = s.entry;
    s.run = nullptr;
    run->deleteLater();
    if (cutting)
        m_cutting = -1;
    else
        --m_detecting;
    if (const QString kind = kindOf(index); cutting && run->mencoderRefused() && !kind.isEmpty())
        m_mencoderRefused.insert(kind);
    const QString outcome = run->outcome();
    if (run->wasStopped()) {
        // A stopped cut's pipeline erased what the run wrote; a detection's
        // knows nothing of the erase to come, so it is done here.
        if (!cutting && e.request.erase)
            RunPipeline::eraseWorkFiles(e.request);
        setState(index, State::Stopped, outcome.isEmpty() ? QStringLiteral("Stopped.") : outcome);
    } else if (run->failed()) {
        // Unattended, nothing else may tell where to look.
        const QString evidence = run->evidence();
        fail(index, evidence.isEmpty() ? outcome : outcome + QLatin1Char(' ') + evidence);
    } else if (!cutting) {
        e.breaksFound = run->commercialsFound();
        setState(index,
                 !e.request.remove || m_stopping ? State::Done
                 : m_reviewFirst                 ? State::ReadyForReview
                                                 : State::Detected,
                 outcome);
        if (e.request.remove && m_stopping)
            setState(index, State::Stopped,
                     QStringLiteral("Stopped before its cut; its detection is kept beside it."));
    } else {
        e.copyMade = run->copyMade();
        if (e.copyMade.isEmpty()) {
            e.keptSeconds = 0;
            e.breaksCut = 0;
        }
        if (!e.copyMade.isEmpty() && e.request.mode != RunRequest::Mode::SkipList
            && !(trash::FileState::of(e.request.recording) == s.read)) {
            // A DVR still writing it: the copy holds what was there when it
            // was read, which is not the recording, so it is not kept.
            QFile::remove(e.copyMade);
            e.copyMade.clear();
            e.keptSeconds = 0;
            e.breaksCut = 0;
            fail(index,
                 QStringLiteral("%1 changed while it was cut (is it still being written?), so its copy "
                                "was not kept.")
                     .arg(pathtext::lastComponent(e.request.recording)));
        } else if (e.request.replace && !e.copyMade.isEmpty() && e.request.mode == RunRequest::Mode::Cut)
            putInPlace(index, outcome);
        else
            setState(index, State::Done, outcome);
    }
    if (!active(index))
        release(index);
    QMetaObject::invokeMethod(this, &BatchQueue::schedule, Qt::QueuedConnection);
}

void BatchQueue::putInPlace(int index, const QString &outcome)
{
    // Only here, with the copy checked and named and the work files
    // erased: a copy that was refused never comes this far.
    Slot &s = *m_entries[size_t(index)];
    Entry &e = s.entry;
    const trash::Outcome put =
        trash::replaceWithCopy(e.request.recording, e.copyMade, s.read, e.request.keepOriginal);
    const QString text = outcome.isEmpty() ? put.message : outcome + QLatin1Char(' ') + put.message;
    if (!put.replaced) {
        fail(index, text);
        return;
    }
    e.copyMade = e.request.recording;
    // Lists beside it give the times of the recording before its cut: a
    // player that skipped by them would skip the programme instead.
    const QStringList retired = WorkFiles(e.request.outDir, e.request.baseName).retireLists();
    setState(index, State::Done,
             retired.isEmpty()
                 ? text
                 : text
                       + QStringLiteral(" Its lists of breaks, which give the times before the cut, "
                                        "are kept as %1.")
                             .arg(retired.join(QStringLiteral(", "))));
}

void BatchQueue::stop()
{
    if (!m_running || m_stopping)
        return;
    m_stopping = true;
    for (int i = 0; i < count(); ++i) {
        Slot &s = *m_entries[size_t(i)];
        if (s.run) {
            // Its pipeline says when its tool has ended.
            s.run->stop();
        } else if (s.entry.state == State::Approved) {
            release(i);
        } else if (active(i)) {
            if (s.media && s.media->probing())
                --m_detecting;
            const bool detected = s.entry.state == State::Detected && !s.entry.existingDetection;
            setState(i, State::Stopped,
                     detected ? QStringLiteral("Stopped before its cut; its detection is kept beside it.")
                              : QStringLiteral("Stopped."));
            release(i);
        }
    }
    finishIfIdle();
}

void BatchQueue::release(int index)
{
    // The probe and the pass over the recording are no longer needed: the
    // packet times of an hour are megabytes.
    Slot &s = *m_entries[size_t(index)];
    s.lock.reset();
    if (s.media) {
        s.media->cancel();
        s.media.release()->deleteLater();
    }
}

void BatchQueue::setState(int index, State state, const QString &text)
{
    Entry &e = m_entries[size_t(index)]->entry;
    const bool changed = e.state != state;
    e.state = state;
    // Nothing more runs on it until the user says so.
    if (state == State::Done || state == State::Failed || state == State::Stopped
        || state == State::ReadyForReview)
        m_entries[size_t(index)]->lock.reset();
    if (!text.isEmpty())
        e.message = text;
    if (changed)
        emit stateChanged(index, state);
    if (!text.isEmpty())
        emit message(index, text);
}

void BatchQueue::fail(int index, const QString &text)
{
    setState(index, State::Failed, text.isEmpty() ? QStringLiteral("Failed.") : text);
}

void BatchQueue::finishIfIdle()
{
    if (!m_running)
        return;
    for (int i = 0; i < count(); ++i)
        if (active(i) || m_entries[size_t(i)]->run)
            return;
    m_running = false;
    // Told on a fresh pass of the event loop, so that a batch that had
    // nothing to run ends after start() has returned, as any other does.
    QMetaObject::invokeMethod(
        this, [this] { emit finished(); }, Qt::QueuedConnection);
}
