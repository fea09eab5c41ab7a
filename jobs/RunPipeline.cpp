#include "jobs/RunPipeline.h"

#include "core/BreakList.h"
#include "core/Diagnostics.h"
#include "core/MediaInfo.h"
#include "core/ResultParsers.h"
#include "jobs/CutJob.h"
#include "jobs/DetectJob.h"
#include "jobs/EraseJob.h"
#include "jobs/Recording.h"
#include "jobs/RecordingLock.h"
#include "jobs/RecordingMedia.h"
#include "jobs/SkipListJob.h"
#include "jobs/WorkFiles.h"

#include <QFileInfo>

const QString RunPipeline::logFileName = RunLog::fileName();

namespace {
// Less programme than this left by a cut list is none: no cutter makes a
// copy of it, and a player given it as a skip list skips everything.
constexpr double kLeastKeptSeconds = 1.0;
} // namespace

RunPipeline::RunPipeline(RunRequest request, RecordingMedia *media, QObject *parent)
    : QObject(parent), m_request(std::move(request)), m_media(media)
{
    if (!m_media) {
        m_ownMedia = std::make_unique<RecordingMedia>();
        m_media = m_ownMedia.get();
        m_media->start(m_request.tools.ffprobe, m_request.recording);
    }
    // A run that waits for the probe or the pass resumes at their answer.
    connect(m_media, &RecordingMedia::probed, this, [this] {
        if (m_state == ProcessState::kStateStart)
            QMetaObject::invokeMethod(this, &RunPipeline::advance, Qt::QueuedConnection);
    });
    connect(m_media, &RecordingMedia::scanned, this, [this] {
        if (m_state == ProcessState::kStateAfterDetect)
            QMetaObject::invokeMethod(this, &RunPipeline::advance, Qt::QueuedConnection);
    });
}

RunPipeline::~RunPipeline()
{
    for (auto &job : m_jobs)
        job->disconnect(this);
}

const TaskWrapper *RunPipeline::runner() const
{
    return m_job ? m_job->runner() : nullptr;
}

QString RunPipeline::logExcerpts() const
{
    return m_lastToolJob ? m_lastToolJob->excerpts() : QString();
}

void RunPipeline::setStopBounds(int graceMs, int drainMs)
{
    m_graceMs = graceMs;
    m_drainMs = drainMs;
}

void RunPipeline::openLog()
{
    // A missing or read-only directory means no run log, and no failure.
    // The log is the folder's, shared with every other run there, and not
    // a work file of this recording's: erasing takes out this recording's
    // parts of it, never the others'.
    if (m_log.open(m_request.outDir(), m_request.recording))
        m_logPath = m_log.path();
}

void RunPipeline::toLog(const QString &text)
{
    m_log.write(text.toUtf8());
}

QString RunPipeline::evidence() const
{
    if (!m_failed || m_stopRequested || m_logPath.isEmpty())
        return QString();
    return QStringLiteral("The work files and the run log are kept beside the recording: %1.").arg(m_logPath);
}

void RunPipeline::fail(const QString &text)
{
    if (!m_failed)
        m_refusal = text;
    m_failed = true;
    setOutcome(withOutcome(text));
}

QString RunPipeline::cutListRefusal() const
{
    bool opened = false;
    const QByteArray edl = Recording(m_request.recording).read(QStringLiteral("edl"), &opened);
    const std::optional<QList<media::Span>> cuts =
        results::countEdlEntries(edl) ? media::parseEdlCuts(edl) : std::nullopt;
    if (opened && !cuts)
        return QStringLiteral("The cut list cannot be read: detect the commercials again.");
    const double seconds = m_media ? m_media->clockSeconds() : 0;
    if (!cuts || cuts->isEmpty() || seconds <= 0
        || media::totalLength(media::keptSpans(*cuts, seconds)) >= kLeastKeptSeconds)
        return QString();
    switch (m_request.mode) {
    case RunRequest::Mode::SkipList:
        return QStringLiteral("The cut list leaves nothing of the recording to keep: no skip list was "
                              "written, as a player would skip the whole programme.");
    case RunRequest::Mode::Chapters:
        return QStringLiteral(
            "The cut list leaves nothing of the recording to keep: no chapters file was made.");
    case RunRequest::Mode::Cut:
        break;
    }
    return QStringLiteral("The cut list leaves nothing of the recording to keep: no copy was made.");
}

