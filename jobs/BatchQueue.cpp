#include "jobs/BatchQueue.h"

#include "core/PathText.h"
#include "jobs/BatchQueueSlot.h"
#include "jobs/CopyHandOver.h"
#include "jobs/CutMeasure.h"
#include "jobs/QueueNames.h"
#include "jobs/QueueTally.h"
#include "jobs/Recording.h"
#include "jobs/RecordingLock.h"
#include "jobs/RecordingMedia.h"
#include "jobs/RequestBuilder.h"
#include "jobs/RunPipeline.h"
#include "jobs/Trash.h"
#include "jobs/WorkFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

BatchQueue::BatchQueue(QObject *parent) : QObject(parent) { }

BatchQueue::~BatchQueue()
{
    for (auto &[id, slot] : m_entries) {
        if (slot->run)
            slot->run->disconnect(this);
        carryOut(id);
    }
}

const BatchQueue::Entry &BatchQueue::entry(int id) const
{
    return m_entries.at(id)->entry;
}

QList<int> BatchQueue::ids() const
{
    QList<int> all;
    all.reserve(qsizetype(m_entries.size()));
    for (const auto &[id, slot] : m_entries)
        all << id;
    return all;
}

std::vector<const BatchQueue::Entry *> BatchQueue::others(int id, bool earlier) const
{
    std::vector<const Entry *> found;
    for (const auto &[other, slot] : m_entries)
        if (other != id && !slot->refused && (!earlier || other < id))
            found.push_back(&slot->entry);
    return found;
}

int BatchQueue::addRefused(const RunRequest &request, const QString &reason, bool existingDetection)
{
    const int id = m_nextId++;
    auto &slot = m_entries[id] = std::make_unique<Slot>();
    slot->entry.request = request;
    slot->entry.existingDetection = existingDetection;
    slot->refused = true;
    emit added(id);
    fail(id, reason);
    return id;
}

int BatchQueue::enqueue(const RunRequest &request, bool existingDetection, const QString &outputDir,
                        State initial)
{
    const int id = m_nextId++;
    Slot &s = *(m_entries[id] = std::make_unique<Slot>());
    Entry &e = s.entry;
    e.request = request;
    e.existingDetection = existingDetection;
    if (rawnames::holdsBytes(request.recording) && !runUnderStandIn(id))
        return id;
    if (!outputDir.isEmpty())
        e.outputDir = QDir::cleanPath(QFileInfo(outputDir).absoluteFilePath());
    if (e.request.detect && existingDetection)
        e.request.detect = false;
    if (!e.request.output.isEmpty())
        e.request.output = QDir::cleanPath(QFileInfo(e.request.output).absoluteFilePath());

    const std::vector<const Entry *> earlier = others(id, true);
    // Lists a Trimlet did not live to put back are put back before they
    // are looked for, unless a live one has them aside.
    QString busy;
    const QString place = QueueNames::samePlace(e.request.recording);
    const bool inBatch = std::any_of(earlier.cbegin(), earlier.cend(), [&](const Entry *other) {
        return QueueNames::samePlace(other->request.recording) == place;
    });
    if (QFileInfo(e.request.recording).isFile() && !inBatch) {
        const RecordingLock lock(e.request);
        if (lock.heldElsewhere())
            busy = lock.refusal();
        else
            WorkFiles(e.request.outDir(), e.request.baseName()).restoreSetAside();
    }
    QString refusal = QueueNames::recordingRefusal(e, busy);
    if (refusal.isEmpty())
        refusal = QueueNames::sharedRefusal(e, earlier);
    emit added(id);
    if (!refusal.isEmpty()) {
        s.refused = true;
        fail(id, refusal);
        return id;
    }
    if (initial != State::Waiting) {
        e.outcome.breaksFound = Recording(e.request.recording).cutListCount().value_or(0);
        setState(id, initial, QueueNames::usingExistingDetection(e));
    }
    if (m_running)
        schedule();
    return id;
}

