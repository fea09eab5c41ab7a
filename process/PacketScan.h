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
//
// ffprobe's parsers split the stream into frames, which costs three times
// as much as reading the file. A transport stream from a broadcaster
// carries one frame a PES packet, and then the packets as the demuxer sees
// them are the frames: given the stream's frame rate, the file is read
// without the parsers first, and again with them unless its packets follow
// one another a frame apart. Without the parsers no packet is marked a key
// frame, so the key-frame interval is not known then.
class PacketScan : public QObject
{
    Q_OBJECT
public:
    static constexpr int kQuietLimitMs = 30000;

    explicit PacketScan(QObject *parent = nullptr);
    ~PacketScan() override;

    // quickAtFps, when above 0, is the frame rate of a stream that may be
    // read without the parsers.
    void start(const QString &ffprobe, const QString &file, double quickAtFps = 0);
    void cancel();
    bool isRunning() const { return m_process != nullptr || m_pendingFailure; }
    // True once a scan has ended with a list of packets.
    bool done() const { return m_done; }
    // The whole file was read without the parsers.
    bool wasQuick() const { return m_stage == Stage::Quick; }
    const media::PacketTimes &packets() const { return m_packets; }
    void setQuietLimit(int ms) { m_quiet.setInterval(ms); }

signals:
    // ok is false when ffprobe could not start, failed, or went quiet.
    void finished(bool ok);

private:
    enum class Stage { Quick, Parsed };
    void run(Stage stage);
    void read();
    void ended(bool ok);
    void end(bool ok);

    QString m_ffprobe;
    QString m_file;
    Stage m_stage = Stage::Parsed;
    double m_quickAtFps = 0;
    QProcess *m_process = nullptr;
    QTimer m_quiet;
    QByteArray m_pending;
    media::PacketTimes m_packets;
    bool m_done = false;
    bool m_pendingFailure = false;
};
