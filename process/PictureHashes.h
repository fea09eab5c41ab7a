#pragma once

#include "core/MediaInfo.h"
#include "core/PictureCheck.h"

#include <QObject>
#include <QPointer>
#include <QProcess>

// Decodes the picture of a file in a few short windows with one ffmpeg and
// lists each window's pictures with their times on the file's own clock
// and a hash of their pixels. Only the windows are read: ffmpeg seeks to
// each, so a check of a copy costs a few seconds of decoding a cut.
class PictureHashes : public QObject
{
    Q_OBJECT
public:
    explicit PictureHashes(QObject *parent = nullptr);
    ~PictureHashes() override;

    // windows: start and end in seconds from the file's start.
    void start(const QString &ffmpeg, const QString &file, const QList<media::Span> &windows);
    void cancel();
    bool isRunning() const { return m_process != nullptr; }
    // Each window's pictures; empty when ffmpeg could not be run.
    const QList<QList<media::Picture>> &pictures() const { return m_pictures; }

signals:
    void finished();

private:
    QPointer<QProcess> m_process;
    QByteArray m_out;
    QList<QList<media::Picture>> m_pictures;
    int m_windows = 0;
};