void BatchQueue::start()
{
    if (m_running)
        return;
    m_running = true;
    m_stopping = false;
    schedule();
}

bool BatchQueue::approve(int id)
{
    if (!contains(id) || entry(id).state != State::ReadyForReview)
        return false;
    setState(id, State::Approved, QStringLiteral("Approved; it is cut in its turn."));
    if (m_running)
        schedule();
    return true;
}

bool BatchQueue::remove(int id)
{
    if (!contains(id))
        return false;
    Slot &s = slot(id);
    if (s.run || s.entry.state == State::Detecting || s.entry.state == State::Cutting
        || (s.media && s.media->probing()))
        return false;
    release(id);
    carryOut(id);
    m_entries.erase(id);
    emit removed(id);
    finishIfIdle();
    return true;
}

bool BatchQueue::setProfile(int id, const QString &profile)
{
    if (!contains(id) || entry(id).state != State::Waiting)
        return false;
    slot(id).entry.request.profile = profile;
    emit profileChanged(id);
    return true;
}

void BatchQueue::schedule()
{
    if (m_running && !m_stopping) {
        // Over the ids as they stand: a recording refused at its start
        // tells its listeners, who may take another out of the queue.
        for (const int id : ids())
            if (m_detecting < m_detectionSlots && contains(id) && entry(id).state == State::Waiting)
                begin(id);
        // Cuts go in the queue's order: the first one due waits for its
        // recording to be read, and the others for it.
        for (const int id : ids()) {
            if (m_cutting >= 0 || !contains(id))
                break;
            Slot &s = slot(id);
            if (s.entry.state != State::Detected && s.entry.state != State::Approved)
                continue;
            if (!s.media) {
                readForCut(id);
                break;
            }
            if (s.media->probing())
                break;
            cut(id);
        }
    }
    // Whatever ended last (a pipeline, a probe, a refusal), the batch ends
    // with it.
    finishIfIdle();
}

void BatchQueue::begin(int id)
{
    Slot &s = slot(id);
    // Read now, not when it was chosen: a profile gone since then fails
    // its row as the command line refuses it, and the queue goes on.
    if (QString why;
        m_profilesPerRow && s.entry.request.detect && !RequestBuilder::layProfile(s.entry.request, &why)) {
        fail(id, why);
        return;
    }
    s.lock = std::make_shared<RecordingLock>(s.entry.request);
    if (s.lock->heldElsewhere()) {
        fail(id, s.lock->refusal());
        return;
    }
    // A detection that did not live to finish set its lists aside.
    WorkFiles(s.entry.request.outDir(), s.entry.request.baseName()).restoreSetAside();
    // The probe says whether there is a picture at all and what the copy
    // is called; the pass over the recording that follows it runs beside
    // the detector, as the window's does.
    ++m_detecting;
    setState(id, s.entry.existingDetection ? State::Detected : State::Detecting,
             QStringLiteral("Reading the recording…"));
    startReading(id);
}

void BatchQueue::readForCut(int id)
{
    // Its reading was let go while it waited for the user: the cut needs
    // it again, and its output is settled by what it holds.
    emit message(id, QStringLiteral("Reading the recording…"));
    startReading(id);
}

void BatchQueue::startReading(int id)
{
    Slot &s = slot(id);
    s.read = trash::FileState::of(s.entry.request.recording);
    s.media = std::make_unique<RecordingMedia>();
    connect(s.media.get(), &RecordingMedia::probed, this, [this, id] { probed(id); });
    s.media->start(s.entry.request.tools.ffprobe, s.entry.request.recording);
}

