#pragma once

#include "core/MediaInfo.h"

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QTimer>

// Asks ffprobe what a file holds, without waiting for it: the answer (its
// JSON) comes with finished(), on a later pass of the event loop. One
// question at a time; a new start or cancel() forgets the one before. A
// file that gives no answer in time (a FIFO, a hung network mount) ends
// the question as TimedOut.
class MediaProbe : public QObject
{
    Q_OBJECT
public:
    enum class Answer { Answered, NotLaunched, TimedOut };
    Q_ENUM(Answer)
    static constexpr int kTimeLimitMs = 15000;

    explicit MediaProbe(QObject *parent = nullptr);
    ~MediaProbe() override;

    // Its streams and container, and where its picture starts.
    void start(const QString &ffprobe, const QString &file);
    // The same, and the packets from tailFrom seconds on the file's clock
    // to its end, which say where each stream ends, and those in windows
    // (on the same clock), each with the hash of its bytes.
    void startWithTail(const QString &ffprobe, const QString &file, double tailFrom,
                       const QList<media::Span> &windows = {});
    void cancel();
    bool isRunning() const { return m_running; }
    void setTimeLimit(int ms) { m_timeLimitMs = ms; }
    int timeLimit() const { return m_timeLimitMs; }

signals:
    void finished(const QByteArray &json, MediaProbe::Answer answer);

private:
    void run(const QString &ffprobe, const QString &file, const QStringList &extra);
    void onFinished();
    void onError(QProcess::ProcessError error);
    void onTimeout();
    // "Not launched", on a later pass of the event loop.
    void answerUnlaunched();

    QProcess *m_process = nullptr;
    QTimer m_limit;
    int m_timeLimitMs = kTimeLimitMs;
    bool m_running = false;
};
