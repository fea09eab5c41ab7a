#pragma once

#include "core/RunRequest.h"

#include <QObject>
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
    enum class State { Waiting, Detecting, Detected, Cutting, Done, Failed, Stopped };
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
    };

    explicit BatchQueue(QObject *parent = nullptr);
    ~BatchQueue() override;

    // One detection a core, each as many cores as comskip's thread_count
    // asks (none set counts as one).
    static int defaultDetectionSlots(const QVariantMap &detectorSettings);
    void setDetectionSlots(int detections);
    int detectionSlots() const { return m_detectionSlots; }
    void setStopBounds(int graceMs, int drainMs);

    // Queues a recording; one that cannot be run (missing, unreadable, a
    // folder, already queued, a copy or work files another one would
    // write too) is Failed at once, with the reason. Returns its index.
    int add(const RunRequest &request, bool existingDetection = false, const QString &outputDir = QString());
    void start();
    // Stops every recording under way; those still waiting are Stopped.
    // finished() follows once every tool has ended.
    void stop();

    bool isRunning() const { return m_running; }
    int count() const { return int(m_entries.size()); }
    const Entry &entry(int index) const;
    static QString stateName(State state);

signals:
    void stateChanged(int index, BatchQueue::State state);
    void progress(int index, double percent);
    void message(int index, const QString &text);
    void finished();

private:
    struct Slot;
    void schedule();
    void begin(int index);
    void probed(int index);
    void detect(int index);
    void cut(int index);
    void startPipeline(int index, const RunRequest &request, bool cutting);
    void pipelineEnded(int index, RunPipeline *run, bool cutting);
    void measureCut(int index);
    void setState(int index, State state, const QString &text = QString());
    void fail(int index, const QString &text);
    void release(int index);
    QString clashWithOthers(int index, const QString &output) const;
    // Where the copy goes, without its extension; empty when none is made.
    static QString copyStemOf(const Entry &e);
    bool active(int index) const;
    void finishIfIdle();

    std::vector<std::unique_ptr<Slot>> m_entries;
    int m_detectionSlots = 1;
    int m_detecting = 0;
    int m_cutting = -1;
    bool m_running = false;
    bool m_stopping = false;
    int m_graceMs = 1000;
    int m_drainMs = 3000;
};