void BatchQueue::probed(int id)
{
    if (!contains(id))
        return;
    Slot &s = slot(id);
    Entry &e = s.entry;
    if (m_stopping || e.state == State::Stopped)
        return;
    // A reading for an approved cut holds no detection slot.
    const bool detecting = e.state != State::Approved;
    QString refusal = QueueNames::readRefusal(*s.media, e.request.recording);
    if (refusal.isEmpty() && e.request.remove) {
        e.request.output = QueueNames::settledOutput(e, *s.media->info());
        refusal = QueueNames::outputRefusal(e, others(id), m_replaceOthers, m_replaceHint);
    }
    if (!refusal.isEmpty()) {
        if (detecting)
            --m_detecting;
        fail(id, refusal);
        release(id);
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
        e.outcome.breaksFound = breaks.value_or(0);
        setState(id,
                 !e.request.remove ? State::Done
                 : m_reviewFirst   ? State::ReadyForReview
                                   : State::Detected,
                 QueueNames::usingExistingDetection(e));
        if (!active(id))
            release(id);
        QMetaObject::invokeMethod(this, &BatchQueue::schedule, Qt::QueuedConnection);
        return;
    }
    detect(id);
}

void BatchQueue::detect(int id)
{
    RunRequest request = slot(id).entry.request;
    request.remove = false;
    request.erase = false;
    request.output.clear();
    int atOnce = 0;
    for (const auto &[other, s] : m_entries)
        atOnce += (s->entry.state == State::Detecting || s->entry.state == State::Waiting)
                  && s->entry.request.detect;
    request.detectorSettings =
        QueueTally::withSharedCores(request.detectorSettings, std::min(atOnce, m_detectionSlots));
    startPipeline(id, request, false);
}

void BatchQueue::cut(int id)
{
    // An approved recording's lock was let go while it waited for the user.
    Slot &s = slot(id);
    if (!s.lock)
        s.lock = std::make_shared<RecordingLock>(s.entry.request);
    if (s.lock->heldElsewhere()) {
        fail(id, s.lock->refusal());
        release(id);
        return;
    }
    m_cutting = id;
    RunRequest request = s.entry.request;
    request.detect = false;
    request.listsGiven = s.entry.existingDetection;
    request.skipMencoder = m_mencoderRefused.contains(QueueNames::kindOf(s.media.get()));
    request.replaceOthers = m_replaceOthers;
    s.entry.percent = -1;
    setState(id, State::Cutting);
    startPipeline(id, request, true);
}

void BatchQueue::startPipeline(int id, const RunRequest &request, bool cutting)
{
    Slot &s = slot(id);
    auto *run = new RunPipeline(request, s.media.get(), this);
    s.run = run;
    if (s.lock)
        run->useLock(s.lock);
    run->setStopBounds(m_graceMs, m_drainMs);
    if (cutting)
        connect(run, &RunPipeline::stepStarted, this, [this, id](RunPipeline::Step step) {
            Slot &s = slot(id);
            if (step != RunPipeline::Step::Cut || !s.media)
                return;
            if (const std::optional<CutMeasure> measure = CutMeasure::of(s.entry.request, *s.media)) {
                s.entry.outcome.breaksCut = measure->breaksCut;
                s.entry.outcome.keptSeconds = measure->keptSeconds;
            }
        });
    // A cut's row shows the cut's progress, not the erase's after it.
    connect(run, &RunPipeline::progress, this, [this, id, cutting](RunPipeline::Step step, double percent) {
        if (cutting && step != RunPipeline::Step::Cut)
            return;
        slot(id).entry.percent = percent;
        emit progress(id, percent);
    });
    connect(run, &RunPipeline::status, this, [this, id](const QString &text) { emit message(id, text); });
    connect(run, &RunPipeline::finished, this, [this, id, run, cutting] { pipelineEnded(id, run, cutting); });
    run->start();
}

