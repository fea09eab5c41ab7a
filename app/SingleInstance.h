#pragma once

#include <QObject>
#include <QStringList>

#include <memory>

class QLocalServer;
class QLockFile;

// One window for a user: a second `trimlet FILE…` hands its recordings to
// the window already open and ends, as the desktop's applications do, for
// two windows would each keep the queue and each write over the other's.
// On the session bus the window owns org.trimlet.Trimlet and answers the
// desktop's org.freedesktop.Application calls at /org/trimlet/Trimlet;
// a lock and a socket in the runtime folder carry the same without a bus.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    static const QString kServiceName;
    static const QString kObjectPath;

    explicit SingleInstance(QObject *parent = nullptr);
    ~SingleInstance() override;

    enum class Claim {
        First, // this process is the window; the others hand over to it
        HandedOver, // the window open took the recordings: end with 0
        NoAnswer // another window holds the name but did not answer
    };
    // paths as given on the command line; relative ones are taken from
    // this process's folder. sample: "--sample" was asked for.
    Claim claim(const QStringList &paths, bool sample);
    // What went wrong when the window open did not answer.
    const QString &error() const { return m_error; }

    // What a second trimlet asks of this window: show itself, and open the
    // recordings or the sample.
    void request(const QStringList &paths, bool sample);

signals:
    void requested(const QStringList &paths, bool sample);

private:
    Claim claimOnBus(const QStringList &paths, bool sample);
    Claim claimSocket(const QStringList &paths, bool sample);
    void readSocket();

    std::unique_ptr<QLockFile> m_lock;
    QLocalServer *m_server = nullptr;
    QString m_error;
};
