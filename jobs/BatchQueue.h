#pragma once

#include "core/RunRequest.h"

#include <QObject>
#include <QSet>
#include <QString>

#include <memory>
#include <vector>

class RecordingMedia;
class RunPipeline;

// Many recordings, each one request, run through the same pipelines as the
// window's: up to N detections at once (comskip decodes on about one core
// each), then each recording's cut and erase in one cut slot, one after the
// other (a cut is bound by the disk). Every recording has its own state and
// its own words: one that fails, or was never a recording, stops nothing
// but itself.
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
        RunRequest request;
        // Takes the detector's lists already beside the recording.
        bool existingDetection = false;
        // Where the copy goes when the request names none; empty: beside
        // the recording.
        QString outputDir;
        State state = State::Waiting;
        double percent = -1; // the step under way, -1 until its tool reports
        QString message; // what happened, in words; the reason of a failure
        QString copyMade; // the checked copy, once it has taken its name
        double keptSeconds = 0; // what the cut list kept of the recording in the copy
        int breaksFound = 0; // in the detector's list
        int breaksCut = 0; // in the copy's cut list, overlapping ones merged
        bool removed = false; // taken out of the queue by the user
        double seconds = 0; // the recording's length, once it has been read
    };

    explicit BatchQueue(QObject *parent = nullptr);
    ~BatchQueue() override;

    // One detection a core, each as many cores as comskip's thread_count
    // asks (none set counts as one).
    static int defaultDetectionSlots(const QVariantMap &detectorSettings);
    // The settings for one of detectionsAtOnce detections running side by
    // side: the cores shared among them, unless comskip's thread_count is set.
    static QVariantMap withSharedCores(QVariantMap detectorSettings, int detectionsAtOnce);
    void setDetectionSlots(int detections);
    int detectionSlots() const { return m_detectionSlots; }
    void setStopBounds(int graceMs, int drainMs);
    // A file under a copy's name that Trimlet did not make from the same
    // recording is kept, and its recording refused (with hint after the
    // reason), unless replacing is allowed.
    void setReplaceOthers(bool replace, const QString &hint = QString());

    // Queues a recording; one that cannot be run (missing, unreadable, a
    // folder, already queued, a copy or work files another one would
    // write too) is Failed at once, with the reason. Returns its index.
    int add(const RunRequest &request, bool existingDetection = false, const QString &outputDir = QString());
    // Queues a recording already refused, for the reason given.
    int addRefused(const RunRequest &request, const QString &reason);
    // Queues a recording whose detection lies beside it (its own, or a
    // DVR's), as ready for review or approved, without running comskip.
    int addDetected(const RunRequest &request, bool approved, const QString &outputDir = QString());
    // A detected recording waits for approval before its cut; off, each
    // is cut as soon as it is detected.
    void setReviewFirst(bool review) { m_reviewFirst = review; }
    bool reviewFirst() const { return m_reviewFirst; }
    // Sends a detected recording's list to cutting; it is cut in its turn
    // while the queue runs, else when it next starts. False when it has
    // no detection to approve.
    bool approve(int index);
    // Takes a recording out of the queue; not one being worked on.
    bool remove(int index);
    void start();
    // Stops every recording under way; those still waiting are Stopped.
    // finished() follows once every tool has ended.
    void stop();

    bool isRunning() const { return m_running; }
    int count() const { return int(m_entries.size()); }
    const Entry &entry(int index) const;
    static QString stateName(State state);
    // How far the queue is, 0 to 1, each recording weighing alike (its
    // detection half, its cut half); one waiting for the user counts as
    // far as it can go without them.
    double fractionDone() const;
    // The recordings not removed, and those of them with nothing left to
    // run.
    int recordingCount() const;
    int finishedCount() const;
    // Recordings in the queue (not removed) in that state.
    int countIn(State state) const;

signals:
    void added(int index);
    void stateChanged(int index, BatchQueue::State state);
    void progress(int index, double percent);
    void message(int index, const QString &text);
    void finished();

private:
    struct Slot;
    void schedule();
    void begin(int index);
    int enqueue(const RunRequest &request, bool existingDetection, const QString &outputDir, State initial);
    void probed(int index);
    void readForCut(int index);
    static QString usingExistingDetection(const Entry &e);
    void detect(int index);
    void cut(int index);
    void startPipeline(int index, const RunRequest &request, bool cutting);
    void pipelineEnded(int index, RunPipeline *run, bool cutting);
    void measureCut(int index);
    // The checked copy takes the recording's name (a request's replace).
    void putInPlace(int index, const QString &outcome);
    void setState(int index, State state, const QString &text = QString());
    void fail(int index, const QString &text);
    void release(int index);
    QString clashWithOthers(int index, const QString &output) const;
    // Where the copy goes, without its extension; empty when none is made.
    static QString copyStemOf(const Entry &e);
    bool active(int index) const;
    void finishIfIdle();

    // A fresh reading of the recording, probed() when it has answered.
    void startReading(int index);
    // The container and codecs of the recording index holds, once read.
    QString kindOf(int index) const;

    std::vector<std::unique_ptr<Slot>> m_entries;
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
    bool m_replaceOthers = false;
    QString m_replaceHint;
    int m_graceMs = 1000;
    int m_drainMs = 3000;
};