void RunPipeline::start()
{
    if (m_state != ProcessState::kStateIdle)
        return;
    if (!m_lock && !m_request.recording.isEmpty()) {
        m_lock = std::make_shared<RecordingLock>(m_request);
        if (m_lock->heldElsewhere()) {
            // Another Trimlet's lists and copy are its own: nothing of this
            // run may touch them, not even an erase.
            const QString refusal = m_lock->refusal();
            m_lock.reset();
            m_failed = true;
            m_refusal = refusal;
            m_request.erase = false;
            m_state = ProcessState::kStateFinished;
            setOutcome(refusal);
            finishRun();
            return;
        }
    }
    m_read = trash::FileState::of(m_request.recording);
    openLog();
    // A cut needs breaks to cut: the list on disk says how many there are
    // until a detection says again.
    m_found = Recording(m_request.recording).cutListCount().value_or(0);
    m_breaksFound = m_found;
    m_state = ProcessState::kStateStart;
    advance();
}

void RunPipeline::advance()
{
    logLine(QString::asprintf("runTask: processState = %d in", int(m_state)));
    // Which cutter, and whether there is video at all, is known once the
    // recording's probe has answered; its answer resumes the run.
    if (m_state == ProcessState::kStateStart && m_media && m_media->probing()) {
        logLine(QString::asprintf("runTask: processState = %d out", int(m_state)));
        return;
    }
    if (m_state == ProcessState::kStateStart) {
        m_state = ProcessState::kStateAfterDetect;
        if (m_request.detect && !m_request.recording.isEmpty()) {
            m_state = ProcessState::kStateDetecting;
            if (!startJob(new DetectJob(m_request), Step::Detect)) {
                logLine(QString::asprintf("runTask: processState = %d out", int(m_state)));
                return;
            }
        }
    }
    // The cut list is placed on the recording's own clock, which the pass
    // over it reads: a cut waits for it, and for one more try if it failed.
    if (m_state == ProcessState::kStateAfterDetect && m_request.remove && m_found != 0 && m_media
        && m_media->info() && m_media->info()->hasVideo && m_media->retryScan()) {
        emit status(QStringLiteral("Reading the recording…"));
        logLine(QString::asprintf("runTask: processState = %d out", int(m_state)));
        return;
    }
    if (m_state == ProcessState::kStateAfterDetect && m_request.remove && m_found != 0 && !m_failed) {
        // A list that cannot be read, or that would leave nothing, is
        // refused here in every mode: a cut would make no copy, and a skip
        // list would have a player skip the whole programme.
        if (const QString refusal = cutListRefusal(); !refusal.isEmpty()) {
            fail(refusal);
            m_state = ProcessState::kStateAfterRemove;
        }
    }
    if (m_state == ProcessState::kStateAfterDetect) {
        // A detection that failed leaves the lists it was to replace: no
        // cut is made by them.
        if (m_request.remove && m_found != 0 && !m_failed) {
            m_state = ProcessState::kStateRemoving;
            Job *job = nullptr;
            if (m_request.mode == RunRequest::Mode::SkipList) {
                auto *list = new SkipListJob(m_request, m_media);
                list->setOutcomeSoFar(m_outcome);
                job = list;
            } else {
                auto *cut = new CutJob(m_request, m_media);
                cut->setContext(m_outcome, Recording(m_request.recording).breaksSummary());
                job = cut;
            }
            if (!startJob(job, Step::Cut)) {
                logLine(QString::asprintf("runTask: processState = %d out", int(m_state)));
                return;
            }
        } else {
            // A copy the user asked for and will not get is explained.
            if (m_request.remove && !m_failed) {
                if (!QFileInfo::exists(
                        WorkFiles(m_request.outDir(), m_request.baseName()).path(QStringLiteral("edl"))))
                    setOutcome(withOutcome(QStringLiteral("No cut list yet: detect the commercials first.")));
                else if (const QString refusal = cutListRefusal(); !refusal.isEmpty())
                    fail(refusal);
                else
                    setOutcome(QStringLiteral("Found 0 commercials: nothing to cut."));
            }
            m_state = ProcessState::kStateAfterRemove;
        }
    }
    if (m_state == ProcessState::kStateAfterRemove) {
        // A failed run's work files and log are what tells why: they stay.
        if (m_request.erase && !m_failed) {
            m_state = ProcessState::kStateCleaning;
            m_log.close();
            RunLog::erasePartsOf(m_request.outDir(), m_request.recording);
            auto *erase = new EraseJob(workFiles(), m_request.output);
            startJob(erase, Step::Erase);
        } else {
            m_state = ProcessState::kStateFinished;
        }
    }
    const ProcessState at = m_state;
    if (m_state == ProcessState::kStateFinished)
        finishRun();
    logLine(QString::asprintf("runTask: processState = %d out", int(at)));
}

