#pragma once

#include "core/MediaInfo.h"
#include "core/PictureCheck.h"

#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QTemporaryDir>

#include <memory>

// Decodes the picture of a file in a few short windows and lists each
// window's pictures with their times on the file's own clock, a hash of
// their pixels and a small grey thumbnail. Only the windows are read, so a
// check of a copy costs a few seconds of decoding a cut. A window starts
// at the byte of a key frame where its place is known: a time seek in a
// transport stream lands on whatever packet is nearest, and the pictures
// before the next key frame would be decoded from references never read.
// The windows come in groups (those of one cut), each decoded by an ffmpeg
// of its own, so that what its decoder complains of is that group's.
class PictureHashes : public QObject
{
    Q_OBJECT
public:
    explicit PictureHashes(QObject *parent = nullptr);
    ~PictureHashes() override;

    struct Window
    {
        // Start and end in seconds from the file's start, for a seek.
        media::Span seek;
        // Else: read from this byte on (a key frame's packet) for so many
        // seconds of the file's clock.
        qint64 byteFrom = -1;
        double seconds = 0;
        // Seconds the demuxer started at byteFrom takes off the file's
        // unwrapped clock (whole turns of the 33-bit clock), added back to
        // each picture's time, and whether it is given a turn more so that
        // no time is negative (media::DemuxerClock).
        double clockShift = 0;
        bool turnAdded = false;
    };

    // decoder is the picture's codec as ffprobe names it, which names its
    // decoder's complaints ("[h264 @ 0x...] Could not find ref with POC 4").
    void start(const QString &ffmpeg, const QString &file, const QList<QList<Window>> &groups,
               const QString &decoder);
    void cancel();
    bool isRunning() const { return m_process != nullptr; }
    // Each window's pictures, group after group; empty when ffmpeg could
    // not be run or failed.
    const QList<QList<media::Picture>> &pictures() const { return m_pictures; }
    // The decoder's complaints in each group.
    const QList<int> &errors() const { return m_errors; }

signals:
    void finished();

private:
    void runNext();
    void fail();

    QString m_ffmpeg;
    QString m_file;
    QString m_decoder;
    QList<QList<Window>> m_groups;
    std::unique_ptr<QTemporaryDir> m_dir; // the thumbnails, and the file under a plain name
    qsizetype m_next = 0;
    QPointer<QProcess> m_process;
    QByteArray m_out;
    QList<QList<media::Picture>> m_pictures;
    QList<int> m_errors;
};
