#include "app/FramePreview.h"

#include "app/ToolLocator.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaObject>

FramePreview::FramePreview(const ToolLocator &tools, QObject *parent) : QObject(parent), m_tools(tools) { }

FramePreview::~FramePreview()
{
    m_queue.clear();
    m_runner.reset();
}

void FramePreview::setRecording(const QString &path)
{
    if (path == m_recording)
        return;
    m_recording = path;
    m_cache.clear();
    m_queue.clear();
}

void FramePreview::request(double seconds)
{
    if (m_recording.isEmpty() || !(seconds >= 0))
        return;
    const auto cached = m_cache.constFind(key(seconds));
    if (cached != m_cache.constEnd()) {
        const QImage image = *cached;
        QMetaObject::invokeMethod(
            this, [this, seconds, image] { emit ready(seconds, image); }, Qt::QueuedConnection);
        return;
    }
    if (m_queue.contains(seconds) || (m_runner && key(m_current) == key(seconds)))
        return;
    // The newest wish first: the user has moved on from the older ones.
    m_queue.prepend(seconds);
    if (m_queue.size() > 4)
        m_queue.removeLast();
    if (!m_runner)
        startNext();
}

void FramePreview::startNext()
{
    if (m_queue.isEmpty() || !m_dir.isValid())
        return;
    m_current = m_queue.takeFirst();
    QString ffmpeg = m_tools.pathForAuxiliaryExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty())
        ffmpeg = QStringLiteral("ffmpeg");
    const QString out = m_dir.filePath(QStringLiteral("frame.png"));
    QFile::remove(out);
    // Seeking before the input lands on the key frame before the time and
    // decodes on to the very frame.
    m_runner = std::make_unique<TaskWrapper>(
        this, QStringList{ffmpeg, QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"),
                          QStringLiteral("-ss"), QString::number(m_current, 'f', 3), QStringLiteral("-i"),
                          QStringLiteral("file:") + QFileInfo(m_recording).absoluteFilePath(),
                          QStringLiteral("-frames:v"), QStringLiteral("1"), QStringLiteral("-an"),
                          QStringLiteral("-sn"), QStringLiteral("-vf"), QStringLiteral("scale=320:-2"),
                          QStringLiteral("-y"), QStringLiteral("file:") + out});
    m_runner->startProcess();
}

void FramePreview::processFinished(int status)
{
    const double seconds = m_current;
    QImage image;
    if (status == 0)
        image.load(m_dir.filePath(QStringLiteral("frame.png")));
    if (!image.isNull())
        m_cache.insert(key(seconds), image);
    // The runner is let go after its report has returned.
    QMetaObject::invokeMethod(
        this,
        [this, seconds, image] {
            m_runner.reset();
            emit ready(seconds, image);
            startNext();
        },
        Qt::QueuedConnection);
}