// False while the job goes on; true when it ended before this returned.
bool RunPipeline::startJob(Job *job, Step step)
{
    m_jobs.emplace_back(job);
    m_job = job;
    m_step = step;
    m_toolStarted = false;
    job->setStopBounds(m_graceMs, m_drainMs);
    connect(job, &Job::message, this, &RunPipeline::status);
    connect(job, &Job::output, this, &RunPipeline::toLog);
    connect(job, &Job::logged, this,
            [this](const QString &line) { toLog(QStringLiteral("Trimlet: ") + line + QLatin1Char('\n')); });
    connect(job, &Job::progress, this, [this, step](double percent) {
        if (percent < 0) {
            m_toolStarted = true;
            m_lastToolJob = m_job;
        }
        emit progress(step, percent);
    });
    connect(job, &Job::toolFinished, this, [this](int rc) {
        logLine(QString::asprintf("processFinished: rc = %d, processState = %d", rc, int(m_state)));
    });
    connect(job, &Job::finished, this, [this] {
        // A job that ends inside its own start is taken up when start returns.
        if (!m_inStart)
            jobEnded(false);
    });
    emit stepStarted(step);
    m_inStart = true;
    job->start();
    m_inStart = false;
    if (job->isRunning())
        return false;
    jobEnded(true);
    return m_state != ProcessState::kStateIdle;
}

void RunPipeline::jobEnded(bool inStart)
{
    if (!m_job)
        return;
    Job *job = m_job;
    m_job = nullptr;
    const bool failed = job->status() == Job::Status::Failed;
    const bool failedBefore = m_failed;
    if (failed && !failedBefore)
        m_refusal = job->result().refusal;
    m_failed = m_failed || failed;
    switch (m_step) {
    case Step::Detect:
        if (job->status() == Job::Status::Succeeded)
            m_breaksFound = m_found = static_cast<DetectJob *>(job)->commercialsFound();
        setOutcome(job->outcome());
        m_state = ProcessState::kStateAfterDetect;
        emit listsChanged();
        break;
    case Step::Cut:
        if (auto *cut = qobject_cast<CutJob *>(job)) {
            m_copyMade = cut->copyMade();
            m_mencoderRefused = cut->mencoderRefused();
        } else if (auto *list = qobject_cast<SkipListJob *>(job))
            m_copyMade = list->listMade();
        m_cutResult = job->result();
        setOutcome(job->outcome());
        m_state = ProcessState::kStateAfterRemove;
        break;
    case Step::Erase:
        logLine(QString::asprintf("processFinished: rc = %d, processState = %d", 0, int(m_state)));
        m_found = 0;
        if (!m_outcome.isEmpty())
            emit status(m_outcome);
        emit workFilesErased();
        m_state = ProcessState::kStateFinished;
        break;
    }
    if (m_toolStarted)
        emit stepFinished(m_step, failed && !failedBefore);
    if (m_stopRequested) {
        finishRun();
        return;
    }
    // A step that ended within its own start goes straight on; one whose
    // tool ended goes on at the next pass of the event loop.
    if (!inStart)
        QMetaObject::invokeMethod(this, &RunPipeline::advance, Qt::QueuedConnection);
}

