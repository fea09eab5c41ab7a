#include "Report.h"

#include "core/PathText.h"
#include "core/TimeText.h"

#include <cmath>
#include <cstdio>

Report::Report(const BatchQueue &queue, Mode mode, QObject *parent)
    : QObject(parent), m_queue(queue), m_mode(mode), m_terminal(mode == Mode::Bar)
{
    m_clock.start();
    // A watched folder's queue lets go of each recording once it has ended.
    connect(&queue, &BatchQueue::removed, this, [this](int index) {
        m_tenths.remove(index);
        m_said.remove(index);
    });
    if (!watched()) {
        // Told as it ends, not when the batch does: a watched folder's
        // queue may never end.
        connect(&queue, &BatchQueue::stateChanged, this, [this](int index, BatchQueue::State state) {
            if (state == BatchQueue::State::Done || state == BatchQueue::State::Failed
                || state == BatchQueue::State::Stopped)
                sayOutcome(index);
        });
        return;
    }
    connect(&queue, &BatchQueue::stateChanged, this, &Report::stateChanged);
    connect(&queue, &BatchQueue::progress, this, &Report::progressed);
    connect(&queue, &BatchQueue::message, this, &Report::messaged);
    if (m_terminal) {
        // Four redraws a second: the remaining time moves even while a
        // tool says nothing.
        m_redraw.setInterval(250);
        connect(&m_redraw, &QTimer::timeout, this, &Report::drawBar);
        m_redraw.start();
    }
}

QString Report::name(int index) const
{
    return name(index, m_queue.entry(index));
}

QString Report::name(int index, const BatchQueue::Entry &e) const
{
    return m_shownNames.value(index, pathtext::lastComponent(e.request.recording));
}

void Report::setShownName(int index, const QString &name)
{
    m_shownNames.insert(index, name);
}

void Report::setTextFilter(int index, std::function<QString(const QString &)> filter)
{
    m_filters.insert(index, std::move(filter));
}

QString Report::shown(int index, const QString &text) const
{
    const auto filter = m_filters.constFind(index);
    return filter == m_filters.constEnd() ? text : (*filter)(text);
}

void Report::say(const QString &line)
{
    if (watched())
        print(line);
}

void Report::sayOutcome(int index)
{
    sayOutcome(index, m_queue.entry(index));
}

void Report::sayOutcome(int index, const BatchQueue::Entry &e)
{
    if (m_mode == Mode::Errors && e.state == BatchQueue::State::Done)
        return;
    // A copy in the recording's place says where the recording went.
    const bool replaced = !e.outcome.copy.isEmpty() && e.outcome.copy == e.request.recording;
    const QString what = e.state != BatchQueue::State::Done || replaced ? e.outcome.text
                         : !e.outcome.copy.isEmpty()                    ? e.outcome.copy
                                                                        : QString();
    print(QStringLiteral("%1: %2%3")
              .arg(name(index, e), BatchQueue::stateName(e.state),
                   what.isEmpty() ? QString() : QStringLiteral(": ") + shown(index, what)));
}

void Report::print(const QString &line)
{
    clearBar();
    // One line each, as a DVR's log reads them, whatever a name holds.
    QString text = line;
    text.replace(QLatin1Char('\n'), QLatin1String("\\n")).replace(QLatin1Char('\r'), QLatin1String("\\r"));
    std::fprintf(stderr, "%s\n", qPrintable(text));
    std::fflush(stderr);
    drawBar();
}

void Report::close()
{
    m_redraw.stop();
    clearBar();
    m_terminal = false;
}

void Report::messaged(int index, const QString &text)
{
    // The outcome is said again after the erase step; once is enough.
    if (m_said[index].contains(text))
        return;
    m_said[index] << text;
    say(name(index) + QStringLiteral(": ") + shown(index, text));
}

void Report::stateChanged(int index, BatchQueue::State state)
{
    // Each step's tenths are told afresh.
    m_tenths[index] = -1;
    if (state == BatchQueue::State::Detecting || state == BatchQueue::State::Cutting)
        say(name(index) + QStringLiteral(": ") + BatchQueue::stateName(state));
}

void Report::progressed(int index, double percent)
{
    if (m_terminal)
        return;
    // A tool's start (a cut made again by ffmpeg) counts its tenths afresh.
    if (percent < 0) {
        m_tenths[index] = -1;
        return;
    }
    const int tenth = int(std::floor(percent / 10));
    if (tenth <= m_tenths.value(index, -1))
        return;
    m_tenths[index] = tenth;
    const BatchQueue::State state = m_queue.entry(index).state;
    say(QStringLiteral("%1: %2 %3%").arg(name(index), BatchQueue::stateName(state)).arg(tenth * 10));
}

double Report::done() const
{
    return m_queue.fractionDone();
}

void Report::drawBar()
{
    if (!m_terminal)
        return;
    int detecting = 0, cutting = 0;
    for (const int i : m_queue.ids()) {
        const BatchQueue::State s = m_queue.entry(i).state;
        detecting += s == BatchQueue::State::Detecting;
        cutting += s == BatchQueue::State::Cutting;
    }
    const int finished = m_queue.finishedCount();
    const double fraction = done();
    constexpr int kWidth = 30;
    const int filled = int(fraction * kWidth);
    QString line = QStringLiteral("[%1%2] %3%  %4 of %5 finished")
                       .arg(QString(filled, QLatin1Char('#')), QString(kWidth - filled, QLatin1Char('-')))
                       .arg(int(fraction * 100), 3)
                       .arg(finished)
                       .arg(m_queue.count());
    if (detecting)
        line += QStringLiteral(", %1 detecting").arg(detecting);
    if (cutting)
        line += QStringLiteral(", %1 cutting").arg(cutting);
    // An estimate only once it means something: a few seconds in and a
    // little done, or it leaps about.
    const double elapsed = m_clock.elapsed() / 1000.0;
    if (fraction >= 0.02 && elapsed >= 3)
        line += QStringLiteral(", %1 left").arg(timeText(elapsed * (1 - fraction) / fraction, false));
    std::fprintf(stderr, "\r\033[K%s", qPrintable(line));
    std::fflush(stderr);
    m_barShown = true;
}

void Report::clearBar()
{
    if (!m_barShown)
        return;
    std::fprintf(stderr, "\r\033[K");
    m_barShown = false;
}
