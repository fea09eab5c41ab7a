#pragma once

#include "core/RunRequest.h"
#include "jobs/Outcome.h"

#include <QObject>
#include <QSet>
#include <QString>

#include <algorithm>
#include <map>
#include <memory>
#include <vector>

class RecordingMedia;
class RunPipeline;

// Many recordings, each one request, run through the same pipelines as the
// window's: up to N detections at once (comskip decodes on about one core
// each), then each recording's cut and erase in one cut slot, one after the
// other (a cut is bound by the disk). Every recording has its own state and
// its own words: one that fails, or was never a recording, stops nothing
// but itself. A recording is known by the id it was given when added,
// which no other gets, whatever is removed before it.
class BatchQueue : public QObject
{
    Q_OBJECT
public:
    // ReadyForReview: detected, its cut waits for the user's approval;
    // Approved: the user approved its list, and it is cut in its turn.
    enum class State {
        Waiting,
        Detecting,
        Detected,
        ReadyForReview,
        Approved,
        Cutting,
        Done,
        Failed,
        Stopped
    };
    Q_ENUM(State)

    struct Entry
    {
        // As added; the output is settled once the recording has been
        // read, beside it under the name the window proposes when empty.
        // With profiles per row, its detector settings are those under its
        // profile until its detection starts.
        RunRequest request;
        // Takes the detector's lists already beside the recording.
        bool existingDetection = false;
        // Where the copy goes when the request names none; empty: beside
        // the recording.
        QString outputDir;
        State state = State::Waiting;
        double percent = -1; // the step under way, -1 until its tool reports
        // What happened: its words (the reason of a failure) and its
        // facts. The copy's length is what the cut list kept of the
        // recording, counted in its frames.
        Outcome outcome;
        double seconds = 0; // the recording's length, once it has been read
        // The recording as it was named, as rawnames::escaped() text, where
        // its name is not UTF-8: it runs under a stand-in name (the
        // request's) until it ends. Empty for any other.
        QString named;
        const QString &recordingNamed() const { return named.isEmpty() ? request.recording : named; }
    };

    explicit BatchQueue(QObject *parent = nullptr);
    ~BatchQueue() override;

    // One detection a core, each as many cores as comskip's thread_count
    // asks (none set counts as one).
    static int defaultDetectionSlots(const QVariantMap &detectorSettings);
    void setDetectionSlots(int detections)
    {
        m_detectionSlots = std::max(1, detections);
        if (m_running)
            schedule();
    }
    int detectionSlots() const { return m_detectionSlots; }
    void setStopBounds(int graceMs, int drainMs)
    {
        m_graceMs = graceMs;
        m_drainMs = drainMs;
    }
    // A file under a copy's name that Trimlet did not make from the same
    // recording is kept, and its recording refused (with hint after the
    // reason), unless replacing is allowed.
    void setReplaceOthers(bool replace, const QString &hint = QString())
    {
        m_replaceOthers = replace;
        m_replaceHint = hint;
    }

    // Queues a recording; one that cannot be run (missing, unreadable, a
    // folder, already queued, a copy or work files another one would
    // write too) is Failed at once, with the reason. Returns its id.
    int add(const RunRequest &request, bool existingDetection = false, const QString &outputDir = QString())
    {
        return enqueue(request, existingDetection, outputDir, State::Waiting);
    }
    // Queues a recording already refused, for the reason given.
    int addRefused(const RunRequest &request, const QString &reason, bool existingDetection = false);
    // Queues a recording whose detection lies beside it (its own, or a
    // DVR's), as ready for review or approved, without running comskip.
    int addDetected(const RunRequest &request, bool approved, const QString &outputDir = QString())
    {
        return enqueue(request, true, outputDir, approved ? State::Approved : State::ReadyForReview);
    }
    // Each row's profile (its request's) is read as its detection starts
    // and laid over its settings; one missing then fails that row alone.
    // Off, requests come with their profile laid over them already.
    void setProfilesPerRow(bool perRow) { m_profilesPerRow = perRow; }
    // A waiting row's profile, empty for the defaults; false for a row
    // that has begun, or ended.
    bool setProfile(int id, const QString &profile);
    // A detected recording waits for approval before its cut; off, each
    // is cut as soon as it is detected.
    void setReviewFirst(bool review) { m_reviewFirst = review; }
    bool reviewFirst() const { return m_reviewFirst; }
    // Sends a detected recording's list to cutting; it is cut in its turn
    // while the queue runs, else when it next starts. False when it has
    // no detection to approve.
    bool approve(int id);
    // Takes a recording out of the queue, for good; not one being worked on.
    bool remove(int id);
    void start();
    // Stops every recording under way; those still waiting are Stopped.
    // finished() follows once every tool has ended.
    void stop();

