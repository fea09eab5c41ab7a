#pragma once

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QString>

// Asks ffprobe what a file holds, without waiting for it: the answer (its
// JSON) comes with finished(), on a later pass of the event loop. One
// question at a time; a new start or cancel() forgets the one before.
class MediaProbe : public QObject
{
    Q_OBJECT
public:
    explicit MediaProbe(QObject *parent = nullptr);
    ~MediaProbe() override;

    // With countPackets the first video stream's packets are counted,
    // which reads the whole file.
    void start(const QString &ffprobe, const QString &file, bool countPackets);
    void cancel();
    bool isRunning() const { return m_running; }

signals:
    // launched is false when ffprobe could not be started at all.
    void finished(const QByteArray &json, bool launched);

private:
    void onFinished();
    void onError(QProcess::ProcessError error);
    // "Not launched", on a later pass of the event loop.
    void answerUnlaunched();

    QProcess *m_process = nullptr;
    bool m_running = false;
};
