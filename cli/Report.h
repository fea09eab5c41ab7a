#pragma once

#include "jobs/BatchQueue.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>

// What the batch is doing, on stderr. Watched (a terminal, or asked for):
// each recording's messages as lines, and its progress as a live bar with
// the time left on a terminal, or as a line every 10 % elsewhere. Where
// nobody watches (a DVR logs every stderr line as an error): one line per
// recording when it ends, or with Errors only those that failed.
class Report : public QObject
{
    Q_OBJECT
public:
    enum class Mode { Bar, ProgressLines, Outcomes, Errors };

    Report(const BatchQueue &queue, Mode mode, QObject *parent = nullptr);

    // Progress and remarks, said only where someone watches.
    void say(const QString &line);
    // How the recording at index is named in the lines, where its path's
    // text is not its name (a name that is not UTF-8).
    void setShownName(int index, const QString &name);
    // How the recording at index's messages are shown: paths of a stand-in
    // named as the user's.
    void setTextFilter(int index, std::function<QString(const QString &)> filter);
    // A recording's end, said but with Errors unless it failed or stopped.
    void sayOutcome(int index);
    // The same for one the queue has let go of, as it was then.
    void sayOutcome(int index, const BatchQueue::Entry &e);
    bool watched() const { return m_mode == Mode::Bar || m_mode == Mode::ProgressLines; }
    // Takes the bar off the terminal for good.
    void close();

private:
    void stateChanged(int index, BatchQueue::State state);
    void progressed(int index, double percent);
    void messaged(int index, const QString &text);
    void print(const QString &line);
    void drawBar();
    void clearBar();
    QString name(int index) const;
    QString name(int index, const BatchQueue::Entry &e) const;
    QString shown(int index, const QString &text) const;
    // The whole batch's share done, 0 to 1: a recording to cut counts its
    // detection as half of it.
    double done() const;

    const BatchQueue &m_queue;
    Mode m_mode;
    bool m_terminal;
    bool m_barShown = false;
    QElapsedTimer m_clock;
    QTimer m_redraw;
    QHash<int, int> m_tenths; // per recording, the last tenth told
    QHash<int, QStringList> m_said; // per recording, what it has told
    QHash<int, QString> m_shownNames;
    QHash<int, std::function<QString(const QString &)>> m_filters;
};