    bool isRunning() const { return m_running; }
    // The recordings in the queue, in the order they were added.
    int count() const { return int(m_entries.size()); }
    QList<int> ids() const;
    bool contains(int id) const { return m_entries.count(id) != 0; }
    const Entry &entry(int id) const;
    // The id the next recording added will have.
    int nextId() const { return m_nextId; }
    static QString stateName(State state);
    // How far the queue is, 0 to 1, each recording weighing alike (its
    // detection half, its cut half); one waiting for the user counts as
    // far as it can go without them.
    double fractionDone() const;
    // The recordings, and those of them with nothing left to run.
    int recordingCount() const { return count(); }
    int finishedCount() const
    {
        return countIn(State::Done) + countIn(State::Failed) + countIn(State::Stopped)
               + (m_reviewFirst ? countIn(State::ReadyForReview) : 0);
    }
    // Recordings in the queue in that state.
    int countIn(State state) const
    {
        const QList<int> all = ids();
        return int(std::count_if(all.cbegin(), all.cend(), [&](int id) { return entry(id).state == state; }));
    }

signals:
    void added(int id);
    // Taken out of the queue: id is no longer in it.
    void removed(int id);
    void stateChanged(int id, BatchQueue::State state);
    void progress(int id, double percent);
    void message(int id, const QString &text);
    void profileChanged(int id);
    void finished();

private:
    struct Slot;
    Slot &slot(int id) { return *m_entries.at(id); }
    void schedule();
    void begin(int id);
    int enqueue(const RunRequest &request, bool existingDetection, const QString &outputDir, State initial);
    // The other live recordings; those added before id only, with earlier.
    std::vector<const Entry *> others(int id, bool earlier = false) const;
    void probed(int id);
    void readForCut(int id);
    void detect(int id);
    void cut(int id);
    void startPipeline(int id, const RunRequest &request, bool cutting);
    void pipelineEnded(int id, RunPipeline *run, bool cutting);
    void setState(int id, State state, const QString &text = QString());
    void fail(int id, const QString &text);
    void release(int id);
    // Something is left to run on it; an approved recording waits for the
    // next start once the queue stops.
    bool active(int id) const
    {
        const State s = entry(id).state;
        return s == State::Approved ? !m_stopping
                                    : s == State::Waiting || s == State::Detecting || s == State::Detected
                                          || s == State::Cutting;
    }
    void finishIfIdle();
    // A recording whose name is not UTF-8 is run under a stand-in; false,
    // failed with the reason, where none can be made.
    bool runUnderStandIn(int id);
    // What its run made takes the recording's own name.
    void carryOut(int id);

    // A fresh reading of the recording, probed() when it has answered.
    void startReading(int id);

    // Ordered by id, which is the order the recordings were added in.
    std::map<int, std::unique_ptr<Slot>> m_entries;
    int m_nextId = 0;
    // Kinds of recording whose mencoder copy was refused in this batch:
    // recordings from one source share its faults, and each would pay for
    // a cut that is thrown away.
    QSet<QString> m_mencoderRefused;
    int m_detectionSlots = 1;
    int m_detecting = 0;
    int m_cutting = -1;
    bool m_running = false;
    bool m_stopping = false;
    bool m_reviewFirst = false;
    bool m_profilesPerRow = false;
    bool m_replaceOthers = false;
    QString m_replaceHint;
    int m_graceMs = 1000;
    int m_drainMs = 3000;
};
