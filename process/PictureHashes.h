#pragma once

#include "core/MediaInfo.h"
#include "core/PictureCheck.h"

#include <QObject>
#include <QPointer>
#include <QProcess>

// Decodes the picture of a file in a few short windows and lists each
// window's pictures with their times on the file's own clock and a hash of
// their pixels. Only the windows are read: ffmpeg seeks to each, so a check
// of a copy costs a few seconds of decoding a cut. The windows come in
// groups (those of one cut), each decoded by an ffmpeg of its own, so that
// what its decoder complains of is that group's.
class PictureHashes : public QObject
{
    Q_OBJECT
public:
    explicit PictureHashes(QObject *parent = nullptr);
    ~PictureHashes() override;

    // windows: start and end in seconds from the file's start. decoder is
    // the picture's codec as ffprobe names it, which names its decoder's
    // complaints ("[h264 @ 0x...] Could not find ref with POC 4").
    void start(const QString &ffmpeg, const QString &file, const QList<QList<media::Span>> &groups,
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
    QList<QList<media::Span>> m_groups;
    qsizetype m_next = 0;
    QPointer<QProcess> m_process;
    QByteArray m_out;
    QList<QList<media::Picture>> m_pictures;
    QList<int> m_errors;
};
