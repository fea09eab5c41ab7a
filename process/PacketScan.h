#pragma once

#include "core/PacketTimes.h"

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QTimer>

// Reads the times of every video packet of a file with ffprobe, in the
// background: one pass over the file, its list read as it comes. The
// result is there once finished() says so. A file that stops giving
// anything for a while (a hung mount) ends the scan as failed.
class PacketScan : public QObject
{
    Q_OBJECT
public:
    static constexpr int kQuietLimitMs = 30000;

    explicit PacketScan(QObject *parent = nullptr);
    ~PacketScan() override;

    void start(const QString &ffprobe, const QString &file);
    void cancel();
    bool isRunning() const { return m_process != nullptr || m_pendingFailure; }
    // True once a scan has ended with a list of packets.
    bool done() const { return m_done; }
    const media::PacketTimes &packets() const { return m_packets; }
    void setQuietLimit(int ms) { m_quiet.setInterval(ms); }

signals:
    // ok is false when ffprobe could not start, failed, or went quiet.
    void finished(bool ok);

private:
    void read();
    void end(bool ok);

    QProcess *m_process = nullptr;
    QTimer m_quiet;
    QByteArray m_pending;
    media::PacketTimes m_packets;
    bool m_done = false;
    bool m_pendingFailure = false;
};
