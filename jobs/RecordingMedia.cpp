#include "jobs/RecordingMedia.h"

#include "core/PacketTimes.h"
#include "core/ResultParsers.h"
#include "jobs/Recording.h"

RecordingMedia::RecordingMedia(QObject *parent) : QObject(parent)
{
    connect(&m_probe, &MediaProbe::finished, this, &RecordingMedia::probeAnswered);
    connect(&m_scan, &PacketScan::finished, this, &RecordingMedia::scanned);
}

void RecordingMedia::start(const QString &ffprobe, const QString &recording)
{
    cancel();
    m_ffprobe = ffprobe;
    m_recording = recording;
    m_probe.start(ffprobe, recording);
}

void RecordingMedia::cancel()
{
    m_probe.cancel();
    m_scan.cancel();
    m_info.reset();
    m_answer = MediaProbe::Answer::Answered;
    m_retried = false;
}

void RecordingMedia::probeAnswered(const QByteArray &json, MediaProbe::Answer answer)
{
    m_answer = answer;
    if (answer == MediaProbe::Answer::Answered) {
        m_info = media::parseProbe(json);
        // One pass over the file, while the user looks on or the detector
        // runs.
        if (m_info->hasVideo)
            startScan();
    }
    emit probed();
}

void RecordingMedia::startScan()
{
    const bool ts = m_info && m_info->formatName == QLatin1String("mpegts");
    m_scan.start(m_ffprobe, m_recording, ts ? m_info->fps : 0.0, ts ? m_info->videoPid : -1);
}

bool RecordingMedia::retryScan()
{
    if (!m_scan.isRunning() && !m_scan.done() && !m_retried && m_info && m_info->hasVideo) {
        m_retried = true;
        m_scan.start(m_ffprobe, m_recording);
    }
    return m_scan.isRunning();
}

double RecordingMedia::clockSeconds() const
{
    if (!m_info)
        return 0;
    if (scanDone() && !packets().empty())
        return media::clockSeconds(packets(), m_info->videoStart);
    const results::FrameList counted =
        results::parseFrameList(Recording(m_recording).read(QStringLiteral("txt")));
    return media::recordingSeconds(*m_info, counted.totalRows, counted.fps);
}
