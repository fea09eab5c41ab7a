#include "jobs/Job.h"

#include "core/Diagnostics.h"
#include "core/ResultParsers.h"
#include "process/TaskWrapper.h"

#include <QFileInfo>

#include <algorithm>

namespace {
// Nothing reads the excerpts back but a diagnosis; a tool that floods its
// output must not make them grow without end.
constexpr qsizetype kMaxExcerpts = 256 * 1024;
} // namespace

// The runner's controller: a job is a QObject, and the runner's interface
// is a plain one.
class Job::Runner : public TaskWrapperController
{
public:
    explicit Runner(Job *job) : m_job(job) { }
    // A runner destroyed with its report pending makes it from its
    // destructor: by then the job is no longer there to hear it.
    void detach() { m_job = nullptr; }
    void processStarted() override
    {
        logLine(QStringLiteral("processStarted: == Starting new process =="));
        if (m_job)
            emit m_job->progress(-1);
    }
    void appendOutput(const QString &output) override
    {
        if (!m_job)
            return;
        emit m_job->output(output);
        // The runner hands over whole lines, one read's worth at a time;
        // each is read on its own, so that a progress line is never read
        // together with the words around it.
        const QStringView text(output);
        for (qsizetype from = 0; from < text.size() && m_job;) {
            qsizetype end = from;
            while (end < text.size() && text[end] != u'\r' && text[end] != u'\n')
                ++end;
            end = std::min(end + 1, text.size());
            m_job->toolOutput(text.mid(from, end - from).toString());
            from = end;
        }
    }
    void processFinished(int status) override
    {
        if (m_job)
            m_job->runnerEnded(status);
    }

private:
    Job *m_job;
};

Job::Job(QObject *parent) : QObject(parent), m_listener(std::make_unique<Runner>(this)) { }

Job::~Job()
{
    // A tool still running goes with its job, its report unheard.
    m_listener->detach();
    m_runner.reset();
}

void Job::stop()
{
    if (m_runner)
        m_runner->stopProcess();
}

void Job::setStopBounds(int graceMs, int drainMs)
{
    m_graceMs = graceMs;
    m_drainMs = drainMs;
}

void Job::setRunning()
{
    m_status = Status::Running;
    emit statusChanged(m_status);
}

void Job::finish(Status status, const QString &outcome)
{
    if (m_status != Status::Running && m_status != Status::Waiting)
        return;
    // What came before (an earlier step's words) goes before a failure's
    // reason in the status line, not into the reason.
    const QString before = m_outcome;
    m_status = status;
    m_outcome = outcome;
    m_result.status = status == Status::Succeeded ? Outcome::Status::Succeeded
                      : status == Status::Failed  ? Outcome::Status::Failed
                      : status == Status::Stopped ? Outcome::Status::Stopped
                                                  : Outcome::Status::None;
    m_result.text = outcome;
    m_result.refusal.clear();
    if (status == Status::Failed || status == Status::Stopped)
        m_result.refusal = !before.isEmpty() && outcome.startsWith(before + QLatin1Char(' '))
                               ? outcome.mid(before.size() + 1)
                               : outcome;
    emit statusChanged(m_status);
    emit finished();
}

QString Job::withOutcome(const QString &text) const
{
    return m_outcome.isEmpty() ? text : m_outcome + QLatin1Char(' ') + text;
}

void Job::runTool(const QStringList &arguments)
{
    if (m_runner)
        m_runner.release()->deleteLater();
    logLine(QStringLiteral("runWithProgressCommand: Running command: (")
            + arguments.join(QStringLiteral(", ")) + QLatin1Char(')'));
    m_excerpts.clear();
    m_runner = std::make_unique<TaskWrapper>(m_listener.get(), arguments);
    m_runner->setStopBounds(m_graceMs, m_drainMs);
    m_runner->startProcess();
}

void Job::runnerEnded(int rc)
{
    const bool stopped = m_runner && m_runner->wasStopped();
    const bool launchFailed = m_runner && m_runner->launchFailed();
    // The runner is inside its own report: it goes on a later pass.
    if (m_runner)
        m_runner.release()->deleteLater();
    emit toolFinished(rc);
    toolEnded(rc, stopped, launchFailed);
}

void Job::readProgress(const QString &chunk)
{
    const results::ProgressScan scan = results::scanProgressChunk(chunk);
    if (!scan.isProgress) {
        keepExcerpt(chunk);
        return;
    }
    if (scan.percent)
        emit progress(double(*scan.percent));
    // One read can join a progress line and the tool's next words (an
    // error, say); those are kept all the same.
    const QStringView text(chunk);
    for (qsizetype from = 0; from < text.size();) {
        qsizetype end = from;
        while (end < text.size() && text[end] != u'\r' && text[end] != u'\n')
            ++end;
        const QStringView line = text.mid(from, end - from);
        if (!line.trimmed().isEmpty() && !line.contains(u" frames in ") && !line.startsWith(u"Pos:"))
            keepExcerpt(line.toString() + QLatin1Char('\n'));
        from = end + 1;
    }
}

void Job::keepExcerpt(const QString &chunk)
{
    m_excerpts += chunk;
    if (m_excerpts.size() > kMaxExcerpts)
        m_excerpts.remove(0, m_excerpts.size() - kMaxExcerpts / 2);
}
