#pragma once

#include "jobs/BatchQueue.h"
#include "jobs/QueueModel.h"
#include "jobs/QueueStore.h"

#include <QObject>
#include <QStringList>

#include <optional>

class AppController;
class QMainWindow;
namespace Ui {
class MainWindow;
}

// The queue in the main window: many recordings detected down the queue
// unattended, each reviewed in the chart window and approved, then all cut,
// each copy checked as a single one is. Selecting a row shows that
// recording in the window. The queue is kept across a restart.
class QueuePanel : public QObject
{
    Q_OBJECT
public:
    QueuePanel(AppController &controller, Ui::MainWindow &ui, QMainWindow *main, QMainWindow *chart,
               QObject *parent = nullptr);
    ~QueuePanel() override;

    BatchQueue &queue() { return m_queue; }
    QueueModel &model() { return m_model; }
    // Recordings chosen, dropped or named together: each a row. One whose
    // detection lies beside it waits for review without running comskip.
    void addRecordings(const QStringList &paths);
    bool isRunning() const { return m_queue.isRunning(); }
    bool isEmpty() const { return m_queue.recordingCount() == 0; }
    // Where the queue is kept; the queue saved there is brought back.
    void restoreFrom(const QString &path);
    // "3 of 7 recordings · 41 %" while the queue runs, else empty.
    QString progressText() const;
    // How far the queue's detections and its cuts are, 0 to 1; none while
    // it has none of that step to run.
    struct StepProgress
    {
        std::optional<double> detect, cut;
    };
    StepProgress stepProgress() const;
    // Stops the queue for the application's end, keeping what it would
    // take up again, and returns once its tools have ended and what they
    // set aside is back (bounded as a stop is).
    void stopForQuit();

    int selectedEntry() const;
    void selectEntry(int index);
    void detectAll();
    void cutAllApproved();
    void review();
    void approve();
    void nextForReview();
    // The selected row's profile, in place (F2), while it waits.
    void editProfile();
    void removeSelected();
    void showCopy();

signals:
    // The title or the controls the main window owns follow the queue.
    void changed();

private:
    void connectControls();
    void entrySelected();
    void showAgainIfShown(int index, BatchQueue::State state);
    void updateControls();
    void save();
    void finished();
    // A row's last state before it stopped; a stopped one is held as that.
    void track(int index, BatchQueue::State state);
    // A row taken out of the queue is no longer held or followed.
    void forget(int index);
    // A saved row back in the queue: as it was, or held while its
    // recording is not there.
    int enqueueSaved(const queuestore::Saved &saved);
    // Held rows whose recording is there go on as they were; one whose
    // recording is in the queue already leaves.
    void takeUpHeld();
    // The request a row runs, as Run would make it now, for that recording
    // and the row's profile.
    RunRequest requestFor(const QString &path, RunRequest::Mode mode, const QString &output,
                          const QString &profile) const;
    void run();

    AppController &m_controller;
    Ui::MainWindow &m_ui;
    QMainWindow *m_main;
    QMainWindow *m_chart;
    BatchQueue m_queue;
    QueueModel m_model;
    QString m_statePath;
    bool m_quitting = false;
    bool m_savesHeld = false;
    // The rows the queue cannot say how to go on with, by its index: those
    // not found (a disk not mounted at the start) and those stopped. Each
    // is kept as it goes on until the user removes it.
    QHash<int, queuestore::Saved> m_held;
    QHash<int, BatchQueue::State> m_lastLive;
};
