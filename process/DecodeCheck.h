#pragma once

#include "core/MediaInfo.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QProcess>

// Decodes the sound of a file in a few short windows with one ffmpeg and
// counts, window by window, the sound frames that failed to decode. Only
// the sound is decoded, which takes a fraction of a second a window.
class DecodeCheck : public QObject
{
    Q_OBJECT
public:
    explicit DecodeCheck(QObject *parent = nullptr);
    ~DecodeCheck() override;

    // windows: start and end in seconds from the file's start.
    void start(const QString &ffmpeg, const QString &file, const QList<media::Span> &windows);
    void cancel();
    bool isRunning() const { return m_process != nullptr; }
    // Failed frames in each window; empty when ffmpeg could not be run.
    const QList<int> &errors() const { return m_errors; }

signals:
    void finished();

private:
    QPointer<QProcess> m_process;
    QList<int> m_errors;
    int m_windows = 0;
};
