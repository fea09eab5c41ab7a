#pragma once

#include "jobs/Outcome.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class TaskWrapper;

// One step of a run (detect, cut, erase): it starts, tells how far it has
// got and what it is doing, and ends once, with an outcome in words for
// the status line. A step that runs a tool owns it; a stop never waits for
// the tool, whose end is reported as the step's on a later pass of the
// event loop.
class Job : public QObject
{
    Q_OBJECT
public:
    enum class Status { Waiting, Running, Succeeded, Failed, Stopped };
    Q_ENUM(Status)

    explicit Job(QObject *parent = nullptr);
    ~Job() override;

    virtual void start() = 0;
    // Asks the step to stop; finished() follows, at once or once its tool
    // has ended.
    virtual void stop();

    Status status() const { return m_status; }
    bool isRunning() const { return m_status == Status::Running; }
    // What the step has to say at its end ("Found 2 commercials.", "Bad
    // MPEG file."); empty when it has nothing to add.
    const QString &outcome() const { return m_outcome; }
    // The same, as facts, once the step has ended.
    const Outcome &result() const { return m_result; }
    // The tool running now, if any.
    const TaskWrapper *runner() const { return m_runner.get(); }
    // What the last tool wrote that was not progress, for the diagnosis of
    // its failure.
    const QString &excerpts() const { return m_excerpts; }
    // Bounds handed to every runner (grace before SIGKILL, whole drain).
    void setStopBounds(int graceMs, int drainMs);

signals:
    void statusChanged(Job::Status status);
    // Percent of the tool's work done, or -1 when it started.
    void progress(double percent);
    // What the step is doing, for the status line.
    void message(const QString &text);
    // A tool's output, verbatim, and a line of the step's own, for the run log.
    void output(const QString &text);
    void logged(const QString &line);
    // A tool of the step ended with this status; the step may go on.
    void toolFinished(int status);
    void finished();

protected:
    void setRunning();
    void finish(Status status, const QString &outcome);
    void setOutcome(const QString &text) { m_outcome = text; }
    // The facts a step adds to its end's (its copy, its cutter), set just
    // before finish().
    Outcome &resultToBe() { return m_result; }
    // The outcome so far with text after it.
    QString withOutcome(const QString &text) const;

    // Runs a tool; its start, output and end come to the hooks below.
    void runTool(const QStringList &arguments);
    virtual void toolOutput(const QString &chunk) = 0;
    // rc is the tool's exit status; stopped and launchFailed tell how else
    // it ended.
    virtual void toolEnded(int rc, bool stopped, bool launchFailed) = 0;
    // A progress chunk's percent goes to progress(); any other chunk is
    // kept as an excerpt.
    void readProgress(const QString &chunk);
    bool toolRunning() const { return m_runner != nullptr; }

private:
    void keepExcerpt(const QString &text);
    class Runner;
    void runnerEnded(int rc);

    Status m_status = Status::Waiting;
    QString m_outcome;
    Outcome m_result;
    QString m_excerpts;
    std::unique_ptr<TaskWrapper> m_runner;
    std::unique_ptr<Runner> m_listener;
    int m_graceMs = 1000;
    int m_drainMs = 3000;
};
