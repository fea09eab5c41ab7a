#pragma once

#include "core/RunRequest.h"
#include "jobs/Job.h"
#include "jobs/Outcome.h"
#include "jobs/RunLog.h"
#include "jobs/Trash.h"
#include "jobs/WorkFiles.h"

#include <QObject>
#include <QPointer>

#include <memory>
#include <vector>

class RecordingLock;
class RecordingMedia;
class TaskWrapper;

// One run of one request: detect, cut and erase, each step a job started
// on a fresh pass of the event loop after the last one ended, with the run
// log beside the recording. It reads no window: what it does is what the
// request says, and it tells what happens through its signals.
class RunPipeline : public QObject
{
    Q_OBJECT
public:
    // The run's place in its steps; the numbers are what the diagnostics print.
    enum class ProcessState : qint32 {
        kStateIdle = 0,
        kStateStart = 1,
        kStateDetecting = 2,
        kStateAfterDetect = 3,
        kStateRemoving = 4,
        kStateAfterRemove = 5,
        kStateCleaning = 6,
        kStateFinished = 7,
    };
    Q_ENUM(ProcessState)
    enum class Step { Detect, Cut, Erase };
    Q_ENUM(Step)

    static const QString logFileName;

    // media is what the recording holds, as read when it was chosen; a
    // run without it reads the recording itself.
    RunPipeline(RunRequest request, RecordingMedia *media = nullptr, QObject *parent = nullptr);
    ~RunPipeline() override;

    // A run takes its recording's lock for as long as it lasts; one that
    // cannot ends at once with the reason, failed.
    void start();
    // A lock its caller holds for longer than this run (a batch's
    // detection, its cut and the time between), used instead.
    void useLock(std::shared_ptr<RecordingLock> lock) { m_lock = std::move(lock); }
    // A request to replace the recording is carried out by the run itself,
    // once its copy is checked and its work files erased: for a caller
    // that runs it alone. A batch puts its copies in place itself, as it
    // knows the recording from before the run.
    void setPutsCopyInPlace(bool on) { m_putsCopyInPlace = on; }
    // Stops the step under way; finished() follows once its tool has ended.
    void stop();

    const RunRequest &request() const { return m_request; }
    ProcessState state() const { return m_state; }
    bool isRunning() const { return m_state != ProcessState::kStateIdle; }
    // What the run has to say: its outcome so far, and at its end.
    const QString &outcome() const { return m_outcome; }
    // The same as facts: what the cut made and by which cutter, and why
    // the run failed. Its copy's length is the checked copy's own.
    Outcome result() const;
    bool failed() const { return m_failed; }
    bool wasStopped() const { return m_stopRequested; }
    // The checked copy, once it has taken the output's name.
    const QString &copyMade() const { return m_copyMade; }
    // The cut's mencoder failed or its copy was refused.
    bool mencoderRefused() const { return m_mencoderRefused; }
    int commercialsFound() const { return m_found; }
    bool logFileOpen() const { return m_log.isOpen(); }
    // Where a failed run's evidence is, in words: its work files and the
    // run log stay beside the recording. Empty for a run that did not fail
    // or wrote no log.
    QString evidence() const;
    const TaskWrapper *runner() const;
    QString logExcerpts() const;
    void setStopBounds(int graceMs, int drainMs);
    // What erasing a request's work files may take, and what it leaves.
    static WorkFiles workFilesOf(const RunRequest &request);
    // Erases them at once, with the request's part of the folder's run log.
    static void eraseWorkFiles(const RunRequest &request);

signals:
    void stepStarted(RunPipeline::Step step);
    void progress(RunPipeline::Step step, double percent);
    // A step's tool has ended; failed when the step failed.
    void stepFinished(RunPipeline::Step step, bool failed);
    // What the status line should say now.
    void status(const QString &text);
    // The detector's lists on disk may have changed.
    void listsChanged();
    void workFilesErased();
    void finished();

private:
    void advance();
    bool startJob(Job *job, Step step);
    void jobEnded(bool inStart);
    void finishRun();
    void openLog();
    void toLog(const QString &text);
    // What the erase may take, and what it leaves.
    WorkFiles workFiles() const { return workFilesOf(m_request); }
    QString withOutcome(const QString &text) const;
    void setOutcome(const QString &text);
    // Why the cut list on disk cannot be cut by; empty when it can.
    QString cutListRefusal() const;
    void fail(const QString &text);
    void putCopyInPlace();

    RunRequest m_request;
    QPointer<RecordingMedia> m_media;
    std::unique_ptr<RecordingMedia> m_ownMedia;
    ProcessState m_state = ProcessState::kStateIdle;
    QString m_outcome;
    // The cut step's facts, and the first failure's reason.
    Outcome m_cutResult;
    QString m_refusal;
    int m_breaksFound = 0;
    bool m_ended = false;
    bool m_failed = false;
    bool m_stopRequested = false;
    bool m_inStart = false;
    bool m_toolStarted = false;
    int m_found = 0;
    Step m_step = Step::Detect;
    Job *m_job = nullptr;
    Job *m_lastToolJob = nullptr;
    std::vector<std::unique_ptr<Job>> m_jobs;
    QString m_copyMade;
    bool m_mencoderRefused = false;
    RunLog m_log;
    QString m_logPath;
    std::shared_ptr<RecordingLock> m_lock;
    int m_graceMs = 1000;
    int m_drainMs = 3000;
    bool m_putsCopyInPlace = false;
    // The recording as the run found it, for a copy that takes its place.
    trash::FileState m_read;
};
