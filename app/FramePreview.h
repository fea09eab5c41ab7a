#pragma once

#include "process/TaskWrapper.h"

#include <QHash>
#include <QImage>
#include <QObject>
#include <QTemporaryDir>

#include <memory>

class ToolLocator;

// Still frames of the recording at given times, made by ffmpeg through the
// runner one at a time, off the window's way, and kept per time: how a user
// tells an early cut from a right one without a video player.
class FramePreview : public QObject, public TaskWrapperController
{
    Q_OBJECT
public:
    FramePreview(const ToolLocator &tools, QObject *parent = nullptr);
    ~FramePreview() override;

    void setRecording(const QString &path);
    // ready() follows, at once for a frame already made.
    void request(double seconds);
    int pending() const { return int(m_queue.size()) + (m_runner ? 1 : 0); }

signals:
    void ready(double seconds, const QImage &image);

private:
    void processStarted() override { }
    void appendOutput(const QString &) override { }
    void processFinished(int status) override;
    void startNext();
    static qint64 key(double seconds) { return qint64(seconds * 1000.0 + 0.5); }

    const ToolLocator &m_tools;
    QString m_recording;
    QHash<qint64, QImage> m_cache;
    QList<double> m_queue;
    double m_current = 0;
    std::unique_ptr<TaskWrapper> m_runner;
    QTemporaryDir m_dir;
};
