#pragma once

#include "core/MediaInfo.h"
#include "process/MediaProbe.h"
#include "process/PacketScan.h"

#include <QObject>
#include <QString>

#include <optional>

// What a recording holds, asked once when it is chosen: first ffprobe's
// answer (its streams and container), then one pass over the file for
// where each of its frames lies on its own clock, which a cut list is
// placed on and a copy is checked against. Both run in the background; a
// run that needs them waits for their signals.
class RecordingMedia : public QObject
{
    Q_OBJECT
public:
    explicit RecordingMedia(QObject *parent = nullptr);

    void start(const QString &ffprobe, const QString &recording);
    void cancel();
    const QString &recording() const { return m_recording; }

    bool probing() const { return m_probe.isRunning(); }
    MediaProbe::Answer answer() const { return m_answer; }
    // None before the probe has answered, or when it could not.
    const std::optional<media::MediaInfo> &info() const { return m_info; }
    int probeTimeLimit() const { return m_probe.timeLimit(); }
    void setProbeTimeLimit(int ms) { m_probe.setTimeLimit(ms); }

    bool scanning() const { return m_scan.isRunning(); }
    bool scanDone() const { return m_scan.done(); }
    bool scanWasQuick() const { return m_scan.wasQuick(); }
    const media::PacketTimes &packets() const { return m_scan.packets(); }
    // Where the recording ends on its own clock, in seconds from its first
    // picture: the place a cut list's times are laid on, which runs on
    // through a dropout or a jump. Until the recording has been read
    // through, the detector's own count of its frames stands in; 0 before
    // the probe has answered.
    double clockSeconds() const;
    // A pass that failed is tried once more when a cut needs it; true
    // while that try runs.
    bool retryScan();

signals:
    void probed();
    void scanned(bool ok);

private:
    void probeAnswered(const QByteArray &json, MediaProbe::Answer answer);
    void startScan();

    QString m_ffprobe;
    QString m_recording;
    MediaProbe m_probe;
    PacketScan m_scan;
    MediaProbe::Answer m_answer = MediaProbe::Answer::Answered;
    std::optional<media::MediaInfo> m_info;
    bool m_retried = false;
};