void RunPipeline::stop()
{
    if (m_state == ProcessState::kStateIdle || m_stopRequested)
        return;
    m_stopRequested = true;
    if (m_job) {
        // The step tells of its own stop when its tool has ended.
        m_job->stop();
        return;
    }
    const ProcessState before = m_state;
    if (before == ProcessState::kStateStart || before == ProcessState::kStateAfterDetect
        || before == ProcessState::kStateAfterRemove)
        setOutcome(withOutcome(QStringLiteral("Run stopped.")));
    finishRun();
}

void RunPipeline::finishRun()
{
    if (m_state == ProcessState::kStateIdle)
        return;
    if (m_putsCopyInPlace && !m_stopRequested && !m_failed && m_request.replace
        && m_request.mode == RunRequest::Mode::Cut && !m_copyMade.isEmpty())
        putCopyInPlace();
    // A stopped run leaves no more behind than a finished one would.
    m_log.close();
    if (m_stopRequested && m_request.erase)
        eraseWorkFiles(m_request);
    m_lock.reset();
    m_state = ProcessState::kStateIdle;
    m_ended = true;
    emit finished();
}

void RunPipeline::putCopyInPlace()
{
    // Still under the recording's lock, so no other Trimlet reads it as
    // it changes hands; a copy that was refused never comes this far.
    const trash::Outcome put =
        trash::replaceWithCopy(m_request.recording, m_copyMade, m_read, m_request.keepOriginal);
    toLog(QStringLiteral("Trimlet: ") + put.message + QLatin1Char('\n'));
    if (!put.replaced) {
        fail(put.message);
        return;
    }
    m_copyMade = m_request.recording;
    setOutcome(withOutcome(put.message));
}

void RunPipeline::eraseWorkFiles(const RunRequest &request)
{
    EraseJob(workFilesOf(request), request.output).start();
    RunLog::erasePartsOf(request.outDir(), request.recording);
}

WorkFiles RunPipeline::workFilesOf(const RunRequest &request)
{
    QStringList untouchable{request.recording, request.output};
    if (request.listsGiven) {
        const WorkFiles files(request.outDir(), request.baseName());
        for (const char *ext : {"ini", "txt", "edl", "csv", "log", "detected.txt", "detected.edl"})
            untouchable << files.path(QLatin1String(ext));
        untouchable << files.iniPath();
    }
    return WorkFiles(request.outDir(), request.baseName(), untouchable);
}

void RunPipeline::setOutcome(const QString &text)
{
    m_outcome = text;
    if (!text.isEmpty())
        emit status(text);
}

QString RunPipeline::withOutcome(const QString &text) const
{
    return m_outcome.isEmpty() ? text : m_outcome + QLatin1Char(' ') + text;
}

Outcome RunPipeline::result() const
{
    Outcome r = m_cutResult;
    r.status = m_stopRequested ? Outcome::Status::Stopped
               : m_failed      ? Outcome::Status::Failed
               : m_ended       ? Outcome::Status::Succeeded
                               : Outcome::Status::None;
    r.copy = m_copyMade;
    if (r.copy.isEmpty()) {
        r.cutter.clear();
        r.keptSeconds = 0;
        r.breaksCut = 0;
    }
    r.breaksFound = m_breaksFound;
    r.refusal = m_failed || m_stopRequested ? m_refusal : QString();
    if (m_stopRequested && r.refusal.isEmpty())
        r.refusal = m_outcome;
    r.text = m_outcome;
    return r;
}
