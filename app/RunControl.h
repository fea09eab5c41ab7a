#pragma once

#include "app/EndSound.h"
#include "core/RunRequest.h"
#include "jobs/RunPipeline.h"

#include <QObject>
#include <QPointer>

#include <array>
#include <optional>

class AppController;

// The window's runs: what its three Run/Stop buttons do, the pipeline of
// jobs a Run starts with one request, the progress rows the running step
// drives, a Stop, and erasing the work files.
class RunControl : public QObject
{
    Q_OBJECT
public:
    // The three Run/Stop buttons.
    enum class RunButton { Auto, Detect, Remove };
    Q_ENUM(RunButton)
    // What a Run/Stop button does when pressed.
    enum class Action { AutoStart, DetectStart, RemoveStart, AutoStop, DetectStop, RemoveStop };
    // The two progress rows: detection's, and the cut's.
    enum class Row { Detect, Remove };
    Q_ENUM(Row)

    // controller: what the run is asked for, and where it says how it goes.
    explicit RunControl(AppController &controller, QObject *parent = nullptr);
    ~RunControl() override;

    void autoStart();
    void detectStart();
    void removeStart();
    void stopRun();
    void clean();
    void setIdle();
    void performButtonAction(RunButton button);
    Action buttonAction(RunButton button) const { return m_actions[size_t(button)]; }
    bool buttonStops(RunButton button) const;
    QString buttonTitle(RunButton button) const;
    std::optional<Row> activeRow() const { return m_activeRow; }
    // Stops whatever runs, as a Stop does, before the application quits.
    void stopForQuit();
    void quitOnSignal(int signalNumber);
    // A recording was chosen: a Run waiting for the last one is forgotten,
    // and so is what the last run had to say.
    void forgetRun();
    // The probe of the recording answered: a Run pressed meanwhile starts.
    void probeAnswered();
    // The probe refused the recording: the status line says why.
    void setOutcome(const QString &text);
    bool runInProgress() const { return processState() != RunPipeline::ProcessState::kStateIdle; }
    RunPipeline::ProcessState processState() const
    {
        return m_pipeline ? m_pipeline->state() : RunPipeline::ProcessState::kStateIdle;
    }
    const RunPipeline *pipeline() const { return m_pipeline; }
    const RunRequest &request() const { return m_request; }
    EndSound &endSound() { return m_endSound; }
    // Bounds handed to every runner (grace before SIGKILL, whole drain).
    void setStopBounds(int graceMs, int drainMs);

signals:
    void buttonsChanged();
    void workFilesChanged();
    void runEnded(const QString &outcome);
    void rowStarted(RunControl::Row row);
    void rowProgress(RunControl::Row row, double percent);
    void rowFinished(RunControl::Row row, bool failed);
    void rowCleared(RunControl::Row row);
    void breaksReplaced();
    void quitting();

private:
    void setButton(RunButton button, Action action);
    void beginRun(RunButton button, Action stopAction, bool detect, bool remove, bool erase, bool automatic);
    // What the run may do, settled while the user is there: false when it
    // may not start, and detect cleared when the user keeps their edits.
    bool settleRun(bool &detect, bool remove);
    // The copy can take the recording's place, and the user said it may.
    bool replaceConfirmed();
    void connectPipeline();
    void stepStarted(RunPipeline::Step step);
    void stepProgress(RunPipeline::Step step, double percent);
    void runFinished();
    // The run is over: the status line shows its outcome, and the window
    // looks again at which work files are left.
    void endOfRunShown();
    void setStatus(const QString &text);
    struct PendingStart
    {
        RunButton button;
        Action stopAction;
        bool detect, remove, erase, automatic;
    };

    AppController &m_c;
    // What each button does, by RunButton.
    std::array<Action, 3> m_actions{Action::AutoStart, Action::DetectStart, Action::RemoveStart};
    std::optional<Row> m_activeRow;
    EndSound m_endSound;
    int m_graceMs = 1000;
    int m_drainMs = 3000;
    // A Run pressed while the recording was still being read: the copy's
    // name is settled by what it holds, so the run waits for the answer.
    std::optional<PendingStart> m_pendingStart;
    // The run under way, or the last one; deleted on a later pass of the
    // event loop, never inside its own signal.
    QPointer<RunPipeline> m_pipeline;
    // The run was stopped by the user rather than ending of itself.
    bool m_stoppedByUser = false;
    // What the run has to say at its end; the status line shows what runs
    // meanwhile.
    QString m_outcome;
    RunRequest m_request;
};