void BatchQueue::pipelineEnded(int id, RunPipeline *run, bool cutting)
{
    Slot &s = slot(id);
    Entry &e = s.entry;
    s.run = nullptr;
    run->deleteLater();
    if (cutting)
        m_cutting = -1;
    else
        --m_detecting;
    if (const QString kind = QueueNames::kindOf(s.media.get());
        cutting && run->mencoderRefused() && !kind.isEmpty())
        m_mencoderRefused.insert(kind);
    const QString outcome = run->outcome();
    const Outcome result = run->result();
    e.outcome.refusal = result.refusal;
    if (run->wasStopped()) {
        // A stopped cut's pipeline erased what the run wrote; a detection's
        // knows nothing of the erase to come, so it is done here.
        if (!cutting && e.request.erase)
            RunPipeline::eraseWorkFiles(e.request);
        setState(id, State::Stopped, outcome.isEmpty() ? QStringLiteral("Stopped.") : outcome);
    } else if (run->failed()) {
        // Unattended, nothing else may tell where to look.
        const QString evidence = run->evidence();
        fail(id, evidence.isEmpty() ? outcome : outcome + QLatin1Char(' ') + evidence);
    } else if (!cutting) {
        e.outcome.breaksFound = run->commercialsFound();
        setState(id,
                 !e.request.remove || m_stopping ? State::Done
                 : m_reviewFirst                 ? State::ReadyForReview
                                                 : State::Detected,
                 outcome);
        if (e.request.remove && m_stopping)
            setState(id, State::Stopped,
                     QStringLiteral("Stopped before its cut; its detection is kept beside it."));
    } else {
        const CopyHandOver handed = CopyHandOver::of(e.request, result.copy, s.read, outcome);
        if (!handed.copy.isEmpty()) {
            e.outcome.cutter = result.cutter;
            e.outcome.mencoderRefused = result.mencoderRefused;
            e.outcome.warnings = result.warnings;
        } else {
            e.outcome.keptSeconds = 0;
            e.outcome.breaksCut = 0;
        }
        e.outcome.copy = handed.copy;
        if (handed.kept)
            setState(id, State::Done, handed.text);
        else
            fail(id, handed.text);
    }
    if (!active(id))
        release(id);
    QMetaObject::invokeMethod(this, &BatchQueue::schedule, Qt::QueuedConnection);
}

void BatchQueue::stop()
{
    if (!m_running || m_stopping)
        return;
    m_stopping = true;
    for (const int i : ids()) {
        if (!contains(i))
            continue;
        Slot &s = slot(i);
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

void BatchQueue::release(int id)
{
    // The probe and the pass over the recording are no longer needed: the
    // packet times of an hour are megabytes.
    Slot &s = slot(id);
    s.lock.reset();
    if (s.media) {
        s.media->cancel();
        s.media.release()->deleteLater();
    }
}

void BatchQueue::setState(int id, State state, const QString &text)
{
    Entry &e = slot(id).entry;
    const State before = e.state;
    e.state = state;
    if (!text.isEmpty())
        e.outcome.text = text;
    const bool ended = state == State::Done || state == State::Failed || state == State::Stopped;
    // Nothing more runs on it until the user says so.
    if (ended || state == State::ReadyForReview)
        slot(id).lock.reset();
    // Its listeners find what it made under the recording's own name.
    if (ended)
        carryOut(id);
    e.outcome.status = QueueTally::outcomeStatus(e.state);
    if (e.outcome.status == Outcome::Status::Failed && e.outcome.refusal.isEmpty())
        e.outcome.refusal = e.outcome.text;
    if (before != e.state)
        emit stateChanged(id, e.state);
    if (!text.isEmpty())
        emit message(id, e.outcome.text);
}

void BatchQueue::fail(int id, const QString &text)
{
    setState(id, State::Failed, text.isEmpty() ? QStringLiteral("Failed.") : text);
}

void BatchQueue::finishIfIdle()
{
    if (!m_running)
        return;
    for (const auto &[id, s] : m_entries)
        if (active(id) || s->run)
            return;
    m_running = false;
    // Told on a fresh pass of the event loop, so that a batch that had
    // nothing to run ends after start() has returned, as any other does.
    QMetaObject::invokeMethod(
        this, [this] { emit finished(); }, Qt::QueuedConnection);
}
