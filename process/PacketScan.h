#pragma once

#include "core/PacketTimes.h"

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QTimer>

#include <memory>

// Reads the times of every video packet of a file with ffprobe, in the
// background: one pass over the file, its list read as it comes. The
// result is there once finished() says so. A file that stops giving
// anything for a while (a hung mount) ends the scan as failed.
//
// ffprobe's parsers split the stream into frames, which costs three times
// as much as reading the file, and printing a line a packet as much again.
// A transport stream from a broadcaster carries one frame a PES packet,
// and then its PES packets are its frames: given the stream's frame rate
// and PID, the file's PES headers are read directly, on a thread of their
// own, and the file is read again by ffprobe with its parsers unless the
// packets follow one another a frame apart.
class PacketScan : public QObject
{
    Q_OBJECT
public:
    static constexpr int kQuietLimitMs = 30000;

    explicit PacketScan(QObject *parent = nullptr);
    ~PacketScan() override;

    // quickAtFps, when above 0, is the frame rate of the transport stream
    // PID tsPid, whose PES headers may be read directly.
    void start(const QString &ffprobe, const QString &file, double quickAtFps = 0, int tsPid = -1);
    void cancel();
    bool isRunning() const { return m_process != nullptr || m_direct != nullptr || m_pendingFailure; }
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
    struct Direct;
    void run(Stage stage);
    void runDirect(int pid);
    void directEnded();
    bool oneFrameEach() const;
    void read();
    void ended(bool ok);
    void end(bool ok);

    QString m_ffprobe;
    QString m_file;
    Stage m_stage = Stage::Parsed;
    double m_quickAtFps = 0;
    std::shared_ptr<Direct> m_direct;
    qint64 m_directBytes = -1;
    QProcess *m_process = nullptr;
    QTimer m_quiet;
    QByteArray m_pending;
    media::PacketTimes m_packets;
    bool m_done = false;
    bool m_pendingFailure = false;
};
