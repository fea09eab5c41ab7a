#pragma once

#include "process/TaskWrapper.h"

#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QTemporaryDir>

#include <memory>

class ToolLocator;

// Still frames of the recording at given times, made by ffmpeg through the
// runner off the window's way and kept per time: how a user tells an early
// cut from a right one without a video player. A strip of frames is one
// request, made by one ffmpeg that seeks once per frame, since starting
// ffmpeg and opening the recording cost more than decoding from a key frame.
class FramePreview : public QObject, public TaskWrapperController
{
    Q_OBJECT
public:
    FramePreview(const ToolLocator &tools, QObject *parent = nullptr);
    ~FramePreview() override;

    // Times are seconds from the first video frame, whose own timestamp is
    // videoStart, so that a frame is found where the detector counted it
    // whatever the other streams start at. A seek in a transport stream
    // lands on the key frame after the place it found, so each frame is
    // sought a group of pictures early (group seconds) and decoded on to.
    void setRecording(const QString &path, double videoStart = 0, double group = 2.0);
    // ready() follows for each time, at once for a frame already made.
    void request(const QList<double> &seconds);

signals:
    void ready(double seconds, const QImage &image);

private:
    void processStarted() override { }
    void appendOutput(const QString &) override { }
    void processFinished(int status) override;
    void startNext();
    QString framePath(int index) const;
    static qint64 key(double seconds) { return qint64(seconds * 1000.0 + 0.5); }

    const ToolLocator &m_tools;
    QString m_recording;
    double m_videoStart = 0;
    double m_group = 2.0;
    QHash<qint64, QImage> m_cache;
    QList<QList<double>> m_queue;
    QList<double> m_current;
    std::unique_ptr<TaskWrapper> m_runner;
    bool m_startPending = false;
    QTemporaryDir m_dir;
};
