#pragma once

#include <QList>
#include <QObject>

class QSocketNotifier;

// Turns SIGINT, SIGTERM and SIGHUP (or the signals given) into a Qt signal
// on the main thread. A handler may do next to nothing, so it writes the
// signal's number into a socket pair that the event loop reads: the usual
// self-pipe, as Qt's own documentation does it, because Qt has no class
// for it.
class SignalWatcher : public QObject
{
    Q_OBJECT
public:
    explicit SignalWatcher(QList<int> signalNumbers, QObject *parent = nullptr);
    ~SignalWatcher() override;

signals:
    void received(int signalNumber);

private:
    void readSignal();
    QList<int> m_signals;
    QSocketNotifier *m_notifier = nullptr;
};
