#pragma once

#include "jobs/BatchQueue.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <vector>

// What the batch is doing, on stderr: each recording's messages as lines,
// and its progress as a live bar with the time left on a terminal, or as a
// line every 10 % where nobody watches one (a DVR's log, a pipe).
class Report : public QObject
{
    Q_OBJECT
public:
    Report(const BatchQueue &queue, bool terminal, QObject *parent = nullptr);

    void say(const QString &line);
    // How the recording at index is named in the lines, where its path's
    // text is not its name (a name that is not UTF-8).
    void setShownName(int index, const QString &name);
    // Takes the bar off the terminal for good.
    void close();

private:
    void stateChanged(int index, BatchQueue::State state);
    void progressed(int index, double percent);
    void messaged(int index, const QString &text);
    void drawBar();
    void clearBar();
    QString name(int index) const;
    // The whole batch's share done, 0 to 1: a recording to cut counts its
    // detection as half of it.
    double done() const;

    const BatchQueue &m_queue;
    bool m_terminal;
    bool m_barShown = false;
    QElapsedTimer m_clock;
    QTimer m_redraw;
    std::vector<int> m_tenths; // per recording, the last tenth told
    QList<QStringList> m_said; // per recording, what it has told
    QHash<int, QString> m_shownNames;
};
