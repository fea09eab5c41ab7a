#pragma once

#include "core/CopyVerdict.h"
#include "core/RunRequest.h"
#include "process/DecodeCheck.h"
#include "process/MediaProbe.h"
#include "process/PacketScan.h"
#include "process/PictureHashes.h"

#include <QObject>
#include <QPointer>

#include <optional>

class RecordingMedia;

// The check of a copy a cutter made, apart from the cutting: its frames
// counted against the kept spans, its streams and where they end, its
// sound decoded across each cut, and its pictures decoded around each cut
// against the recording's at the same places. It reads both files with
// ffprobe and ffmpeg in the background and ends with one verdict: kept,
// or refused with the reason and where. The recording's own facts come
// from its RecordingMedia; a check started before its pass has ended
// waits for it.
class CopyCheck : public QObject
{
    Q_OBJECT
public:
    struct Input
    {
        QString copy; // the cutter's file
        media::Cutter cutter = media::Cutter::Ffmpeg;
        bool chapters = false; // a chapters file: the whole recording, remuxed
        QList<media::Span> cuts; // the cut list, normalised
        QList<media::Span> kept; // what it leaves of the recording
        QList<media::Chapter> chaptersWritten;
        double recordingSeconds = 0;
        // Where the copy's pictures were encoded anew, on the copy's clock
        // in seconds from its first picture; every other picture is the
        // recording's own, bit for bit.
        QList<media::Span> reencoded;
        // The cutter cuts at the very picture the list names; else (a
        // stream copy, mencoder) a span may start at the key frame before
        // its place, a group of pictures early.
        bool frameExact = false;
    };

    explicit CopyCheck(RecordingMedia *media, QObject *parent = nullptr);
    ~CopyCheck() override;

    void start(const RunRequest::Tools &tools, const QString &recording, const Input &input);
    void cancel();
    bool isRunning() const { return m_running; }

    // Once finished: what the copy holds ("9016 frames, 300.70 s; ...")
    // and how long its pictures play.
    const QString &measured() const { return m_measured; }
    double copySeconds() const { return m_copySeconds; }

signals:
    // The recording could not be read to judge the copy against: nothing
    // was judged.
    void recordingUnreadable();
    void finished(const media::CopyVerdict &verdict);
    // A line for the run log.
    void logged(const QString &line);

private:
    void counted();
    void probeStreams();
    void streamsProbed();
    void judgeStreams();
    bool startDecodeChecks();
    void decodeChecked();
    bool startPictureChecks();
    void picturesChecked();
    void conclude(const media::CopyVerdict &verdict);

    QPointer<RecordingMedia> m_media;
    RunRequest::Tools m_tools;
    QString m_recording;
    Input m_in;
    bool m_running = false;
    bool m_counting = false;
    PacketScan m_copyScan;
    // The streams of the copy and of the recording, each with its last
    // seconds read to see where each stream ends.
    MediaProbe m_copyProbe;
    MediaProbe m_recordingProbe;
    std::optional<media::MediaInfo> m_recordingEnds;
    std::optional<media::MediaInfo> m_copyStreams;
    // Packets after each cut, in the copy and in the recording, found
    // again in the recording by their bytes to see how far the copy moved
    // its sound against its picture there.
    QList<media::CutWindows> m_cutWindows;
    QList<media::HashedPacket> m_copyPackets;
    QList<media::HashedPacket> m_recordingPackets;
    DecodeCheck m_copyDecode;
    DecodeCheck m_recordingDecode;
    PictureHashes m_copyPictures;
    PictureHashes m_recordingPictures;
    QList<media::JoinPictures> m_joins;
    QList<media::Span> m_copyJudged; // where each copy window's judged pictures lie
    QString m_measured;
    double m_copySeconds = 0;
};
